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

// Web addresses taken apart and put together by text rules alone: nothing here resolves a name or
// touches the network. Searches for a text are exact and case-sensitive, from the start.

// The receiver up to its first "?" (the receiver itself when it has none); a "#" before it stays.
[[nodiscard]] QString vt_stringByExtractingURI(const QString& s);

// The host part, lower-cased without regard to the user's locale: from after the first "://" (or from
// the start) up to the first ":", "/" or "?". User information before an "@", a "#" fragment and a
// final "." stay in it.
[[nodiscard]] QString vt_stringByExtractingFullDomain(const QString& s);

// "host:port" of the receiver parsed as a strict URL. A missing host or port reads "(null)", and both
// do when the receiver is not a valid URL; a scheme's default port is not filled in.
[[nodiscard]] QString vt_stringByExtractingHostAndPort(const QString& s);

// True when every unit is "." or an ASCII digit; so also for the empty text, "1.2" and "...".
[[nodiscard]] bool vt_isIPAddress(const QString& s);

// The registrable domain of the receiver's host ("y.co.uk" for "https://x.y.co.uk/"): the label in
// front of the public suffix plus the suffix. A host made of digits and dots comes back as it is.
[[nodiscard]] QString vt_stringByExtracting2ndTLD(const QString& s);

// The first label of the registrable domain, each word capitalised: "Y" for "https://x.y.co.uk/".
[[nodiscard]] QString vt_urlAsLoginTitle(const QString& s);

// The receiver when it contains "://"; otherwise "https://" in front when it contains "443" anywhere,
// else "http://".
[[nodiscard]] QString vt_stringWithURLProtocol(const QString& s);

// The text before the first "://", case kept (it may be empty); without "://", "https" when the
// receiver contains the port ":443", else "http".
[[nodiscard]] QString vt_stringByExtractingScheme(const QString& s);

// The receiver when it contains "://"; otherwise vt_stringByExtractingScheme + "://" + the receiver.
[[nodiscard]] QString vt_validURLString(const QString& s);

// Every character but the ASCII letters, digits and "-", "_", ".", "~" as "%XX" per UTF-8 byte (upper-
// case hex; an existing "%" is escaped again). Absent when the receiver holds a lone surrogate.
[[nodiscard]] std::optional<QString> vt_stringAsValidURLString(const QString& s);

// Each UTF-8 byte outside 0x20-0x7F, and each of space " # $ % & ' ( ) + , ; < = > ? { }, as "%XX"
// (upper-case hex); every other byte as it is. Absent when the receiver holds a lone surrogate.
[[nodiscard]] std::optional<QString> vt_stringAsHttpURLString(const QString& s);

// ---------------------------------------------------------------------------------------------
// HTML, script and path escaping
// ---------------------------------------------------------------------------------------------




// ---------------------------------------------------------------------------------------------
// Accent-mark stripping
// ---------------------------------------------------------------------------------------------

