// Decoding bytes into text and text into bytes, building text from code points, trimming and the
// containment queries: what the process runners rely on.

#include "VantleString.h"

#include "DRLogger.h"

#include <QTextBoundaryFinder>

#include <cstring>

namespace {

// UTF-8 first, then Latin-1. Latin-1 maps every byte to a character, so decoding present bytes
// never fails and the ASCII attempt that would follow can never be reached.
QString decode(QByteArrayView bytes) {
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

bool isGraphemeBoundary(QTextBoundaryFinder& finder, qsizetype position) {
    finder.setPosition(position);
    return finder.isAtBoundary();
}

bool containsCanonically(const QString& haystack, const QString& needle, Qt::CaseSensitivity cs) {
    const QString h = haystack.normalized(QString::NormalizationForm_D);
    const QString n = needle.normalized(QString::NormalizationForm_D);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, h);
    for (qsizetype at = h.indexOf(n, 0, cs); at >= 0; at = h.indexOf(n, at + 1, cs)) {
        if (isGraphemeBoundary(finder, at) && isGraphemeBoundary(finder, at + n.size()))
            return true;
    }
    return false;
}

} // namespace

std::optional<QString> vt_utf8stringWithData(const std::optional<QByteArray>& data) {
    if (!data)
        return std::nullopt;
    return decode(*data);
}

std::optional<QString> vt_utf8stringWithBytes(const char* bytes, int32_t length) {
    if (!bytes || length <= 0)
        return QString();
    return vt_utf8stringWithData(QByteArray(bytes, length));
}

std::optional<QString> vt_utf8stringWithCString(const char* cString) {
    if (!cString)
        return QString();
    return decode(QByteArrayView(cString, static_cast<qsizetype>(std::strlen(cString))));
}

std::optional<QString> vt_stringWithData(const std::optional<QByteArray>& data) {
    return vt_utf8stringWithData(data);
}

std::optional<QByteArray> vt_asData(const QString& s) {
    // toUtf8() would quietly write "?" for an unpaired surrogate; such a text has no UTF-8 form.
    if (!s.isValidUtf16()) {
        DRLogger::logger()->log2(5, "vt_asData failed to obtain UTF8String from NSString");
        return std::nullopt;
    }
    QByteArray bytes = s.toUtf8();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

QString vt_stringWithCharacter(char32_t c) {
    if (c <= 0xFFFF)
        return QString(QChar(static_cast<char16_t>(c)));
    const QChar units[2] = {QChar(static_cast<char16_t>(0xD800 | (((c - 0x10000) >> 10) & 0x3FF))),
                            QChar(static_cast<char16_t>(0xDC00 | (c & 0x3FF)))};
    return QString(units, 2);
}

const QString& vt_horizontalEllipsisString() {
    static const QString ellipsis = vt_stringWithCharacter(0x2026);
    return ellipsis;
}

QString vt_trim(const QString& s) {
    return s.trimmed();
}

bool vt_containsCharacterInSet(const QString& s, const std::function<bool(char32_t)>& set) {
    if (!set)
        return false;
    const qsizetype size = s.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = s.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < size && s.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s.at(i), s.at(i + 1));
            ++i;
        }
        if (set(c))
            return true;
    }
    return false;
}

bool vt_containsString(const QString& s, const std::optional<QString>& other) {
    return vt_containsString(s, other, 0);
}

bool vt_containsString(const QString& s, const std::optional<QString>& other, uint32_t options) {
    if (!other || other->isEmpty())
        return false;
    const Qt::CaseSensitivity cs =
        (options & VTCaseInsensitiveSearch) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (options & VTLiteralSearch)
        return s.contains(*other, cs);
    return containsCanonically(s, *other, cs);
}
