// SPDX-License-Identifier: AGPL-3.0-or-later
#include "base/GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

// A block is a size header followed by the caller's bytes.
struct GlobalBlock {
    std::size_t size;
    int locks;
};

namespace {
constexpr std::size_t kHeader = (sizeof(GlobalBlock) + 15) / 16 * 16;
}

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) noexcept {
    if (bytes > static_cast<std::size_t>(-1) - kHeader)
        return nullptr;
    // Zero-filling a large block costs a pass over it; a caller that writes
    // every byte itself leaves GMEM_ZEROINIT out.
    void* p = (flags & GMEM_ZEROINIT) != 0 ? std::calloc(1, kHeader + bytes) : std::malloc(kHeader + bytes);
    if (p == nullptr)
        return nullptr;
    auto* h = new (p) GlobalBlock{bytes, 0};
    return h;
}

HGLOBAL GlobalFree(HGLOBAL h) noexcept {
    if (h != nullptr) {
        h->~GlobalBlock();
        std::free(h);
    }
    return nullptr;
}

void* GlobalLock(HGLOBAL h) noexcept {
    if (h == nullptr)
        return nullptr;
    ++h->locks;
    return reinterpret_cast<unsigned char*>(h) + kHeader;
}

bool GlobalUnlock(HGLOBAL h) noexcept {
    if (h == nullptr || h->locks == 0)
        return false;
    return --h->locks > 0;
}

std::size_t GlobalSize(HGLOBAL h) noexcept {
    return h == nullptr ? 0 : h->size;
}
