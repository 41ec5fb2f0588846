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

// Decoding bytes: UTF-8 when the bytes are strict UTF-8 (one leading byte-order mark dropped),
// otherwise Latin-1, which maps every byte to a character and so never fails.
// vt_utf8stringWithBytes answers the empty text for a null pointer or a length of 0 or less.
[[nodiscard]] std::optional<QString> vt_utf8stringWithBytes(const char* bytes, int32_t length);
// Absent data answers absent; empty data answers the empty text.
[[nodiscard]] std::optional<QString> vt_utf8stringWithData(const std::optional<QByteArray>& data);
// Decodes up to the terminating zero byte; a null pointer answers the empty text.
[[nodiscard]] std::optional<QString> vt_utf8stringWithCString(const char* cString);
[[nodiscard]] std::optional<QString> vt_stringWithData(const std::optional<QByteArray>& data);

// The receiver's UTF-8 bytes up to (not including) its first U+0000. Absent, with a level-5 log
// line, when the receiver holds an unpaired surrogate and so has no UTF-8 form.
[[nodiscard]] std::optional<QByteArray> vt_asData(const QString& s);

// One unit for c up to 0xFFFF, otherwise the surrogate pair of its low 20 bits above 0x10000.
// Nothing is validated: 0xD800 to 0xDFFF give a lone surrogate, values above 0x10FFFF are masked.
[[nodiscard]] QString vt_stringWithCharacter(char32_t c);

// U+2026, built once (thread-safe) and the same object on every call.
[[nodiscard]] const QString& vt_horizontalEllipsisString();

// A fresh random identifier (libuuid) as 32 upper-case hexadecimal digits, no hyphens.
[[nodiscard]] QString vt_uuid();

// True for an absent or empty text; white space alone is not empty.
[[nodiscard]] bool vt_isEmpty(const std::optional<QString>& s);

// "N bytes" up to 1024, then whole "KB" up to 1024 KB, then "MB" and "GB" with one decimal.
// The formats go through the localization lookup; numbers are written with a dot and printf's
// rounding in every locale.
[[nodiscard]] QString vt_humanReadableSizeStringForBytes(uint64_t bytes);

// Lines end at LF, CR, CR LF (one terminator), U+0085, U+2028, U+2029 or the end of the text; a
// terminator at the very end starts no further line. The empty text has no lines.
[[nodiscard]] uint64_t vt_numberOfLines(const QString& s);
// The same count, stopping once it reaches limit (so at most limit; 0 for a limit of 0).
[[nodiscard]] uint64_t vt_numberOfLinesLimitedTo(const QString& s, uint64_t limit);

// The first UTF-16 unit (a leading surrogate alone for a character beyond U+FFFF); " " when empty.
[[nodiscard]] QString vt_firstLetter(const QString& s);

// Ten U+25CF, whatever the receiver holds.
[[nodiscard]] QString vt_asBullets(const QString& s);

// Ten U+2022: the text shown in place of a secret.
[[nodiscard]] QString concealedString();

// POSIX extended regular expression search (not anchored, case-sensitive) over the UTF-8 bytes,
// always under the "C" locale so every user gets the same answer. False for an absent pattern, a
// pattern that does not compile, or a pattern or receiver with an unpaired surrogate.
// Both texts end at their first U+0000.
[[nodiscard]] bool vt_matchesRegex(const QString& s, const std::optional<QString>& pattern);

// The receiver without leading and trailing white space and line terminators.
[[nodiscard]] QString vt_trim(const QString& s);

// True when a character of the receiver is in set. Surrogate pairs are tested as one code point;
// an unpaired surrogate as its own unit value. An empty set matches nothing.
[[nodiscard]] bool vt_containsCharacterInSet(const QString& s, const std::function<bool(char32_t)>& set);

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

// A path made ready for a shell command line: a backslash goes in front of each of
//   ' " space ( ) $ & ; ` { } < >
// unless a backslash already precedes it, and every ":" becomes "_". Nothing else changes, so
// backslashes, * ? [ ] | ! # ~, tabs and line feeds stay active for the shell.
[[nodiscard]] QString vt_stringAsLegalFilePath(const QString& s);

// True when a shell reads vt_stringAsLegalFilePath(s) back as exactly one word equal to s: s is
// not empty, holds no ":" and none of the characters the escaping leaves active (backslash,
// * ? [ ] | ! # ~, tab, line feed, U+0000), and has no unpaired surrogate. Then the escaped
// "NAME=" + s (NAME a plain variable name) also reads back exactly.
[[nodiscard]] bool vt_stringAsLegalFilePathIsExact(const QString& s);

// s in single quotes (each ' written as '\''), which every POSIX shell reads as exactly s.
// Absent when s holds U+0000 or an unpaired surrogate, which no command line can carry.
[[nodiscard]] std::optional<QString> vt_stringAsShellQuotedWord(const QString& s);

// Plain text as HTML: & > < become references; CR LF, LF CR, LF, CR and U+2028 become "<br />".
// Quotes are kept.
[[nodiscard]] QString vt_asPrintableHTML(const QString& s);
[[nodiscard]] QString vt_html(const QString& s);

// Text for a single-quoted script string inside an HTML page: & > < as references, backslashes
// doubled, LF as backslash-n, " as "&quot;", ' as backslash-apostrophe. CR is kept.
[[nodiscard]] QString vt_javascript(const QString& s);

// Plain text as HTML with every unit from 0x80 up as a decimal reference ("&#233;"; a character
// beyond U+FFFF gives one reference per surrogate), LF as "<br/>", and " & < > as references.
[[nodiscard]] QString vt_htmlString(const QString& s);

// LF, CR and form feed each replaced by one space; the receiver itself when it holds none.
[[nodiscard]] QString vt_validPredicateFormatString(const QString& s);

// vt_validPredicateFormatString cut to its first 2048 units (the cut may split a surrogate pair).
[[nodiscard]] QString vt_validTagString(const QString& s);

// Replaces the 96 Latin-1 named references ("&nbsp;" to "&yuml;", case-sensitive) and numeric
// references "&#N;" / "&#xH;" (a reference runs from "&#" to the next ";"; an inserted "&" may
// start a new one). A numeric reference inserts vt_textForCharacterReference of its value.
// The receiver itself when it holds no "&". Linear in the length of the text.
[[nodiscard]] QString vt_stringByDecodingHTMLEntities(const QString& s);

// What a numeric character reference with this value stands for: the character (two units beyond
// U+FFFF), or U+FFFD for 0, a negative value, a surrogate (0xD800 to 0xDFFF) or a value above
// 0x10FFFF, which name no character.
[[nodiscard]] QString vt_textForCharacterReference(int64_t value);

// The units before range, then replacement ("(null)" when absent), then the units after range.
// The receiver unchanged when the range does not lie within it.
[[nodiscard]] QString vtwStringByReplacingCharactersInRange(const QString& s, VTRange range,
                                                            const std::optional<QString>& replacement);

// ---------------------------------------------------------------------------------------------
// Accent-mark stripping
// ---------------------------------------------------------------------------------------------

// The accented Latin-1 letters (and U+0178) folded to their ASCII base letters, one unit for one:
// À-Ä à-ä È-Ë è-ë Ì-Ï ì-ï Ñ ñ Ò-Ö ò-ö Ù-Ü ù-ü Ÿ ÿ. Everything else, combining marks included, stays.
[[nodiscard]] QString vt_stringByStrippingAccentMarks(const QString& s);
