// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Trace.h"
#include "image/MuPdf.h"
#include "win32/ShellPath.h"

namespace ov::image {
namespace {

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread for a moment). Read once: nothing in the viewer
// sets it, and reading /proc costs as much as creating the file.
mode_t ReadUmask() {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (f != nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

mode_t CurrentUmask() {
    static const mode_t s_mask = ReadUmask();
    return s_mask;
}

}  // namespace

FileStamp FileStamp::Of(const struct stat& st) {
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
    return s;
}

bool FileStamp::operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
}

bool StampOfPath(const std::string& fsPath, FileStamp* stamp) {
    struct stat st;
    if (::stat(fsPath.c_str(), &st) != 0)
        return false;
    *stamp = FileStamp::Of(st);
    return true;
}

int CheckPath(const char* cp932, const char* what, std::string* fsPath) {
    if (cp932 == nullptr || *cp932 == '\0') {
        OV_TRACE("Path is empty! [%s]\n", what);
        return kErrArgument;
    }
    const std::size_t len = std::strlen(cp932);
    if (len > 259) {
        OV_TRACE("Path is too long! [%s] [Length] %zu\n", what, len);
        return kErrPathTooLong;
    }
    *fsPath = ov::ToFsPath(cp932);
    if (fsPath->empty()) {
        OV_TRACE("Path is not CP932! [%s] [Path] %s\n", what, cp932);
        return kErrArgument;
    }
    return kOk;
}

int CheckSourceAndOutput(const char* source, const char* output, std::string* fsSource,
                         std::string* fsOutput) {
    int r = CheckPath(source, "source", fsSource);
    return r == kOk ? CheckPath(output, "output", fsOutput) : r;
}

TempFile::~TempFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

int TempFile::Create(const std::string& fsTarget, bool keepOpen) {
    std::vector<char> name(fsTarget.begin(), fsTarget.end());
    static const char kSuffix[] = ".XXXXXX";
    name.insert(name.end(), kSuffix, kSuffix + sizeof kSuffix);  // with the NUL
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        OV_TRACE("Temporary file not created! [Path] %s [errno] %d\n", fsTarget.c_str(), errno);
        return kErrWrite;
    }
    // The file gets the mode that a plain create (or the old target) would have.
    struct stat st;
    mode_t mode;
    if (::stat(fsTarget.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode = 0666 & ~CurrentUmask();
    }
    ::fchmod(fd, mode);
    if (keepOpen)
        m_fd = fd;
    else
        ::close(fd);
    m_path = name.data();
    m_target = fsTarget;
    return kOk;
}

int TempFile::Close() {
    if (m_fd < 0)
        return kOk;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        OV_TRACE("close() Error! [Path] %s [errno] %d\n", m_path.c_str(), errno);
        return kErrWrite;
    }
    return kOk;
}

int TempFile::Commit() {
    if (m_path.empty())
        return kErrWrite;
    if (Close() != kOk)
        return kErrWrite;
    if (::rename(m_path.c_str(), m_target.c_str()) != 0) {
        OV_TRACE("rename() Error! [Path] %s [errno] %d\n", m_target.c_str(), errno);
        return kErrWrite;
    }
    m_path.clear();
    return kOk;
}

int WriteReplacing(const std::string& fsTarget, const std::function<int(const std::string& fsTemp)>& write) {
    TempFile tmp;
    int r = tmp.Create(fsTarget);
    if (r == kOk)
        r = write(tmp.Path());
    if (r == kOk)
        r = tmp.Commit();
    return r;
}

bool ReadFull(int fd, void* buf, std::size_t size) {
    auto* p = static_cast<char*>(buf);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFull(int fd, const void* buf, std::size_t size) {
    const auto* p = static_cast<const char*>(buf);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace ov::image
