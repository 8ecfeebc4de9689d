// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image file (.thm): a 64-byte header and the R, G, B pixels in a cheap
// lossless row encoding (runs of one colour, rows repeating the row before,
// literal stretches), checked by a 64-bit hash on every read from the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/LargeBuffer.h"

namespace ov::image {

// XXH64 of the bytes with seed 0.
std::uint64_t Hash64(const void* data, std::size_t size);

constexpr std::size_t kThmHeaderSize = 64;

// A page image in memory. Made by Allocate: the buffer holds room for a file
// header and then the pixels (R, G, B, rows top to bottom, packed). Read from a
// file (ReadThmCached): the buffer holds the file, and the rows are where they
// lie in it, in `decoded`, or shared with the row before.
struct ThmImage {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row (width * 3)
    std::size_t capacity = 0;
    LargeArray<std::uint8_t> buffer;
    LargeArray<std::uint8_t> decoded;
    std::vector<const std::uint8_t*> rows;  // each row's pixels

    // The packed pixels of an image made by Allocate (or read by ReadThm).
    const std::uint8_t* Pixels() const { return buffer.get() + kThmHeaderSize; }
    std::uint8_t* Pixels() { return buffer.get() + kThmHeaderSize; }
    const std::uint8_t* Row(int y) const { return rows[static_cast<std::size_t>(y)]; }
    std::size_t PixelBytes() const { return static_cast<std::size_t>(stride) * height; }
    // Sizes the image as packed pixels, reusing the buffer when it fits. false
    // when memory is exhausted (the image is then empty).
    bool Allocate(int width, int height);
};

// The last word before a written page image is put in place: given the whole,
// closed temporary file; a nonzero result is the write's result, and the
// temporary file is removed instead of renamed.
using BeforePlace = std::function<int(const std::string& fsTemp)>;

// Encodes the image into a temporary file beside fsPath and renames it over fsPath
// (after beforePlace, when given, agreed). The written image is then kept in
// memory, keyed by the new file's identity, so that the next ReadThmCached of
// that file uses it without reading the file back. 0 or a negative code (with a
// trace line).
int WriteThm(const std::string& fsPath, ThmImage&& image, const BeforePlace& beforePlace = {});
// WriteThm of an image while it is being drawn: Open and Begin before the
// first row is drawn, Rows(yEnd) each time the rows above yEnd are final,
// Write once the image is whole (the rest is encoded and written, the file put
// in place as WriteThm does). Rows are encoded, hashed and written on the
// caller's thread inside Rows, or, with onHelper, on a helper thread kept
// beside the calling thread, so that the encoding costs the drawing thread
// nothing. Without follow the helper encodes the rows as they come, while
// they are still in the cache; with follow it only hands the rows to follow
// as they come, and encodes them and makes and writes the temporary file once
// every row is drawn. The image's buffer must stay where it is meanwhile; a
// writer dropped before Write stops its thread and leaves no file. One writer
// at a time per thread.
class ThmWriter {
public:
    ThmWriter();
    ~ThmWriter();
    ThmWriter(const ThmWriter&) = delete;
    ThmWriter& operator=(const ThmWriter&) = delete;
    // Names the target; 0.
    int Open(const std::string& fsPath);
    // follow (when given) is handed each new yEnd before those rows are
    // encoded, on the helper (or inside Rows, or FollowAll); on the helper it
    // is first handed 0, before any row is drawn, to make itself ready. 0 or a
    // negative code (with a trace line); with onHelper, a temporary file that
    // cannot be made is reported by Write instead.
    int Begin(const ThmImage& image, bool onHelper, std::function<void(int yEnd)> follow = {});
    void Rows(int yEnd);
    // Once every row is drawn: makes sure follow has been handed them all,
    // handing on here what the helper has not; false when it failed (ran out
    // of memory).
    bool FollowAll();
    // 0 or a negative code (with a trace line).
    int Write(ThmImage&& image, const BeforePlace& beforePlace = {});

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// For tests only: hook (empty: none) is called on every writer's helper thread
// before it encodes the rows up to yEnd.
void SetThmWriterTestHook(std::function<void(int yEnd)> hook);

// The same for pixels of any stride (copied).
int WriteThm(const std::string& fsPath, int width, int height, int stride, const std::uint8_t* rgb);

// Reads, checks and decodes a page-image file (never from memory) into packed pixels. 0 or a negative code
// (with a trace line).
int ReadThm(const std::string& fsPath, ThmImage* out);

// The same for a page image that fills the rest of an open file: size bytes from
// the descriptor's offset (the page store's entries carry one after their own
// header). fsPath only names the file in trace lines.
int ReadThmFromFd(int fd, std::uint64_t size, const std::string& fsPath, ThmImage* out);

// The page image of a file: from memory while the file is the one last written
// or read on this thread (same path, device, inode, size and times), else read
// and checked as ReadThm. At most two images are kept. *out stays valid until
// the next call of this file's functions on this thread.
int ReadThmCached(const std::string& fsPath, const ThmImage** out);

// Frees the least recently used kept image when two are kept: called before a
// new page image is made, so that at most two exist at any time.
void MakeRoomForThm();

// Drops the kept images.
void ReleaseThmCache();

}  // namespace ov::image
