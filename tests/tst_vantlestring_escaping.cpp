// Shell, HTML and script escaping and the character-reference decoder. The shell escaping is
// checked by real shells reading the escaped text back.

#include "VantleString.h"
#include "reference/LiteralEntityDecoder.h"
#include "reference/LiteralPathEscaper.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)
Q_DECLARE_METATYPE(VTRange)

namespace {

using Function = QString (*)(const QString&);

const QMap<QString, Function> kFunctions = {
    {u"path"_s, vt_stringAsLegalFilePath},
    // The two names promise the same result.
    {u"html"_s, [](const QString& s) { return vt_html(s) == vt_asPrintableHTML(s) ? vt_html(s) : u"?"_s; }},
    {u"script"_s, vt_javascript},
    {u"htmlString"_s, vt_htmlString},
    {u"predicate"_s, vt_validPredicateFormatString},
    {u"tag"_s, vt_validTagString},
    {u"decode"_s, vt_stringByDecodingHTMLEntities},
};

void row(const char* function, const char* tag, const QString& input, const QString& expected) {
    QTest::addRow("%s: %s", function, tag) << QString::fromLatin1(function) << input << expected;
}

const QString kGrinning = u"\U0001F600"_s;
const QString kFFFD = u"\uFFFD"_s;
const QString k2047 = QString(2047, u'x');

// Characters the path escaping takes care of: plain path characters, the thirteen it escapes, the
// colon it replaces, and some beyond ASCII.
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
    void escapes_data();
    void escapes();
    void pathEscapingMatchesLiteralSteps();
    void shellReadsEscapedPathBack_data();
    void shellReadsEscapedPathBack();
    void exactnessHoldsInTheShell_data();
    void exactnessHoldsInTheShell();
    void shellQuotedWord_data();
    void shellQuotedWord();
    void decoderMatchesLiteralSteps();
    void decoderIsLinear();
    void replacesRange_data();
    void replacesRange();

private:
    QTemporaryDir emptyDirectory_;
};

void TestVantleStringEscaping::escapes_data() {
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    row("path", "empty", "", "");
    row("path", "already escaped", "a\\ b", "a\\ b");
    row("path", "escaped backslash still counts", "a\\\\ b", "a\\\\ b");
    row("path", "colon", "x:y:", "x_y_");
    row("path", "escaped colon", "x\\:y", "x\\_y");
    row("path", "globs left alone", "a*b?c[d]|e!#~", "a*b?c[d]|e!#~");
    row("path", "all thirteen", "'\" ()$&;`{}<>", "\\'\\\"\\ \\(\\)\\$\\&\\;\\`\\{\\}\\<\\>");
    row("path", "doubled specials", "((  ))", "\\(\\(\\ \\ \\)\\)");
    row("path", "tab and line feed left alone", "a\tb\nc", "a\tb\nc");

    row("html", "markup", "a<b>&c", "a&lt;b&gt;&amp;c");
    row("html", "every break", "1\r\n2\n3\r4", "1<br />2<br />3<br />4");
    row("html", "LF CR LF CR", "\n\r\n\r", "<br /><br /><br />");
    row("html", "line separator", u"a\u2028b"_s, "a<br />b");
    row("html", "quotes stay", "\"'", "\"'");
    row("html", "reference escaped once", "&lt;", "&amp;lt;");
    row("script", "markup and quote", "<\"", "&lt;&quot;");
    row("script", "backslash n", "\\n", "\\\\n");
    row("script", "line feed, CR kept", "a\nb\rc", "a\\nb\rc");
    row("script", "escaped apostrophe", "\\'", "\\\\\\'");
    row("htmlString", "line feed", "a\nb", "a<br/>b");
    row("htmlString", "no-break space", u"\u00A0"_s, "&#160;");
    row("htmlString", "non-BMP, one per unit", kGrinning, "&#55357;&#56832;");
    row("htmlString", "markup, apostrophe and CR kept", "x'\"&<>\r", "x'&quot;&amp;&lt;&gt;\r");
    row("predicate", "CR LF two spaces", "a\r\nb", "a  b");
    row("predicate", "form feed, not vertical tab", "a\fb\vc", "a b\vc");
    row("predicate", "2049 kept", k2047 + "\ny", k2047 + " y");
    row("tag", "2048 kept", k2047 + "\n", k2047 + " ");
    row("tag", "2049 cut", k2047 + "\ny", k2047 + " ");
    row("tag", "cut splits a pair", k2047 + kGrinning, k2047 + kGrinning.left(1));

    row("decode", "names are case-sensitive", "&Eacute;&EACUTE;", "É&EACUTE;");
    row("decode", "names checked by hand", "&times;&divide;&szlig;&shy;&yuml;", u"×÷ß\u00ADÿ"_s);
    row("decode", "amp is not Latin-1", "&amp;&lt;", "&amp;&lt;");
    row("decode", "ampersand before a name", "&&eacute;", "&é");
    row("decode", "name without semicolon", "&eacute x", "&eacute x");
    row("decode", "decimal and hex", "&#65;&#x42;", "AB");
    row("decode", "no semicolon", "&#65", "&#65");
    row("decode", "semicolon before", "a;b&#66;", "a;bB");
    row("decode", "inserted hash does not join", "&&#35;65;", "&#65;");
    row("decode", "inserted ampersand starts one", "&#38;#65;", "A");
    row("decode", "ampersand chain", "&#38;#38;#66;x", "Bx");
    row("decode", "ampersand without hash", "&#38;x;", "&x;");
    row("decode", "runs to the first semicolon", "&#65abc;d", "Ad");
    row("decode", "space skipped", "&# 65;&#x 42;", "AB");
    row("decode", "signed", "&#+67;", "C");
    row("decode", "0x prefix, either case", "&#x0x44;&#x0X45;&#xe9;", "DEé");
    row("decode", "reference made of a name", "&#&eacute;;", kFFFD);
    // What references that name no character insert.
    row("decode", "zero", "a&#0;b", "a" + kFFFD + "b");
    row("decode", "empty, negative, upper-case X", "&#;&#-65;&#X41;", kFFFD + kFFFD + kFFFD);
    row("decode", "surrogates do not pair up", "&#xD83D;&#57343;", kFFFD + kFFFD);
    row("decode", "beyond Unicode, low bits an A", "&#x110000;&#x110041;", kFFFD + kFFFD);
    row("decode", "overflow", "&#99999999999;&#xFFFFFFFFFF;", kFFFD + kFFFD);
    row("decode", "first beyond BMP", "&#65536;", u"\U00010000"_s);
    row("decode", "last code point", "&#x10FFFF;", u"\U0010FFFF"_s);
    row("decode", "last BMP unit", "&#xFFFF;", u"\uFFFF"_s);
}

void TestVantleStringEscaping::escapes() {
    QFETCH(QString, function);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(kFunctions.value(function)(input), expected);
}

void TestVantleStringEscaping::pathEscapingMatchesLiteralSteps() {
    const QString alphabet = kWideAlphabet + u"\\\\\\''  "_s;
    QRandomGenerator random(5);
    for (int i = 0; i < 3000; ++i) {
        const QString path = randomText(random, alphabet, 24);
        QCOMPARE(vt_stringAsLegalFilePath(path), literal::escapePath(path));
    }
}

void TestVantleStringEscaping::shellReadsEscapedPathBack_data() {
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("path");
    const QStringList fixed = {u"/Applications/My App (1).app"_s,
                               u"$(touch pwned)"_s,
                               u"`id`;id&&id"_s,
                               u"${HOME}{a,b}"_s,
                               u"'\"'\"''"_s,
                               u"x>y<z"_s,
                               u"-n"_s,
                               u"BUNDLE_PATH=/opt/Key loft:4"_s,
                               u"é 日 \U0001F600"_s};
    QRandomGenerator random(20261206);
    for (const QString& shell : {u"/bin/bash"_s, u"/bin/sh"_s}) {
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
    QTest::newRow("spaces") << u"/home/jo/My Apps (old)/Keyloft"_s << 1;
    QTest::newRow("colon") << u"/a:b"_s << 0;
    QTest::newRow("backslash") << u"/a\\b"_s << 0;
    QTest::newRow("tilde") << u"~jo/x"_s << 0;
    QTest::newRow("glob") << u"/x/*"_s << 0;
    QTest::newRow("hash first") << u"#x"_s << 0;
    QTest::newRow("line feed") << u"/a\nid"_s << 0;
    QTest::newRow("NUL") << u"/\0x"_s << 0;
    QTest::newRow("lone surrogate") << u"/"_s + QChar(0xD800) << 0;
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
        QCOMPARE(shellWords(u"/bin/bash"_s, vt_stringAsLegalFilePath(path), emptyDirectory_.path()),
                 QStringList{path});
    }
}

void TestVantleStringEscaping::shellQuotedWord_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("apostrophes") << u"'it''s'"_s;
    QTest::newRow("everything") << kWideAlphabet;
    QRandomGenerator random(777);
    for (int i = 0; i < 40; ++i)
        QTest::addRow("random %d", i) << randomText(random, kWideAlphabet, 30);
}

void TestVantleStringEscaping::shellQuotedWord() {
    QFETCH(QString, text);
    const std::optional<QString> quoted = vt_stringAsShellQuotedWord(text);
    QVERIFY(quoted);
    for (const QString& shell : {u"/bin/bash"_s, u"/bin/sh"_s})
        QCOMPARE(shellWords(shell, *quoted, emptyDirectory_.path()), QStringList{text});
    QVERIFY(!vt_stringAsShellQuotedWord(text + QChar(u'\0')));
    QVERIFY(!vt_stringAsShellQuotedWord(text + QChar(0xDC00)));
}

// The single-pass decoder against the plain, step-by-step one over random texts rich in references.
void TestVantleStringEscaping::decoderMatchesLiteralSteps() {
    const QString alphabet = u"&&&###;;;xX0123456789aAfF -+eacute;&nbsp;&yuml;\U0001F600\u00E9"_s;
    QRandomGenerator random(99);
    for (int i = 0; i < 3000; ++i) {
        QString text(random.bounded(1, 40), u' ');
        for (QChar& c : text)
            c = alphabet[random.bounded(alphabet.size())];
        QCOMPARE(vt_stringByDecodingHTMLEntities(text), literal::decodeEntities(text));
    }
}

// Texts that make a naive rescan quadratic still decode (in one pass, or the run would not end).
void TestVantleStringEscaping::decoderIsLinear() {
    const QString semicolonsThenReference = QString(200000, u';') + u"&#65;"_s;
    QCOMPARE(vt_stringByDecodingHTMLEntities(semicolonsThenReference).right(2), u";A"_s);
    const QString manyReferences = u"&#38;#38;"_s.repeated(50000) + u"#66;"_s;
    QCOMPARE(vt_stringByDecodingHTMLEntities(manyReferences), QString(49999, u'&') + u'B');
    const QString unterminated = u"&#"_s.repeated(100000);
    QCOMPARE(vt_stringByDecodingHTMLEntities(unterminated), unterminated);
}

void TestVantleStringEscaping::replacesRange_data() {
    QTest::addColumn<VTRange>("range");
    QTest::addColumn<OptionalText>("replacement");
    QTest::addColumn<QString>("expected");
    const OptionalText x = u"X"_s;
    QTest::newRow("middle") << VTRange{1, 2} << x << u"aXdef"_s;
    QTest::newRow("at the end") << VTRange{6, 0} << x << u"abcdefX"_s;
    QTest::newRow("past the end") << VTRange{5, 2} << x << u"abcdef"_s;
    QTest::newRow("location past the end") << VTRange{7, 0} << x << u"abcdef"_s;
    QTest::newRow("sum wraps around") << VTRange{UINT64_MAX, 2} << x << u"abcdef"_s;
    QTest::newRow("length wraps around") << VTRange{2, UINT64_MAX - 1} << x << u"abcdef"_s;
    QTest::newRow("absent replacement") << VTRange{0, 1} << OptionalText() << u"(null)bcdef"_s;
    QTest::newRow("percent kept") << VTRange{0, 0} << OptionalText(u"%@%d"_s) << u"%@%dabcdef"_s;
}

void TestVantleStringEscaping::replacesRange() {
    QFETCH(VTRange, range);
    QFETCH(OptionalText, replacement);
    QFETCH(QString, expected);
    QCOMPARE(vtwStringByReplacingCharactersInRange(u"abcdef"_s, range, replacement), expected);
}

QTEST_GUILESS_MAIN(TestVantleStringEscaping)
#include "tst_vantlestring_escaping.moc"
