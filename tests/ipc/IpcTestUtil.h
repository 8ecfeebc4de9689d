// SPDX-License-Identifier: AGPL-3.0-or-later
// Child processes for the inter-process tests; each test gets a fresh runtime
// folder through XDG_RUNTIME_DIR.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ipc/WindowManager.h"
#include "support/EnvGuard.h"
#include "support/TestSupport.h"

namespace ipctest {

// Calls fn every 10 ms until it returns true; false after 30 s.
template <class Fn>
bool PollFor(Fn fn) {
    for (int i = 0; i < 3000; ++i) {
        if (fn())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

using ovtest::BuildProgram;
inline const std::string kHelper = "ormaview-ipc-test-helper";

// A running program; killed (SIGKILL) and reaped on destruction when still running.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execv(argv[0], argv.data());
            std::_Exit(127);
        }
    }
    ~Child() {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL), ::waitpid(m_pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Signal(int sig) {
        if (m_pid > 0)
            ::kill(m_pid, sig);
    }
    // Exit status (128 + signal when killed); -1 when it did not end within 30 s.
    int Wait() {
        int status = 0;
        if (m_pid <= 0 || !PollFor([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }))
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
};

// Waits (at most 30 s) until the file exists and is not empty; returns its text.
inline std::string WaitForFile(const std::string& path) {
    std::string text;
    PollFor([&] { return ovtest::Exists(path) && !(text = ovtest::ReadFile(path)).empty(); });
    return text;
}

class IpcTest : public ::testing::Test {
protected:
    std::string Runtime() const { return m_tmp.Path() + "/ormaview"; }
    ovtest::TempDir m_tmp;
    ovtest::EnvGuard m_xdg{"XDG_RUNTIME_DIR", m_tmp.Path().c_str()};
};

// The test helper serving one window of a class in a mode (see IpcTestHelper.cpp).
struct HelperWindow {
    HelperWindow(const ovtest::TempDir& dir, const std::string& cls, const std::string& mode)
        : out(dir / ("window-" + std::to_string(++s_count))),
          child({BuildProgram(kHelper), "window", cls, out, mode}),
          hwnd(static_cast<HWND>(std::stoul("0" + WaitForFile(out)))) {}
    inline static int s_count = 0;
    std::string out;
    Child child;
    HWND hwnd;
};

}  // namespace ipctest
