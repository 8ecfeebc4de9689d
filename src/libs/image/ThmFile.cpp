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
#include <sys/uio.h>
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

int WriteThm(const std::string& fsPath, int width, int height, int stride, const std::uint8_t* rgb) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || rgb == nullptr ||
        stride < width * 3) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", width, height);
        return kErrArgument;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(height);
    // Rows are stored packed; a padded source is hashed and written row by row.
    std::uint64_t hash;
    std::unique_ptr<std::uint8_t[]> packed;
    const std::uint8_t* data = rgb;
    if (static_cast<std::size_t>(stride) != rowBytes) {
        packed.reset(new std::uint8_t[pixelBytes]);
        for (int y = 0; y < height; ++y)
            std::memcpy(packed.get() + rowBytes * y, rgb + static_cast<std::size_t>(stride) * y, rowBytes);
        data = packed.get();
    }
    hash = Hash64(data, pixelBytes);

    std::uint8_t header[kThmHeaderSize] = {};
    std::memcpy(header, kMagic, 8);
    Put32(header + 8, kVersion);
    Put32(header + 12, kThmHeaderSize);
    Put32(header + 16, static_cast<std::uint32_t>(width));
    Put32(header + 20, static_cast<std::uint32_t>(height));
    Put32(header + 24, static_cast<std::uint32_t>(rowBytes));
    Put32(header + 28, kFormatRgb24);
    Put64(header + 32, pixelBytes);
    Put64(header + 40, hash);
    Put32(header + 60, static_cast<std::uint32_t>(Hash64(header, 60)));

    TempFile tmp;
    int r = tmp.Create(fsPath);
    if (r != kOk)
        return r;
    int fd = ::open(tmp.Path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        OV_TRACE("open() Error! [Path] %s [errno] %d\n", tmp.Path().c_str(), errno);
        return kErrWrite;
    }
    struct iovec iov[2] = {{header, kThmHeaderSize}, {const_cast<std::uint8_t*>(data), pixelBytes}};
    std::size_t total = kThmHeaderSize + pixelBytes;
    std::size_t done = 0;
    bool ok = true;
    while (done < total) {
        // Advance the vector past what is written.
        struct iovec cur[2];
        int cnt = 0;
        std::size_t skip = done;
        for (auto& v : iov) {
            if (skip >= v.iov_len) {
                skip -= v.iov_len;
                continue;
            }
            cur[cnt].iov_base = static_cast<std::uint8_t*>(v.iov_base) + skip;
            cur[cnt].iov_len = v.iov_len - skip;
            skip = 0;
            ++cnt;
        }
        ssize_t n = ::writev(fd, cur, cnt);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!ok)
        OV_TRACE("write() Error! [Path] %s [errno] %d\n", tmp.Path().c_str(), errno);
    if (::close(fd) != 0 && ok) {
        OV_TRACE("close() Error! [Path] %s [errno] %d\n", tmp.Path().c_str(), errno);
        ok = false;
    }
    if (!ok)
        return kErrWrite;
    return tmp.Commit();
}

namespace {

struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};
    bool operator==(const FileStamp& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
    return s;
}

struct ThmCache {
    std::string path;
    FileStamp stamp;
    ThmImage image;
};
thread_local ThmCache t_cache;

int ReadThmStamped(const std::string& fsPath, ThmImage* out, FileStamp* stamp);

}  // namespace

int ReadThm(const std::string& fsPath, ThmImage* out) {
    FileStamp stamp;
    return ReadThmStamped(fsPath, out, &stamp);
}

int ReadThmCached(const std::string& fsPath, const ThmImage** out) {
    struct stat st;
    if (t_cache.image.pixels && t_cache.path == fsPath && ::stat(fsPath.c_str(), &st) == 0 &&
        StampOf(st) == t_cache.stamp) {
        *out = &t_cache.image;
        return kOk;
    }
    ReleaseThmCache();
    ThmImage img;
    FileStamp stamp;
    int r = ReadThmStamped(fsPath, &img, &stamp);
    if (r != kOk)
        return r;
    t_cache.path = fsPath;
    t_cache.stamp = stamp;
    t_cache.image = std::move(img);
    *out = &t_cache.image;
    return kOk;
}

void ReleaseThmCache() {
    t_cache.path.clear();
    t_cache.stamp = FileStamp{};
    t_cache.image = ThmImage{};
}

namespace {

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
    std::uint64_t bytes;
    std::memcpy(&bytes, h + 32, 8);
    if (w < 1 || hgt < 1 || w > kMaxSide || hgt > kMaxSide || stride != w * 3 ||
        bytes != static_cast<std::uint64_t>(stride) * hgt ||
        static_cast<std::uint64_t>(st.st_size) != kThmHeaderSize + bytes) {
        OV_TRACE("Page image file truncated or damaged! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[bytes]);
    if (!pixels) {
        OV_TRACE("Page image memory Error! [Bytes] %llu\n", static_cast<unsigned long long>(bytes));
        return kErrMemory;
    }
    if (!ReadAll(fd, pixels.get(), bytes)) {
        OV_TRACE("Page image file truncated! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    std::uint64_t want;
    std::memcpy(&want, h + 40, 8);
    if (Hash64(pixels.get(), bytes) != want) {
        OV_TRACE("Page image file checksum Error! [Path] %s\n", fsPath.c_str());
        return kErrThmFormat;
    }
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(hgt);
    out->stride = static_cast<int>(stride);
    out->pixels = std::move(pixels);
    *stamp = StampOf(st);
    return kOk;
}

}  // namespace

}  // namespace ov::image
