// SPDX-License-Identifier: AGPL-3.0-or-later
// A second process for the inter-process tests.
//   mutex NAME OUT GO      when the file GO exists, create the mutex, write "held",
//                          "exists" or "null" to OUT, then wait to be killed
//   window CLASS OUT MODE  register a window, write its handle to OUT and serve it:
//                          echo (answer lParam * 2 + wParam), hang (never serve),
//                          die (end without answering), relay=CLASS2 (pass the
//                          message to the first window of CLASS2, answer + 1);
//                          a WM_CLOSE ends it
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ipc/NamedMutex.h"
#include "ipc/WindowManager.h"
#include "win32/AtomicFile.h"

namespace {

int MutexMode(const char* name, const char* out, const char* go) {
    while (::access(go, F_OK) != 0) ::usleep(500);
    HANDLE h = CreateMutexA(nullptr, FALSE, name);
    bool exists = GetLastError() == static_cast<int>(ERROR_ALREADY_EXISTS);
    ov::ReplaceFileContents(out, h == nullptr ? "null" : exists ? "exists" : "held");
    for (;;) ::pause();
}

int WindowMode(const char* className, const char* out, const std::string& mode) {
    bool closed = false;
    HWND hwnd = RegisterWindow(className, [&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_CLOSE)
            return closed = true, 0;
        if (mode == "die")
            std::_Exit(0);
        if (mode.rfind("relay=", 0) == 0)
            return SendMessageA(FindWindowA(mode.c_str() + 6, nullptr), msg, wParam, lParam) + 1;
        return lParam * 2 + static_cast<LRESULT>(wParam);
    });
    if (hwnd == 0 || !ov::ReplaceFileContents(out, std::to_string(hwnd)))
        return 1;
    while (mode == "hang") ::pause();
    while (!closed) {
        pollfd p{GetWindowMessageFd(hwnd), POLLIN, 0};
        if (::poll(&p, 1, -1) > 0)
            DispatchWindowMessages(hwnd);
    }
    UnregisterWindow(hwnd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "mutex") == 0)
        return MutexMode(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "window") == 0)
        return WindowMode(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "ormaview-ipc-test-helper: bad arguments\n");
    return 2;
}
