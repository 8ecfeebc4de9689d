// SPDX-License-Identifier: AGPL-3.0-or-later
#include "win32/ShellPath.h"

#include <sys/stat.h>

#include <cstring>

#include "win32/CodePage.h"

BOOL PathFileExistsA(const char* path) {
    if (path == nullptr || *path == '\0')
        return FALSE;
    std::string fs = ov::ToFsPath(path);
    if (fs.empty())
        return FALSE;
    struct stat st {};
    return ::stat(fs.c_str(), &st) == 0 ? TRUE : FALSE;
}

void PathAddBackslash(std::string& path) {
    // '/' is never the trail byte of a CP932 character, so a byte test is enough.
    if (!path.empty() && path.back() != kPathSep)
        path += kPathSep;
}

const char* PathFindFileNameA(const char* path) {
    if (path == nullptr)
        return nullptr;
    const char* slash = std::strrchr(path, kPathSep);
    return slash != nullptr ? slash + 1 : path;
}

void PathRemoveExtension(std::string& path) {
    std::string::size_type start = path.rfind(kPathSep);
    start = start == std::string::npos ? 0 : start + 1;
    // '.' is never a CP932 trail byte either.
    std::string::size_type dot = path.rfind('.');
    if (dot != std::string::npos && dot >= start)
        path.erase(dot);
}

namespace ov {

std::string JoinPath(const std::string& folder, const std::string& name) {
    std::string out = folder;
    if (out.empty() || out.back() != kPathSep)
        out += kPathSep;
    out += name;
    return out;
}

std::string ToFsPath(const std::string& cp932Path) {
    auto utf8 = Cp932ToUtf8(cp932Path);
    return utf8 ? *utf8 : std::string();
}

std::string FromFsPath(const std::string& fsPath) {
    auto cp932 = Utf8ToCp932(fsPath);
    return cp932 ? *cp932 : std::string();
}

}  // namespace ov
