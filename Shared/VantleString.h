#pragma once

// The product's text operations on QString (UTF-16 units: every length and index counts units).
//
// Absent text is std::optional without a value; an operation handed an absent argument says what it
// answers. Every answer is a new value owned by the caller. All operations are safe on any thread.
// Conversion failures are logged at level 5 through the shared logger and answered as absent.

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// ---------------------------------------------------------------------------------------------
// Text conversion and small helpers
// ---------------------------------------------------------------------------------------------

struct VTRange {
    uint64_t location;
    uint64_t length;
};

// Decoding bytes: UTF-8 when the bytes are strict UTF-8, otherwise Latin-1 (which never fails).
[[nodiscard]] std::optional<QString> vt_utf8stringWithBytes(const char* bytes, int32_t length);
[[nodiscard]] std::optional<QString> vt_utf8stringWithData(const std::optional<QByteArray>& data);
[[nodiscard]] std::optional<QString> vt_utf8stringWithCString(const char* cString);
[[nodiscard]] std::optional<QString> vt_stringWithData(const std::optional<QByteArray>& data);

// The receiver without leading and trailing white space and line terminators.
[[nodiscard]] QString vt_trim(const QString& s);

// Options of vt_containsString; the default search is case-sensitive and treats canonically
// equivalent sequences ("é" and "e" + U+0301) as equal.
enum VTStringCompareOptions : uint32_t {
    VTCaseInsensitiveSearch = 1,
    VTLiteralSearch = 2,
};

// False for an absent or empty other text.
[[nodiscard]] bool vt_containsString(const QString& s, const std::optional<QString>& other);
[[nodiscard]] bool vt_containsString(const QString& s, const std::optional<QString>& other, uint32_t options);

// ---------------------------------------------------------------------------------------------
// URL and domain parsing
// ---------------------------------------------------------------------------------------------




// ---------------------------------------------------------------------------------------------
// HTML, script and path escaping
// ---------------------------------------------------------------------------------------------




// ---------------------------------------------------------------------------------------------
// Accent-mark stripping
// ---------------------------------------------------------------------------------------------

