// Folding accented Latin-1 letters to their base letters.

#include "VantleString.h"

#include <QTest>

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
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("dessert") << QStringLiteral("Crème Brûlée") << QStringLiteral("Creme Brulee");
    QTest::newRow("vowels") << QStringLiteral("ÀÉÎÕÜ àéîõü") << QStringLiteral("AEIOU aeiou");
    QTest::newRow("tilde") << QStringLiteral("Ñandú") << QStringLiteral("Nandu");
    QTest::newRow("y with diaeresis") << QStringLiteral("Ÿÿ") << QStringLiteral("Yy");
    QTest::newRow("not in the table") << QStringLiteral("Åsa Øre Çà") << QStringLiteral("Åsa Øre Ça");
    QTest::newRow("ligatures and others") << QStringLiteral("ÆæÐðÝýÞþß×÷") << QStringLiteral("ÆæÐðÝýÞþß×÷");
    QTest::newRow("other marks") << QStringLiteral("čāęő") << QStringLiteral("čāęő");
    QTest::newRow("combining accent stays") << QStringLiteral("e\u0301") << QStringLiteral("e\u0301");
    QTest::newRow("non-BMP kept") << QStringLiteral("é\U0001F600è") << QStringLiteral("e\U0001F600e");
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
