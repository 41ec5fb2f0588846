// Decoding and encoding, the small text helpers, and their answers under other users' locales.

#include "Platform/Localization.h"
#include "Platform/SystemLog.h"
#include "VantleData.h"
#include "VantleString.h"

#include <QSet>
#include <QTest>
#include <QTranslator>

#include <clocale>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

namespace {

const QStringList kLocales = {QStringLiteral("C"), QStringLiteral("de_DE.UTF-8"),
                              QStringLiteral("tr_TR.UTF-8")};

// Runs under another user's locale: the C library's (as QCoreApplication sets it from LANG) and Qt's.
class LocaleScope {
public:
    explicit LocaleScope(const QString& name)
        : previousC_(std::setlocale(LC_ALL, nullptr)), previousQt_(QLocale()) {
        ok_ = std::setlocale(LC_ALL, name.toLatin1().constData()) != nullptr;
        QLocale::setDefault(name == u"C" ? QLocale::c() : QLocale(name.section(u'.', 0, 0)));
    }
    ~LocaleScope() {
        std::setlocale(LC_ALL, previousC_.constData());
        QLocale::setDefault(previousQt_);
    }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;
    [[nodiscard]] bool ok() const { return ok_; }

private:
    QByteArray previousC_;
    QLocale previousQt_;
    bool ok_ = false;
};

QString units(std::initializer_list<char16_t> list) {
    QString s;
    for (const char16_t u : list)
        s += QChar(u);
    return s;
}

} // namespace

class TestVantleStringText : public QObject {
    Q_OBJECT

private slots:
    void decodesBytes_data();
    void decodesBytes();
    void decodingEdges();
    void encodesText_data();
    void encodesText();
    void buildsCharacters_data();
    void buildsCharacters();
    void ellipsisIsShared();
    void uuidIsFreshHex();
    void emptiness();
    void sizes_data();
    void sizes();
    void sizesUseTranslations();
    void countsLines_data();
    void countsLines();
    void limitsLineCount_data();
    void limitsLineCount();
    void smallBuilders();
    void matchesRegex_data();
    void matchesRegex();
    void trims_data();
    void trims();
    void characterSets();
    void contains_data();
    void contains();
};

void TestVantleStringText::decodesBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray("") << QString();
    QTest::newRow("ascii") << QByteArray("plain") << QStringLiteral("plain");
    QTest::newRow("utf-8") << QByteArray("caf\xC3\xA9") << QStringLiteral("café");
    QTest::newRow("non-BMP") << QByteArray("\xF0\x9F\x98\x80") << units({0xD83D, 0xDE00});
    QTest::newRow("lone Latin-1 byte") << QByteArray("\xE9") << QStringLiteral("é");
    QTest::newRow("truncated sequence") << QByteArray("a\xE2\x82") << units({u'a', 0xE2, 0x82});
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << units({0xC0, 0xAF});
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << units({0xED, 0xA0, 0x80});
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << units({0xF4, 0x90, 0x80, 0x80});
    QTest::newRow("valid then invalid") << QByteArray("\xC3\xA9\xFF") << units({0xC3, 0xA9, 0xFF});
    QTest::newRow("byte-order mark dropped") << QByteArray("\xEF\xBB\xBF"
                                                           "abc")
                                             << QStringLiteral("abc");
    QTest::newRow("embedded NUL kept") << QByteArray("a\0b", 3) << units({u'a', 0, u'b'});
}

void TestVantleStringText::decodesBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(vt_utf8stringWithData(bytes), expected);
    QCOMPARE(vt_stringWithData(bytes), expected);
    QCOMPARE(vt_asString(bytes), expected);
    QCOMPARE(vt_utf8stringWithBytes(bytes.constData(), static_cast<int32_t>(bytes.size())), expected);
}

void TestVantleStringText::decodingEdges() {
    QVERIFY(!vt_utf8stringWithData(std::nullopt));
    QVERIFY(!vt_stringWithData(std::nullopt));
    QCOMPARE(vt_utf8stringWithBytes(nullptr, 5), QString());
    QCOMPARE(vt_utf8stringWithBytes("abc", 0), QString());
    QCOMPARE(vt_utf8stringWithBytes("abc", -1), QString());
    QCOMPARE(vt_utf8stringWithBytes("abc", 2), QStringLiteral("ab"));
    QCOMPARE(vt_utf8stringWithCString(nullptr), QString());
    QCOMPARE(vt_utf8stringWithCString("caf\xC3\xA9\0tail"), QStringLiteral("café"));
    QCOMPARE(vt_utf8stringWithCString("\xE9t\xE9"), QStringLiteral("été"));
}

void TestVantleStringText::encodesText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<QByteArray>>("expected");
    QTest::newRow("empty") << QString() << std::optional<QByteArray>(QByteArray());
    QTest::newRow("utf-8") << QStringLiteral("été") << std::optional<QByteArray>("\xC3\xA9t\xC3\xA9");
    QTest::newRow("non-BMP") << units({0xD83D, 0xDE00}) << std::optional<QByteArray>("\xF0\x9F\x98\x80");
    QTest::newRow("stops at NUL") << units({u'a', 0, u'b'}) << std::optional<QByteArray>("a");
    QTest::newRow("lone high surrogate") << units({u'a', 0xD83D}) << std::optional<QByteArray>();
    QTest::newRow("lone low surrogate") << units({0xDE00, u'a'}) << std::optional<QByteArray>();
    QTest::newRow("pair reversed") << units({0xDE00, 0xD83D}) << std::optional<QByteArray>();
}

void TestVantleStringText::encodesText() {
    QFETCH(QString, text);
    QFETCH(std::optional<QByteArray>, expected);
    QStringList logged;
    const VTSystemLogSink previous = vt_setSystemLogSink([&](const QString& m) { logged << m; });
    const std::optional<QByteArray> data = vt_asData(text);
    vt_setSystemLogSink(previous);
    QCOMPARE(data, expected);
    const QStringList failureLine{QStringLiteral("vt_asData failed to obtain UTF8String from NSString")};
    QCOMPARE(logged, expected ? QStringList() : failureLine);
}

void TestVantleStringText::buildsCharacters_data() {
    QTest::addColumn<uint>("codePoint");
    QTest::addColumn<QString>("expected");
    QTest::newRow("A") << 0x41u << QStringLiteral("A");
    QTest::newRow("U+FFFF") << 0xFFFFu << units({0xFFFF});
    QTest::newRow("U+10000") << 0x10000u << units({0xD800, 0xDC00});
    QTest::newRow("U+1F600") << 0x1F600u << units({0xD83D, 0xDE00});
    QTest::newRow("U+10FFFF") << 0x10FFFFu << units({0xDBFF, 0xDFFF});
    QTest::newRow("lone surrogate") << 0xD800u << units({0xD800});
    QTest::newRow("beyond range, masked") << 0x110000u << units({0xD800, 0xDC00});
    QTest::newRow("all bits, masked") << 0xFFFFFFFFu << units({0xDBBF, 0xDFFF});
}

void TestVantleStringText::buildsCharacters() {
    QFETCH(uint, codePoint);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringWithCharacter(codePoint), expected);
}

void TestVantleStringText::ellipsisIsShared() {
    QCOMPARE(vt_horizontalEllipsisString(), QStringLiteral("…"));
    QCOMPARE(&vt_horizontalEllipsisString(), &vt_horizontalEllipsisString());
}

void TestVantleStringText::uuidIsFreshHex() {
    static const QRegularExpression hex(QStringLiteral("^[0-9A-F]{32}$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString id = vt_uuid();
        QVERIFY2(hex.match(id).hasMatch(), qPrintable(id));
        seen.insert(id);
    }
    QCOMPARE(seen.size(), 200);
}

void TestVantleStringText::emptiness() {
    QVERIFY(vt_isEmpty(std::nullopt));
    QVERIFY(vt_isEmpty(QString()));
    QVERIFY(!vt_isEmpty(QStringLiteral(" ")));
    QVERIFY(!vt_isEmpty(QStringLiteral("\n")));
}

void TestVantleStringText::sizes_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("expected");
    const QList<std::pair<quint64, const char*>> cases = {
        {0, "0 bytes"},
        {1, "1 bytes"},
        {1024, "1024 bytes"},
        {1025, "1 KB"},
        {2047, "1 KB"},
        {1048576, "1024 KB"},
        {1048577, "1.0 MB"},
        {1572864, "1.5 MB"},
        {1310720, "1.2 MB"}, // 1.25 exactly: printf rounds the tie to even
        {1363148, "1.3 MB"}, // 1.30000...
        {1073741824, "1024.0 MB"},
        {1073741825, "1.0 GB"},
        {1342177280, "1.2 GB"}, // 1.25 exactly
        {UINT64_MAX, "17179869184.0 GB"},
    };
    for (const QString& locale : kLocales) {
        for (const auto& [bytes, expected] : cases) {
            QTest::addRow("%s %llu", qPrintable(locale), static_cast<unsigned long long>(bytes))
                << locale << bytes << QString::fromLatin1(expected);
        }
    }
}

void TestVantleStringText::sizes() {
    QFETCH(QString, locale);
    QFETCH(quint64, bytes);
    QFETCH(QString, expected);
    const LocaleScope scope(locale);
    QVERIFY2(scope.ok(), qPrintable(locale + QStringLiteral(" is not installed (Debian: locales-all)")));
    QCOMPARE(vt_humanReadableSizeStringForBytes(bytes), expected);
}

void TestVantleStringText::sizesUseTranslations() {
    const LocaleScope scope(QStringLiteral("de_DE.UTF-8"));
    QVERIFY(scope.ok());
    QVERIFY(
        vt_installTranslations(*QCoreApplication::instance(), QLocale(QLocale::German, QLocale::Germany)));
    const QString one = vt_humanReadableSizeStringForBytes(1);
    const QString mega = vt_humanReadableSizeStringForBytes(1572864);
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QCOMPARE(one, QStringLiteral("1 Byte"));
    QCOMPARE(mega, QStringLiteral("1.5 MB"));
    QCOMPARE(vt_humanReadableSizeStringForBytes(1), QStringLiteral("1 bytes"));
}

void TestVantleStringText::countsLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint64>("lines");
    QTest::newRow("empty") << QString() << quint64(0);
    QTest::newRow("one word") << QStringLiteral("a") << quint64(1);
    QTest::newRow("LF") << QStringLiteral("\n") << quint64(1);
    QTest::newRow("LF LF") << QStringLiteral("\n\n") << quint64(2);
    QTest::newRow("a LF") << QStringLiteral("a\n") << quint64(1);
    QTest::newRow("CR LF is one") << QStringLiteral("a\r\nb") << quint64(2);
    QTest::newRow("LF CR is two") << QStringLiteral("a\n\rb") << quint64(3);
    QTest::newRow("CR CR LF") << QStringLiteral("\r\r\n") << quint64(2);
    QTest::newRow("CR") << QStringLiteral("a\rb\r") << quint64(2);
    QTest::newRow("NEL") << units({u'a', 0x85, u'b'}) << quint64(2);
    QTest::newRow("line separator") << units({u'a', 0x2028, u'b'}) << quint64(2);
    QTest::newRow("paragraph separator") << units({u'a', 0x2029, u'b', 0x2029}) << quint64(2);
    QTest::newRow("vertical tab, form feed") << QStringLiteral("a\vb\fc") << quint64(1);
    QTest::newRow("non-BMP") << units({0xD83D, 0xDE00, u'\n', 0xD83D, 0xDE00}) << quint64(2);
}

void TestVantleStringText::countsLines() {
    QFETCH(QString, text);
    QFETCH(quint64, lines);
    QCOMPARE(vt_numberOfLines(text), lines);
}

void TestVantleStringText::limitsLineCount_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint64>("limit");
    QTest::addColumn<quint64>("lines");
    const QString three = QStringLiteral("a\nb\nc");
    QTest::newRow("limit 0") << three << quint64(0) << quint64(0);
    QTest::newRow("below") << three << quint64(2) << quint64(2);
    QTest::newRow("equal") << three << quint64(3) << quint64(3);
    QTest::newRow("above") << three << quint64(9) << quint64(3);
    QTest::newRow("empty") << QString() << quint64(4) << quint64(0);
}

void TestVantleStringText::limitsLineCount() {
    QFETCH(QString, text);
    QFETCH(quint64, limit);
    QFETCH(quint64, lines);
    QCOMPARE(vt_numberOfLinesLimitedTo(text, limit), lines);
}

void TestVantleStringText::smallBuilders() {
    QCOMPARE(vt_firstLetter(QString()), QStringLiteral(" "));
    QCOMPARE(vt_firstLetter(QStringLiteral("xyz")), QStringLiteral("x"));
    QCOMPARE(vt_firstLetter(units({0xD83D, 0xDE00})), units({0xD83D}));
    const QString tenBlackCircles(10, QChar(0x25CF));
    QCOMPARE(vt_asBullets(QString()), tenBlackCircles);
    QCOMPARE(vt_asBullets(QString(500, u'x')), tenBlackCircles);
    QCOMPARE(concealedString(), QString(10, QChar(0x2022)));
}

void TestVantleStringText::matchesRegex_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<OptionalText>("pattern");
    QTest::addColumn<bool>("matches");
    struct Case {
        const char* name;
        QString text;
        OptionalText pattern;
        bool matches;
    };
    const QList<Case> cases = {
        {"anchored start", QStringLiteral("abc"), QStringLiteral("^a"), true},
        {"letter later", QStringLiteral("bac"), QStringLiteral("^a"), false},
        {"not anchored", QStringLiteral("xxabyy"), QStringLiteral("ab"), true},
        {"extended syntax", QStringLiteral("aaa"), QStringLiteral("^a+$"), true},
        {"case-sensitive", QStringLiteral("ABC"), QStringLiteral("abc"), false},
        {"unbalanced parenthesis", QStringLiteral("abc"), QStringLiteral("(a"), false},
        {"absent pattern", QStringLiteral("abc"), std::nullopt, false},
        {"line feed not special", QStringLiteral("abc\ndef"), QStringLiteral("^def"), false},
        {"dollar only at the end", QStringLiteral("abc\ndef"), QStringLiteral("c$"), false},
        {"bytes, not characters", QStringLiteral("é"), QStringLiteral("^.$"), false},
        {"two bytes", QStringLiteral("é"), QStringLiteral("^..$"), true},
        {"dotless i is no alpha", QStringLiteral("ı"), QStringLiteral("^[[:alpha:]]+$"), false},
        {"dotted I is no upper", QStringLiteral("İ"), QStringLiteral("[[:upper:]]"), false},
        {"ASCII class", QStringLiteral("I"), QStringLiteral("^[A-Z]$"), true},
        {"lower range", QStringLiteral("I"), QStringLiteral("^[a-z]$"), false},
        {"text ends at NUL", units({u'a', 0, u'b'}), QStringLiteral("b"), false},
        {"lone surrogate text", units({u'a', 0xD800}), QStringLiteral("a"), false},
        {"lone surrogate pattern", QStringLiteral("a"), units({u'a', 0xDC00}), false},
    };
    for (const QString& locale : kLocales) {
        for (const Case& c : cases)
            QTest::addRow("%s %s", qPrintable(locale), c.name) << locale << c.text << c.pattern << c.matches;
    }
}

void TestVantleStringText::matchesRegex() {
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(OptionalText, pattern);
    QFETCH(bool, matches);
    const LocaleScope scope(locale);
    QVERIFY2(scope.ok(), qPrintable(locale + QStringLiteral(" is not installed (Debian: locales-all)")));
    QCOMPARE(vt_matchesRegex(text, pattern), matches);
    // The user's locale is back in place for the rest of the application.
    QCOMPARE(QString::fromLatin1(std::setlocale(LC_CTYPE, nullptr)), locale);
}

void TestVantleStringText::trims_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("spaces and line feeds") << QStringLiteral(" \n\t \r\n") << QString();
    QTest::newRow("inner spaces stay") << QStringLiteral("  a  b \n") << QStringLiteral("a  b");
    QTest::newRow("Unicode spaces") << units({0x3000, u'a', 0x85, 0x2029}) << QStringLiteral("a");
    QTest::newRow("zero width space is no space") << units({0x200B, u'a'}) << units({0x200B, u'a'});
}

void TestVantleStringText::trims() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_trim(text), expected);
}

void TestVantleStringText::characterSets() {
    const auto lineBreaks = [](char32_t c) { return c == u'\n' || c == u'\r'; };
    QVERIFY(vt_containsCharacterInSet(QStringLiteral("a\rb"), lineBreaks));
    QVERIFY(!vt_containsCharacterInSet(QStringLiteral("a b"), lineBreaks));
    QVERIFY(!vt_containsCharacterInSet(QString(), lineBreaks));
    const QString grinning = units({0xD83D, 0xDE00});
    QVERIFY(vt_containsCharacterInSet(grinning, [](char32_t c) { return c == 0x1F600; }));
    QVERIFY(!vt_containsCharacterInSet(grinning, [](char32_t c) { return c == 0xD83D || c == 0xDE00; }));
    QVERIFY(vt_containsCharacterInSet(units({u'x', 0xDE00}), [](char32_t c) { return c == 0xDE00; }));
    QVERIFY(!vt_containsCharacterInSet(QStringLiteral("abc"), {}));
}

void TestVantleStringText::contains_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<OptionalText>("other");
    QTest::addColumn<uint>("options");
    QTest::addColumn<bool>("contains");
    const QString composed = QStringLiteral("caf\u00E9s");
    const QString decomposed = QStringLiteral("cafe\u0301s");
    QTest::newRow("absent") << composed << OptionalText() << 0u << false;
    QTest::newRow("empty") << composed << OptionalText(QString()) << 0u << false;
    QTest::newRow("plain") << QStringLiteral("ruby 2.7.1") << OptionalText(QStringLiteral("ruby")) << 0u
                           << true;
    QTest::newRow("composed finds decomposed")
        << composed << OptionalText(QStringLiteral("e\u0301")) << 0u << true;
    QTest::newRow("decomposed finds composed")
        << decomposed << OptionalText(QStringLiteral("\u00E9")) << 0u << true;
    QTest::newRow("base letter is not the accented one")
        << decomposed << OptionalText(QStringLiteral("e")) << 0u << false;
    QTest::newRow("literal finds the base letter")
        << decomposed << OptionalText(QStringLiteral("e")) << uint(VTLiteralSearch) << true;
    QTest::newRow("literal keeps forms apart")
        << composed << OptionalText(QStringLiteral("e\u0301")) << uint(VTLiteralSearch) << false;
    QTest::newRow("case-sensitive") << QStringLiteral("Ruby") << OptionalText(QStringLiteral("ruby")) << 0u
                                    << false;
    QTest::newRow("case-insensitive") << QStringLiteral("Ruby") << OptionalText(QStringLiteral("rUBY"))
                                      << uint(VTCaseInsensitiveSearch) << true;
    QTest::newRow("non-BMP") << units({u'a', 0xD83D, 0xDE00}) << OptionalText(units({0xD83D, 0xDE00})) << 0u
                             << true;
}

void TestVantleStringText::contains() {
    QFETCH(QString, text);
    QFETCH(OptionalText, other);
    QFETCH(uint, options);
    QFETCH(bool, contains);
    QCOMPARE(vt_containsString(text, other, options), contains);
    if (options == 0)
        QCOMPARE(vt_containsString(text, other), contains);
}

QTEST_GUILESS_MAIN(TestVantleStringText)
#include "tst_vantlestring_text.moc"
