// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ipc/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "ipc/RuntimeDir.h"

// A handle either holds the lock of its name (fd open, flock held) or stands for
// a name that another handle holds (fd -1). Lock files are never removed: an
// unlink would let two processes lock two different files of the same name.
struct NamedMutexHandle {
    int fd = -1;
};

HANDLE CreateMutexA(void* /*securityAttributes*/, BOOL /*initialOwner*/, const char* name) {
    if (name == nullptr || *name == '\0') {
        // Unnamed mutexes have no meaning between processes here.
        errno = EINVAL;
        return nullptr;
    }
    std::string dir = ov::ipc::RuntimeDir();
    if (dir.empty()) {
        return nullptr;
    }
    std::string path = dir + "/mutex-" + ov::ipc::FileNameEscape(name) + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return nullptr;
    }
    auto* handle = new (std::nothrow) NamedMutexHandle;
    if (handle == nullptr) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        handle->fd = fd;
        errno = 0;
        return handle;
    }
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
        errno = static_cast<int>(ERROR_ALREADY_EXISTS);
        return handle;
    }
    delete handle;
    errno = err;
    return nullptr;
}

// The name stays in existence while the handle is open (it was created without
// initial ownership, so there is no ownership to give back); succeeds only for
// a handle that holds its name.
BOOL ReleaseMutex(HANDLE h) {
    if (h == nullptr || h->fd < 0) {
        errno = EPERM;
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE h) {
    if (h == nullptr) {
        errno = EBADF;
        return FALSE;
    }
    if (h->fd >= 0) {
        ::close(h->fd);
    }
    delete h;
    return TRUE;
}
