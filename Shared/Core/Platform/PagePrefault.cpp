#include "PagePrefault.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {

[[nodiscard]] uintptr_t pageSize() {
    static const auto size = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

[[nodiscard]] uintptr_t pageUp(uintptr_t address) {
    return (address + pageSize() - 1) & ~(pageSize() - 1);
}

[[nodiscard]] uintptr_t pageDown(uintptr_t address) {
    return address & ~(pageSize() - 1);
}

} // namespace

void VTPagePrefault::ahead(char* block, qsizetype capacity, qsizetype written) {
    if (capacity < kMinimumBlock || written + kWindow <= present_)
        return;
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t from = pageUp(start + static_cast<uintptr_t>(qMax(present_, written)));
    const uintptr_t to =
        qMin(from + static_cast<uintptr_t>(kWindow), pageDown(start + static_cast<uintptr_t>(capacity)));
    if (to <= from)
        return;
    // A refusal (an older system, or no memory to spare) only means the pages fault in one by one.
    (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    present_ = static_cast<qsizetype>(to - start);
}
