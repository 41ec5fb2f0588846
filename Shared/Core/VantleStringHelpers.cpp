// The small text helpers: identifiers, emptiness, byte sizes, line counts, bullets and the
// regular-expression test.

#include "VantleString.h"

#include "CLocaleScope.h"
#include "Platform/Localization.h"
#include "VantleFormat.h"

#include <QByteArray>

#include <regex.h>
#include <uuid/uuid.h>

namespace {

constexpr int kBulletCount = 10;
constexpr uint64_t kKilobyte = 1024;
constexpr uint64_t kMegabyte = kKilobyte * 1024;
constexpr uint64_t kGigabyte = kMegabyte * 1024;

bool isLineTerminator(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

// The index just past the line that contains from, its terminator included.
qsizetype endOfLine(const QString& s, qsizetype from) {
    const qsizetype size = s.size();
    for (qsizetype i = from; i < size; ++i) {
        const char16_t c = s.at(i).unicode();
        if (!isLineTerminator(c))
            continue;
        if (c == u'\r' && i + 1 < size && s.at(i + 1) == u'\n')
            return i + 2;
        return i + 1;
    }
    return size;
}

bool regexMatches(const QByteArray& text, const QByteArray& pattern) {
    CLocaleScope scope;
    regex_t compiled;
    if (regcomp(&compiled, pattern.constData(), REG_EXTENDED) != 0)
        return false;
    regmatch_t matches[2];
    const bool found = regexec(&compiled, text.constData(), 2, matches, 0) == 0;
    regfree(&compiled);
    return found;
}

} // namespace

QString vt_uuid() {
    uuid_t bytes;
    uuid_generate(bytes);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes), sizeof(bytes)).toHex().toUpper());
}

bool vt_isEmpty(const std::optional<QString>& s) {
    return !s || s->isEmpty();
}

QString vt_humanReadableSizeStringForBytes(uint64_t bytes) {
    const auto count = static_cast<unsigned long long>(bytes);
    if (bytes <= kKilobyte)
        return vt_format(vt_localized(QT_TRANSLATE_N_NOOP("Localizable", "%llu bytes"), int(count)), count);
    if (bytes <= kMegabyte)
        return vt_format(vt_localized(QT_TRANSLATE_NOOP("Localizable", "%llu KB")), count >> 10);
    if (bytes <= kGigabyte)
        return vt_format(vt_localized(QT_TRANSLATE_NOOP("Localizable", "%.1f MB")),
                         static_cast<double>(bytes) / static_cast<double>(kMegabyte));
    return vt_format(vt_localized(QT_TRANSLATE_NOOP("Localizable", "%.1f GB")),
                     static_cast<double>(bytes) / static_cast<double>(kGigabyte));
}

uint64_t vt_numberOfLines(const QString& s) {
    return vt_numberOfLinesLimitedTo(s, UINT64_MAX);
}

uint64_t vt_numberOfLinesLimitedTo(const QString& s, uint64_t limit) {
    uint64_t count = 0;
    for (qsizetype index = 0; index < s.size() && count < limit; index = endOfLine(s, index))
        ++count;
    return count;
}

QString vt_firstLetter(const QString& s) {
    return s.isEmpty() ? QStringLiteral(" ") : QString(s.at(0));
}

QString vt_asBullets(const QString&) {
    return QString(kBulletCount, QChar(0x25CF));
}

QString concealedString() {
    return QString(kBulletCount, QChar(0x2022));
}

bool vt_matchesRegex(const QString& s, const std::optional<QString>& pattern) {
    if (!pattern || !pattern->isValidUtf16() || !s.isValidUtf16())
        return false;
    return regexMatches(s.toUtf8(), pattern->toUtf8());
}
