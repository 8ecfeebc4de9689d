// SPDX-License-Identifier: AGPL-3.0-or-later
// A second process for the inter-process tests.
//   mutex NAME OUT GO        wait for the file GO, create the mutex, write "held",
//                            "exists" or "null" to OUT, then wait to be killed
//   window CLASS OUT MODE    register a window, write its handle to OUT, serve:
//                            echo (answer lParam * 2 + wParam), hang (never serve),
//                            die (end without answering), relay=CLASS2 (pass the
//                            message on to the first window of CLASS2, answer + 1);
//                            a WM_CLOSE ends it
//   /h KEY                   act as the viewer in postcard mode: read the block,
//                            report it, send a next and a close event, end with 42
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ipc/NamedMutex.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"

namespace {

void WriteAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (f == nullptr) {
        std::_Exit(10);
    }
    std::fputs(text.c_str(), f);
    std::fclose(f);
    std::rename(temp.c_str(), path.c_str());
}

int MutexMode(const char* name, const std::string& out, const char* go) {
    while (::access(go, F_OK) != 0) {
        ::usleep(500);
    }
    HANDLE h = CreateMutexA(nullptr, FALSE, name);
    int err = GetLastError();
    WriteAtomically(out, h == nullptr                                    ? "null"
                         : err == static_cast<int>(ERROR_ALREADY_EXISTS) ? "exists"
                                                                         : "held");
    for (;;) {
        ::pause();
    }
}

int WindowMode(const char* className, const std::string& out, const std::string& mode) {
    bool closed = false;
    HWND hwnd = RegisterWindow(className, [&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_CLOSE) {
            closed = true;
            return 0;
        }
        if (mode == "die") {
            std::_Exit(0);
        }
        if (mode.rfind("relay=", 0) == 0) {
            HWND target = FindWindowA(mode.c_str() + 6, nullptr);
            return SendMessageA(target, msg, wParam, lParam) + 1;
        }
        return lParam * 2 + static_cast<LRESULT>(wParam);
    });
    if (hwnd == 0) {
        return 1;
    }
    WriteAtomically(out, std::to_string(hwnd));
    if (mode == "hang") {
        for (;;) {
            ::pause();
        }
    }
    while (!closed) {
        pollfd p{GetWindowMessageFd(hwnd), POLLIN, 0};
        if (::poll(&p, 1, -1) > 0) {
            DispatchWindowMessages(hwnd);
        }
    }
    UnregisterWindow(hwnd);
    return 0;
}

int ViewerMode(int key) {
    const char* out = std::getenv("IPC_HELPER_OUT");
    HAGAKI_MANAGE_INFO b;
    if (out == nullptr || OrmaViewGetHagakiManage(key, &b) != 0) {
        return 1;
    }
    char line[512];
    std::string report;
    std::snprintf(line, sizeof line, "start folder=%s doc=%d page=%d next=%d prev=%d\n", b.szWorkDeskFolder,
                  b.iDocID, b.iPageID, b.bNextPage, b.bPrevPage);
    report += line;
    b.iChange = 2;
    b.iResult = 0;
    OrmaViewSetHagakiManage(key, &b);
    LRESULT r = SendMessageA(b.hViewerWnd, b.uEventMessage, 0, HAGAKI_EVENT_NEXT);
    OrmaViewGetHagakiManage(key, &b);
    std::snprintf(line, sizeof line, "next answer=%lld result=%d doc=%d page=%d next=%d prev=%d\n",
                  static_cast<long long>(r), b.iResult, b.iDocID, b.iPageID, b.bNextPage, b.bPrevPage);
    report += line;
    SendMessageA(b.hViewerWnd, b.uEventMessage, 0, HAGAKI_EVENT_CLOSE);
    WriteAtomically(out, report);
    return 42;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "mutex") == 0) {
        return MutexMode(argv[2], argv[3], argv[4]);
    }
    if (argc == 5 && std::strcmp(argv[1], "window") == 0) {
        return WindowMode(argv[2], argv[3], argv[4]);
    }
    if (argc == 3 && std::strcmp(argv[1], "/h") == 0) {
        return ViewerMode(std::atoi(argv[2]));
    }
    std::fprintf(stderr, "ormaview-ipc-test-helper: bad arguments\n");
    return 2;
}
