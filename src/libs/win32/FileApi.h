// SPDX-License-Identifier: AGPL-3.0-or-later
// Files and folders on CP932 paths. Failures return FALSE with errno set
// (GetLastError()).
#pragma once

#include "base/WinTypes.h"

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;

// Fails (EEXIST) when the folder already exists.
BOOL CreateDirectoryA(const char* path, void* securityAttributes);
BOOL DeleteFileA(const char* path);
// With MOVEFILE_REPLACE_EXISTING an existing target is replaced.
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
// Sleeps for ms milliseconds.
void Sleep(DWORD ms);
