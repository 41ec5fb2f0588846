#pragma once

// Supplies the memory pages just ahead of a writer that fills a large block from front to back,
// a window at a time, instead of one page fault per page as the writer reaches each page. The pages
// are only made present; their contents stay as they are.
//
// Best effort: where the system cannot do it, the writer simply faults the pages in as before.
// Blocks under kMinimumBlock are left alone (their few pages are cheap, and they may share pages
// with other allocations). One instance follows one block on one thread; after the block has moved
// (realloc) the offsets still hold, since a moved block keeps its pages.

#include <QtGlobal>

class VTPagePrefault {
public:
    static constexpr qsizetype kMinimumBlock = qsizetype(1) << 20;
    static constexpr qsizetype kWindow = qsizetype(1) << 20;

    // block: the block's start; capacity: its size in bytes; written: bytes filled so far. Makes the
    // next window present once the writer is within a window of the pages made present so far.
    void ahead(char* block, qsizetype capacity, qsizetype written);

    // Starts over for a new block.
    void reset() { present_ = 0; }

private:
    qsizetype present_ = 0;
};
