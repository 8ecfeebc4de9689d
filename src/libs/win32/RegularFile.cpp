// SPDX-License-Identifier: AGPL-3.0-or-later
#include "win32/RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/Trace.h"

namespace ov {

int OpenRegularFile(const std::string& fsPath, std::size_t maxBytes, struct stat* st, bool followLinks) {
    // O_NONBLOCK: opening a FIFO without a writer would wait for one; a device
    // may wait for its line. O_NOCTTY: a terminal never becomes ours.
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (!followLinks)
        flags |= O_NOFOLLOW;
    int fd = ::open(fsPath.c_str(), flags);
    if (fd < 0) {
        const int e = errno;
        if (e == ELOOP && !followLinks)
            OV_TRACE("OpenRegularFile() Error! A link is not read [Path] %s\n", fsPath.c_str());
        else if (e == EISDIR)
            OV_TRACE("OpenRegularFile() Error! Not a regular file [Path] %s\n", fsPath.c_str());
        errno = e;
        return -1;
    }
    if (::fstat(fd, st) != 0) {
        const int e = errno;
        ::close(fd);
        OV_TRACE("OpenRegularFile() Error! fstat [Path] %s [errno] %d\n", fsPath.c_str(), e);
        errno = e;
        return -1;
    }
    int e = 0;
    if (!S_ISREG(st->st_mode)) {
        OV_TRACE("OpenRegularFile() Error! Not a regular file [Path] %s [Mode] %o\n", fsPath.c_str(),
                 static_cast<unsigned>(st->st_mode & S_IFMT));
        e = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    } else if (st->st_size < 0 || static_cast<unsigned long long>(st->st_size) > maxBytes) {
        OV_TRACE("OpenRegularFile() Error! File too large [Path] %s [Size] %lld [Limit] %llu\n",
                 fsPath.c_str(), static_cast<long long>(st->st_size),
                 static_cast<unsigned long long>(maxBytes));
        e = EFBIG;
    }
    if (e != 0) {
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int ReadRegularFile(const std::string& fsPath, std::size_t maxBytes, std::string* bytes, bool followLinks) {
    bytes->clear();
    struct stat st {};
    int fd = OpenRegularFile(fsPath, maxBytes, &st, followLinks);
    if (fd < 0)
        return errno;
    bytes->reserve(static_cast<std::size_t>(st.st_size));
    char buf[64 * 1024];
    int e = 0;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            e = errno;
            break;
        }
        if (n == 0)
            break;
        if (bytes->size() + static_cast<std::size_t>(n) > maxBytes) {
            OV_TRACE("ReadRegularFile() Error! File grew too large [Path] %s [Limit] %llu\n", fsPath.c_str(),
                     static_cast<unsigned long long>(maxBytes));
            e = EFBIG;
            break;
        }
        bytes->append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (e != 0)
        bytes->clear();
    return e;
}

}  // namespace ov
