// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-workdesk [--log FILE] [--ready-file FILE]
//
// Stands in for the work desk: registers a window of class
// "ZantexQuilmLibraryPerWorkDeskWndClass", writes one line
// "WM_VIEWER_CLOSED wParam=<w> lParam=<l>" for every viewer-closed notification
// (to FILE, appended, or standard output), answers every message with 0 and
// runs until SIGTERM, SIGINT or a WM_CLOSE message.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "ipc/WindowManager.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] ssize_t r = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

int Usage() {
    std::fprintf(stderr, "usage: ormaview-workdesk [--log FILE] [--ready-file FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string logPath;
    std::string readyPath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--log" || arg == "--ready-file") && i + 1 < argc) {
            (arg == "--log" ? logPath : readyPath) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else {
            return Usage();
        }
    }

    FILE* log = stdout;
    if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "a");
        if (log == nullptr) {
            std::fprintf(stderr, "ormaview-workdesk: cannot open %s: %s\n", logPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("ormaview-workdesk: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    bool closeRequested = false;
    HWND hwnd = RegisterWindow(
        "ZantexQuilmLibraryPerWorkDeskWndClass",
        [&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_VIEWER_CLOSED) {
                std::fprintf(log, "WM_VIEWER_CLOSED wParam=%" PRIu64 " lParam=%" PRId64 "\n",
                             static_cast<std::uint64_t>(wParam), static_cast<std::int64_t>(lParam));
                std::fflush(log);
            } else if (msg == WM_CLOSE) {
                closeRequested = true;
            }
            return 0;
        });
    if (hwnd == 0) {
        std::fprintf(stderr, "ormaview-workdesk: cannot register the window: %s\n", std::strerror(errno));
        return 1;
    }
    if (!readyPath.empty()) {
        FILE* ready = std::fopen(readyPath.c_str(), "w");
        if (ready != nullptr) {
            std::fprintf(ready, "%u\n", hwnd);
            std::fclose(ready);
        }
    }

    int fd = GetWindowMessageFd(hwnd);
    bool stop = false;
    while (!stop && !closeRequested) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
        if (rc < 0 && errno != EINTR) {
            break;
        }
        if (rc > 0 && fds[0].revents != 0) {
            DispatchWindowMessages(hwnd);
        }
        if (rc > 0 && fds[1].revents != 0) {
            stop = true;
        }
    }
    UnregisterWindow(hwnd);
    if (log != stdout) {
        std::fclose(log);
    }
    return 0;
}
