// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ipc/FdIo.h"

#include <unistd.h>

#include <cerrno>

namespace ov::ipc {

ssize_t ReadAll(int fd, void* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::read(fd, static_cast<char*>(buf) + done, n - done);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (r == 0) {
            break;
        }
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace ov::ipc
