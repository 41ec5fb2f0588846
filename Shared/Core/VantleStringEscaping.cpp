// Making text safe for one destination: shell command lines, HTML, script strings, predicate and
// tag texts; and undoing HTML character references.

#include "VantleString.h"

#include "VantleFormat.h"

#include <QStringView>

#include <array>
#include <limits>

namespace {

// The characters the path escaping puts a backslash in front of, in the order it treats them.
constexpr std::array<char16_t, 13> kShellSpecials = {u'\'', u'"', u' ', u'(', u')', u'$', u'&',
                                                     u';',  u'`', u'{', u'}', u'<', u'>'};

// Characters a shell still interprets after the path escaping: quoting, globbing, pipes, history,
// comments, tildes, word splitting; and U+0000, which no command line can carry.
constexpr QStringView kLeftActive = u"\\*?[]|!#~\t\n";

// The HTML 4.01 names of U+00A0 to U+00FF, in code-point order: entry i stands for U+00A0 + i.
constexpr std::array<const char*, 96> kLatin1EntityNames = {
    "&nbsp;",   "&iexcl;",  "&cent;",   "&pound;",  "&curren;", "&yen;",    "&brvbar;", "&sect;",
    "&uml;",    "&copy;",   "&ordf;",   "&laquo;",  "&not;",    "&shy;",    "&reg;",    "&macr;",
    "&deg;",    "&plusmn;", "&sup2;",   "&sup3;",   "&acute;",  "&micro;",  "&para;",   "&middot;",
    "&cedil;",  "&sup1;",   "&ordm;",   "&raquo;",  "&frac14;", "&frac12;", "&frac34;", "&iquest;",
    "&Agrave;", "&Aacute;", "&Acirc;",  "&Atilde;", "&Auml;",   "&Aring;",  "&AElig;",  "&Ccedil;",
    "&Egrave;", "&Eacute;", "&Ecirc;",  "&Euml;",   "&Igrave;", "&Iacute;", "&Icirc;",  "&Iuml;",
    "&ETH;",    "&Ntilde;", "&Ograve;", "&Oacute;", "&Ocirc;",  "&Otilde;", "&Ouml;",   "&times;",
    "&Oslash;", "&Ugrave;", "&Uacute;", "&Ucirc;",  "&Uuml;",   "&Yacute;", "&THORN;",  "&szlig;",
    "&agrave;", "&aacute;", "&acirc;",  "&atilde;", "&auml;",   "&aring;",  "&aelig;",  "&ccedil;",
    "&egrave;", "&eacute;", "&ecirc;",  "&euml;",   "&igrave;", "&iacute;", "&icirc;",  "&iuml;",
    "&eth;",    "&ntilde;", "&ograve;", "&oacute;", "&ocirc;",  "&otilde;", "&ouml;",   "&divide;",
    "&oslash;", "&ugrave;", "&uacute;", "&ucirc;",  "&uuml;",   "&yacute;", "&thorn;",  "&yuml;",
};
constexpr qsizetype kLongestEntityName = 8; // "&plusmn;", "&frac14;", ...
constexpr char16_t kFirstLatin1Entity = 0x00A0;

constexpr qsizetype kTagLength = 2048;

// Puts a backslash in front of every c that has none in front of it already.
QString escapeUnescaped(const QString& text, char16_t c) {
    QString result;
    result.reserve(text.size() + 8);
    char16_t previous = 0;
    for (const QChar unit : text) {
        if (unit == c && previous != u'\\')
            result += u'\\';
        result += unit;
        previous = unit.unicode();
    }
    return result;
}

// What vt_htmlString writes for a unit below 0x80; empty for a unit it copies unchanged.
QStringView htmlReplacement(char16_t u) {
    switch (u) {
    case u'\n':
        return u"<br/>";
    case u'"':
        return u"&quot;";
    case u'&':
        return u"&amp;";
    case u'<':
        return u"&lt;";
    case u'>':
        return u"&gt;";
    default:
        return {};
    }
}

// The entry index of the Latin-1 name that starts at from (at an "&"), or -1.
int latin1EntityAt(QStringView text, qsizetype from) {
    const qsizetype end = std::min(text.size(), from + kLongestEntityName);
    for (qsizetype i = from + 1; i < end; ++i) {
        if (text[i] != u';')
            continue;
        const QStringView candidate = text.mid(from, i - from + 1);
        for (size_t entry = 0; entry < kLatin1EntityNames.size(); ++entry) {
            if (candidate == QLatin1StringView(kLatin1EntityNames[entry]))
                return static_cast<int>(entry);
        }
        return -1;
    }
    return -1;
}

// Names and references never overlap (each is one "&" to the next ";"), so one left-to-right pass
// gives what replacing each name everywhere in turn would.
QString decodeLatin1Entities(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const int entry = text.at(i) == u'&' ? latin1EntityAt(text, i) : -1;
        if (entry < 0) {
            out += text.at(i++);
            continue;
        }
        out += QChar(static_cast<char16_t>(kFirstLatin1Entity + entry));
        i += static_cast<qsizetype>(qstrlen(kLatin1EntityNames[static_cast<size_t>(entry)]));
    }
    return out;
}

qsizetype skipSpace(QStringView body, qsizetype at) {
    while (at < body.size() && body[at].isSpace())
        ++at;
    return at;
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Hexadecimal digits after optional space and "0x"; 0 without digits, UINT32_MAX on overflow.
int64_t readHexadecimal(QStringView body) {
    qsizetype at = skipSpace(body, 0);
    if (at + 1 < body.size() && body[at] == u'0' && (body[at + 1] == u'x' || body[at + 1] == u'X'))
        at += 2;
    uint64_t value = 0;
    for (int digit; at < body.size() && (digit = hexDigit(body[at])) >= 0; ++at)
        value = std::min<uint64_t>(value * 16 + static_cast<uint64_t>(digit), UINT32_MAX);
    return static_cast<int64_t>(value);
}

// Decimal digits after optional space and sign; 0 without digits, held to the signed 32-bit range.
int64_t readDecimal(QStringView body) {
    qsizetype at = skipSpace(body, 0);
    bool negative = false;
    if (at < body.size() && (body[at] == u'-' || body[at] == u'+'))
        negative = body[at++] == u'-';
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; at < body.size() && body[at] >= u'0' && body[at] <= u'9'; ++at)
        magnitude = std::min<int64_t>(magnitude * 10 + (body[at].unicode() - u'0'), kLimit);
    if (negative)
        return -magnitude;
    return std::min<int64_t>(magnitude, std::numeric_limits<int32_t>::max());
}

// body: what follows "&#", up to and including the ";".
int64_t referenceValue(QStringView body) {
    if (!body.isEmpty() && body[0] == u'x')
        return readHexadecimal(body.mid(1));
    return readDecimal(body);
}

// One pass over the text. A reference inserts its character and the scan goes on at that character,
// so an inserted "&" followed by "#" starts the next reference; it is held back as pendingAmpersand
// until the scan knows. Every reference removes at least one unit, and each unit is looked at a
// bounded number of times, so the pass is linear.
QString decodeNumericReferences(const QString& text) {
    const QStringView w(text);
    QString out;
    out.reserve(w.size());
    qsizetype pos = 0;
    bool pendingAmpersand = false; // an "&" that stands just before w[pos]
    for (;;) {
        if (!(pendingAmpersand && pos < w.size() && w[pos] == u'#')) {
            const qsizetype start = w.indexOf(u"&#", pos);
            if (start < 0)
                break;
            if (pendingAmpersand)
                out += u'&';
            out += w.mid(pos, start - pos);
            pendingAmpersand = true;
            pos = start + 1;
        }
        // w[pos] is the "#" of a reference whose "&" is pending.
        const qsizetype end = w.indexOf(u';', pos + 1);
        if (end < 0)
            break;
        const QString inserted = vt_textForCharacterReference(referenceValue(w.mid(pos + 1, end - pos)));
        pos = end + 1;
        pendingAmpersand = inserted == u"&";
        if (!pendingAmpersand)
            out += inserted;
    }
    if (pendingAmpersand)
        out += u'&';
    out += w.mid(pos);
    return out;
}

} // namespace

QString vt_stringAsLegalFilePath(const QString& s) {
    QString result = s;
    for (const char16_t c : kShellSpecials) {
        if (!result.isEmpty())
            result = escapeUnescaped(result, c);
    }
    result.replace(u':', u'_');
    return result;
}

bool vt_stringAsLegalFilePathIsExact(const QString& s) {
    if (s.isEmpty() || !s.isValidUtf16())
        return false;
    for (const QChar c : s) {
        if (c == u':' || c == u'\0' || kLeftActive.contains(c))
            return false;
    }
    return true;
}

std::optional<QString> vt_stringAsShellQuotedWord(const QString& s) {
    if (!s.isValidUtf16() || s.contains(QChar(u'\0')))
        return std::nullopt;
    QString quoted = s;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString vt_asPrintableHTML(const QString& s) {
    QString w = s;
    w.replace(u'&', QStringLiteral("&amp;"));
    w.replace(u'>', QStringLiteral("&gt;"));
    w.replace(u'<', QStringLiteral("&lt;"));
    const QString lineBreak = QStringLiteral("<br />");
    w.replace(QStringLiteral("\r\n"), lineBreak);
    w.replace(QStringLiteral("\n\r"), lineBreak);
    w.replace(u'\n', lineBreak);
    w.replace(u'\r', lineBreak);
    w.replace(QChar(0x2028), lineBreak);
    return w;
}

QString vt_html(const QString& s) {
    return vt_asPrintableHTML(s);
}

QString vt_javascript(const QString& s) {
    QString w = s;
    w.replace(u'&', QStringLiteral("&amp;"));
    w.replace(u'>', QStringLiteral("&gt;"));
    w.replace(u'<', QStringLiteral("&lt;"));
    w.replace(u'\\', QStringLiteral("\\\\"));
    w.replace(u'\n', QStringLiteral("\\n"));
    w.replace(u'"', QStringLiteral("&quot;"));
    w.replace(u'\'', QStringLiteral("\\'"));
    return w;
}

QString vt_htmlString(const QString& s) {
    const QStringView units(s);
    QString out;
    out.reserve(units.size());
    qsizetype runStart = 0;
    auto flush = [&](qsizetype at) {
        out += units.mid(runStart, at - runStart);
        runStart = at + 1;
    };
    for (qsizetype i = 0; i < units.size(); ++i) {
        const char16_t u = units[i].unicode();
        if (u >= 0x80) {
            flush(i);
            out += QStringLiteral("&#") + QString::number(u) + u';';
        } else if (const QStringView replacement = htmlReplacement(u); !replacement.isEmpty()) {
            flush(i);
            out += replacement;
        }
    }
    out += units.mid(runStart);
    return out;
}

QString vt_validPredicateFormatString(const QString& s) {
    const auto isBreak = [](char32_t c) { return c == u'\n' || c == u'\r' || c == u'\f'; };
    if (!vt_containsCharacterInSet(s, isBreak))
        return s;
    QString w = s;
    w.replace(u'\n', u' ');
    w.replace(u'\r', u' ');
    w.replace(u'\f', u' ');
    return w;
}

QString vt_validTagString(const QString& s) {
    const QString p = vt_validPredicateFormatString(s);
    return p.size() > kTagLength ? p.left(kTagLength) : p;
}

QString vt_textForCharacterReference(int64_t value) {
    constexpr char32_t kReplacement = 0xFFFD;
    const bool names = value > 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    return vt_stringWithCharacter(names ? static_cast<char32_t>(value) : kReplacement);
}

QString vt_stringByDecodingHTMLEntities(const QString& s) {
    if (!s.contains(u'&'))
        return s;
    const QString named = decodeLatin1Entities(s);
    if (named.isEmpty())
        return named;
    return decodeNumericReferences(named);
}

QString vtwStringByReplacingCharactersInRange(const QString& s, VTRange range,
                                              const std::optional<QString>& replacement) {
    const auto size = static_cast<uint64_t>(s.size());
    // Compared without adding, so a huge location or length cannot wrap around into range.
    if (range.location > size || range.length > size - range.location)
        return s;
    const auto location = static_cast<qsizetype>(range.location);
    const auto end = static_cast<qsizetype>(range.location + range.length);
    return vt_format("%@%@%@", QStringView(s).left(location), replacement, QStringView(s).mid(end));
}
