// The character-reference decoder against its plain step-by-step form, on any text.

#include "FuzzInput.h"

#include "VantleString.h"
#include "reference/LiteralEntityDecoder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how the rest becomes text: UTF-16 units reach every unit value, Latin-1
    // keeps the ASCII syntax of references dense for the fuzzer.
    if (size == 0)
        return 0;
    const QString text = (data[0] & 1) ? fuzz::unitsFromBytes(data + 1, size - 1)
                                       : QString::fromLatin1(reinterpret_cast<const char*>(data + 1),
                                                             static_cast<qsizetype>(size - 1));
    const QString decoded = vt_stringByDecodingHTMLEntities(text);
    fuzz::require(decoded == literal::decodeEntities(text), "single pass equals the literal steps", text);
    fuzz::require(decoded.size() <= text.size(), "decoding never lengthens the text", text);
    return 0;
}
