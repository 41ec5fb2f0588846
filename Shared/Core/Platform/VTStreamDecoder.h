#pragma once

// Builds the text of a byte stream while its bytes are still arriving, so that a large output is
// decoded as it comes in instead of after the writer has finished.
//
// The text at the end is exactly what vt_utf8stringWithData gives for all the bytes at once: strict
// UTF-8 with one leading byte-order mark dropped, or, as soon as any byte breaks UTF-8 (including a
// sequence cut off by the end of the stream), Latin-1 of every byte from the first one on. Pieces may
// split a multi-byte character anywhere.
//
// The bytes themselves are not kept: the text is the only copy. Should a late byte break UTF-8, the
// text built so far is turned into the Latin-1 text in place, so memory never holds more than the
// text of the bytes received (two bytes for each byte, at most) plus growth room.
//
// One decoder serves one stream on one thread; it does no input or output of its own.

#include "PagePrefault.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

class VTStreamDecoder {
public:
    VTStreamDecoder();

    // Adds the next bytes of the stream.
    void append(QByteArrayView bytes);

    // How many bytes were appended since the start (or the last finish).
    [[nodiscard]] qsizetype byteCount() const { return byteCount_; }

    // Ends the stream and answers its text; the decoder starts a new, empty stream afterwards.
    [[nodiscard]] QString finish();

private:
    void appendUtf8(QByteArrayView bytes);
    [[nodiscard]] QByteArrayView completePending(QByteArrayView bytes, bool& valid);
    [[nodiscard]] qsizetype decodeAsciiPrefix(QByteArrayView bytes);
    void decodeValid(QByteArrayView bytes);
    void switchToLatin1(QByteArrayView rest);
    void appendLatin1(QByteArrayView bytes);
    void widenTextInPlace();
    [[nodiscard]] QChar* roomFor(qsizetype units);

    QStringDecoder utf8_;
    QStringDecoder latin1_;
    // text_'s size is its room; only the first length_ units are text.
    QString text_;
    qsizetype length_ = 0;
    qsizetype byteCount_ = 0;
    // The bytes the text so far stands for (they include a dropped byte-order mark).
    qsizetype decodedBytes_ = 0;
    bool droppedByteOrderMark_ = false;
    bool latin1Mode_ = false;
    // The start of a character whose remaining bytes have not arrived yet.
    char pending_[4] = {};
    qsizetype pendingLength_ = 0;
    VTPagePrefault prefault_;
};
