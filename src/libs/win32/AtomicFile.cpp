// SPDX-License-Identifier: AGPL-3.0-or-later
#include "win32/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace ov {

namespace {
std::atomic<unsigned> g_tempCounter{0};
}  // namespace

bool ReplaceFileContents(const std::string& fsPath, std::string_view bytes) {
    std::string target = fsPath;
    struct stat st {};
    bool existed = false;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // Write through a link to its file rather than replacing the link.
            if (char* real = ::realpath(target.c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
        existed = ::stat(target.c_str(), &st) == 0;
        if (existed && !S_ISREG(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
    }
    std::string::size_type slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = folder + "/." + base + ".tmp" + std::to_string(::getpid()) + "-" +
              std::to_string(g_tempCounter.fetch_add(1));
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = true;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok && existed) {
        // Keep the owner and the permissions of the file being replaced.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not permitted for an ordinary user on another's file; the mode still holds.
        }
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    }
    if (ok)
        ok = ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace ov
