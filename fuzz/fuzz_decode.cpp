// Decoding arbitrary bytes (child-process output) and encoding arbitrary text back to bytes.

#include "FuzzInput.h"

#include "VantleData.h"
#include "VantleString.h"

#include <string>

namespace {

// What decoding must give back when the bytes are re-encoded: the bytes themselves, without one
// leading byte-order mark and cut at the first NUL (which the encoding stops at).
QByteArray expectedRoundTrip(const QByteArray& bytes) {
    QByteArray expected = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    const qsizetype nul = expected.indexOf('\0');
    return nul >= 0 ? expected.left(nul) : expected;
}

void checkDecoding(const QByteArray& bytes) {
    const std::optional<QString> text = vt_utf8stringWithData(bytes);
    fuzz::require(text.has_value(), "present bytes always decode", QString::fromLatin1(bytes));
    fuzz::require(vt_asString(bytes) == text, "vt_asString decodes alike", *text);
    fuzz::require(vt_utf8stringWithBytes(bytes.constData(), static_cast<int32_t>(bytes.size())) == text,
                  "vt_utf8stringWithBytes decodes alike", *text);

    const std::string terminated = bytes.toStdString();
    const std::optional<QString> fromCString = vt_utf8stringWithCString(terminated.c_str());
    const qsizetype nul = bytes.indexOf('\0');
    fuzz::require(fromCString == vt_utf8stringWithData(nul >= 0 ? bytes.left(nul) : bytes),
                  "a C string decodes up to its NUL", *text);

    if (bytes.isValidUtf8()) {
        const std::optional<QByteArray> back = vt_asData(*text);
        fuzz::require(back == expectedRoundTrip(bytes), "UTF-8 survives decoding and encoding", *text);
    } else {
        fuzz::require(*text == QString::fromLatin1(bytes), "other bytes read as Latin-1", *text);
    }
}

void checkEncoding(const QString& text) {
    const std::optional<QByteArray> bytes = vt_asData(text);
    fuzz::require(bytes.has_value() == text.isValidUtf16(), "only unpaired surrogates fail to encode", text);
    if (!bytes)
        return;
    fuzz::require(!bytes->contains('\0') && bytes->isValidUtf8(), "encoding gives UTF-8 without NUL", text);
    const QString upToNul =
        text.left(text.indexOf(QChar(u'\0')) >= 0 ? text.indexOf(QChar(u'\0')) : text.size());
    const QString expected = upToNul.startsWith(QChar(0xFEFF)) ? upToNul.mid(1) : upToNul;
    fuzz::require(vt_utf8stringWithData(*bytes) == expected, "text survives encoding and decoding", text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkDecoding(bytes);
    checkEncoding(fuzz::unitsFromBytes(data, size));
    return 0;
}
