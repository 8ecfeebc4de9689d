// SPDX-License-Identifier: AGPL-3.0-or-later
// Child processes for the inter-process tests; each test gets a fresh runtime
// folder through XDG_RUNTIME_DIR.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ipc/WindowManager.h"
#include "support/EnvGuard.h"
#include "support/TestSupport.h"

namespace ipctest {

using ovtest::BuildProgram;
using ovtest::Child;
using ovtest::WaitForFile;
inline const std::string kHelper = "ormaview-ipc-test-helper";

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
