// SPDX-License-Identifier: AGPL-3.0-or-later
// Layout of an entry (integers little-endian):
//   0  8  magic "OVSTORE\x1a"
//   8  4  version (1)
//  12  4  length n of the key text
//  16  n  the key text (KeyText)
//  16+n   the page-image file (.thm), whole
// An entry is named by the XXH64 of its key text ("%016x.thm"); a temporary file
// of a write is that name followed by ".tmp<pid>-<n>".
#include "image/PageStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"
#include "image/ThmFile.h"

namespace ov::image {
namespace {

constexpr char kMagic[8] = {'O', 'V', 'S', 'T', 'O', 'R', 'E', '\x1a'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::uint32_t kMaxKeyBytes = 8192;
constexpr std::size_t kNameSize = 20;  // 16 hex digits and ".thm"
// A temporary file older than this was left by a write that never finished.
constexpr time_t kStaleTempSeconds = 600;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

void AppendField(std::string* out, const char* name, const std::string& value) {
    *out += name;
    *out += ' ' + std::to_string(value.size()) + ':' + value + '\n';
}

void AppendStamp(std::string* out, const FileStamp& st) {
    if (st.size < 0) {
        *out += "identity -\n";
        return;
    }
    char buf[160];
    std::snprintf(buf, sizeof(buf), "identity %ju %ju %jd %jd.%09ld %jd.%09ld\n",
                  static_cast<uintmax_t>(st.dev), static_cast<uintmax_t>(st.ino),
                  static_cast<intmax_t>(st.size), static_cast<intmax_t>(st.mtime.tv_sec), st.mtime.tv_nsec,
                  static_cast<intmax_t>(st.ctime.tv_sec), st.ctime.tv_nsec);
    *out += buf;
}

std::string EntryName(const std::string& keyText) {
    char name[kNameSize + 1];
    std::snprintf(name, sizeof(name), "%016" PRIx64 ".thm", Hash64(keyText.data(), keyText.size()));
    return name;
}

bool IsEntryName(const char* name, std::size_t len) {
    if (len < kNameSize || std::memcmp(name + 16, ".thm", 4) != 0)
        return false;
    for (int i = 0; i < 16; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    return true;
}

// "<entry name>.tmp<digits>-<digits>"
bool IsTempName(const std::string& name) {
    if (!IsEntryName(name.c_str(), name.size()) || name.compare(kNameSize, 4, ".tmp") != 0)
        return false;
    std::size_t i = kNameSize + 4;
    auto digits = [&name, &i] {
        const std::size_t start = i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
        return i > start;
    };
    if (!digits() || i >= name.size() || name[i++] != '-' || !digits())
        return false;
    return i == name.size();
}

// The key length of an entry header, or -1 when the bytes are no header of ours.
long KeyLengthOf(const std::uint8_t* h) {
    std::uint32_t version = 0, keyLen = 0;
    std::memcpy(&version, h + 8, 4);
    std::memcpy(&keyLen, h + 12, 4);
    if (std::memcmp(h, kMagic, 8) != 0 || version != kVersion || keyLen == 0 || keyLen > kMaxKeyBytes)
        return -1;
    return static_cast<long>(keyLen);
}

// Opens name in the folder for reading when it is one of the store's entries (a
// regular file, no link, with the entry header); the descriptor is then just past
// the header, *keyLen and *st filled. -1 for anything else.
int OpenEntry(int dirFd, const char* name, long* keyLen, struct stat* st) {
    if (!IsEntryName(name, std::strlen(name)) || std::strlen(name) != kNameSize)
        return -1;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::uint8_t h[kHeaderSize];
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_size < static_cast<off_t>(kHeaderSize) ||
        !ReadFull(fd, h, sizeof h) || (*keyLen = KeyLengthOf(h)) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsEntry(int dirFd, const char* name) {
    long keyLen = 0;
    struct stat st {};
    Fd fd{OpenEntry(dirFd, name, &keyLen, &st)};
    return fd.fd >= 0;
}

bool IsFree(int dirFd, const char* name) {
    return ::faccessat(dirFd, name, F_OK, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// Makes (0700) and opens a folder that must be a real folder of this user that
// neither group nor others may write. The descriptor, or -1 with *why.
int OpenPrivateFolder(int atFd, const std::string& path, const char** why) {
    if (::mkdirat(atFd, path.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = "cannot be made";
        return -1;
    }
    const int fd = ::openat(atFd, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR ? "not a real folder" : "cannot be opened";
        return -1;
    }
    struct stat st {};
    *why = ::fstat(fd, &st) != 0                ? "cannot be examined"
           : st.st_uid != ::geteuid()           ? "owned by another user"
           : (st.st_mode & (S_IWGRP | S_IWOTH)) ? "writable by group or others"
                                                : nullptr;
    if (*why != nullptr) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void MakeAncestors(const std::string& folder) {
    for (std::size_t pos = folder.find('/', 1); pos != std::string::npos; pos = folder.find('/', pos + 1))
        ::mkdir(folder.substr(0, pos).c_str(), 0700);
}

}  // namespace

bool TakeIdentities(PageStoreKey* key) {
    struct stat st {};
    if (::stat(key->source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    key->sourceStamp = FileStamp::Of(st);
    key->editInfoStamp = FileStamp{};
    if (key->drawEditInfo != 0 && !key->editInfo.empty() && ::stat(key->editInfo.c_str(), &st) == 0)
        key->editInfoStamp = FileStamp::Of(st);
    return true;
}

std::string KeyText(const PageStoreKey& key) {
    std::string text = "ormaview page\n";
    AppendField(&text, "source", key.source);
    AppendStamp(&text, key.sourceStamp);
    text += "page " + std::to_string(key.page) + " scale " + std::to_string(key.scaleX) + " " +
            std::to_string(key.scaleY) + " annotations " + std::to_string(key.drawEditInfo != 0 ? 1 : 0) +
            "\n";
    if (key.drawEditInfo != 0) {
        AppendField(&text, "annotation file", key.editInfo);
        AppendStamp(&text, key.editInfoStamp);
    }
    return text;
}

CPageStore::CPageStore(std::string fsFolder, unsigned long long maxBytes)
    : m_folder(std::move(fsFolder)), m_maxBytes(maxBytes) {
    while (m_folder.size() > 1 && m_folder.back() == '/') m_folder.pop_back();
    const std::size_t slash = m_folder.rfind('/');
    if (m_folder.empty() || slash == std::string::npos || slash + 1 == m_folder.size())
        return;
    // The folder and the one that holds it ("ormaview"); the folders above are the user's.
    const std::string parent = slash == 0 ? "/" : m_folder.substr(0, slash);
    MakeAncestors(parent);
    const char* why = nullptr;
    Fd parentFd{OpenPrivateFolder(AT_FDCWD, parent, &why)};
    if (parentFd.fd < 0) {
        OV_TRACE("Page store off! [Folder] %s [Reason] %s\n", parent.c_str(), why);
        return;
    }
    m_fd = OpenPrivateFolder(parentFd.fd, m_folder.substr(slash + 1), &why);
    if (m_fd < 0)
        OV_TRACE("Page store off! [Folder] %s [Reason] %s\n", m_folder.c_str(), why);
}

CPageStore::~CPageStore() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CPageStore::DefaultFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/ormaview/pages";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.cache/ormaview/pages";
    return std::string();
}

std::string CPageStore::EntryPath(const PageStoreKey& key) const {
    return IsOn() ? m_folder + "/" + EntryName(KeyText(key)) : std::string();
}

int CPageStore::Load(const PageStoreKey& key, ThmImage* out) const {
    if (!IsOn())
        return kErrNoFile;
    const std::string text = KeyText(key);
    const std::string name = EntryName(text);
    long keyLen = 0;
    struct stat st {};
    Fd fd{OpenEntry(m_fd, name.c_str(), &keyLen, &st)};
    if (fd.fd < 0)
        return kErrNoFile;  // none, or not an entry of the store (left alone)
    // Used only for the key it was made for: an entry copied over another is
    // never shown for the wrong page.
    std::string stored(static_cast<std::size_t>(keyLen), '\0');
    const std::uint64_t total = static_cast<std::uint64_t>(st.st_size);
    int r = kErrThmFormat;
    if (total >= kHeaderSize + keyLen && ReadFull(fd.fd, stored.data(), stored.size()) && stored == text)
        r = ReadThmFromFd(fd.fd, total - kHeaderSize - keyLen, m_folder + "/" + name, out);
    if (r == kErrMemory)
        return r;
    if (r != kOk) {
        OV_TRACE("Page store entry damaged! [Path] %s/%s [Return] %d\n", m_folder.c_str(), name.c_str(), r);
        ::unlinkat(m_fd, name.c_str(), 0);
        return kErrThmFormat;
    }
    ::futimens(fd.fd, nullptr);  // most recently used now
    return kOk;
}

void CPageStore::Store(const PageStoreKey& key, const std::string& fsThmPath) const {
    if (!IsOn())
        return;
    const std::string text = KeyText(key);
    const std::string name = EntryName(text);
    if (text.size() > kMaxKeyBytes)
        return;
    Fd in{::open(fsThmPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    static std::atomic<unsigned> s_nWrite{0};
    const std::string tmp = name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++s_nWrite);
    const int out = ::openat(m_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        OV_TRACE("Page store write Error! [Path] %s/%s [errno] %d\n", m_folder.c_str(), tmp.c_str(), errno);
        return;
    }
    std::uint8_t h[kHeaderSize];
    const auto keyLen = static_cast<std::uint32_t>(text.size());
    std::memcpy(h, kMagic, 8);
    std::memcpy(h + 8, &kVersion, 4);
    std::memcpy(h + 12, &keyLen, 4);
    bool ok = WriteFull(out, h, sizeof h) && WriteFull(out, text.data(), text.size());
    char buf[1 << 16];
    while (ok) {
        const ssize_t n = ::read(in.fd, buf, sizeof(buf));
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && WriteFull(out, buf, static_cast<std::size_t>(n));
    }
    if (::close(out) != 0)
        ok = false;
    // Put in place only when whole, and never over a file that is not an entry
    // of the store. The rename replaces an entry at once: a reader finds the old
    // one or the new one, never none (two writers of one entry alike).
    const bool placed = ok && (IsFree(m_fd, name.c_str()) || IsEntry(m_fd, name.c_str())) &&
                        ::renameat(m_fd, tmp.c_str(), m_fd, name.c_str()) == 0;
    if (!placed) {
        ::unlinkat(m_fd, tmp.c_str(), 0);
        if (!ok)
            OV_TRACE("Page store write Error! [Path] %s/%s\n", m_folder.c_str(), name.c_str());
        return;
    }
    Trim();
}

void CPageStore::Trim() const {
    if (!IsOn())
        return;
    DIR* dir = ::fdopendir(::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir == nullptr)
        return;
    struct Entry {
        std::string name;
        timespec used;
        unsigned long long bytes;
    };
    std::vector<Entry> entries;
    unsigned long long total = 0;
    const time_t now = ::time(nullptr);
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        struct stat st {};
        const bool isEntryName = name.size() == kNameSize && IsEntryName(name.c_str(), name.size());
        if ((!isEntryName && !IsTempName(name)) ||
            ::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (isEntryName) {
            entries.push_back({name, st.st_mtim, static_cast<unsigned long long>(st.st_size)});
            total += static_cast<unsigned long long>(st.st_size);
        } else if (now - st.st_mtim.tv_sec > kStaleTempSeconds) {
            ::unlinkat(m_fd, name.c_str(), 0);
        }
    }
    ::closedir(dir);
    if (total <= m_maxBytes)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    for (const Entry& e : entries) {
        if (total <= m_maxBytes)
            break;
        // Only a file with the entry header is removed; any other file in the
        // folder does not count against the bound.
        if (!IsEntry(m_fd, e.name.c_str()) || ::unlinkat(m_fd, e.name.c_str(), 0) == 0 || errno == ENOENT)
            total -= e.bytes;
    }
}

}  // namespace ov::image
