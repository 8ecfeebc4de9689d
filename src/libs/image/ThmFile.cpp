// SPDX-License-Identifier: AGPL-3.0-or-later
// Layout of a page-image file (all integers little-endian):
//   0  8  magic "OVTHM\r\n\x1a"
//   8  4  version (1)
//  12  4  header size (64)
//  16  4  width in pixels
//  20  4  height in pixels
//  24  4  stride in bytes (width * 3)
//  28  4  pixel format (1 = 8-bit R, G, B; rows top to bottom)
//  32  8  number of pixel bytes (stride * height)
//  40  8  XXH64 (seed 0) of the pixel bytes
//  48 12  zero
//  60  4  low 32 bits of XXH64 (seed 0) of header bytes 0..59
//  64     pixel bytes
#include "image/ThmFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"

namespace ov::image {
namespace {

constexpr char kMagic[8] = {'O', 'V', 'T', 'H', 'M', '\r', '\n', '\x1a'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kFormatRgb24 = 1;
constexpr int kMaxSide = 65535;

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

void Put32(std::uint8_t* p, std::uint32_t v) {
    std::memcpy(p, &v, 4);
}
void Put64(std::uint8_t* p, std::uint64_t v) {
    std::memcpy(p, &v, 8);
}

bool ReadAll(int fd, std::uint8_t* buf, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::read(fd, buf, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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
    h += size;
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

bool ThmImage::Allocate(int w, int h) {
    const std::size_t need = kThmHeaderSize + static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h);
    if (!buffer || capacity < need || capacity / 2 > need) {
        *this = ThmImage{};
        buffer.reset(new (std::nothrow) std::uint8_t[need]);
        if (!buffer)
            return false;
        capacity = need;
    }
    width = w;
    height = h;
    stride = w * 3;
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

int ReadThmStamped(const std::string& fsPath, ThmImage* out, FileStamp* stamp) {
    int fd = ::open(fsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        OV_TRACE("Page image file missing! [Path] %s [errno] %d\n", fsPath.c_str(), errno);
        return kErrNoFile;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    std::uint8_t h[kThmHeaderSize];
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(kThmHeaderSize) ||
        !ReadAll(fd, h, sizeof h)) {
        OV_TRACE("Page image file truncated! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    if (std::memcmp(h, kMagic, 8) != 0 || Read32(h + 8) != kVersion || Read32(h + 12) != kThmHeaderSize ||
        Read32(h + 28) != kFormatRgb24 || Read32(h + 60) != static_cast<std::uint32_t>(Hash64(h, 60))) {
        OV_TRACE("Page image file is not ours! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    const std::uint32_t w = Read32(h + 16), hgt = Read32(h + 20), stride = Read32(h + 24);
    const std::uint64_t bytes = Read64(h + 32);
    if (w < 1 || hgt < 1 || w > kMaxSide || hgt > kMaxSide || stride != w * 3 ||
        bytes != static_cast<std::uint64_t>(stride) * hgt ||
        static_cast<std::uint64_t>(st.st_size) != kThmHeaderSize + bytes) {
        OV_TRACE("Page image file truncated or damaged! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    if (!out->Allocate(static_cast<int>(w), static_cast<int>(hgt))) {
        OV_TRACE("Page image memory Error! [Bytes] %llu\n", static_cast<unsigned long long>(bytes));
        return kErrMemory;
    }
    std::memcpy(out->buffer.get(), h, kThmHeaderSize);
    // One read of all pixels, then the hash: faster here than pieces hashed
    // while in cache (the hash is bound by arithmetic, not by memory).
    if (!ReadAll(fd, out->Pixels(), bytes)) {
        OV_TRACE("Page image file truncated! [Path] %s\n", fsPath.c_str());
        *out = ThmImage{};
        return kErrThmFormat;
    }
    if (Hash64(out->Pixels(), bytes) != Read64(h + 40)) {
        OV_TRACE("Page image file checksum Error! [Path] %s\n", fsPath.c_str());
        *out = ThmImage{};
        return kErrThmFormat;
    }
    *stamp = FileStamp::Of(st);
    return kOk;
}

}  // namespace

int WriteThm(const std::string& fsPath, ThmImage&& image) {
    if (image.width < 1 || image.height < 1 || image.width > kMaxSide || image.height > kMaxSide ||
        !image.buffer || image.stride != image.width * 3 ||
        image.capacity < kThmHeaderSize + image.PixelBytes()) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", image.width, image.height);
        return kErrArgument;
    }
    const std::size_t pixelBytes = image.PixelBytes();
    std::uint8_t* header = image.buffer.get();
    std::memset(header, 0, kThmHeaderSize);
    std::memcpy(header, kMagic, 8);
    Put32(header + 8, kVersion);
    Put32(header + 12, kThmHeaderSize);
    Put32(header + 16, static_cast<std::uint32_t>(image.width));
    Put32(header + 20, static_cast<std::uint32_t>(image.height));
    Put32(header + 24, static_cast<std::uint32_t>(image.stride));
    Put32(header + 28, kFormatRgb24);
    Put64(header + 32, pixelBytes);
    Put64(header + 40, Hash64(image.Pixels(), pixelBytes));
    Put32(header + 60, static_cast<std::uint32_t>(Hash64(header, 60)));

    TempFile tmp;
    int r = tmp.Create(fsPath, true);
    if (r != kOk)
        return r;
    // Header and pixels are one block of memory: one write.
    const std::uint8_t* p = header;
    for (std::size_t left = kThmHeaderSize + pixelBytes; left > 0;) {
        ssize_t n = ::write(tmp.Fd(), p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            OV_TRACE("write() Error! [Path] %s [errno] %d\n", tmp.Path().c_str(), errno);
            return kErrWrite;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    struct stat written;
    if (::fstat(tmp.Fd(), &written) != 0) {
        OV_TRACE("fstat() Error! [Path] %s [errno] %d\n", tmp.Path().c_str(), errno);
        return kErrWrite;
    }
    r = tmp.Commit();
    if (r != kOk)
        return r;
    // Hand the pixels to the next read of this file, when the file in place is
    // still the one just written (the rename may have changed its change time).
    FileStamp now;
    const FileStamp before = FileStamp::Of(written);
    if (StampOfPath(fsPath, &now) && now.dev == before.dev && now.ino == before.ino &&
        now.size == before.size && now.mtime.tv_sec == before.mtime.tv_sec &&
        now.mtime.tv_nsec == before.mtime.tv_nsec)
        Keep(fsPath, now, std::move(image));
    return kOk;
}

int WriteThm(const std::string& fsPath, int width, int height, int stride, const std::uint8_t* rgb) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || rgb == nullptr ||
        stride < width * 3) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", width, height);
        return kErrArgument;
    }
    ThmImage image;
    if (!image.Allocate(width, height)) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", width, height);
        return kErrMemory;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(image.Pixels() + static_cast<std::size_t>(image.stride) * y,
                    rgb + static_cast<std::size_t>(stride) * y, image.stride);
    return WriteThm(fsPath, std::move(image));
}

int ReadThm(const std::string& fsPath, ThmImage* out) {
    FileStamp stamp;
    return ReadThmStamped(fsPath, out, &stamp);
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
}

}  // namespace ov::image
