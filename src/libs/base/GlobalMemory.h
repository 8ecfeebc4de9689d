// SPDX-License-Identifier: AGPL-3.0-or-later
// Movable global memory blocks as the image library hands them out: an owned
// block (zero-filled with GMEM_ZEROINIT) that the receiver frees with GlobalFree.
#pragma once

#include <cstddef>

struct GlobalBlock;
using HGLOBAL = GlobalBlock*;

constexpr unsigned GMEM_MOVEABLE = 0x0002;
constexpr unsigned GMEM_ZEROINIT = 0x0040;
constexpr unsigned GHND = 0x0042;

// Returns nullptr when memory is exhausted (never throws).
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) noexcept;
// Returns nullptr on success, the block itself on failure (as the platform does).
HGLOBAL GlobalFree(HGLOBAL h) noexcept;
void* GlobalLock(HGLOBAL h) noexcept;
bool GlobalUnlock(HGLOBAL h) noexcept;
std::size_t GlobalSize(HGLOBAL h) noexcept;
