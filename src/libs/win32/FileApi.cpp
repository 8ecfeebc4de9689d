// SPDX-License-Identifier: AGPL-3.0-or-later
#include "win32/FileApi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "win32/ShellPath.h"

namespace {

// Converts a CP932 path; sets EINVAL and returns false when it cannot.
bool FsPath(const char* path, std::string* out) {
    if (path == nullptr || *path == '\0') {
        errno = EINVAL;
        return false;
    }
    *out = ov::ToFsPath(path);
    if (out->empty()) {
        errno = EILSEQ;
        return false;
    }
    return true;
}

bool CopyBytes(int in, int out) {
    char buf[64 * 1024];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        const char* p = buf;
        while (n > 0) {
            ssize_t w = ::write(out, p, static_cast<std::size_t>(n));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            n -= w;
        }
    }
}

// Moves a regular file across file systems: copy into a temporary file in the
// target's folder, then rename (or link, without replace) it onto the target,
// and only then remove the source. The target is never seen half-written.
bool MoveAcross(const std::string& from, const std::string& to, bool replace) {
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EXDEV;
        return false;
    }
    std::string::size_type slash = to.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : to.substr(0, slash));
    std::string tmp = folder + "/.ov-move-XXXXXX";
    int out = ::mkstemp(tmp.data());
    if (out < 0)
        return false;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = in >= 0 && CopyBytes(in, out) && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
    int saved = errno;
    if (in >= 0)
        ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        if (replace) {
            ok = ::rename(tmp.c_str(), to.c_str()) == 0;
        } else {
            ok = ::link(tmp.c_str(), to.c_str()) == 0;
        }
        saved = errno;
    }
    if (!ok || !replace)
        ::unlink(tmp.c_str());
    if (!ok) {
        errno = saved;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

BOOL CreateDirectoryA(const char* path, void* securityAttributes) {
    (void)securityAttributes;
    std::string fs;
    if (!FsPath(path, &fs))
        return FALSE;
    return ::mkdir(fs.c_str(), 0777) == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(const char* path) {
    std::string fs;
    if (!FsPath(path, &fs))
        return FALSE;
    return ::unlink(fs.c_str()) == 0 ? TRUE : FALSE;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
    std::string src, dst;
    if (!FsPath(from, &src) || !FsPath(to, &dst))
        return FALSE;
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    if (replace) {
        if (::rename(src.c_str(), dst.c_str()) == 0)
            return TRUE;
    } else {
        // link() refuses an existing target without a window for a race.
        struct stat st {};
        if (::lstat(src.c_str(), &st) != 0)
            return FALSE;
        if (S_ISREG(st.st_mode)) {
            if (::link(src.c_str(), dst.c_str()) == 0) {
                ::unlink(src.c_str());
                return TRUE;
            }
            if (errno != EXDEV && errno != EPERM && errno != ENOTSUP)
                return FALSE;
        }
        if (errno != EXDEV) {
            if (::lstat(dst.c_str(), &st) == 0) {
                errno = EEXIST;
                return FALSE;
            }
            if (::rename(src.c_str(), dst.c_str()) == 0)
                return TRUE;
        }
    }
    if (errno != EXDEV)
        return FALSE;
    return MoveAcross(src, dst, replace) ? TRUE : FALSE;
}

void Sleep(DWORD ms) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
