// SPDX-License-Identifier: AGPL-3.0-or-later
// The work desk's file and folder operations on CP932 paths.
#include "ormacomm/OrmaComm.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "base/Trace.h"
#include "ormacomm/QuilmCommon.h"
#include "win32/AtomicFile.h"
#include "win32/CodePage.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {

bool IsFolder(const std::string& fsPath) {
    struct stat st {};
    return ::stat(fsPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p on a file-system path.
bool MakeFolders(const std::string& fsPath) {
    if (fsPath.empty())
        return false;
    for (std::string::size_type pos = 1; pos <= fsPath.size(); ++pos) {
        if (pos == fsPath.size() || fsPath[pos] == '/') {
            std::string part = fsPath.substr(0, pos);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                if (!IsFolder(part))
                    return false;
            }
        }
    }
    return IsFolder(fsPath);
}

// Copies a CP932 text into a MAX_PATH buffer; false (with a trace line) when it
// does not fit in 259 bytes.
bool CopyPath(const std::string& text, char* buffer, const char* what) {
    if (text.size() >= static_cast<std::size_t>(MAX_PATH)) {
        OV_TRACE("%s Error! Path too long [Length] %d\n", what, static_cast<int>(text.size()));
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

void StripTrailingSeparators(std::string& path) {
    while (path.size() > 1 && path.back() == kPathSep) path.pop_back();
}

// A value of our own configuration file: UTF-8 as Linux configuration files are,
// though a CP932 value is taken too. Returns CP932.
std::string ConfigTextToCp932(const std::string& raw) {
    if (auto cp932 = ov::Utf8ToCp932(raw))
        return *cp932;
    if (ov::Cp932ToUtf8(raw))
        return raw;
    return std::string();
}

std::string ExpandHome(const std::string& path) {
    if (path == "~" || path.rfind("~/", 0) == 0) {
        const char* home = std::getenv("HOME");
        if (home != nullptr && *home != '\0')
            return std::string(home) + path.substr(1);
    }
    return path;
}

// $XDG_CONFIG_HOME/ormaview/ormaview.ini (default ~/.config), a file-system path.
std::string ConfigFilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0')
            return std::string();
        base = std::string(home) + "/.config";
    }
    return base + "/ormaview/ormaview.ini";
}

// The folder the viewer was started on, used when no work desk is named.
std::string& WorkDeskFallback() {
    static std::string folder;
    return folder;
}

}  // namespace

unsigned long long GetPageCacheBytes() {
    constexpr unsigned long long kDefaultMegabytes = 512;
    constexpr unsigned long long kMaxMegabytes = 1024ull * 1024;  // 1 TB: anything above is a typing error
    const std::string ini = ConfigFilePath();
    if (ini.empty())
        return kDefaultMegabytes << 20;
    std::map<std::string, std::string> keys;
    if (!GetIniKeyMap(ov::FromFsPath(ini).c_str(), "PageCache", &keys))
        return kDefaultMegabytes << 20;
    for (const auto& kv : keys) {
        if (::strcasecmp(kv.first.c_str(), "MaxMegabytes") != 0)
            continue;
        char* end = nullptr;
        const unsigned long long n = std::strtoull(kv.second.c_str(), &end, 10);
        if (end == kv.second.c_str() || kv.second[0] == '-')
            break;
        return std::min(n, kMaxMegabytes) << 20;
    }
    return kDefaultMegabytes << 20;
}

void SetWorkDeskFolderFallback(const char* folder) {
    WorkDeskFallback() = folder != nullptr ? folder : "";
}

BOOL MakeFolder(const char* folder) {
    if (folder == nullptr || *folder == '\0')
        return FALSE;
    std::string fs = ov::ToFsPath(folder);
    if (fs.empty())
        return FALSE;
    return MakeFolders(fs) ? TRUE : FALSE;
}

BOOL MakeFile(const char* path) {
    if (path == nullptr || *path == '\0')
        return FALSE;
    std::string fs = ov::ToFsPath(path);
    if (fs.empty())
        return FALSE;
    std::string::size_type slash = fs.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(fs.substr(0, slash)))
        return FALSE;
    int fd = ::open(fs.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        return FALSE;
    }
    struct stat st {};
    // A link that points nowhere is replaced by an empty file of its own, never
    // followed to create its target.
    if (fd < 0 && ::lstat(fs.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(fs.c_str(), &st) != 0 &&
        !ov::ReplaceFileContents(fs, ""))
        return FALSE;
    return ::stat(fs.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? TRUE : FALSE;
}

BOOL GetWorkDeskFolder(char* buffer) {
    if (buffer == nullptr)
        return FALSE;
    buffer[0] = '\0';
    std::string folder;
    const char* env = std::getenv("ORMAVIEW_WORKDESK");
    if (env != nullptr && *env != '\0') {
        folder = ov::FromFsPath(ExpandHome(env));
    } else {
        std::string ini = ConfigFilePath();
        std::vector<std::pair<std::string, std::string>> keys;
        // The file name is ASCII below the configuration folder; its CP932 form is the
        // same bytes as long as the folder is, which the conversion checks.
        std::string iniCp932 = ini.empty() ? std::string() : ov::FromFsPath(ini);
        if (!iniCp932.empty() && !ov::ReadProfileSection("WorkDesk", iniCp932.c_str(), &keys))
            keys.clear();
        for (const auto& kv : keys) {
            if (kv.first.size() == 14 && ::strncasecmp(kv.first.c_str(), "WorkDeskFolder", 14) == 0) {
                std::string raw = kv.second;
                folder = ConfigTextToCp932(ExpandHome(raw));
                break;
            }
        }
    }
    // Neither names one: the work desk is the folder the viewer was started on.
    if (folder.empty())
        folder = WorkDeskFallback();
    if (folder.empty())
        return FALSE;
    StripTrailingSeparators(folder);
    std::string fs = ov::ToFsPath(folder);
    if (fs.empty() || !IsFolder(fs))
        return FALSE;
    return CopyPath(folder, buffer, "GetWorkDeskFolder()") ? TRUE : FALSE;
}

BOOL GetIniKeyMap(const char* iniPath, const char* section, std::map<std::string, std::string>* out) {
    if (out == nullptr || section == nullptr)
        return FALSE;
    out->clear();
    std::vector<std::pair<std::string, std::string>> keys;
    if (iniPath == nullptr || *iniPath == '\0')
        return FALSE;
    if (!ov::ReadProfileSection(section, iniPath, &keys))
        return FALSE;
    for (auto& kv : keys) out->emplace(std::move(kv.first), std::move(kv.second));
    return TRUE;
}

BOOL GetPrivateProfileLongString(std::string section, std::string key, std::string def, std::string* out,
                                 std::string path) {
    if (out == nullptr)
        return FALSE;
    std::vector<std::pair<std::string, std::string>> keys;
    if (!ov::ReadProfileSection(section.c_str(), path.c_str(), &keys))
        return FALSE;
    // The section reader folds case over single-byte characters only; the same
    // comparison picks the key here.
    std::string want = key;
    while (!want.empty() && (want.back() == ' ' || want.back() == '\t')) want.pop_back();
    while (!want.empty() && (want.front() == ' ' || want.front() == '\t')) want.erase(0, 1);
    for (auto& kv : keys) {
        const std::string& k = kv.first;
        if (k.size() != want.size())
            continue;
        bool same = true;
        for (std::size_t i = 0, len; same && (len = ov::Cp932CharLength(k, i)) != 0; i += len) {
            if (len == 2)
                same = k[i] == want[i] && k[i + 1] == want[i + 1];
            else
                same = std::tolower(static_cast<unsigned char>(k[i])) ==
                       std::tolower(static_cast<unsigned char>(want[i]));
        }
        if (same) {
            *out = std::move(kv.second);
            return TRUE;
        }
    }
    *out = def;
    return TRUE;
}

BOOL GetListIDFromString(const char* text, std::vector<unsigned>* out) {
    if (text == nullptr || out == nullptr)
        return FALSE;
    out->clear();
    std::string_view s(text);
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t first = 0;
    while (first < s.size() && blank(s[first])) ++first;
    if (first == s.size())
        return TRUE;  // empty or blank: no pages

    std::vector<unsigned> ids;
    std::size_t pos = 0;
    for (;;) {
        std::size_t comma = s.find(',', pos);
        std::string_view item =
            s.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        while (!item.empty() && blank(item.front())) item.remove_prefix(1);
        while (!item.empty() && blank(item.back())) item.remove_suffix(1);
        if (item.empty())
            return FALSE;
        unsigned long long value = 0;
        for (char c : item) {
            if (c < '0' || c > '9')
                return FALSE;
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > UINT_MAX)
                return FALSE;
        }
        ids.push_back(static_cast<unsigned>(value));
        if (comma == std::string_view::npos)
            break;
        pos = comma + 1;
    }
    *out = std::move(ids);
    return TRUE;
}

namespace {

// Working folders are "ormaview-tmp-XXXXXX" under $TMPDIR. Each is locked (flock
// on the folder itself) for as long as its process keeps it, so that a later
// start can tell the folders of viewers that died from those in use. A folder is
// made as "ormaview-new-XXXXXX", locked, and only then renamed, so that no
// folder ever carries the swept name without its lock.
constexpr char kTempPrefix[] = "ormaview-tmp-";
constexpr char kNewPrefix[] = "ormaview-new-";
constexpr std::size_t kTempSuffixLength = 6;

std::string TempBase() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    StripTrailingSeparators(base);
    return base;
}

struct TempLocks {
    std::mutex mutex;
    std::map<std::string, int> fds;  // file-system path -> locked folder descriptor
};

TempLocks& Locks() {
    static TempLocks* locks = new TempLocks;  // never destroyed: locks live to the end
    return *locks;
}

bool IsTempSuffix(const char* p) {
    std::size_t n = 0;
    for (; p[n] != '\0'; ++n) {
        if (!std::isalnum(static_cast<unsigned char>(p[n])))
            return false;
    }
    return n == kTempSuffixLength;
}

}  // namespace

namespace {

// One try of CreateTempFolder: 1 made (fd and path set), 0 failed, -1 the final
// name was taken (try again with another one).
int TryCreateTempFolder(const std::string& base, int* pFd, std::string* pPath) {
    std::string made = base + "/" + kNewPrefix + "XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) {
        OV_TRACE("mkdtemp() Error! [Folder] %s [errno] %d\n", ov::FromFsPath(base).c_str(), errno);
        return 0;
    }
    const int fd = ::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        OV_TRACE("flock() Error! [Folder] %s [errno] %d\n", ov::FromFsPath(made).c_str(), errno);
        if (fd >= 0)
            ::close(fd);
        ::rmdir(made.c_str());
        return 0;
    }
    std::string path = base + "/" + kTempPrefix + made.substr(made.size() - kTempSuffixLength);
    int rc = ::renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL)  // a file system without the flag
        rc = ::access(path.c_str(), F_OK) == 0 ? (errno = EEXIST, -1) : ::rename(made.c_str(), path.c_str());
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        ::rmdir(made.c_str());
        if (err == EEXIST || err == ENOTEMPTY)
            return -1;
        OV_TRACE("rename() Error! [Folder] %s [errno] %d\n", ov::FromFsPath(path).c_str(), err);
        return 0;
    }
    *pFd = fd;
    *pPath = path;
    return 1;
}

}  // namespace

BOOL CreateTempFolder(char* buffer) {
    if (buffer == nullptr)
        return FALSE;
    buffer[0] = '\0';
    const std::string base = TempBase();
    int fd = -1;
    std::string path;
    int r = -1;
    for (int attempt = 0; attempt < 8 && r < 0; ++attempt) r = TryCreateTempFolder(base, &fd, &path);
    if (r < 0)
        OV_TRACE("CreateTempFolder() Error! Every name taken [Folder] %s\n", ov::FromFsPath(base).c_str());
    if (r <= 0)
        return FALSE;
    std::string cp932 = ov::FromFsPath(path);
    if (cp932.empty() || !CopyPath(cp932, buffer, "CreateTempFolder()")) {
        ::close(fd);
        ::rmdir(path.c_str());
        buffer[0] = '\0';
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(Locks().mutex);
    Locks().fds[path] = fd;
    return TRUE;
}

namespace ov {

void ReleaseTempFolderLock(const std::string& fsPath) {
    std::lock_guard<std::mutex> lock(Locks().mutex);
    auto it = Locks().fds.find(fsPath);
    if (it == Locks().fds.end())
        return;
    ::close(it->second);
    Locks().fds.erase(it);
}

int SweepDeadTempFolders() {
    const std::string base = TempBase();
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr)
        return 0;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, kTempPrefix, sizeof kTempPrefix - 1) == 0 &&
            IsTempSuffix(e->d_name + sizeof kTempPrefix - 1))
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = base + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;  // only real folders of this user
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // The lock is free only when the process that made the folder has gone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const std::string cp932 = ov::FromFsPath(path);
            if (!cp932.empty() && DeleteTheFolder(cp932.c_str(), 0)) {
                OV_TRACE("Working folder of an ended viewer removed [Folder] %s\n", cp932.c_str());
                ++removed;
            }
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace ov

BOOL GetWorkDeskDatPath(char* buffer) {
    if (buffer == nullptr)
        return FALSE;
    char folder[MAX_PATH] = {};
    if (!GetWorkDeskFolder(folder)) {
        buffer[0] = '\0';
        return FALSE;
    }
    if (!CopyPath(ov::JoinPath(folder, "WorkDesk.dat"), buffer, "GetWorkDeskDatPath()")) {
        buffer[0] = '\0';
        return FALSE;
    }
    return TRUE;
}
