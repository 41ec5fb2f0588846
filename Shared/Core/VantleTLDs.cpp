// The table walk. Every lookup visits the entries from the first, in order, and stops at the first one
// that really ends the host. To keep that walk cheap, each entry carries a 16-bit fingerprint of its
// last six bytes, computed at compile time; the walk compares the host's fingerprint with 32 entries at
// a time (eight per vector compare where SSE2 is there) and checks the bytes of an entry only when its
// fingerprint agrees, lowest index first. A fingerprint that agrees by chance is rejected by that exact
// check, so the answer is always that of a plain byte-by-byte first-match walk.

#include "VantleTLDs.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Every entry is at least this long, so these bytes of an entry are always there to fingerprint.
constexpr std::size_t kTailBytes = 6;
constexpr std::size_t kBlock = 32;
constexpr std::size_t kPaddedSize = (TLDs.size() + kBlock - 1) / kBlock * kBlock;

constexpr uint16_t fingerprintOfTail(std::string_view text) {
    uint64_t key = 0;
    for (std::size_t i = text.size() - kTailBytes; i < text.size(); ++i)
        key = (key << 8) | static_cast<uint8_t>(text[i]);
    // Multiplicative mixing spreads the six bytes over the kept top bits.
    return static_cast<uint16_t>((key * 0x9E3779B97F4A7C15ull) >> 48);
}

// Slots past the table's end hold 0; the exact check rejects them whatever the host's fingerprint is.
constexpr std::array<uint16_t, kPaddedSize> makeFingerprints() {
    std::array<uint16_t, kPaddedSize> fingerprints{};
    for (std::size_t i = 0; i < TLDs.size(); ++i)
        fingerprints[i] = fingerprintOfTail(TLDs[i]);
    return fingerprints;
}

alignas(64) constexpr std::array<uint16_t, kPaddedSize> kFingerprints = makeFingerprints();

// Bit j is set when entry j of the block has the wanted fingerprint.
#if defined(__SSE2__)
uint32_t blockCandidates(const uint16_t* block, __m128i wanted) {
    const auto* vectors = reinterpret_cast<const __m128i*>(block);
    const __m128i first = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_load_si128(vectors + 0), wanted),
                                          _mm_cmpeq_epi16(_mm_load_si128(vectors + 1), wanted));
    const __m128i second = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_load_si128(vectors + 2), wanted),
                                           _mm_cmpeq_epi16(_mm_load_si128(vectors + 3), wanted));
    return static_cast<uint32_t>(_mm_movemask_epi8(first)) |
           (static_cast<uint32_t>(_mm_movemask_epi8(second)) << 16);
}

__m128i wantedFingerprint(uint16_t fingerprint) {
    return _mm_set1_epi16(static_cast<short>(fingerprint));
}
#else
uint32_t blockCandidates(const uint16_t* block, uint16_t wanted) {
    uint32_t bits = 0;
    for (std::size_t j = 0; j < kBlock; ++j)
        bits |= static_cast<uint32_t>(block[j] == wanted) << j;
    return bits;
}

uint16_t wantedFingerprint(uint16_t fingerprint) {
    return fingerprint;
}
#endif

bool entryEnds(std::size_t index, std::string_view host) {
    return index < TLDs.size() && TLDs[index].size() < host.size() && host.ends_with(TLDs[index]);
}

// One past the last "." at or before position, or 0 when there is none.
std::size_t afterLastDotAtOrBefore(std::string_view host, std::size_t position) {
    const std::size_t dot = host.rfind('.', position);
    return dot == std::string_view::npos ? 0 : dot + 1;
}

bool isSchoolDistrict(std::string_view host) {
    const std::size_t length = host.size();
    return length >= 11 && host.substr(length - 10, 4) == ".k12" && host.ends_with(".us");
}

std::size_t lastLabelStart(std::string_view host) {
    if (host.size() < 2)
        return 0;
    const std::size_t dot = host.rfind('.', host.size() - 2);
    if (dot == std::string_view::npos || dot == 0)
        return 0;
    return afterLastDotAtOrBefore(host, dot - 1);
}

} // namespace

std::size_t vt_firstTLDEnding(std::string_view host) {
    // An entry must be shorter than the host, so a host of six bytes or fewer ends in none.
    if (host.size() <= kTailBytes)
        return TLDs.size();
    const auto wanted = wantedFingerprint(fingerprintOfTail(host));
    for (std::size_t base = 0; base < kPaddedSize; base += kBlock) {
        for (uint32_t bits = blockCandidates(kFingerprints.data() + base, wanted); bits != 0;
             bits &= bits - 1) {
            const std::size_t index = base + static_cast<std::size_t>(std::countr_zero(bits));
            if (entryEnds(index, host))
                return index;
        }
    }
    return TLDs.size();
}

std::size_t vt_registrableDomainStart(std::string_view host) {
    const std::size_t length = host.size();
    if (isSchoolDistrict(host))
        return afterLastDotAtOrBefore(host, length - 11);
    const std::size_t index = vt_firstTLDEnding(host);
    if (index < TLDs.size())
        return afterLastDotAtOrBefore(host, length - TLDs[index].size() - 1);
    return lastLabelStart(host);
}
