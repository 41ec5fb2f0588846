// The formatter's conversions and malformed formats (numbers under a German locale: tst_vantlestring_text).

#include "VantleFormat.h"

#include <QtTest>

class TestVantleFormat : public QObject {
    Q_OBJECT
private slots:
    void conversions_data() {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const std::optional<QString> absent;
        const char* nullText = nullptr;
        QTest::newRow("objects: text, absent, present optional, number, url")
            << vt_format("%@ [%@] %@ %@ %@", u"a"_qs, absent, std::optional<QString>(u"é"_qs), 3,
                         QUrl::fromLocalFile("/tmp/a b"))
            << u"a [(null)] é 3 file:///tmp/a b"_qs;
        QTest::newRow("int truncates like printf") << vt_format("%d", int64_t(4294967297)) << "1";
        QTest::newRow("c text: plain, null, utf-8")
            << vt_format("'%s' %s %s", "a%sb", nullText, "\xC3\xA9") << u"'a%sb' (null) é"_qs;
        QTest::newRow("intmax, unsigned long long")
            << vt_format("%jd %llu", int64_t(-9007199254740993), uint64_t(18446744073709551615ULL))
            << "-9007199254740993 18446744073709551615";
        QTest::newRow("decimals, a tie rounds to even") << vt_format("%.1f %.2f", 1.25, 0.004) << "1.2 0.00";
        QTest::newRow("unichar, hex byte, percent")
            << vt_format("%C %02X%02X 100%%", 0x25CF, 0x0a, 0xff) << u"● 0AFF 100%"_qs;
        QTest::newRow("width, left align, precision")
            << vt_format("[%5s|%-3@|%-4d|%*d|%.2@]", "ab", u"x"_qs, 7, 4, 9, u"xyz"_qs)
            << "[   ab|x  |7   |   9|xy]";
        QTest::newRow("positional") << vt_format("%2$@ %1$@", u"a"_qs, u"b"_qs) << "b a";
        QTest::newRow("non-ASCII format") << vt_format("Größe: %d", 3) << u"Größe: 3"_qs;
        // Malformed formats and missing arguments never read past what they were given.
        QTest::newRow("missing argument") << vt_format("%@ and %@", u"one"_qs) << "one and (null)";
        QTest::newRow("missing number") << vt_format("n=%d") << "n=0";
        QTest::newRow("unknown conversion, trailing percent") << vt_format("%k%d 50%", 1) << "%k1 50%";
        QTest::newRow("huge width is bounded") << vt_format("%99999999d", 1).right(1) << "1";
    }
    void conversions() {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestVantleFormat)
#include "tst_vantleformat.moc"
