// Folding accented Latin-1 letters to their base letters.

#include "VantleString.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestVantleStringAccents : public QObject {
    Q_OBJECT

private slots:
    void strips_data();
    void strips();
    void foldsExactlyTheTable();
};

void TestVantleStringAccents::strips_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("vowels") << u"ÀÉÎÕÜ àéîõü"_s << u"AEIOU aeiou"_s;
    QTest::newRow("tilde") << u"Ñandú"_s << u"Nandu"_s;
    QTest::newRow("y with diaeresis") << u"Ÿÿ"_s << u"Yy"_s;
    QTest::newRow("not in the table") << u"Åsa Øre Çà"_s << u"Åsa Øre Ça"_s;
    QTest::newRow("ligatures and others") << u"ÆæÐðÝýÞþß×÷"_s << u"ÆæÐðÝýÞþß×÷"_s;
    QTest::newRow("other marks") << u"čāęő"_s << u"čāęő"_s;
    QTest::newRow("combining accent stays") << u"e\u0301"_s << u"e\u0301"_s;
    QTest::newRow("non-BMP kept") << u"é\U0001F600è"_s << u"e\U0001F600e"_s;
}

void TestVantleStringAccents::strips() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByStrippingAccentMarks(text), expected);
}

// Over every UTF-16 unit: exactly 48 change, each to an ASCII letter that is its own canonical
// decomposition's base letter.
void TestVantleStringAccents::foldsExactlyTheTable() {
    int changed = 0;
    for (char32_t u = 0; u <= 0xFFFF; ++u) {
        const QString one(QChar(static_cast<char16_t>(u)));
        const QString folded = vt_stringByStrippingAccentMarks(one);
        QCOMPARE(folded.size(), 1);
        if (folded == one)
            continue;
        ++changed;
        QVERIFY2(folded.at(0).unicode() < 0x80 && folded.at(0).isLetter(), qPrintable(one));
        QCOMPARE(one.normalized(QString::NormalizationForm_D).at(0), folded.at(0));
    }
    QCOMPARE(changed, 48);
}

QTEST_GUILESS_MAIN(TestVantleStringAccents)
#include "tst_vantlestring_accents.moc"
