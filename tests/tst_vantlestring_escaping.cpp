// Text made safe for one destination (shell, HTML, script, predicate, tag, address), the character-reference
// decoder, accent folding, addresses taken apart and the first-match order of the suffix table.

#include "VantleString.h"
#include "VantleTLDs.h"
#include "reference/LiteralEntityDecoder.h"
#include "reference/LiteralPathEscaper.h"
#include "reference/LiteralTLDWalk.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

using OptionalText = std::optional<QString>;

namespace {

using Function = QString (*)(const QString&);

const QMap<QString, Function> kFunctions = {
    // The two names promise the same result.
    {u"html"_s, [](const QString& s) { return vt_html(s) == vt_asPrintableHTML(s) ? vt_html(s) : u"?"_s; }},
    {u"script"_s, vt_javascript},
    {u"htmlString"_s, vt_htmlString},
    {u"predicate"_s, vt_validPredicateFormatString},
    {u"tag"_s, vt_validTagString},
    {u"decode"_s, vt_stringByDecodingHTMLEntities},
    {u"strip"_s, vt_stringByStrippingAccentMarks},
    {u"uri"_s, vt_stringByExtractingURI},
    {u"full"_s, vt_stringByExtractingFullDomain},
    {u"hostPort"_s, vt_stringByExtractingHostAndPort},
    {u"ip"_s, [](const QString& s) { return vt_isIPAddress(s) ? u"yes"_s : u"no"_s; }},
    {u"domain"_s, vt_stringByExtracting2ndTLD},
    {u"title"_s, vt_urlAsLoginTitle},
    {u"protocol"_s, vt_stringWithURLProtocol},
    {u"scheme"_s, vt_stringByExtractingScheme},
    {u"valid"_s, vt_validURLString},
    {u"urlEscape"_s, [](const QString& s) { return vt_stringAsValidURLString(s).value_or(u"(absent)"_s); }},
    {u"httpEscape"_s, [](const QString& s) { return vt_stringAsHttpURLString(s).value_or(u"(absent)"_s); }},
};

void row(const char* function, const char* tag, const QString& input, const QString& expected) {
    QTest::addRow("%s: %s", function, tag) << QString::fromLatin1(function) << input << expected;
}

const QString kGrinning = u"\U0001F600"_s;
const QString kFFFD = u"\uFFFD"_s;
const QString kLoneHigh = QString(QChar(0xD800));
const QString k2047 = QString(2047, u'x');

// Path characters, the thirteen the path escaping escapes, the colon it replaces, and some beyond ASCII.
const QString kHandledAlphabet = u"abcXYZ019/._-+,%@^='\" ()$&;`{}<>:éü日"_s + kGrinning;
// Everything a shell may treat specially, for the single-quoted form and the exactness check.
const QString kWideAlphabet = kHandledAlphabet + u"\\*?[]|!#~\t\n\r\v"_s;

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength) {
    const int length = static_cast<int>(random.bounded(1, maxLength + 1));
    QString s;
    while (s.size() < length) {
        const qsizetype at = random.bounded(alphabet.size());
        if (alphabet[at].isLowSurrogate()) // keep surrogate pairs whole
            continue;
        s += alphabet[at];
        if (alphabet[at].isHighSurrogate())
            s += alphabet[at + 1];
    }
    return s;
}

// The words a shell makes of a command-line fragment, read with printf so nothing is interpreted.
QStringList shellWords(const QString& shell, const QString& fragment, const QString& workingDirectory) {
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(shell, {u"-c"_s, u"printf '%s\\0' "_s + fragment});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return {u"<shell did not finish>"_s};
    if (process.exitCode() != 0)
        return {u"<exit %1> "_s.arg(process.exitCode()) + QString::fromUtf8(process.readAllStandardError())};
    QStringList words;
    for (const QByteArray& word : process.readAllStandardOutput().split('\0'))
        words << QString::fromUtf8(word);
    words.removeLast(); // after the last terminator
    return words;
}

} // namespace

class TestVantleStringEscaping : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(emptyDirectory_.isValid()); }

    // What matchesLiteralSteps leaves uncovered of path escaping and of the decoder's parsing.
    void answers_data() {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        row("html", "markup, quotes stay", "a<b>&c\"'", "a&lt;b&gt;&amp;c\"'");
        row("html", "every break", u"1\r\n2\n\r3\n4\r5\u20286"_s, "1<br />2<br />3<br />4<br />5<br />6");
        row("script", "every replacement, CR kept", "<\"&\\'\n\r", "&lt;&quot;&amp;\\\\\\'\\n\r");
        row("htmlString", "from 0x80 on", u"\u007F\u0080"_s, u"\u007F&#128;"_s);
        row("htmlString", "markup, apostrophe and CR kept", "x'\"&<>\r\n", "x'&quot;&amp;&lt;&gt;\r<br/>");
        row("predicate", "CR LF two spaces, form feed, not vertical tab", "a\r\nb\fc\vd", "a  b c\vd");
        row("tag", "2048 kept", k2047 + "\n", k2047 + " ");
        row("tag", "2049 cut, splitting a pair", k2047 + kGrinning, k2047 + kGrinning.left(1));

        row("decode", "names: case-sensitive, by hand", "&Eacute;&EACUTE;&times;&divide;&szlig;&shy;&yuml;",
            u"É&EACUTE;×÷ß\u00ADÿ"_s);
        row("decode", "inserted hash does not join", "&&#35;65;", "&#65;");
        row("decode", "inserted ampersands start one", "&#38;#38;#66;x", "Bx");
        row("decode", "0x prefix, either case", "&#x0x44;&#x0X45;&#xe9;", "DEé");
        // What references that name no character insert.
        row("decode", "zero, empty, negative, upper-case X, no ASCII digit",
            u"a&#0;b&#;&#-65;&#X41;&#\u0661;"_s, "a" + kFFFD + "b" + kFFFD.repeated(4));
        row("decode", "surrogates do not pair up", "&#xD83D;&#57343;", kFFFD + kFFFD);
        row("decode", "beyond Unicode, low bits an A", "&#x110000;&#x110041;", kFFFD + kFFFD);
        row("decode", "overflow, hex wrapping to an A", "&#99999999999;&#x10000000000000041;", kFFFD + kFFFD);
        row("decode", "last BMP unit, first and last beyond", "&#xFFFF;&#65536;&#x10FFFF;",
            u"\uFFFF\U00010000\U0010FFFF"_s);

        row("strip", "the whole table", u"ÀÁÂÃÄàáâãäÈÉÊËèéêëÌÍÎÏìíîïÑñÒÓÔÕÖòóôõöÙÚÛÜùúûüŸÿ"_s,
            "AAAAAaaaaaEEEEeeeeIIIIiiiiNnOOOOOoooooUUUUuuuuYy");

        row("uri", "only the first ?", "a?b?c", "a");

        row("full", "scheme, port, query", "HTTP://Ab.Example.COM:8080/p?q", "ab.example.com");
        row("full", "user stays", "https://Bob@Host.com/", "bob@host.com");
        row("full", "query after host", "h.com?x=/y", "h.com");
        row("full", "only the first ://", "a://b://c", "b");

        row("hostPort", "host and port", "http://example.com:8080/x", "example.com:8080");
        row("hostPort", "no default port", "http://example.com/x", "example.com:(null)");
        row("hostPort", "no scheme", "example.com", "(null):(null)");
        // QUrl still hands out host and port of an address it finds invalid.
        row("hostPort", "space in path", "http://host.com:80/pa th", "(null):(null)");

        row("ip", "empty", "", "yes");
        row("ip", "dotted quad", "10.0.0.1", "yes");
        row("ip", "Arabic-Indic digit", u"1.\u0661"_s, "no");

        // The district rule counts bytes: a three-byte character stands where the state would be.
        row("domain", "district rule on bytes", u"x.y.k12\u20AC.us"_s, u"y.k12\u20AC.us"_s);
        row("domain", "single label", "localhost", "localhost");
        row("domain", "final dot", "x.y.com.", "y.com.");
        row("domain", "Turkish capitals", "https://MAIL.ISTANBUL.GOV.TR/", "istanbul.gov.tr");
        // The cut is found in UTF-8 bytes and made in UTF-16 units: two-, three- and four-byte characters.
        row("domain", "non-ASCII capitals", u"\u00DC.\u00DCN\u00CF.CO.UK"_s, u"\u00FCn\u00EF.co.uk"_s);
        row("domain", "three bytes before the cut", u"\u20AC.y.com"_s, "y.com");
        row("domain", "non-BMP label", "http://" + kGrinning + ".x" + kGrinning + ".co.uk/",
            "x" + kGrinning + ".co.uk");
        row("domain", "lone surrogate", "x.y" + kLoneHigh + ".com", "y" + kLoneHigh + ".com");
        row("domain", "longer than the stack buffer", QString(300, u'a') + ".x.co.uk", "x.co.uk");
        row("domain", "embedded NUL", u"x.y\0z.co.uk"_s, u"y\0z.co.uk"_s);

        row("title", "label before the suffix", "https://login.y.co.uk/", "Y");
        row("title", "IP address", "http://10.0.0.1/", "10");
        row("title", "words", "my bank.com", "My Bank");
        row("title", "Turkish i", "https://www.istanbul.com/", "Istanbul");
        row("title", "title case, not upper", u"\u01C6ungla.com"_s, u"\u01C5ungla"_s);
        row("title", "non-BMP first letter", u"\U00010428\U00010400x.com"_s, u"\U00010400\U00010428x"_s);
        row("title", "lone surrogate first", kLoneHigh + "ab.com", kLoneHigh + "ab");

        row("protocol", "plain host", "example.com", "http://example.com");
        row("protocol", "443 anywhere", "example.com/p4430", "https://example.com/p4430");
        row("protocol", "scheme kept", "FTP://example.com", "FTP://example.com");
        row("scheme", "443 in the path", "example.com/p4430", "http");
        row("scheme", "case kept", "FTP://example.com", "FTP");
        row("scheme", "empty scheme", "://example.com", "");
        row("valid", "port 443", "example.com:443/x", "https://example.com:443/x");
        row("valid", "scheme kept", "FTP://example.com", "FTP://example.com");

        QString ascii; // from the space on
        for (char16_t c = 0x20; c < 0x80; ++c)
            ascii += QChar(c);
        row("urlEscape", "printable ASCII", ascii,
            "%20%21%22%23%24%25%26%27%28%29%2A%2B%2C-.%2F0123456789%3A%3B%3C%3D%3E%3F%40"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ%5B%5C%5D%5E_%60abcdefghijklmnopqrstuvwxyz%7B%7C%7D~%7F");
        row("urlEscape", "lone surrogate", "a" + kLoneHigh, "(absent)");
        row("httpEscape", "printable ASCII", ascii,
            u"%20!%22%23%24%25%26%27%28%29*%2B%2C-./0123456789:%3B%3C%3D%3E%3F@"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz%7B|%7D~\x7F"_s);
        row("httpEscape", "two bytes, four bytes", u"\u00E9"_s + kGrinning, "%C3%A9%F0%9F%98%80");
        row("httpEscape", "NUL and tab", u"\0\t"_s, "%00%09");
        row("httpEscape", "lone surrogate", kLoneHigh, "(absent)");
    }
    // Every answer is the same under a Turkish locale (no dotless i, no dotted I).
    void answers() {
        QFETCH(QString, function);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(kFunctions.value(function)(input), expected);
        const ScopedLocale turkish("tr_TR.UTF-8");
        QVERIFY2(turkish.active(), "tr_TR.UTF-8 is not installed (Debian: locales-all)");
        QCOMPARE(kFunctions.value(function)(input), expected);
    }

    // Together with the whole-table row: exactly the 48 table letters change, nothing else.
    void foldsOnlyTheTable() {
        int changed = 0;
        for (char32_t u = 0; u <= 0xFFFF; ++u) {
            const QString one(QChar(static_cast<char16_t>(u)));
            changed += vt_stringByStrippingAccentMarks(one) != one;
        }
        QCOMPARE(changed, 48);
    }

    // Single-pass escaping and decoding match the step-by-step forms on random texts rich in what they treat.
    void matchesLiteralSteps() {
        QRandomGenerator random(5);
        const QString pathAlphabet = kWideAlphabet + u"\\\\\\''  "_s;
        const QString referenceAlphabet =
            u"&&&###;;;xX0123456789aAfF -+eacute;&nbsp;&yuml;\U0001F600\u00E9"_s;
        for (int i = 0; i < 3000; ++i) {
            const QString path = randomText(random, pathAlphabet, 24);
            QCOMPARE(vt_stringAsLegalFilePath(path), literal::escapePath(path));
            const QString text = randomText(random, referenceAlphabet, 40);
            QCOMPARE(vt_stringByDecodingHTMLEntities(text), literal::decodeEntities(text));
        }
    }

    void shellReadsPathsBack_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("inexact"); // the exactness check must say no
        for (const QString& path : {u"/Applications/My App (1).app"_s, u"$(touch pwned)"_s, u"`id`;id&&id"_s,
                                    u"${HOME}{a,b}"_s, u"'\"'\"''"_s, u"'it''s'"_s, u"x>y<z"_s, u"-n"_s,
                                    u"BUNDLE_PATH=/opt/Key loft:4"_s, u"é 日 \U0001F600"_s})
            QTest::newRow(qPrintable(path)) << path << false;
        const QStringList inexact = {{},           u"/a:b"_s,   u"/a\\b"_s,
                                     u"~jo/x"_s,   u"/x/*"_s,   u"#x"_s,
                                     u"/\0x"_s,    u"/a\nid"_s, u"/"_s + QChar(0xD800),
                                     kWideAlphabet};
        for (qsizetype i = 0; i < inexact.size(); ++i)
            QTest::addRow("inexact %lld", qlonglong(i)) << inexact[i] << true;
        QRandomGenerator random(20261206);
        for (int i = 0; i < 100; ++i)
            QTest::addRow("handled %d", i) << randomText(random, kHandledAlphabet, 40) << false;
        for (int i = 0; i < 80; ++i)
            QTest::addRow("any %d", i) << randomText(random, kWideAlphabet, 12) << false;
    }
    // Both shells read back as one word the escaped path (colons as underscores) when the escaping handles
    // its characters or the exactness check accepts it, and any quoted form exactly; nothing in it runs.
    void shellReadsPathsBack() {
        QFETCH(QString, path);
        QFETCH(bool, inexact);
        const bool isExact = vt_stringAsLegalFilePathIsExact(path);
        const bool handled = !path.isEmpty() && std::all_of(path.cbegin(), path.cend(), [](QChar c) {
            return c.isLetterOrNumber() || kHandledAlphabet.contains(c);
        });
        if (inexact)
            QVERIFY(!isExact);
        if (handled && !path.contains(u':'))
            QVERIFY(isExact);
        const std::optional<QString> quoted = vt_stringAsShellQuotedWord(path);
        QCOMPARE(quoted.has_value(), path.isValidUtf16() && !path.contains(QChar(u'\0')));
        QString commandLine;
        QStringList expected;
        if (handled || isExact) {
            commandLine = vt_stringAsLegalFilePath(path);
            expected << QString(path).replace(u':', u'_');
        }
        if (quoted) {
            commandLine += u' ' + *quoted;
            expected << path;
        }
        if (expected.isEmpty())
            return;
        for (const QString& shell : {u"/bin/bash"_s, u"/bin/sh"_s})
            QCOMPARE(shellWords(shell, commandLine, emptyDirectory_.path()), expected);
        QCOMPARE(QDir(emptyDirectory_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // Texts that make a naive rescan quadratic still decode (in one pass, or the run would not end).
    void decoderIsLinear() {
        QCOMPARE(vt_stringByDecodingHTMLEntities(QString(200000, u';') + u"&#65;"_s).right(2), u";A"_s);
        QCOMPARE(vt_stringByDecodingHTMLEntities(u"&#38;#38;"_s.repeated(50000) + u"#66;"_s),
                 QString(49999, u'&') + u'B');
        const QString unterminated = u"&#"_s.repeated(100000);
        QCOMPARE(vt_stringByDecodingHTMLEntities(unterminated), unterminated);
    }

    void replacesRange_data() {
        QTest::addColumn<VTRange>("range");
        QTest::addColumn<OptionalText>("replacement");
        QTest::addColumn<QString>("expected");
        const OptionalText x = u"X"_s;
        QTest::newRow("at the end") << VTRange{6, 0} << x << u"abcdefX"_s;
        QTest::newRow("past the end") << VTRange{5, 2} << x << u"abcdef"_s;
        QTest::newRow("sum wraps around") << VTRange{UINT64_MAX, 2} << x << u"abcdef"_s;
        QTest::newRow("length wraps around") << VTRange{2, UINT64_MAX - 1} << x << u"abcdef"_s;
        QTest::newRow("absent replacement") << VTRange{0, 1} << OptionalText() << u"(null)bcdef"_s;
    }
    void replacesRange() {
        QFETCH(VTRange, range);
        QFETCH(OptionalText, replacement);
        QFETCH(QString, expected);
        QCOMPARE(vtwStringByReplacingCharactersInRange(u"abcdef"_s, range, replacement), expected);
    }

    // The fingerprinted walk answers as the plain walk. The table's order holds: for a host ending in an
    // entry, the winner is never later and never longer (no three-label entry beats its two-label tail).
    void fastWalkAgreesWithPlainWalk() {
        std::vector<std::string> hosts;
        for (std::size_t i = 0; i < TLDs.size(); ++i) {
            const std::string e(TLDs[i]);
            const std::size_t winner = vt_firstTLDEnding("a" + e);
            QVERIFY2(winner <= i && TLDs[winner].size() <= e.size(), e.c_str());
            // Longer, as long (no match), without its dot, one byte changed, a tail, a final dot.
            for (const std::string& host :
                 {"a" + e, e, e.substr(1), "a" + e.substr(2), "ab" + e.substr(e.size() - 6), "a" + e + "."})
                hosts.push_back(host);
        }
        QRandomGenerator random(20261206);
        const std::string alphabet = "abcdeikmnorstuz.-";
        for (int n = 0; n < 20000; ++n) {
            std::string host(random.bounded(1, 24), ' ');
            for (char& c : host)
                c = alphabet[random.bounded(static_cast<int>(alphabet.size()))];
            hosts.push_back(host);
        }
        for (const std::string& host : hosts)
            QVERIFY2(vt_firstTLDEnding(host) == literal::firstTLDEnding(host), host.c_str());
    }

private:
    QTemporaryDir emptyDirectory_;
};

QTEST_GUILESS_MAIN(TestVantleStringEscaping)
#include "tst_vantlestring_escaping.moc"
