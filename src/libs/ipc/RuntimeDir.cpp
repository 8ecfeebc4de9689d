// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ipc/RuntimeDir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ov::ipc {

namespace {

// Creates the folder (mode 0700) when missing and checks that it is private:
// a folder, not a symbolic link, owned by the effective user, mode exactly 0700.
// On failure *why (when given) says what is wrong.
bool EnsurePrivateDir(const std::string& path, std::string* why = nullptr) {
    auto fail = [&](int err, const std::string& text) {
        if (why != nullptr)
            *why = text;
        errno = err;
        return false;
    };
    if (::mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the folder must be usable by its owner.
        if (::chmod(path.c_str(), 0700) != 0) {
            const int err = errno;
            return fail(err, std::string("cannot be made private: ") + std::strerror(err));
        }
    } else if (errno != EEXIST) {
        const int err = errno;
        return fail(err, std::string("cannot be created: ") + std::strerror(err));
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const int err = errno;
        return fail(err, std::string("cannot be read: ") + std::strerror(err));
    }
    if (S_ISLNK(st.st_mode))
        return fail(ENOTDIR, "it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return fail(ENOTDIR, "it is not a folder");
    if (st.st_uid != ::geteuid())
        return fail(EPERM, "it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
    if ((st.st_mode & 07777) != 0700) {
        char mode[64];
        std::snprintf(mode, sizeof mode, "its mode is %04o, not 0700",
                      static_cast<unsigned>(st.st_mode & 07777));
        return fail(EPERM, mode);
    }
    return true;
}

// The user's home: $HOME, else the password database.
std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

// mkdir -p of the folders above path (those made here are private).
void MakeParents(const std::string& path) {
    for (std::string::size_type pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1))
        ::mkdir(path.substr(0, pos).c_str(), 0700);
}

}  // namespace

std::string RuntimeDirPath() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && *xdg != '\0')
        return std::string(xdg) + "/ormaview";
    // No runtime folder of the session: one in the user's home, never in a folder
    // that other users can write to. The host name keeps machines that share a
    // home apart.
    std::string cache;
    const char* xdgCache = std::getenv("XDG_CACHE_HOME");
    if (xdgCache != nullptr && xdgCache[0] == '/') {
        cache = xdgCache;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return {};
        cache = home + "/.cache";
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        std::strcpy(host, "localhost");
    // Socket paths must stay short (108 bytes): a long host name is cut.
    return cache + "/ormaview/run-" + FileNameEscape(host).substr(0, 32);
}

std::string RuntimeDir() {
    std::string why;
    return CheckRuntimeDir(nullptr, &why) ? RuntimeDirPath() : std::string();
}

bool CheckRuntimeDir(std::string* folder, std::string* why) {
    std::string path = RuntimeDirPath();
    if (folder != nullptr)
        *folder = path;
    if (path.empty()) {
        if (why != nullptr)
            *why = "neither XDG_RUNTIME_DIR nor a home folder is known";
        errno = ENOENT;
        return false;
    }
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr || *std::getenv("XDG_RUNTIME_DIR") == '\0')
        MakeParents(path);
    return EnsurePrivateDir(path, why);
}

std::string RuntimeSubDir(const char* sub) {
    std::string base = RuntimeDir();
    if (base.empty()) {
        return {};
    }
    std::string path = base + "/" + sub;
    if (!EnsurePrivateDir(path)) {
        return {};
    }
    return path;
}

std::string FileNameEscape(const char* name) {
    std::string out;
    for (const char* p = name; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace ov::ipc
