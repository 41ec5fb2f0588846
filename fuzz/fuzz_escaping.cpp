// Every escaping operation on any text: no crash, and the properties each destination relies on.

#include "FuzzInput.h"

#include "VantleString.h"
#include "reference/LiteralPathEscaper.h"

#include <algorithm>

namespace {

// Reads a shell word the way a shell does for the characters the escaping produces: a backslash
// quotes the next character and disappears.
QString unescapeBackslashes(const QString& word) {
    QString out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word[i] == u'\\' && i + 1 < word.size())
            ++i;
        out += word[i];
    }
    return out;
}

bool containsAny(const QString& text, QStringView characters) {
    return std::any_of(text.cbegin(), text.cend(), [&](QChar c) { return characters.contains(c); });
}

void checkShellEscaping(const QString& s) {
    const QString escaped = vt_stringAsLegalFilePath(s);
    fuzz::require(escaped == literal::escapePath(s), "path escaping equals its literal steps", s);
    fuzz::require(!escaped.contains(u':'), "no colon survives", s);
    if (vt_stringAsLegalFilePathIsExact(s))
        fuzz::require(unescapeBackslashes(escaped) == s, "an exact path reads back as itself", s);

    const std::optional<QString> quoted = vt_stringAsShellQuotedWord(s);
    fuzz::require(quoted.has_value() == (s.isValidUtf16() && !s.contains(QChar(u'\0'))),
                  "only NUL and unpaired surrogates cannot be quoted", s);
    if (quoted) {
        QString back = quoted->mid(1, quoted->size() - 2);
        back.replace(QStringLiteral("'\\''"), QStringLiteral("'"));
        fuzz::require(back == s, "the quoted word reads back as itself", s);
    }
}

void checkHtml(const QString& s) {
    QString printable = vt_asPrintableHTML(s);
    fuzz::require(printable == vt_html(s), "vt_html is vt_asPrintableHTML", s);
    printable.remove(QStringLiteral("<br />"));
    fuzz::require(!containsAny(printable, u"<>\r\n\u2028"), "no markup or line break left raw", s);

    const QString html = vt_htmlString(s);
    fuzz::require(std::all_of(html.cbegin(), html.cend(), [](QChar c) { return c.unicode() < 0x80; }),
                  "vt_htmlString writes ASCII only", s);
    QString withoutBreaks = html;
    withoutBreaks.remove(QStringLiteral("<br/>"));
    fuzz::require(!containsAny(withoutBreaks, u"<>\"\n"), "vt_htmlString leaves no markup raw", s);

    const QString script = vt_javascript(s);
    fuzz::require(!containsAny(script, u"<>\"\n"), "script text has no raw markup or line feed", s);
}

void checkFlattening(const QString& s) {
    const QString predicate = vt_validPredicateFormatString(s);
    fuzz::require(predicate.size() == s.size() && !containsAny(predicate, u"\n\r\f"),
                  "predicate text keeps its length and loses its breaks", s);
    const QString tag = vt_validTagString(s);
    fuzz::require(tag == predicate.left(2048), "a tag is the predicate text cut to 2048 units", s);
    fuzz::require(vt_stringByStrippingAccentMarks(s).size() == s.size(), "accent folding keeps the length",
                  s);
}

void checkRangeReplacement(const QString& s, const uint8_t* data, size_t size) {
    if (size < 3)
        return;
    // Ranges near the text and near the ends of the unsigned range alike.
    const uint64_t location = (data[0] & 0x80) ? UINT64_MAX - data[0] : data[0];
    const uint64_t length = (data[1] & 0x80) ? UINT64_MAX - data[1] : data[1];
    const QString replacement(QChar(static_cast<char16_t>(data[2])));
    const QString result = vtwStringByReplacingCharactersInRange(s, VTRange{location, length}, replacement);
    const auto textSize = static_cast<uint64_t>(s.size());
    const bool inside = location <= textSize && length <= textSize - location;
    const auto expectedSize = inside ? s.size() - static_cast<qsizetype>(length) + 1 : s.size();
    fuzz::require(result.size() == expectedSize && (inside || result == s), "range replacement", s);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString s = fuzz::unitsFromBytes(data, size);
    checkShellEscaping(s);
    checkHtml(s);
    checkFlattening(s);
    checkRangeReplacement(s, data, size);
    return 0;
}
