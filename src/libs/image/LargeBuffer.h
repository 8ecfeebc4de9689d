// SPDX-License-Identifier: AGPL-3.0-or-later
// Memory for pixel buffers the size of a page. A block of 1 MB or more is
// mapped on its own, starts on a 2 MB boundary and is marked for transparent
// huge pages: a fresh page image then costs a handful of page faults instead of
// one every 4 KB. Freed, a block of up to 32 MB is kept for the next block of
// the same length (two at most: the next page image or bitmap of the same size
// costs no faults at all) until ReleaseSpareLargeBlocks gives them back to the
// system. Smaller blocks come from the heap. The contents of a new block are
// undefined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ov::image {

struct LargeFree {
    std::size_t bytes = 0;
    void operator()(void* p) const noexcept;
};

template <class T>
using LargeArray = std::unique_ptr<T[], LargeFree>;

// nullptr when there is no memory for it. With whole (a block that is written
// whole before it is read: pixels), a new mapping has its pages put in place at
// once, in the kernel, instead of one fault at a time.
void* AllocateLarge(std::size_t bytes, bool whole = false) noexcept;

// Gives the blocks kept for reuse back to the system (when no page is being
// made for a while).
void ReleaseSpareLargeBlocks() noexcept;

template <class T>
LargeArray<T> MakeLargeArray(std::size_t count, bool whole = true) noexcept {
    if (count > SIZE_MAX / sizeof(T))
        return LargeArray<T>(nullptr, LargeFree{});
    const std::size_t bytes = count * sizeof(T);
    return LargeArray<T>(static_cast<T*>(AllocateLarge(bytes, whole)), LargeFree{bytes});
}

// The same for code that frees by pointer alone (MuPDF's allocator): a block
// of 1 MB or more is a large block (while fewer than 64 such blocks are alive),
// anything else comes from malloc. Contents are kept by the realloc up to the
// smaller size, as realloc does; nullptr when there is no memory.
void* MallocMixed(std::size_t bytes) noexcept;
void* ReallocMixed(void* p, std::size_t bytes) noexcept;
void FreeMixed(void* p) noexcept;

}  // namespace ov::image
