#pragma once

// The suffix table's first-match walk written plainly: one exact comparison per entry, in table order.
// The tests hold the library's fingerprinted walk against it; the benchmark shows what the
// fingerprints save.

#include "VantleTLDs.h"

#include <string_view>

namespace literal {

inline std::size_t firstTLDEnding(std::string_view host) {
    for (std::size_t i = 0; i < TLDs.size(); ++i) {
        if (TLDs[i].size() < host.size() && host.ends_with(TLDs[i]))
            return i;
    }
    return TLDs.size();
}

} // namespace literal
