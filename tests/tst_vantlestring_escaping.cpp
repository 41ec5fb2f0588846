// Shell, HTML and script escaping and the character-reference decoder. The shell escaping is
// checked by real shells reading the escaped text back.

#include "VantleString.h"
#include "reference/LiteralEntityDecoder.h"
#include "reference/LiteralPathEscaper.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)
Q_DECLARE_METATYPE(VTRange)

namespace {

QString units(std::initializer_list<char16_t> list) {
    QString s;
    for (const char16_t u : list)
        s += QChar(u);
    return s;
}

const QString kGrinning = units({0xD83D, 0xDE00});

// Characters the path escaping takes care of: plain path characters, the thirteen it escapes, the
// colon it replaces, and some beyond ASCII.
const QString kHandledAlphabet = QStringLiteral("abcXYZ019/._-+,%@^=") + QStringLiteral("'\" ()$&;`{}<>") +
                                 QStringLiteral(":éü日") + kGrinning;
// Everything a shell may treat specially, for the single-quoted form and the exactness check.
const QString kWideAlphabet = kHandledAlphabet + QStringLiteral("\\*?[]|!#~\t\n\r\v");

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength) {
    const int length = static_cast<int>(random.bounded(1, maxLength + 1));
    QString s;
    while (s.size() < length) {
        const qsizetype at = random.bounded(alphabet.size());
        // Keep surrogate pairs whole.
        if (alphabet[at].isLowSurrogate())
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
    process.start(shell, {QStringLiteral("-c"), QStringLiteral("printf '%s\\0' ") + fragment});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return {QStringLiteral("<shell did not finish>")};
    if (process.exitCode() != 0)
        return {QStringLiteral("<exit %1> ").arg(process.exitCode()) +
                QString::fromUtf8(process.readAllStandardError())};
    QByteArray out = process.readAllStandardOutput();
    QStringList words;
    for (const QByteArray& word : out.split('\0'))
        words << QString::fromUtf8(word);
    words.removeLast(); // after the last terminator
    return words;
}

} // namespace

class TestVantleStringEscaping : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void legalFilePath_data();
    void legalFilePath();
    void pathEscapingMatchesLiteralSteps();
    void shellReadsEscapedPathBack_data();
    void shellReadsEscapedPathBack();
    void exactnessHoldsInTheShell_data();
    void exactnessHoldsInTheShell();
    void shellQuotedWord_data();
    void shellQuotedWord();
    void printableHTML_data();
    void printableHTML();
    void javascript_data();
    void javascript();
    void htmlString_data();
    void htmlString();
    void predicateAndTag_data();
    void predicateAndTag();
    void decodesEntities_data();
    void decodesEntities();
    void decodesEveryLatin1Name();
    void decoderMatchesLiteralSteps();
    void decoderIsLinear();
    void replacesRange_data();
    void replacesRange();

private:
    QTemporaryDir emptyDirectory_;
};

void TestVantleStringEscaping::initTestCase() {
    QVERIFY(emptyDirectory_.isValid());
}

void TestVantleStringEscaping::legalFilePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("space") << QStringLiteral("a b") << QStringLiteral("a\\ b");
    QTest::newRow("already escaped") << QStringLiteral("a\\ b") << QStringLiteral("a\\ b");
    QTest::newRow("escaped backslash still counts") << QStringLiteral("a\\\\ b") << QStringLiteral("a\\\\ b");
    QTest::newRow("two apostrophes") << QStringLiteral("''") << QStringLiteral("\\'\\'");
    QTest::newRow("variable and separator") << QStringLiteral("$HOME;rm") << QStringLiteral("\\$HOME\\;rm");
    QTest::newRow("colon") << QStringLiteral("x:y:") << QStringLiteral("x_y_");
    QTest::newRow("escaped colon") << QStringLiteral("x\\:y") << QStringLiteral("x\\_y");
    QTest::newRow("globs left alone") << QStringLiteral("a*b?c[d]|e!#~") << QStringLiteral("a*b?c[d]|e!#~");
    QTest::newRow("bundle") << QStringLiteral("/Applications/My App (1).app")
                            << QStringLiteral("/Applications/My\\ App\\ \\(1\\).app");
    QTest::newRow("all thirteen") << QStringLiteral("'\" ()$&;`{}<>")
                                  << QStringLiteral("\\'\\\"\\ \\(\\)\\$\\&\\;\\`\\{\\}\\<\\>");
    QTest::newRow("doubled specials") << QStringLiteral("((  ))") << QStringLiteral("\\(\\(\\ \\ \\)\\)");
    QTest::newRow("tab and line feed left alone") << QStringLiteral("a\tb\nc") << QStringLiteral("a\tb\nc");
}

void TestVantleStringEscaping::legalFilePath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringAsLegalFilePath(path), expected);
}

void TestVantleStringEscaping::pathEscapingMatchesLiteralSteps() {
    const QString alphabet = kWideAlphabet + QStringLiteral("\\\\\\''  ");
    QRandomGenerator random(5);
    for (int i = 0; i < 3000; ++i) {
        const QString path = randomText(random, alphabet, 24);
        QCOMPARE(vt_stringAsLegalFilePath(path), literal::escapePath(path));
    }
}

void TestVantleStringEscaping::shellReadsEscapedPathBack_data() {
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("path");
    const QStringList fixed = {
        QStringLiteral("/Applications/My App (1).app"),
        QStringLiteral("$(touch pwned)"),
        QStringLiteral("`id`;id&&id"),
        QStringLiteral("${HOME}{a,b}"),
        QStringLiteral("'\"'\"''"),
        QStringLiteral("x>y<z"),
        QStringLiteral("-n"),
        QStringLiteral("BUNDLE_PATH=/opt/Key loft:4"),
        QStringLiteral("é 日 ") + kGrinning,
    };
    QRandomGenerator random(20261206);
    for (const QString& shell : {QStringLiteral("/bin/bash"), QStringLiteral("/bin/sh")}) {
        for (const QString& path : fixed)
            QTest::addRow("%s %s", qPrintable(shell), qPrintable(path)) << shell << path;
        for (int i = 0; i < 60; ++i)
            QTest::addRow("%s random %d", qPrintable(shell), i)
                << shell << randomText(random, kHandledAlphabet, 40);
    }
}

void TestVantleStringEscaping::shellReadsEscapedPathBack() {
    QFETCH(QString, shell);
    QFETCH(QString, path);
    const QString expected = QString(path).replace(u':', u'_');
    QCOMPARE(shellWords(shell, vt_stringAsLegalFilePath(path), emptyDirectory_.path()),
             QStringList{expected});
    QCOMPARE(QDir(emptyDirectory_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestVantleStringEscaping::exactnessHoldsInTheShell_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected"); // 1 exact, 0 not, -1 whatever the shell confirms
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("plain") << QStringLiteral("/usr/lib/keyloft-troubleshooting") << 1;
    QTest::newRow("spaces") << QStringLiteral("/home/jo/My Apps (old)/Keyloft") << 1;
    QTest::newRow("colon") << QStringLiteral("/a:b") << 0;
    QTest::newRow("backslash") << QStringLiteral("/a\\b") << 0;
    QTest::newRow("escaped space") << QStringLiteral("/a\\ b") << 0;
    QTest::newRow("tilde") << QStringLiteral("~jo/x") << 0;
    QTest::newRow("glob") << QStringLiteral("/x/*") << 0;
    QTest::newRow("pipe") << QStringLiteral("/a||id") << 0;
    QTest::newRow("hash first") << QStringLiteral("#x") << 0;
    QTest::newRow("line feed") << QStringLiteral("/a\nid") << 0;
    QTest::newRow("NUL") << units({u'/', 0, u'x'}) << 0;
    QTest::newRow("lone surrogate") << units({u'/', 0xD800}) << 0;
    QRandomGenerator random(4242);
    for (int i = 0; i < 80; ++i)
        QTest::addRow("random %d", i) << randomText(random, kWideAlphabet, 12) << -1;
}

// Whatever vt_stringAsLegalFilePathIsExact accepts, bash reads back unchanged; and it accepts
// every path made only of characters the escaping handles (colons aside).
void TestVantleStringEscaping::exactnessHoldsInTheShell() {
    QFETCH(QString, path);
    QFETCH(int, expected);
    const bool handledOnly = !path.isEmpty() && std::all_of(path.cbegin(), path.cend(), [](QChar c) {
        return c != u':' && (c.isLetterOrNumber() || kHandledAlphabet.contains(c));
    });
    const bool exact = vt_stringAsLegalFilePathIsExact(path);
    QVERIFY(exact || !handledOnly);
    if (expected >= 0)
        QCOMPARE(exact, expected == 1);
    if (exact) {
        QCOMPARE(
            shellWords(QStringLiteral("/bin/bash"), vt_stringAsLegalFilePath(path), emptyDirectory_.path()),
            QStringList{path});
    }
}

void TestVantleStringEscaping::shellQuotedWord_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("apostrophes") << QStringLiteral("'it''s'");
    QTest::newRow("everything") << kWideAlphabet;
    QRandomGenerator random(777);
    for (int i = 0; i < 40; ++i)
        QTest::addRow("random %d", i) << randomText(random, kWideAlphabet, 30);
}

void TestVantleStringEscaping::shellQuotedWord() {
    QFETCH(QString, text);
    const std::optional<QString> quoted = vt_stringAsShellQuotedWord(text);
    QVERIFY(quoted);
    for (const QString& shell : {QStringLiteral("/bin/bash"), QStringLiteral("/bin/sh")})
        QCOMPARE(shellWords(shell, *quoted, emptyDirectory_.path()), QStringList{text});
    QVERIFY(!vt_stringAsShellQuotedWord(text + QChar(u'\0')));
    QVERIFY(!vt_stringAsShellQuotedWord(text + QChar(0xDC00)));
}

void TestVantleStringEscaping::printableHTML_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("markup") << QStringLiteral("a<b>&c") << QStringLiteral("a&lt;b&gt;&amp;c");
    QTest::newRow("every break") << QStringLiteral("1\r\n2\n3\r4")
                                 << QStringLiteral("1<br />2<br />3<br />4");
    QTest::newRow("LF CR LF CR") << QStringLiteral("\n\r\n\r") << QStringLiteral("<br /><br /><br />");
    QTest::newRow("line separator") << units({u'a', 0x2028, u'b'}) << QStringLiteral("a<br />b");
    QTest::newRow("quotes stay") << QStringLiteral("\"'") << QStringLiteral("\"'");
    QTest::newRow("reference escaped once") << QStringLiteral("&lt;") << QStringLiteral("&amp;lt;");
}

void TestVantleStringEscaping::printableHTML() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_asPrintableHTML(text), expected);
    QCOMPARE(vt_html(text), expected);
}

void TestVantleStringEscaping::javascript_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("less than") << QStringLiteral("<") << QStringLiteral("&lt;");
    QTest::newRow("apostrophe") << QStringLiteral("it's") << QStringLiteral("it\\'s");
    QTest::newRow("double quote") << QStringLiteral("\"") << QStringLiteral("&quot;");
    QTest::newRow("backslash n") << QStringLiteral("\\n") << QStringLiteral("\\\\n");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("a\\nb");
    QTest::newRow("carriage return kept") << QStringLiteral("a\rb") << QStringLiteral("a\rb");
    QTest::newRow("escaped apostrophe") << QStringLiteral("\\'") << QStringLiteral("\\\\\\'");
}

void TestVantleStringEscaping::javascript() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_javascript(text), expected);
}

void TestVantleStringEscaping::htmlString_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("a<br/>b");
    QTest::newRow("accent") << QStringLiteral("é") << QStringLiteral("&#233;");
    QTest::newRow("no-break space") << units({0xA0}) << QStringLiteral("&#160;");
    QTest::newRow("non-BMP, one per unit") << kGrinning << QStringLiteral("&#55357;&#56832;");
    QTest::newRow("apostrophe and CR kept") << QStringLiteral("a'b\r") << QStringLiteral("a'b\r");
    QTest::newRow("markup") << QStringLiteral("x\"&<>y") << QStringLiteral("x&quot;&amp;&lt;&gt;y");
    QTest::newRow("runs between") << QStringLiteral("ab\u00FFcd\nef") << QStringLiteral("ab&#255;cd<br/>ef");
}

void TestVantleStringEscaping::htmlString() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_htmlString(text), expected);
}

void TestVantleStringEscaping::predicateAndTag_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("predicate");
    QTest::addColumn<QString>("tag");
    const QString long2048 = QString(2047, u'x') + u'\n';
    QTest::newRow("unchanged") << QStringLiteral("a b") << QStringLiteral("a b") << QStringLiteral("a b");
    QTest::newRow("CR LF two spaces")
        << QStringLiteral("a\r\nb") << QStringLiteral("a  b") << QStringLiteral("a  b");
    QTest::newRow("form feed") << QStringLiteral("a\fb\vc") << QStringLiteral("a b\vc")
                               << QStringLiteral("a b\vc");
    QTest::newRow("2048 kept") << long2048 << QString(2047, u'x') + u' ' << QString(2047, u'x') + u' ';
    QTest::newRow("2049 cut") << long2048 + u'y' << QString(2047, u'x') + QStringLiteral(" y")
                              << QString(2047, u'x') + u' ';
    QTest::newRow("cut splits a pair") << QString(2047, u'x') + kGrinning << QString(2047, u'x') + kGrinning
                                       << QString(2047, u'x') + kGrinning.left(1);
}

void TestVantleStringEscaping::predicateAndTag() {
    QFETCH(QString, text);
    QFETCH(QString, predicate);
    QFETCH(QString, tag);
    QCOMPARE(vt_validPredicateFormatString(text), predicate);
    QCOMPARE(vt_validTagString(text), tag);
}

void TestVantleStringEscaping::decodesEntities_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString replacement = units({0xFFFD});
    QTest::newRow("no ampersand") << QStringLiteral("abc") << QStringLiteral("abc");
    QTest::newRow("named") << QStringLiteral("&eacute;t&eacute;") << QStringLiteral("été");
    QTest::newRow("names are case-sensitive")
        << QStringLiteral("&Eacute;&EACUTE;") << QStringLiteral("É&EACUTE;");
    QTest::newRow("amp is not Latin-1") << QStringLiteral("&amp;&lt;") << QStringLiteral("&amp;&lt;");
    QTest::newRow("ampersand before a name") << QStringLiteral("&&eacute;") << QStringLiteral("&é");
    QTest::newRow("name without semicolon") << QStringLiteral("&eacute x") << QStringLiteral("&eacute x");
    QTest::newRow("decimal and hex") << QStringLiteral("&#65;&#x42;") << QStringLiteral("AB");
    QTest::newRow("no semicolon") << QStringLiteral("&#65") << QStringLiteral("&#65");
    QTest::newRow("semicolon before") << QStringLiteral("a;b&#66;") << QStringLiteral("a;bB");
    QTest::newRow("inserted hash does not join") << QStringLiteral("&&#35;65;") << QStringLiteral("&#65;");
    QTest::newRow("inserted ampersand starts one") << QStringLiteral("&#38;#65;") << QStringLiteral("A");
    QTest::newRow("ampersand chain") << QStringLiteral("&#38;#38;#66;x") << QStringLiteral("Bx");
    QTest::newRow("ampersand without hash") << QStringLiteral("&#38;x;") << QStringLiteral("&x;");
    QTest::newRow("runs to the first semicolon") << QStringLiteral("&#65abc;d") << QStringLiteral("Ad");
    QTest::newRow("space skipped") << QStringLiteral("&# 65;&#x 42;") << QStringLiteral("AB");
    QTest::newRow("signed") << QStringLiteral("&#+67;") << QStringLiteral("C");
    QTest::newRow("0x prefix") << QStringLiteral("&#x0x44;&#x0X45;") << QStringLiteral("DE");
    QTest::newRow("hex in either case") << QStringLiteral("&#xe9;&#xE9;") << QStringLiteral("éé");
    QTest::newRow("reference made of a name") << QStringLiteral("&#&eacute;;") << replacement;
    // What references that name no character insert.
    QTest::newRow("zero") << QStringLiteral("a&#0;b") << QStringLiteral("a") + replacement + u'b';
    QTest::newRow("empty number") << QStringLiteral("&#;") << replacement;
    QTest::newRow("upper-case X reads as decimal") << QStringLiteral("&#X41;") << replacement;
    QTest::newRow("negative") << QStringLiteral("&#-65;") << replacement;
    QTest::newRow("high surrogate") << QStringLiteral("&#xD83D;") << replacement;
    QTest::newRow("low surrogate") << QStringLiteral("&#57343;") << replacement;
    QTest::newRow("surrogates do not pair up")
        << QStringLiteral("&#xD83D;&#xDE00;") << replacement + replacement;
    QTest::newRow("beyond Unicode") << QStringLiteral("&#x110000;") << replacement;
    QTest::newRow("decimal overflow") << QStringLiteral("&#99999999999;") << replacement;
    QTest::newRow("hex overflow") << QStringLiteral("&#xFFFFFFFFFF;") << replacement;
    QTest::newRow("low 16 bits would be A") << QStringLiteral("&#x110041;") << replacement;
    QTest::newRow("non-BMP hex") << QStringLiteral("&#x1F600;") << kGrinning;
    QTest::newRow("non-BMP decimal") << QStringLiteral("&#128512;") << kGrinning;
    QTest::newRow("first beyond BMP") << QStringLiteral("&#65536;") << units({0xD800, 0xDC00});
    QTest::newRow("last code point") << QStringLiteral("&#x10FFFF;") << units({0xDBFF, 0xDFFF});
    QTest::newRow("last BMP unit") << QStringLiteral("&#xFFFF;") << units({0xFFFF});
}

void TestVantleStringEscaping::decodesEntities() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByDecodingHTMLEntities(text), expected);
}

void TestVantleStringEscaping::decodesEveryLatin1Name() {
    const QStringList& names = literal::latin1EntityNames();
    QCOMPARE(names.size(), 96);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString reference = u'&' + names[i] + u';';
        QCOMPARE(vt_stringByDecodingHTMLEntities(u'<' + reference + u'>'),
                 u'<' + QString(QChar(static_cast<char16_t>(0xA0 + i))) + u'>');
    }
    // Spot checks of the list against the characters the names are known for.
    QCOMPARE(vt_stringByDecodingHTMLEntities(QStringLiteral("&times;&divide;&szlig;&shy;&yuml;")),
             units({0xD7, 0xF7, 0xDF, 0xAD, 0xFF}));
}

// The single-pass decoder against the plain, step-by-step one over random texts rich in references.
void TestVantleStringEscaping::decoderMatchesLiteralSteps() {
    const QString alphabet = QStringLiteral("&&&###;;;xX0123456789aAfF -+") +
                             QStringLiteral("eacute;&nbsp;&yuml;") + units({0xD83D, 0xDE00, 0xE9});
    QRandomGenerator random(99);
    for (int i = 0; i < 3000; ++i) {
        QString text;
        const int length = static_cast<int>(random.bounded(1, 40));
        for (int n = 0; n < length; ++n)
            text += alphabet[random.bounded(alphabet.size())];
        QCOMPARE(vt_stringByDecodingHTMLEntities(text), literal::decodeEntities(text));
    }
}

// A text that makes a naive rescan quadratic still decodes in one pass.
void TestVantleStringEscaping::decoderIsLinear() {
    const QString semicolonsThenReference = QString(200000, u';') + QStringLiteral("&#65;");
    QCOMPARE(vt_stringByDecodingHTMLEntities(semicolonsThenReference).right(2), QStringLiteral(";A"));
    const QString manyReferences = QStringLiteral("&#38;#38;").repeated(50000) + QStringLiteral("#66;");
    QCOMPARE(vt_stringByDecodingHTMLEntities(manyReferences), QString(49999, u'&') + u'B');
    const QString unterminated = QStringLiteral("&#").repeated(100000);
    QCOMPARE(vt_stringByDecodingHTMLEntities(unterminated), unterminated);
}

void TestVantleStringEscaping::replacesRange_data() {
    QTest::addColumn<VTRange>("range");
    QTest::addColumn<OptionalText>("replacement");
    QTest::addColumn<QString>("expected");
    QTest::newRow("middle") << VTRange{1, 2} << OptionalText(QStringLiteral("X")) << QStringLiteral("aXdef");
    QTest::newRow("at the end") << VTRange{6, 0} << OptionalText(QStringLiteral("X"))
                                << QStringLiteral("abcdefX");
    QTest::newRow("whole") << VTRange{0, 6} << OptionalText(QString()) << QString();
    QTest::newRow("past the end") << VTRange{5, 2} << OptionalText(QStringLiteral("X"))
                                  << QStringLiteral("abcdef");
    QTest::newRow("location past the end")
        << VTRange{7, 0} << OptionalText(QStringLiteral("X")) << QStringLiteral("abcdef");
    QTest::newRow("sum wraps around")
        << VTRange{UINT64_MAX, 2} << OptionalText(QStringLiteral("X")) << QStringLiteral("abcdef");
    QTest::newRow("length wraps around")
        << VTRange{2, UINT64_MAX - 1} << OptionalText(QStringLiteral("X")) << QStringLiteral("abcdef");
    QTest::newRow("absent replacement") << VTRange{0, 1} << OptionalText() << QStringLiteral("(null)bcdef");
    QTest::newRow("percent kept") << VTRange{0, 0} << OptionalText(QStringLiteral("%@%d"))
                                  << QStringLiteral("%@%dabcdef");
}

void TestVantleStringEscaping::replacesRange() {
    QFETCH(VTRange, range);
    QFETCH(OptionalText, replacement);
    QFETCH(QString, expected);
    QCOMPARE(vtwStringByReplacingCharactersInRange(QStringLiteral("abcdef"), range, replacement), expected);
}

QTEST_GUILESS_MAIN(TestVantleStringEscaping)
#include "tst_vantlestring_escaping.moc"
