// SPDX-License-Identifier: AGPL-3.0-or-later
// Layout of a page-image file, version 2 (all integers little-endian):
//   0  8  magic "OVTHM\r\n\x1a"
//   8  4  version (2)
//  12  4  header size (64)
//  16  4  width in pixels
//  20  4  height in pixels
//  24  4  stride of the decoded rows in bytes (width * 3)
//  28  4  pixel format (1 = 8-bit R, G, B; rows top to bottom)
//  32  8  number of encoded bytes after the header
//  40  8  XXH64 (seed 0) of the encoded bytes
//  48  4  encoding (1 = row records)
//  52  8  zero
//  60  4  low 32 bits of XXH64 (seed 0) of header bytes 0..59
//  64     encoded bytes: records of a tag byte and a 16-bit count (1..65535):
//           'L' n, then n pixels (3n bytes) copied as they are
//           'R' n, then one pixel (3 bytes) repeated n times
//           'C' n: the next n rows are copies of the row before (at a row start, not on row 0)
//         A row is either one 'C' record or 'L'/'R' records that end exactly at the row's end.
//
// What the page-image reader (ThmFile.cpp) and writer (ThmWriter.cpp) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "image/FileUtil.h"
#include "image/ThmFile.h"

namespace ov::image::thm {

constexpr char kMagic[8] = {'O', 'V', 'T', 'H', 'M', '\r', '\n', '\x1a'};
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kFormatRgb24 = 1;
constexpr std::uint32_t kEncodingRows = 1;
constexpr int kMaxSide = 65535;
constexpr std::uint8_t kLiteral = 'L';
constexpr std::uint8_t kRun = 'R';
constexpr std::uint8_t kCopyRows = 'C';
// Shorter runs stay in the literal stretch: a run record costs 6 bytes and a
// break in the literal another 3, and many small records decode slowly.
constexpr int kMinRun = 8;

// XXH64 (seed 0) in pieces.
constexpr std::uint64_t P1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t P2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t P3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t P4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t P5 = 0x27D4EB2F165667C5ULL;

inline std::uint64_t Rotl(std::uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}
inline std::uint64_t Read64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // little-endian host
}
inline std::uint32_t Read32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline std::uint64_t Round(std::uint64_t acc, std::uint64_t input) {
    acc += input * P2;
    acc = Rotl(acc, 31);
    return acc * P1;
}
inline std::uint64_t Merge(std::uint64_t acc, std::uint64_t val) {
    acc ^= Round(0, val);
    return acc * P1 + P4;
}

// The last steps of XXH64: the bytes left after the 32-byte stripes, then the avalanche.
std::uint64_t Finish(std::uint64_t h, const std::uint8_t* p, const std::uint8_t* end);

inline void Put32(std::uint8_t* p, std::uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
    std::memcpy(p, &v, 8);
}

// Fills n pixels at p with the pixel v.
inline void FillPixels(std::uint8_t* p, const std::uint8_t* v, std::size_t n) {
    const std::size_t bytes = n * 3;
    if (v[0] == v[1] && v[1] == v[2]) {
        std::memset(p, v[0], bytes);
        return;
    }
    std::memcpy(p, v, 3);
    for (std::size_t done = 3; done < bytes; done *= 2)
        std::memcpy(p + done, p, std::min(done, bytes - done));
}

// The most bytes the encoding of a w x h image can take: a row is one 'C'
// record, or literals and runs of at least kMinRun pixels (6 bytes for at
// least 24), so never more than 3 bytes over the raw row.
inline std::size_t MaxEncodedBytes(std::size_t w, std::size_t h) {
    return h * (w * 3 + 3);
}

// Hands the pixels of a page image just written to the next read of that file
// on this thread (the file's identity after the rename).
void KeepWritten(const std::string& fsPath, const FileStamp& stamp, ThmImage&& image);

// Frees this thread's memory for writing page images.
void ReleaseWriterScratch();

}  // namespace ov::image::thm
