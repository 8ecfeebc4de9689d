// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/LargeBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace ov::image {
namespace {

constexpr std::size_t kMappedFrom = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14; older kernels refuse it
#endif

std::size_t MappedLength(std::size_t bytes) {
    static const std::size_t s_page = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
    }();
    return (bytes + s_page - 1) / s_page * s_page;
}

// Freed blocks kept for the next block of the same length (a page image, a
// view's bitmap, a decoded scan of the same size): reused, they cost no page
// faults at all. At most kSpares are kept, none larger than kSpareMost (a page
// image of an A3 page at the page-image resolution is 13 MB; a magnifier's
// image can be 120 MB), until ReleaseSpareLargeBlocks.
constexpr int kSpares = 4;
constexpr std::size_t kSpareMost = std::size_t{32} << 20;
struct Spare {
    void* p = nullptr;
    std::size_t len = 0;
};
std::mutex g_spareLock;
Spare g_spares[kSpares];

void* TakeSpare(std::size_t len) {
    std::lock_guard<std::mutex> lk(g_spareLock);
    for (Spare& spare : g_spares) {
        if (spare.p != nullptr && spare.len == len)
            return std::exchange(spare.p, nullptr);
    }
    return nullptr;
}

bool KeepSpare(void* p, std::size_t len) {
    if (len > kSpareMost)
        return false;
    std::lock_guard<std::mutex> lk(g_spareLock);
    for (Spare& spare : g_spares) {
        if (spare.p == nullptr) {
            spare = Spare{p, len};
            return true;
        }
    }
    return false;
}

}  // namespace

void ReleaseSpareLargeBlocks() noexcept {
    Spare spares[kSpares];
    {
        std::lock_guard<std::mutex> lk(g_spareLock);
        std::swap(spares, g_spares);
    }
    for (const Spare& spare : spares) {
        if (spare.p != nullptr)
            ::munmap(spare.p, spare.len);
    }
}

void* AllocateLarge(std::size_t bytes, bool whole) noexcept {
    if (bytes < kMappedFrom)
        return ::operator new(bytes, std::nothrow);
    const std::size_t len = MappedLength(bytes);
    if (len < bytes || len > SIZE_MAX - kHugePage)
        return nullptr;
    if (void* spare = TakeSpare(len))
        return spare;
    // Mapped 2 MB longer, then cut down to a block that starts on a 2 MB boundary.
    void* raw = ::mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t start = (base + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    if (start > base)
        ::munmap(raw, start - base);
    if (const std::uintptr_t end = base + len + kHugePage; end > start + len)
        ::munmap(reinterpret_cast<void*>(start + len), end - (start + len));
    // Only hints: where huge pages are off, the block is mapped 4 KB at a time,
    // and before Linux 5.14 it is mapped as it is first written.
    ::madvise(reinterpret_cast<void*>(start), len, MADV_HUGEPAGE);
    if (whole)
        ::madvise(reinterpret_cast<void*>(start), len, kPopulateWrite);
    return reinterpret_cast<void*>(start);
}

void LargeFree::operator()(void* p) const noexcept {
    if (p == nullptr)
        return;
    if (bytes < kMappedFrom)
        ::operator delete(p);
    else if (const std::size_t len = MappedLength(bytes); !KeepSpare(p, len))
        ::munmap(p, len);
}

namespace {

// A mixed block that is large starts kMixedHead bytes into its 2 MB-aligned
// mapping, whose first word holds the size asked for. It is told from a heap
// block by that offset, and confirmed in the table of the large ones alive
// (never by reading memory in front of a heap block).
constexpr std::size_t kMixedHead = 64;
constexpr int kMixedSlots = 64;
std::atomic<std::uintptr_t> g_mixed[kMixedSlots];

void* AllocateMixedLarge(std::size_t bytes) {
    if (bytes < kMappedFrom || bytes > SIZE_MAX - kMixedHead)
        return nullptr;
    void* base = AllocateLarge(bytes + kMixedHead);
    if (base == nullptr)
        return nullptr;
    std::memcpy(base, &bytes, sizeof bytes);
    const auto p = reinterpret_cast<std::uintptr_t>(base) + kMixedHead;
    for (std::atomic<std::uintptr_t>& slot : g_mixed) {
        std::uintptr_t none = 0;
        if (slot.load(std::memory_order_relaxed) == 0 &&
            slot.compare_exchange_strong(none, p, std::memory_order_acq_rel))
            return reinterpret_cast<void*>(p);
    }
    LargeFree{bytes + kMixedHead}(base);  // the table is full: from the heap instead
    return nullptr;
}

// The size asked for of a large mixed block (with release, it is taken out
// of the table); 0 for a heap block.
std::size_t MixedLargeSize(void* p, bool release) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    if (p == nullptr || (at & (kHugePage - 1)) != kMixedHead)
        return 0;
    for (std::atomic<std::uintptr_t>& slot : g_mixed) {
        std::uintptr_t expected = at;
        if (slot.load(std::memory_order_acquire) != at)
            continue;
        if (release && !slot.compare_exchange_strong(expected, 0, std::memory_order_acq_rel))
            continue;
        std::size_t bytes = 0;
        std::memcpy(&bytes, reinterpret_cast<void*>(at - kMixedHead), sizeof bytes);
        return bytes;
    }
    return 0;
}

}  // namespace

void* MallocMixed(std::size_t bytes) noexcept {
    if (void* p = AllocateMixedLarge(bytes))
        return p;
    return std::malloc(bytes);
}

void FreeMixed(void* p) noexcept {
    if (const std::size_t bytes = MixedLargeSize(p, true); bytes != 0)
        LargeFree{bytes + kMixedHead}(static_cast<std::uint8_t*>(p) - kMixedHead);
    else
        std::free(p);
}

void* ReallocMixed(void* p, std::size_t bytes) noexcept {
    if (p == nullptr)
        return MallocMixed(bytes);
    const std::size_t large = MixedLargeSize(p, false);
    if (large == 0 && bytes < kMappedFrom)
        return std::realloc(p, bytes);
    void* q = large != 0 ? MallocMixed(bytes) : AllocateMixedLarge(bytes);
    if (q == nullptr)
        return large != 0 ? nullptr : std::realloc(p, bytes);
    std::memcpy(q, p, std::min(bytes, large != 0 ? large : malloc_usable_size(p)));
    FreeMixed(p);
    return q;
}

}  // namespace ov::image
