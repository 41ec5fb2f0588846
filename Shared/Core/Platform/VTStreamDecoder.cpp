#include "VTStreamDecoder.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr qsizetype kByteOrderMarkLength = 3;

// How many bytes the character starting with this byte has; 0 for a byte no character starts
// with. Bytes that start only malformed characters (C0, C1, F5 and above) still answer a length;
// validation rejects them.
[[nodiscard]] qsizetype sequenceLength(uchar lead) {
    if (lead < 0x80)
        return 1;
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    if (lead < 0xF8)
        return 4;
    return 0;
}

[[nodiscard]] bool isContinuation(uchar byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of a character at the end of the bytes whose remaining bytes are still to come; 0
// when the bytes end on a character boundary (or are malformed there, which validation finds).
[[nodiscard]] qsizetype incompleteTail(QByteArrayView bytes) {
    const qsizetype longest = qMin<qsizetype>(3, bytes.size());
    for (qsizetype k = 1; k <= longest; ++k) {
        const auto byte = static_cast<uchar>(bytes[bytes.size() - k]);
        if (isContinuation(byte))
            continue;
        return sequenceLength(byte) > k ? k : 0;
    }
    return 0;
}

// Writes the UTF-8 form of a code point; answers its length.
[[nodiscard]] int encodeUtf8(char32_t c, uchar out[4]) {
    if (c < 0x80) {
        out[0] = static_cast<uchar>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<uchar>(0xC0 | (c >> 6));
        out[1] = static_cast<uchar>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<uchar>(0xE0 | (c >> 12));
        out[1] = static_cast<uchar>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<uchar>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<uchar>(0xF0 | (c >> 18));
    out[1] = static_cast<uchar>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<uchar>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<uchar>(0x80 | (c & 0x3F));
    return 4;
}

// Copies the leading ASCII bytes into UTF-16 units, checking and widening in one pass; answers how
// many bytes were ASCII. out must have room for size units. Program output is mostly ASCII, and
// this is the one pass over it that validating and then decoding would otherwise take twice.
[[nodiscard]] qsizetype widenAsciiPrefix(const char* in, qsizetype size, char16_t* out) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= size; i += 16) {
        // The whole block is written even when it ends the ASCII: the units after the answered
        // count lie inside the room and are overwritten by what decodes next.
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(block, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(block, zero));
        if (const int high = _mm_movemask_epi8(block))
            return i + __builtin_ctz(static_cast<unsigned>(high));
    }
#endif
    for (; i < size; ++i) {
        const auto byte = static_cast<uchar>(in[i]);
        if (byte >= 0x80)
            return i;
        out[i] = byte;
    }
    return size;
}

} // namespace

VTStreamDecoder::VTStreamDecoder()
    : utf8_(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom),
      latin1_(QStringDecoder::Latin1, QStringDecoder::Flag::Stateless) {}

void VTStreamDecoder::append(QByteArrayView bytes) {
    byteCount_ += bytes.size();
    if (latin1Mode_)
        appendLatin1(bytes);
    else
        appendUtf8(bytes);
}

QString VTStreamDecoder::finish() {
    if (!latin1Mode_ && pendingLength_ > 0)
        switchToLatin1({});
    text_.resize(length_);
    if (text_.capacity() - length_ > 1024)
        text_.squeeze();
    QString text = std::move(text_);
    *this = VTStreamDecoder();
    return text;
}

// Whole characters are checked and decoded at once; a character cut off at the end of the bytes
// waits in pending_ for the rest.
void VTStreamDecoder::appendUtf8(QByteArrayView bytes) {
    if (pendingLength_ > 0) {
        bool valid = true;
        bytes = completePending(bytes, valid);
        if (!valid) {
            switchToLatin1(bytes);
            return;
        }
        if (pendingLength_ > 0)
            return;
    }
    bytes = bytes.sliced(decodeAsciiPrefix(bytes));
    if (bytes.isEmpty())
        return;
    const qsizetype tail = incompleteTail(bytes);
    const QByteArrayView body = bytes.first(bytes.size() - tail);
    if (!body.isValidUtf8()) {
        switchToLatin1(bytes);
        return;
    }
    decodeValid(body);
    std::memcpy(pending_, body.end(), static_cast<size_t>(tail));
    pendingLength_ = tail;
}

// Moves the bytes the pending character still lacks into pending_ and decodes it once whole.
// Answers the bytes after those; valid turns false when the character proves malformed.
QByteArrayView VTStreamDecoder::completePending(QByteArrayView bytes, bool& valid) {
    const qsizetype length = sequenceLength(static_cast<uchar>(pending_[0]));
    const qsizetype taken = qMin(length - pendingLength_, bytes.size());
    std::memcpy(pending_ + pendingLength_, bytes.data(), static_cast<size_t>(taken));
    pendingLength_ += taken;
    if (pendingLength_ < length)
        return {};
    const QByteArrayView character(pending_, pendingLength_);
    valid = character.isValidUtf8();
    if (valid) {
        decodeValid(character);
        pendingLength_ = 0;
    }
    return bytes.sliced(taken);
}

// Bytes known to be whole, valid UTF-8 characters. The mark is dropped only at the very start of
// the stream, as the whole-data decoding drops it.
void VTStreamDecoder::decodeValid(QByteArrayView bytes) {
    if (decodedBytes_ == 0 && bytes.startsWith(QByteArrayView(kByteOrderMark, kByteOrderMarkLength))) {
        droppedByteOrderMark_ = true;
        decodedBytes_ = kByteOrderMarkLength;
        bytes = bytes.sliced(kByteOrderMarkLength);
    }
    QChar* start = roomFor(bytes.size());
    QChar* end = utf8_.appendToBuffer(start, bytes);
    length_ += end - start;
    decodedBytes_ += bytes.size();
}

// A byte-order mark is not ASCII, so a leading one is still found by decodeValid.
qsizetype VTStreamDecoder::decodeAsciiPrefix(QByteArrayView bytes) {
    QChar* start = roomFor(bytes.size());
    const qsizetype ascii = widenAsciiPrefix(bytes.data(), bytes.size(), reinterpret_cast<char16_t*>(start));
    length_ += ascii;
    decodedBytes_ += ascii;
    return ascii;
}

// A byte broke UTF-8: from now on every byte is one Latin-1 character, those already decoded too.
// rest holds the bytes of the current piece not yet accounted for.
void VTStreamDecoder::switchToLatin1(QByteArrayView rest) {
    (void)roomFor(decodedBytes_ - length_ + pendingLength_ + rest.size());
    widenTextInPlace();
    latin1Mode_ = true;
    appendLatin1(QByteArrayView(pending_, pendingLength_));
    pendingLength_ = 0;
    appendLatin1(rest);
}

// Rewrites the decoded text as the Latin-1 text of the bytes it came from. Each character becomes
// at least as many bytes as it had units, so walking back from the end never overwrites a unit
// not yet read. Needs room for decodedBytes_ units.
void VTStreamDecoder::widenTextInPlace() {
    QChar* data = text_.data();
    qsizetype read = length_;
    qsizetype write = decodedBytes_;
    while (read > 0) {
        char32_t c = data[read - 1].unicode();
        qsizetype units = 1;
        if (read >= 2 && data[read - 1].isLowSurrogate() && data[read - 2].isHighSurrogate()) {
            c = QChar::surrogateToUcs4(data[read - 2], data[read - 1]);
            units = 2;
        }
        uchar bytes[4];
        const int count = encodeUtf8(c, bytes);
        read -= units;
        write -= count;
        for (int i = 0; i < count; ++i)
            data[write + i] = QChar(bytes[i]);
    }
    Q_ASSERT(write == (droppedByteOrderMark_ ? kByteOrderMarkLength : 0));
    if (droppedByteOrderMark_) {
        for (qsizetype i = 0; i < kByteOrderMarkLength; ++i)
            data[i] = QChar(static_cast<uchar>(kByteOrderMark[i]));
    }
    length_ = decodedBytes_;
}

void VTStreamDecoder::appendLatin1(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    QChar* start = roomFor(bytes.size());
    length_ += latin1_.appendToBuffer(start, bytes) - start;
}

// Grows the text's room by doubling; QString grows by realloc, so a large text moves by remapping its
// pages and the room not yet written is never touched. The pages about to be written are made
// present a window at a time, which costs less than faulting them in one by one.
QChar* VTStreamDecoder::roomFor(qsizetype units) {
    const qsizetype needed = length_ + units;
    if (needed > text_.size())
        text_.resize(qMax(needed, text_.size() * 2));
    QChar* at = text_.data() + length_;
    prefault_.ahead(reinterpret_cast<char*>(text_.data()), text_.size() * qsizetype(sizeof(QChar)),
                    length_ * qsizetype(sizeof(QChar)));
    return at;
}
