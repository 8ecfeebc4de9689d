// SPDX-License-Identifier: AGPL-3.0-or-later
// Folder removal that works on open folder handles, so that a symbolic link met
// on the way (or swapped in while removing) is removed as a link and never
// followed.
#include "ormacomm/QuilmCommon.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/Trace.h"
#include "ormacomm/OrmaComm.h"
#include "win32/ShellPath.h"

namespace {

bool RemoveEntries(int dirFd, int depth);

// Removes one entry of the folder open as dirFd.
bool RemoveEntry(int dirFd, const char* name, int depth) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
        int sub = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0)
            return false;
        bool ok = RemoveEntries(sub, depth + 1);  // takes over sub
        if (!ok)
            return false;
        if (::unlinkat(dirFd, name, AT_REMOVEDIR) == 0)
            return true;
        return errno == ENOENT;
    }
    if (::unlinkat(dirFd, name, 0) == 0)
        return true;
    return errno == ENOENT;
}

// Removes everything in the folder open as dirFd and closes it.
bool RemoveEntries(int dirFd, int depth) {
    if (depth > 256) {  // far deeper than any working folder; refuse to recurse on
        ::close(dirFd);
        errno = ELOOP;
        return false;
    }
    // A read-only folder of ours cannot lose entries until it is writable again.
    struct stat self {};
    if (::fstat(dirFd, &self) == 0 && (self.st_mode & S_IWUSR) == 0)
        ::fchmod(dirFd, self.st_mode | S_IRWXU);
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(dir);
        if (e == nullptr) {
            if (errno != 0)
                ok = false;
            break;
        }
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (!RemoveEntry(::dirfd(dir), name.c_str(), depth))
            ok = false;
    }
    ::closedir(dir);
    return ok;
}

}  // namespace

BOOL DeleteTheFolder(const char* folder, int reserved) {
    (void)reserved;
    if (folder == nullptr || *folder == '\0') {
        OV_TRACE("DeleteTheFolder() Error! Empty path refused\n");
        return FALSE;
    }
    std::string fs = ov::ToFsPath(folder);
    while (fs.size() > 1 && fs.back() == '/') fs.pop_back();
    std::string::size_type slash = fs.rfind('/');
    std::string last = slash == std::string::npos ? fs : fs.substr(slash + 1);
    if (fs.empty() || fs == "/" || last == "." || last == "..") {
        OV_TRACE("DeleteTheFolder() Error! Path refused [Folder] %s\n", folder);
        return FALSE;
    }
    struct stat st {};
    if (::lstat(fs.c_str(), &st) != 0)
        return errno == ENOENT ? TRUE : FALSE;
    if (S_ISLNK(st.st_mode)) {
        // A link in the folder's place: remove the link, not what it points to.
        return ::unlink(fs.c_str()) == 0 ? TRUE : FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        OV_TRACE("DeleteTheFolder() Error! Not a folder [Folder] %s\n", folder);
        errno = ENOTDIR;
        return FALSE;
    }
    int fd = ::open(fs.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return FALSE;
    bool ok = RemoveEntries(fd, 0);
    if (::rmdir(fs.c_str()) != 0 && errno != ENOENT)
        ok = false;
    ok = ok && ::lstat(fs.c_str(), &st) != 0;
    if (ok)
        ov::ReleaseTempFolderLock(fs);  // a working folder of ours: its lock goes with it
    return ok ? TRUE : FALSE;
}
