// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image file: reading, checking and decoding it, and the images kept
// in memory; the format is described in ThmFormat.h, the writer is ThmWriter.cpp.
#include "image/ThmFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"
#include "image/ThmFormat.h"
#include "win32/RegularFile.h"

namespace ov::image {

using namespace thm;

namespace thm {

std::uint64_t Finish(std::uint64_t h, const std::uint8_t* p, const std::uint8_t* end) {
    while (p + 8 <= end) {
        h ^= Round(0, Read64(p));
        h = Rotl(h, 27) * P1 + P4;
        p += 8;
    }
    if (p + 4 <= end) {
        h ^= static_cast<std::uint64_t>(Read32(p)) * P1;
        h = Rotl(h, 23) * P2 + P3;
        p += 4;
    }
    while (p < end) {
        h ^= *p * P5;
        h = Rotl(h, 11) * P1;
        ++p;
    }
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    h ^= h >> 32;
    return h;
}

}  // namespace thm

namespace {

// Largest page-image file read (a page image of a large screen is tens of MB).
constexpr std::size_t kMaxThmFileBytes = std::size_t{1} << 30;

// Sets the row table of img from len encoded bytes at in (which must outlive
// it): a row that is one literal is used where it lies, a copied row shares the
// row before, other rows are decoded into img->decoded. Every count and length
// is checked against the row and the input before anything is copied.
// kOk, kErrThmFormat (*badRow: the row) or kErrMemory.
int DecodeRows(const std::uint8_t* in, std::size_t len, int w, int h, ThmImage* img, int* badRow) {
    const std::uint8_t* const end = in + len;
    const std::size_t stride = static_cast<std::size_t>(w) * 3;
    img->rows.assign(static_cast<std::size_t>(h), nullptr);
    std::size_t used = 0;  // bytes of img->decoded in use
    for (int y = 0; y < h;) {
        *badRow = y;
        if (end - in < 3)
            return kErrThmFormat;
        std::uint8_t tag = in[0];
        int n = in[1] | (in[2] << 8);
        in += 3;
        if (tag == kCopyRows) {
            if (y == 0 || n == 0 || n > h - y)
                return kErrThmFormat;
            for (int k = 0; k < n; ++k) img->rows[static_cast<std::size_t>(y + k)] = img->rows[y - 1];
            y += n;
            continue;
        }
        if (tag == kLiteral && n == w) {
            if (static_cast<std::size_t>(end - in) < stride)
                return kErrThmFormat;
            img->rows[static_cast<std::size_t>(y++)] = in;
            in += stride;
            continue;
        }
        if (!img->decoded) {
            // Room for every row; only the rows used are ever touched.
            img->decoded = MakeLargeArray<std::uint8_t>(stride * static_cast<std::size_t>(h));
            if (!img->decoded)
                return kErrMemory;
        }
        std::uint8_t* p = img->decoded.get() + used;
        img->rows[static_cast<std::size_t>(y)] = p;
        used += stride;
        for (int x = 0;;) {
            if (n == 0 || n > w - x)
                return kErrThmFormat;  // an empty record or one past the row's end
            const std::size_t bytes = static_cast<std::size_t>(n) * 3;
            if (tag == kLiteral) {
                if (static_cast<std::size_t>(end - in) < bytes)
                    return kErrThmFormat;
                std::memcpy(p, in, bytes);
                in += bytes;
            } else if (tag == kRun) {
                if (end - in < 3)
                    return kErrThmFormat;
                FillPixels(p, in, static_cast<std::size_t>(n));
                in += 3;
            } else {
                return kErrThmFormat;
            }
            p += bytes;
            x += n;
            if (x == w)
                break;
            if (end - in < 3)
                return kErrThmFormat;
            tag = in[0];
            n = in[1] | (in[2] << 8);
            in += 3;
        }
        ++y;
    }
    *badRow = h;
    return in == end ? kOk : kErrThmFormat;
}

}  // namespace

std::uint64_t Hash64(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::uint8_t* const end = p + size;
    std::uint64_t h;
    if (size >= 32) {
        std::uint64_t v1 = P1 + P2, v2 = P2, v3 = 0, v4 = 0 - P1;
        const std::uint8_t* const limit = end - 32;
        do {
            v1 = Round(v1, Read64(p));
            v2 = Round(v2, Read64(p + 8));
            v3 = Round(v3, Read64(p + 16));
            v4 = Round(v4, Read64(p + 24));
            p += 32;
        } while (p <= limit);
        h = Rotl(v1, 1) + Rotl(v2, 7) + Rotl(v3, 12) + Rotl(v4, 18);
        h = Merge(h, v1);
        h = Merge(h, v2);
        h = Merge(h, v3);
        h = Merge(h, v4);
    } else {
        h = P5;
    }
    return Finish(h + size, p, end);
}

bool ThmImage::Allocate(int w, int h) {
    const std::size_t need = kThmHeaderSize + static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h);
    if (!buffer || capacity < need || capacity / 2 > need) {
        *this = ThmImage{};
        buffer = MakeLargeArray<std::uint8_t>(need);
        if (!buffer)
            return false;
        capacity = need;
    }
    width = w;
    height = h;
    stride = w * 3;
    decoded.reset();
    rows.resize(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[static_cast<std::size_t>(y)] = Pixels() + static_cast<std::size_t>(stride) * y;
    return true;
}

namespace {

// The images kept on this thread: the last ones written or read.
struct Kept {
    std::string path;
    FileStamp stamp;
    ThmImage image;
    std::uint64_t used = 0;
    bool valid = false;
};
struct KeptImages {
    Kept slot[2];
    std::uint64_t tick = 0;
};
thread_local KeptImages t_kept;

Kept& Keep(const std::string& fsPath, const FileStamp& stamp, ThmImage&& image) {
    Kept* dst = nullptr;
    for (Kept& k : t_kept.slot) {
        if (k.valid && k.path == fsPath)
            dst = &k;  // an older image of the same file
    }
    for (Kept& k : t_kept.slot) {
        if (dst == nullptr && !k.valid)
            dst = &k;
    }
    if (dst == nullptr)
        dst = t_kept.slot[0].used < t_kept.slot[1].used ? &t_kept.slot[0] : &t_kept.slot[1];
    dst->path = fsPath;
    dst->stamp = stamp;
    dst->image = std::move(image);
    dst->used = ++t_kept.tick;
    dst->valid = true;
    return *dst;
}

}  // namespace

int ReadThmFromFd(int fd, std::uint64_t size, const std::string& fsPath, ThmImage* out) {
    std::uint8_t h[kThmHeaderSize];
    if (size < kThmHeaderSize || !ReadFull(fd, h, sizeof h)) {
        OV_TRACE("Page image file truncated! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    if (std::memcmp(h, kMagic, 8) != 0 || Read32(h + 12) != kThmHeaderSize ||
        Read32(h + 28) != kFormatRgb24 || Read32(h + 60) != static_cast<std::uint32_t>(Hash64(h, 60))) {
        OV_TRACE("Page image file is not ours! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    if (Read32(h + 8) != kVersion || Read32(h + 48) != kEncodingRows) {
        // Page images are a cache of the running viewer: an older file is made again.
        OV_TRACE("Page image file is not ours! [Path] %s [Version] %u\n", fsPath.c_str(), Read32(h + 8));
        return kErrThmFormat;
    }
    const std::uint32_t w = Read32(h + 16), hgt = Read32(h + 20), stride = Read32(h + 24);
    const std::uint64_t bytes = Read64(h + 32);
    if (w < 1 || hgt < 1 || w > kMaxSide || hgt > kMaxSide || stride != w * 3 || bytes < 3 ||
        bytes > MaxEncodedBytes(w, hgt) || size != kThmHeaderSize + bytes) {
        OV_TRACE("Page image file truncated or damaged! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    // One read of the whole file; the rows are then used where they lie.
    *out = ThmImage{};
    out->buffer = MakeLargeArray<std::uint8_t>(kThmHeaderSize + bytes);
    if (!out->buffer) {
        OV_TRACE("Page image memory Error! [Bytes] %llu\n", static_cast<unsigned long long>(bytes));
        return kErrMemory;
    }
    out->capacity = kThmHeaderSize + bytes;
    std::uint8_t* enc = out->buffer.get() + kThmHeaderSize;
    std::memcpy(out->buffer.get(), h, kThmHeaderSize);
    if (!ReadFull(fd, enc, bytes)) {
        OV_TRACE("Page image file truncated! [Path] %s\n", fsPath.c_str());
        *out = ThmImage{};
        return kErrThmFormat;
    }
    if (Hash64(enc, bytes) != Read64(h + 40)) {
        OV_TRACE("Page image file checksum Error! [Path] %s\n", fsPath.c_str());
        *out = ThmImage{};
        return kErrThmFormat;
    }
    int badRow = 0;
    const int r = DecodeRows(enc, bytes, static_cast<int>(w), static_cast<int>(hgt), out, &badRow);
    if (r != kOk) {
        if (r == kErrMemory)
            OV_TRACE("Page image memory Error! [Width] %u [Height] %u\n", w, hgt);
        else
            OV_TRACE("Page image file damaged! [Path] %s [Row] %d\n", fsPath.c_str(), badRow);
        *out = ThmImage{};
        return r;
    }
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(hgt);
    out->stride = static_cast<int>(stride);
    return kOk;
}

namespace {

int ReadThmStamped(const std::string& fsPath, ThmImage* out, FileStamp* stamp) {
    // Only a regular file of bounded size is read; a FIFO or device in its place
    // is refused at once.
    struct stat st;
    int fd = ov::OpenRegularFile(fsPath, kMaxThmFileBytes, &st);
    if (fd < 0) {
        if (errno != ENOENT)
            return kErrThmFormat;
        OV_TRACE("Page image file missing! [Path] %s [errno] %d\n", fsPath.c_str(), errno);
        return kErrNoFile;
    }
    const int r = ReadThmFromFd(fd, static_cast<std::uint64_t>(st.st_size), fsPath, out);
    ::close(fd);
    if (r == kOk)
        *stamp = FileStamp::Of(st);
    return r;
}

}  // namespace

void thm::KeepWritten(const std::string& fsPath, const FileStamp& stamp, ThmImage&& image) {
    Keep(fsPath, stamp, std::move(image));
}

int ReadThm(const std::string& fsPath, ThmImage* out) {
    FileStamp stamp;
    ThmImage rows;
    int r = ReadThmStamped(fsPath, &rows, &stamp);
    if (r != kOk)
        return r;
    if (!out->Allocate(rows.width, rows.height)) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", rows.width, rows.height);
        return kErrMemory;
    }
    for (int y = 0; y < rows.height; ++y)
        std::memcpy(out->Pixels() + static_cast<std::size_t>(out->stride) * y, rows.Row(y), rows.stride);
    return kOk;
}

int ReadThmCached(const std::string& fsPath, const ThmImage** out) {
    FileStamp now;
    const bool known = StampOfPath(fsPath, &now);
    for (Kept& k : t_kept.slot) {
        if (!k.valid || k.path != fsPath)
            continue;
        if (known && k.stamp == now) {
            k.used = ++t_kept.tick;
            *out = &k.image;
            return kOk;
        }
        k = Kept{};  // the file has changed
    }
    MakeRoomForThm();
    ThmImage img;
    FileStamp stamp;
    int r = ReadThmStamped(fsPath, &img, &stamp);
    if (r != kOk)
        return r;
    *out = &Keep(fsPath, stamp, std::move(img)).image;
    return kOk;
}

void MakeRoomForThm() {
    if (t_kept.slot[0].valid && t_kept.slot[1].valid)
        t_kept.slot[t_kept.slot[0].used < t_kept.slot[1].used ? 0 : 1] = Kept{};
}

void ReleaseThmCache() {
    t_kept = KeptImages{};
    ReleaseWriterScratch();
}

}  // namespace ov::image
