// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/PageStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "base/Trace.h"
#include "image/MuPdf.h"
#include "image/ThmFile.h"

namespace ov::image {
namespace {

constexpr const char* kEntrySuffix = ".thm";
// A temporary file older than this was left by a write that never finished.
constexpr time_t kStaleTempSeconds = 600;

bool MakeFolders(const std::string& folder) {
    std::string part;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        part = folder.substr(0, pos);
        if (part.empty())
            continue;
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AppendIdentity(std::string* out, const std::string& path) {
    struct stat st {};
    char buf[160];
    if (::stat(path.c_str(), &st) != 0) {
        *out += "-\n";
        return;
    }
    std::snprintf(buf, sizeof(buf), "%ju %ju %jd %jd.%09ld\n", static_cast<uintmax_t>(st.st_dev),
                  static_cast<uintmax_t>(st.st_ino), static_cast<intmax_t>(st.st_size),
                  static_cast<intmax_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    *out += buf;
}

bool EndsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::char_traits<char>::length(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

CPageStore::CPageStore(std::string fsFolder, unsigned long long maxBytes)
    : m_folder(std::move(fsFolder)), m_maxBytes(maxBytes) {}

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
    if (m_folder.empty())
        return std::string();
    struct stat st {};
    if (::stat(key.source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::string();
    // Everything the page image depends on; a changed source or annotation file
    // gives another name, so an old entry is never found for it.
    std::string id = "ormaview page 1\n" + key.source + "\n";
    AppendIdentity(&id, key.source);
    id += std::to_string(key.page) + " " + std::to_string(key.scaleX) + " " + std::to_string(key.scaleY) +
          " " + std::to_string(key.drawEditInfo != 0 ? 1 : 0) + "\n";
    if (key.drawEditInfo != 0) {
        id += key.editInfo + "\n";
        if (!key.editInfo.empty())
            AppendIdentity(&id, key.editInfo);
    }
    char name[40];
    std::snprintf(name, sizeof(name), "%016" PRIx64 "%s", Hash64(id.data(), id.size()), kEntrySuffix);
    return m_folder + "/" + name;
}

std::string CPageStore::Find(const PageStoreKey& key) const {
    std::string entry = EntryPath(key);
    if (entry.empty() || ::access(entry.c_str(), F_OK) != 0)
        return std::string();
    return entry;
}

void CPageStore::Used(const std::string& fsEntry) const {
    ::utimensat(AT_FDCWD, fsEntry.c_str(), nullptr, 0);  // most recently used now
}

void CPageStore::Drop(const std::string& fsEntry, int iCode) const {
    OV_TRACE("Page store entry damaged! [Path] %s [Return] %d\n", fsEntry.c_str(), iCode);
    ::unlink(fsEntry.c_str());
}

bool CPageStore::Fetch(const PageStoreKey& key, const std::string& fsThmPath) const {
    const std::string entry = Find(key);
    if (entry.empty())
        return false;
    // Checked whole (the file's hash) before it is used; a damaged entry is
    // dropped and the page made again.
    ThmImage img;
    const int r = ReadThm(entry, &img);
    if (r != kOk) {
        Drop(entry, r);
        return false;
    }
    Used(entry);
    return WriteThm(fsThmPath, std::move(img)) == kOk;
}

void CPageStore::Store(const PageStoreKey& key, const std::string& fsThmPath) const {
    const std::string entry = EntryPath(key);
    if (entry.empty() || !MakeFolders(m_folder))
        return;
    const int in = ::open(fsThmPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    std::string tmp = entry + ".XXXXXX";
    const int out = ::mkstemp(tmp.data());
    bool ok = out >= 0;
    char buf[1 << 16];
    while (ok) {
        const ssize_t n = ::read(in, buf, sizeof(buf));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    // Renamed into place only when whole; a crash before leaves a temporary file
    // that Trim removes later, and a torn entry after a power cut fails its hash.
    if (!ok || ::rename(tmp.c_str(), entry.c_str()) != 0) {
        if (out >= 0)
            ::unlink(tmp.c_str());
        OV_TRACE("Page store write Error! [Path] %s\n", entry.c_str());
        return;
    }
    Trim();
}

void CPageStore::Trim() const {
    if (m_folder.empty())
        return;
    DIR* dir = ::opendir(m_folder.c_str());
    if (dir == nullptr)
        return;
    struct Entry {
        std::string path;
        timespec used;
        unsigned long long bytes;
    };
    std::vector<Entry> entries;
    unsigned long long total = 0;
    const time_t now = ::time(nullptr);
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = m_folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (!EndsWith(name, kEntrySuffix)) {
            if (name.find(".thm.") != std::string::npos && now - st.st_mtim.tv_sec > kStaleTempSeconds)
                ::unlink(path.c_str());
            continue;
        }
        entries.push_back({path, st.st_mtim, static_cast<unsigned long long>(st.st_size)});
        total += static_cast<unsigned long long>(st.st_size);
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
        if (::unlink(e.path.c_str()) == 0 || errno == ENOENT)
            total -= e.bytes;
    }
}

}  // namespace ov::image
