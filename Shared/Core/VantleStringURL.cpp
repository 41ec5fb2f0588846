// Taking web addresses apart: query and host extraction, the registrable domain, login titles,
// schemes and the two percent escapers.

#include "VantleFormat.h"
#include "VantleString.h"
#include "VantleTLDs.h"

#include <QByteArray>
#include <QUrl>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

const QString kSchemeSeparator = QStringLiteral("://");

// Code units of UTF-16 that the UTF-8 bytes encode: every byte but a continuation byte starts a
// character, and a four-byte character is two units.
qsizetype utf16LengthOfUtf8(std::string_view bytes) {
    qsizetype units = 0;
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

// Position of the first ":", "/" or "?" at or after from, or the end of the text.
qsizetype hostEnd(QStringView text, qsizetype from) {
    for (qsizetype i = from; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit == u':' || unit == u'/' || unit == u'?')
            return i;
    }
    return text.size();
}

// Where the registrable domain of a lower-case host starts, in UTF-16 units. A host of ASCII, the
// usual case, is narrowed on the stack; any other goes through a full UTF-8 conversion.
qsizetype registrableDomainStart(const QString& host) {
    std::array<char, 256> narrow;
    const bool ascii = host.size() <= qsizetype(narrow.size()) &&
                       std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        std::transform(host.begin(), host.end(), narrow.begin(), [](QChar c) { return char(c.unicode()); });
        return qsizetype(vt_registrableDomainStart({narrow.data(), std::size_t(host.size())}));
    }
    const QByteArray bytes = host.toUtf8();
    const std::string_view view(bytes.constData(), std::size_t(bytes.size()));
    return utf16LengthOfUtf8(view.substr(0, vt_registrableDomainStart(view)));
}

bool isSpaceAt(const QString& text, qsizetype i) {
    return i > 0 && text[i - 1].isSpace();
}

// Title-cases the first character of each white-space separated word and lower-cases all others
// (locale-independent), keeping surrogate pairs whole and leaving a lone surrogate as it is.
QString capitalized(const QString& text) {
    QString result = text.toLower();
    for (qsizetype i = 0; i < result.size(); ++i) {
        if (i != 0 && !isSpaceAt(result, i))
            continue;
        const QChar unit = result[i];
        if (unit.isHighSurrogate() && i + 1 < result.size() && result[i + 1].isLowSurrogate()) {
            const char32_t title = QChar::toTitleCase(QChar::surrogateToUcs4(unit, result[i + 1]));
            if (QChar::requiresSurrogates(title)) {
                result[i] = QChar(QChar::highSurrogate(title));
                result[i + 1] = QChar(QChar::lowSurrogate(title));
            }
            ++i;
        } else if (!unit.isSurrogate()) {
            result[i] = unit.toTitleCase();
        }
    }
    return result;
}

bool passesHttpEscaping(uint8_t byte) {
    if (byte < 0x20 || byte > 0x7F)
        return false;
    constexpr std::string_view escaped = " \"#$%&'()+,;<=>?{}";
    return escaped.find(static_cast<char>(byte)) == std::string_view::npos;
}

} // namespace

QString vt_stringByExtractingURI(const QString& s) {
    const qsizetype question = s.indexOf(u'?');
    return question < 0 ? s : s.left(question);
}

QString vt_stringByExtractingFullDomain(const QString& s) {
    const qsizetype separator = s.indexOf(kSchemeSeparator);
    const qsizetype start = separator < 0 ? 0 : separator + kSchemeSeparator.size();
    const QStringView view(s);
    // QString::toLower is the locale-independent mapping; QLocale's would turn "I" into a dotless i.
    return view.sliced(start, hostEnd(view, start) - start).toString().toLower();
}

QString vt_stringByExtractingHostAndPort(const QString& s) {
    const QUrl url(s, QUrl::StrictMode);
    // An invalid QUrl still hands out host and port; the address counts as not parsed instead.
    if (!url.isValid())
        return vt_format("%@:%@", nullptr, nullptr);
    std::optional<QString> host;
    if (!url.host().isEmpty())
        host = url.host();
    std::optional<int> port;
    if (url.port() >= 0)
        port = url.port();
    return vt_format("%@:%@", host, port);
}

bool vt_isIPAddress(const QString& s) {
    // Built by the first call and kept for the process; the static's initialisation is thread-safe.
    static const QString ipaddressCharacterSet = QStringLiteral(".0123456789");
    for (QChar unit : s) {
        if (!ipaddressCharacterSet.contains(unit))
            return false;
    }
    return true;
}

QString vt_stringByExtracting2ndTLD(const QString& s) {
    if (s.isEmpty())
        return s;
    QString domain = vt_stringByExtractingFullDomain(s);
    if (vt_isIPAddress(domain))
        return domain;
    // The suffix rules compare UTF-8 bytes. The domain always starts at 0 or just after a ".", so the
    // answer is cut from the text itself: nothing is lost to a round trip through bytes.
    const qsizetype start = registrableDomainStart(domain);
    if (start > 0)
        domain.remove(0, start);
    return domain;
}

QString vt_urlAsLoginTitle(const QString& s) {
    QString title = vt_stringByExtracting2ndTLD(s);
    const qsizetype dot = title.indexOf(u'.');
    if (dot >= 0)
        title.truncate(dot);
    return capitalized(title);
}

QString vt_stringWithURLProtocol(const QString& s) {
    if (s.contains(kSchemeSeparator))
        return s;
    return (s.contains(QStringLiteral("443")) ? QStringLiteral("https://") : QStringLiteral("http://")) + s;
}

QString vt_stringByExtractingScheme(const QString& s) {
    const qsizetype separator = s.indexOf(kSchemeSeparator);
    if (separator >= 0)
        return s.left(separator);
    return s.contains(QStringLiteral(":443")) ? QStringLiteral("https") : QStringLiteral("http");
}

QString vt_validURLString(const QString& s) {
    if (s.contains(kSchemeSeparator))
        return s;
    return vt_stringByExtractingScheme(s) + kSchemeSeparator + s;
}

std::optional<QString> vt_stringAsValidURLString(const QString& s) {
    // toUtf8 would silently turn a lone surrogate into "?"; such text has no UTF-8 form.
    if (!s.isValidUtf16())
        return std::nullopt;
    return QString::fromLatin1(QUrl::toPercentEncoding(s));
}

std::optional<QString> vt_stringAsHttpURLString(const QString& s) {
    if (!s.isValidUtf16())
        return std::nullopt;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = s.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (passesHttpEscaping(byte)) {
            out.append(c);
        } else {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        }
    }
    return QString::fromLatin1(out);
}
