// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image file (.thm): a 64-byte header and raw R, G, B pixels, checked by a
// 64-bit hash on every read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ov::image {

// XXH64 of the bytes with seed 0.
std::uint64_t Hash64(const void* data, std::size_t size);

struct ThmImage {
    int width = 0;
    int height = 0;
    int stride = 0;                          // bytes per row (width * 3)
    std::unique_ptr<std::uint8_t[]> pixels;  // R, G, B, rows top to bottom
};

constexpr std::size_t kThmHeaderSize = 64;

// Writes the pixels (R, G, B, rows top to bottom) to a temporary file beside fsPath
// and renames it over fsPath. 0 or a negative code (with a trace line).
int WriteThm(const std::string& fsPath, int width, int height, int stride, const std::uint8_t* rgb);

// Reads and checks a page-image file. 0 or a negative code (with a trace line).
int ReadThm(const std::string& fsPath, ThmImage* out);

// As ReadThm, but the last image read on this thread is kept and handed out
// again while the file is unchanged (same device, inode, size and times), so a
// page drawn again and again is read and checked once. *out stays valid until
// the next call on this thread.
int ReadThmCached(const std::string& fsPath, const ThmImage** out);
// Drops the kept image.
void ReleaseThmCache();

}  // namespace ov::image
