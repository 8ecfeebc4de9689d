// SPDX-License-Identifier: AGPL-3.0-or-later
// Shell path helpers on CP932 paths. The separator ("backslash") is '/'.
#pragma once

#include <string>

#include "base/WinTypes.h"

constexpr char kPathSep = '/';

// True when a file or folder exists at the path.
BOOL PathFileExistsA(const char* path);
// Adds a separator when the text does not end in one (an empty text stays empty).
void PathAddBackslash(std::string& path);
// The part after the last separator (the whole text when there is none).
const char* PathFindFileNameA(const char* path);
// Removes the extension (the last dot of the file name and what follows).
void PathRemoveExtension(std::string& path);

namespace ov {
// folder + separator-if-missing + name.
std::string JoinPath(const std::string& folder, const std::string& name);
// CP932 path -> file-system (UTF-8) path; empty on a conversion failure.
std::string ToFsPath(const std::string& cp932Path);
// File-system path -> CP932; empty on failure.
std::string FromFsPath(const std::string& fsPath);
}  // namespace ov
