// SPDX-License-Identifier: AGPL-3.0-or-later
// Small stand-ins for the Windows scalar types and constants that the viewer's
// interfaces are written in. No Qt, no Windows headers.
#pragma once

#include <cerrno>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
// Window handles are 32-bit everywhere, as the shared postcard record stores them.
using HWND = std::uint32_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Paths and text buffers handed between the layers hold this many bytes (259 + NUL).
constexpr int MAX_PATH = 260;

constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;
// Told to the work desk when the viewer closes.
constexpr UINT WM_VIEWER_CLOSED = WM_USER + 384;  // 0x580

constexpr DWORD ERROR_ALREADY_EXISTS = 183;

// The platform's "last error" is errno here.
inline int GetLastError() {
    return errno;
}
inline void SetLastError(int e) {
    errno = e;
}

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};
