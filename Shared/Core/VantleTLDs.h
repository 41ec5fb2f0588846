#pragma once

// The multi-label public-suffix table behind vt_stringByExtracting2ndTLD, and the byte-level reduction
// of a host to its registrable domain.
//
// The table is constant data built into the program: lower-case ASCII entries that each begin with ".",
// in lookup order. It is never sorted or indexed; every lookup walks it from the first entry and the
// first entry that ends the host wins. Everything here is pure, allocation-free and safe on any thread.

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr std::array<std::string_view, 877> TLDs = {
#include "VantleTLDs.inc"
};

namespace vt_tlds_detail {
consteval bool wellFormed() {
    for (std::string_view entry : TLDs) {
        // Six bytes is the shortest suffix (".co.uk"); the walk's prefilter relies on it.
        if (entry.size() < 6 || entry.front() != '.')
            return false;
        for (char c : entry) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
            if (!allowed)
                return false;
        }
    }
    return true;
}
} // namespace vt_tlds_detail
static_assert(vt_tlds_detail::wellFormed(), "every suffix is a lower-case, dot-led entry of 6 bytes or more");

// Index in TLDs of the first entry that the host ends with and that is shorter than the host;
// TLDs.size() when no entry does. Bytes are compared exactly, so the host should be lower-case.
[[nodiscard]] std::size_t vt_firstTLDEnding(std::string_view host);

// Byte offset at which the registrable domain of a lower-case UTF-8 host begins (0: the whole host).
// The domain is the label in front of the public suffix plus that suffix, where the suffix is a
// school-district suffix ("k12", one label, "us"), else the first matching TLDs entry, else the last
// label (a "." in the very last byte does not end a label). The offset is 0 or one past a ".".
[[nodiscard]] std::size_t vt_registrableDomainStart(std::string_view host);
