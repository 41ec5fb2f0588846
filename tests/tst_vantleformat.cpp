#include "VantleFormat.h"

#include "support/TestSupport.h"

#include <QtTest>

#include <optional>

class TestVantleFormat : public QObject {
    Q_OBJECT
private slots:
    void conversions_data();
    void conversions();
    void numbersIgnoreTheUserLocale_data();
    void numbersIgnoreTheUserLocale();
};

void TestVantleFormat::conversions_data() {
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    const std::optional<QString> absent;
    const char* nullText = nullptr;
    QTest::newRow("text") << vt_format("Running %@", QStringLiteral("chown")) << "Running chown";
    QTest::newRow("absent text") << vt_format("[%@]", absent) << "[(null)]";
    QTest::newRow("present optional") << vt_format("%@", std::optional<QString>(u"é"_qs)) << u"é"_qs;
    QTest::newRow("number as object") << vt_format("%@ items", 3) << "3 items";
    QTest::newRow("url") << vt_format("%@", QUrl::fromLocalFile("/tmp/a b")) << "file:///tmp/a b";
    QTest::newRow("signed") << vt_format("%d/%d", -7, 2147483647) << "-7/2147483647";
    QTest::newRow("int truncates like printf") << vt_format("%d", int64_t(4294967297)) << "1";
    QTest::newRow("c text") << vt_format("'%s'", "a%sb") << "'a%sb'";
    QTest::newRow("null c text") << vt_format("%s", nullText) << "(null)";
    QTest::newRow("utf-8 c text") << vt_format("%s", "\xC3\xA9") << u"é"_qs;
    QTest::newRow("intmax") << vt_format("%jd", int64_t(-9007199254740993)) << "-9007199254740993";
    QTest::newRow("unsigned long long")
        << vt_format("%llu bytes", uint64_t(18446744073709551615ULL)) << "18446744073709551615 bytes";
    QTest::newRow("one decimal, a tie rounds to even") << vt_format("%.1f MB", 1.25) << "1.2 MB";
    QTest::newRow("two decimals") << vt_format("%@: %.2f", QStringLiteral("t"), 0.004) << "t: 0.00";
    QTest::newRow("unichar") << vt_format("%C", 0x25CF) << u"●"_qs;
    QTest::newRow("hex byte") << vt_format("%02X%02X", 0x0a, 0xff) << "0AFF";
    QTest::newRow("percent") << vt_format("100%% of %d", 5) << "100% of 5";
    QTest::newRow("width and left align")
        << vt_format("[%5s|%-3@|%-4d]", "ab", u"x"_qs, 7) << "[   ab|x  |7   ]";
    QTest::newRow("star width") << vt_format("[%*d]", 4, 9) << "[   9]";
    QTest::newRow("positional") << vt_format("%2$@ %1$@", QStringLiteral("a"), QStringLiteral("b")) << "b a";
    QTest::newRow("non-ASCII format") << vt_format("Größe: %d", 3) << u"Größe: 3"_qs;
    // Malformed formats and missing arguments never read past what they were given.
    QTest::newRow("missing argument") << vt_format("%@ and %@", QStringLiteral("one")) << "one and (null)";
    QTest::newRow("missing number") << vt_format("n=%d") << "n=0";
    QTest::newRow("trailing percent") << vt_format("50%") << "50%";
    QTest::newRow("unknown conversion") << vt_format("%k%d", 1) << "%k1";
    QTest::newRow("huge width is bounded") << vt_format("%99999999d", 1).right(1) << "1";
    QTest::newRow("positional out of range") << vt_format("%9$@", 1) << "(null)";
}

void TestVantleFormat::conversions() {
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void TestVantleFormat::numbersIgnoreTheUserLocale_data() {
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("German") << QByteArray("de_DE.UTF-8");
    QTest::newRow("Turkish") << QByteArray("tr_TR.UTF-8");
}

void TestVantleFormat::numbersIgnoreTheUserLocale() {
    QFETCH(QByteArray, locale);
    ScopedLocale scoped(locale.constData());
    if (!scoped.active())
        QSKIP("this machine lacks the locale");
    // The C library itself now writes a comma: the formatter must not.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    QCOMPARE(QByteArray(probe), QByteArray("1,5"));
    QCOMPARE(vt_format("%.1f|%.2f|%d|%llu|%@|%@", 1.5, 1234.5, 1234567, uint64_t(1234567), 0.25, u"I"_qs),
             QStringLiteral("1.5|1234.50|1234567|1234567|0.25|I"));
}

QTEST_GUILESS_MAIN(TestVantleFormat)
#include "tst_vantleformat.moc"
