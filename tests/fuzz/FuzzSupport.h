// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared by the fuzz targets: a scratch file on a memory file system, so that a
// target that must go through a file costs no disk writes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace ovfuzz {

// A private folder made once per process (under /dev/shm when there is one).
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/ovfuzz-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr)
            std::abort();
        return tmpl;
    }();
    return dir;
}

inline void WriteAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            std::abort();
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace ovfuzz
