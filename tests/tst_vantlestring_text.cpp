// Decoding and encoding, the small text helpers, and their answers under other users' locales.

#include "Platform/Localization.h"
#include "VantleData.h"
#include "VantleString.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

using OptionalText = std::optional<QString>;
using OptionalBytes = std::optional<QByteArray>;

const QString kGrinning = u"\U0001F600"_s;

class TestVantleStringText : public QObject {
    Q_OBJECT

private slots:
    // tst_vtscriptutils holds vt_utf8stringWithData's rules; the other entry points follow it, NULs too.
    void decodingEdges() {
        for (const QByteArray& bytes :
             {QByteArray("caf\xC3\xA9\0\xF0\x9F\x98\x80", 10), QByteArray("\xE9\xFF")}) {
            const OptionalText expected = vt_utf8stringWithData(bytes);
            QCOMPARE(vt_stringWithData(bytes), expected);
            QCOMPARE(vt_asString(bytes), expected);
            QCOMPARE(vt_utf8stringWithBytes(bytes.constData(), static_cast<int32_t>(bytes.size())), expected);
        }
        QVERIFY(!vt_utf8stringWithData(std::nullopt));
        QCOMPARE(vt_utf8stringWithBytes(nullptr, 5), QString());
        QCOMPARE(vt_utf8stringWithBytes("abc", -1), QString());
        QCOMPARE(vt_utf8stringWithCString(nullptr), QString());
        QCOMPARE(vt_utf8stringWithCString("caf\xC3\xA9\0tail"), u"café"_s);
        QCOMPARE(vt_utf8stringWithCString("\xE9t\xE9"), u"été"_s);
    }

    void encodesText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalBytes>("expected");
        QTest::newRow("non-BMP") << kGrinning << OptionalBytes("\xF0\x9F\x98\x80");
        QTest::newRow("stops at NUL") << u"a\0b"_s << OptionalBytes("a");
        QTest::newRow("lone high surrogate") << u"a"_s + QChar(0xD83D) << OptionalBytes();
    }
    void encodesText() {
        QFETCH(QString, text);
        QFETCH(OptionalBytes, expected);
        const SystemLogCapture syslog;
        QCOMPARE(vt_asData(text), expected);
        QCOMPARE(syslog.messages().size(), expected ? 0 : 1);
    }

    void smallHelpers() {
        QCOMPARE(vt_trim(u"\u3000a  b\u0085\u2029"_s), u"a  b"_s);
        QCOMPARE(vt_trim(u"\u200Ba"_s), u"\u200Ba"_s); // a zero width space is no space
        QCOMPARE(vt_firstLetter(QString()), u" "_s);
        QCOMPARE(vt_firstLetter(kGrinning), kGrinning.left(1));
        QCOMPARE(vt_asBullets(QString(500, u'x')), QString(10, QChar(0x25CF)));
        QVERIFY(vt_isEmpty(std::nullopt) && vt_isEmpty(QString()) && !vt_isEmpty(u" "_s));
        QCOMPARE(vt_stringWithCharacter(0xFFFFFFFF), QString(QChar(0xDBBF)) + QChar(0xDFFF)); // masked
    }

    void uuidIsFreshHex() {
        static const QRegularExpression hex(u"^[0-9A-F]{32}$"_s);
        QSet<QString> seen;
        for (int i = 0; i < 100; ++i)
            QVERIFY2(hex.match(*seen.insert(vt_uuid())).hasMatch(), "not 32 upper-case hex digits");
        QCOMPARE(seen.size(), 100);
    }

    void sizes_data() {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("expected");
        // 1310720 is 1.25 MB exactly: printf rounds the tie to even.
        const QList<std::pair<quint64, const char*>> cases = {
            {1024, "1024 bytes"},      {1025, "1 KB"},         {1048576, "1024 KB"},
            {1048577, "1.0 MB"},       {1572864, "1.5 MB"},    {1310720, "1.2 MB"},
            {1073741824, "1024.0 MB"}, {1073741825, "1.0 GB"}, {UINT64_MAX, "17179869184.0 GB"}};
        for (const auto& [bytes, expected] : cases)
            QTest::addRow("%llu", qulonglong(bytes)) << bytes << QString(expected);
    }
    // Under a German locale the C library writes a decimal comma; the formatter must not.
    void sizes() {
        QFETCH(quint64, bytes);
        QFETCH(QString, expected);
        const ScopedLocale german("de_DE.UTF-8");
        QVERIFY2(german.active(), "de_DE.UTF-8 is not installed (Debian: locales-all)");
        QCOMPARE(vt_humanReadableSizeStringForBytes(bytes), expected);
    }

    void countsLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint64>("limit");
        QTest::addColumn<quint64>("lines");
        const quint64 none = UINT64_MAX;
        QTest::newRow("a LF") << u"a\n"_s << none << quint64(1);
        QTest::newRow("CR LF is one") << u"a\r\nb"_s << none << quint64(2);
        QTest::newRow("LF CR is two") << u"a\n\rb"_s << none << quint64(3);
        QTest::newRow("NEL") << u"a\u0085b"_s << none << quint64(2);
        QTest::newRow("line and paragraph separators") << u"a\u2028b\u2029"_s << none << quint64(2);
        QTest::newRow("vertical tab, form feed") << u"a\vb\fc"_s << none << quint64(1);
        QTest::newRow("below the limit") << u"a\nb\nc"_s << quint64(2) << quint64(2);
    }
    void countsLines() {
        QFETCH(QString, text);
        QFETCH(quint64, limit);
        QFETCH(quint64, lines);
        QCOMPARE(vt_numberOfLinesLimitedTo(text, limit), lines);
        if (limit == UINT64_MAX)
            QCOMPARE(vt_numberOfLines(text), lines);
    }

    void matchesRegex_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalText>("pattern");
        QTest::addColumn<bool>("matches");
        const auto row = [](const char* tag, const QString& text, const OptionalText& pattern, bool matches) {
            QTest::newRow(tag) << text << pattern << matches;
        };
        row("not anchored", u"bac"_s, u"a"_s, true);
        row("extended syntax", u"aaa"_s, u"^a+$"_s, true);
        row("case-sensitive", u"ABC"_s, u"abc"_s, false);
        row("unbalanced parenthesis", u"abc"_s, u"(a"_s, false);
        row("absent pattern", u"abc"_s, std::nullopt, false);
        row("line feed not special", u"abc\ndef"_s, u"^def"_s, false);
        row("dotless i is no alpha", u"ı"_s, u"^[[:alpha:]]+$"_s, false);
        row("text ends at NUL", u"a\0b"_s, u"b"_s, false);
        row("lone surrogate text", u"a"_s + QChar(0xD800), u"a"_s, false);
        row("lone surrogate pattern", u"a"_s, u"a"_s + QChar(0xDC00), false);
    }
    // Under a Turkish locale the C library counts a dotless i as a letter: patterns see bytes in C.
    void matchesRegex() {
        QFETCH(QString, text);
        QFETCH(OptionalText, pattern);
        QFETCH(bool, matches);
        const ScopedLocale turkish("tr_TR.UTF-8");
        QVERIFY2(turkish.active(), "tr_TR.UTF-8 is not installed (Debian: locales-all)");
        QCOMPARE(vt_matchesRegex(text, pattern), matches);
        // The user's locale is back in place for the rest of the application.
        QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), QByteArray("tr_TR.UTF-8"));
    }

    // The set is asked about whole characters: a pair as one, a lone surrogate as itself.
    void characterSets() {
        QVERIFY(vt_containsCharacterInSet(kGrinning, [](char32_t c) { return c == 0x1F600; }));
        QVERIFY(!vt_containsCharacterInSet(kGrinning, [](char32_t c) { return c == 0xD83D || c == 0xDE00; }));
        QVERIFY(vt_containsCharacterInSet(u"x"_s + QChar(0xDE00), [](char32_t c) { return c == 0xDE00; }));
        QVERIFY(!vt_containsCharacterInSet(u"abc"_s, {}));
    }

    void contains_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalText>("other");
        QTest::addColumn<uint>("options");
        QTest::addColumn<bool>("contains");
        const QString decomposed = u"cafe\u0301s"_s;
        QTest::newRow("absent") << decomposed << OptionalText() << 0u << false;
        QTest::newRow("empty") << decomposed << OptionalText(QString()) << 0u << false;
        QTest::newRow("decomposed finds composed") << decomposed << OptionalText(u"\u00E9"_s) << 0u << true;
        QTest::newRow("base letter is not the accented one")
            << decomposed << OptionalText(u"e"_s) << 0u << false;
        QTest::newRow("literal finds the base letter")
            << decomposed << OptionalText(u"e"_s) << uint(VTLiteralSearch) << true;
        QTest::newRow("case-sensitive") << u"Ruby"_s << OptionalText(u"ruby"_s) << 0u << false;
        QTest::newRow("case-insensitive")
            << u"Ruby"_s << OptionalText(u"rUBY"_s) << uint(VTCaseInsensitiveSearch) << true;
    }
    void contains() {
        QFETCH(QString, text);
        QFETCH(OptionalText, other);
        QFETCH(uint, options);
        QFETCH(bool, contains);
        QCOMPARE(vt_containsString(text, other, options), contains);
        if (options == 0)
            QCOMPARE(vt_containsString(text, other), contains);
    }

    // Last: the German translation stays installed.
    void sizesUseTranslations() {
        QVERIFY(vt_installTranslations(*QCoreApplication::instance(),
                                       QLocale(QLocale::German, QLocale::Germany)));
        QCOMPARE(vt_humanReadableSizeStringForBytes(1), u"1 Byte"_s);
    }
};

QTEST_GUILESS_MAIN(TestVantleStringText)
#include "tst_vantlestring_text.moc"
