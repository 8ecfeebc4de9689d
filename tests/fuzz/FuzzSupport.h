// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared by the fuzz targets: the input as text and split into parts, the check
// that ends a run as a finding, and a scratch file on a memory file system, so
// that a target that must go through a file costs no disk writes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace ovfuzz {

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The parts of text between separators: one more than there are separators.
inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) c == separator ? parts.emplace_back() : parts.back() += c;
    return parts;
}

// A property that does not hold is a finding.
inline void Check(bool holds) {
    if (!holds)
        __builtin_trap();
}

// A private folder made once per process (under /dev/shm when there is one),
// removed when the process exits.
inline const std::string& ScratchDir() {
    // The path is also kept in a plain buffer: the exit handler runs after the
    // string's destructor.
    static char s_path[256];
    static const std::string dir = [] {
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/ovfuzz-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr || tmpl.size() >= sizeof s_path)
            std::abort();
        std::memcpy(s_path, tmpl.c_str(), tmpl.size() + 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(s_path, ec);
        });
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
