// SPDX-License-Identifier: AGPL-3.0-or-later
// Child processes for the inter-process tests: the peers and the test helper,
// run with a private runtime folder.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace ipctest {

// The folder of the programs: $ORMAVIEW_TEST_BIN_DIR/bin, else this test's own folder.
std::string BinDir();

// A running program; killed (SIGKILL) and reaped on destruction when still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t Pid() const { return m_pid; }
    void Signal(int sig);
    // Exit status (128 + signal when killed); -1 when it did not end within 30 s.
    int Wait();

private:
    pid_t m_pid = -1;
};

// Waits (at most 30 s) until the file exists and is not empty; returns its text.
std::string WaitForFile(const std::string& path);

// Each test gets a fresh runtime folder through XDG_RUNTIME_DIR.
class IpcTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Runtime() const { return m_tmp.Path() + "/ormaview"; }
    ovtest::TempDir m_tmp;

private:
    std::string m_oldXdg;
    bool m_hadXdg = false;
};

}  // namespace ipctest
