// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ipc/RuntimeDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ov::ipc {

namespace {

// Creates the folder (mode 0700) when missing and checks that it is private:
// a folder, not a symbolic link, owned by the effective user, mode exactly 0700.
bool EnsurePrivateDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the folder must be usable by its owner.
        if (::chmod(path.c_str(), 0700) != 0) {
            return false;
        }
    } else if (errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700) {
        errno = EPERM;
        return false;
    }
    return true;
}

}  // namespace

std::string RuntimeDir() {
    std::string path;
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && *xdg != '\0') {
        path = std::string(xdg) + "/ormaview";
    } else {
        path = "/tmp/ormaview-" + std::to_string(::geteuid());
    }
    if (!EnsurePrivateDir(path)) {
        return {};
    }
    return path;
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
