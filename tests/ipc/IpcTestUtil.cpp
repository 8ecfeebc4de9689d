// SPDX-License-Identifier: AGPL-3.0-or-later
#include "IpcTestUtil.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace ipctest {

std::string BinDir() {
    const char* env = std::getenv("ORMAVIEW_TEST_BIN_DIR");
    if (env != nullptr && *env != '\0') {
        return std::string(env) + "/bin";
    }
    char self[PATH_MAX] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/'));
}

Child::Child(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
}

Child::~Child() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void Child::Signal(int sig) {
    if (m_pid > 0) {
        ::kill(m_pid, sig);
    }
}

int Child::Wait() {
    if (m_pid <= 0) {
        return -1;
    }
    for (int i = 0; i < 3000; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 3000; ++i) {
        if (ovtest::Exists(path)) {
            std::string text = ovtest::ReadFile(path);
            if (!text.empty()) {
                return text;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

void IpcTest::SetUp() {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    m_hadXdg = old != nullptr;
    m_oldXdg = old != nullptr ? old : "";
    ::setenv("XDG_RUNTIME_DIR", m_tmp.Path().c_str(), 1);
}

void IpcTest::TearDown() {
    if (m_hadXdg) {
        ::setenv("XDG_RUNTIME_DIR", m_oldXdg.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace ipctest
