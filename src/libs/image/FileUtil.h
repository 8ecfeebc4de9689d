// SPDX-License-Identifier: AGPL-3.0-or-later
// Path checks and the write-to-temporary-then-rename rule of the image libraries.
#pragma once

#include <string>

namespace ov::image {

// Checks a CP932 path from a caller (not null, not empty, at most 259 bytes) and
// converts it to the file system's form. 0 or a negative code with a trace line
// naming what (e.g. "source").
int CheckPath(const char* cp932, const char* what, std::string* fsPath);

// A temporary file in the folder of a target, removed on destruction unless
// committed.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    // Creates an empty, unique file beside target. 0 or a negative code.
    int Create(const std::string& fsTarget);
    const std::string& Path() const { return m_path; }
    // Renames the temporary file over the target. 0 or a negative code.
    int Commit();

private:
    std::string m_path;
    std::string m_target;
};

}  // namespace ov::image
