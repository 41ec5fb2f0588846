#pragma once

// What every fuzz target shares: turning the fuzzer's bytes into text, quieting the logs that
// rejected input legitimately writes, and failing loudly when a property does not hold.

#include "DRLogger.h"
#include "Platform/SystemLog.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// The bytes as UTF-16 units, two at a time (little-endian), so lone and reversed surrogates,
// U+0000 and every other unit reach the operation; an odd last byte is ignored.
inline QString unitsFromBytes(const uint8_t* data, size_t size) {
    QString s;
    s.reserve(static_cast<qsizetype>(size / 2));
    for (size_t i = 0; i + 1 < size; i += 2)
        s += QChar(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return s;
}

// Conversion failures are logged by design; the fuzzer's output should show only its own findings.
inline void quietLogs() {
    vt_setSystemLogSink([](const QString&) {});
    DRLogger::setFileName(QStringLiteral("/dev/null"));
}

[[noreturn]] inline void fail(const char* what, const QString& input) {
    std::fprintf(stderr, "property failed: %s\ninput units:", what);
    for (const QChar c : input)
        std::fprintf(stderr, " %04X", c.unicode());
    std::fprintf(stderr, "\n");
    std::abort();
}

inline void require(bool holds, const char* what, const QString& input) {
    if (!holds)
        fail(what, input);
}

} // namespace fuzz
