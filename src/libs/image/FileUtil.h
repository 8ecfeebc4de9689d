// SPDX-License-Identifier: AGPL-3.0-or-later
// Path checks and the write-to-temporary-then-rename rule of the image libraries.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>

namespace ov::image {

// What tells one version of a file from another: device, inode, size and the
// modification and change times. A file written to a temporary name and renamed
// into place always has a new inode.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};
    static FileStamp Of(const struct stat& st);
    bool operator==(const FileStamp& o) const;
};
// The stamp of the file at fsPath; false when it cannot be examined.
bool StampOfPath(const std::string& fsPath, FileStamp* stamp);

// Checks a CP932 path from a caller (not null, not empty, at most 259 bytes) and
// converts it to the file system's form. 0 or a negative code with a trace line
// naming what (e.g. "source").
int CheckPath(const char* cp932, const char* what, std::string* fsPath);
// CheckPath of a source ("source") and an output ("output") path.
int CheckSourceAndOutput(const char* source, const char* output, std::string* fsSource,
                         std::string* fsOutput);

// Reads or writes exactly size bytes, retrying short and interrupted calls;
// false on an error or (reading) an early end of file.
bool ReadFull(int fd, void* buf, std::size_t size);
bool WriteFull(int fd, const void* buf, std::size_t size);

// A temporary file in the folder of a target, removed on destruction unless
// committed.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    // Creates an empty, unique file beside target; with keepOpen its descriptor
    // stays open for writing (Fd()). 0 or a negative code.
    int Create(const std::string& fsTarget, bool keepOpen = false);
    const std::string& Path() const { return m_path; }
    int Fd() const { return m_fd; }
    // Closes the descriptor before the commit (a failed close is a failed
    // write), so that the whole file can be read first. 0 or a negative code.
    int Close();
    // Closes the descriptor (a failed close is a failed write) and renames the
    // temporary file over the target. 0 or a negative code.
    int Commit();

private:
    std::string m_path;
    std::string m_target;
    int m_fd = -1;
};

// Writes target through a temporary file beside it: write(temporary path), then
// the rename. 0 or the first negative code; nothing is left behind on failure.
int WriteReplacing(const std::string& fsTarget, const std::function<int(const std::string& fsTemp)>& write);

}  // namespace ov::image
