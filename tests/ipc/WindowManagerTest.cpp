// SPDX-License-Identifier: AGPL-3.0-or-later
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "IpcTestUtil.h"
#include "ipc/WindowManager.h"

namespace {

using ipctest::Child;
using ipctest::IpcTest;
using ipctest::WaitForFile;

std::string Helper() {
    return ipctest::BinDir() + "/ormaview-ipc-test-helper";
}

HWND HandleIn(const std::string& text) {
    return static_cast<HWND>(std::stoul(text.empty() ? "0" : text));
}

// Serves the window on this thread until done is set.
void ServeUntil(HWND hwnd, const std::atomic<bool>& done) {
    while (!done) {
        pollfd p{GetWindowMessageFd(hwnd), POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            DispatchWindowMessages(hwnd);
        }
    }
}

TEST_F(IpcTest, MessageRoundTripWithAnotherProcess) {
    Child peer({Helper(), "window", "TestEchoClass", m_tmp / "out", "echo"});
    HWND hwnd = HandleIn(WaitForFile(m_tmp / "out"));
    ASSERT_NE(hwnd, 0u);

    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), hwnd);
    EXPECT_EQ(FindWindowA("OtherClass", nullptr), 0u);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 5, 20), 45);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, -3000000000LL), -6000000000LL);  // full 64-bit lParam

    EXPECT_EQ(SendMessageA(hwnd, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), 0u);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 5, 20), 0);
    EXPECT_NE(errno, 0);
}

TEST_F(IpcTest, WindowOfAKilledProcessIsIgnoredAndCleanedUp) {
    Child peer({Helper(), "window", "TestEchoClass", m_tmp / "out", "echo"});
    HWND hwnd = HandleIn(WaitForFile(m_tmp / "out"));
    ASSERT_NE(hwnd, 0u);
    peer.Signal(SIGKILL);
    peer.Wait();
    std::string entry = Runtime() + "/windows/" + std::to_string(hwnd) + ".cls.TestEchoClass";
    ASSERT_TRUE(ovtest::Exists(entry));  // nobody removed it

    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), 0u);
    EXPECT_FALSE(ovtest::Exists(entry));
    EXPECT_FALSE(ovtest::Exists(Runtime() + "/windows/" + std::to_string(hwnd) + ".sock"));
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);
    EXPECT_NE(errno, 0);

    // A live window of the class is still found after a stale one.
    Child second({Helper(), "window", "TestEchoClass", m_tmp / "out2", "echo"});
    HWND live = HandleIn(WaitForFile(m_tmp / "out2"));
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), live);
}

TEST_F(IpcTest, PeerThatDiesOrHangsGivesFailureNotAHang) {
    Child dying({Helper(), "window", "TestDyingClass", m_tmp / "dying", "die"});
    Child hung({Helper(), "window", "TestHungClass", m_tmp / "hung", "hang"});
    HWND dyingWnd = HandleIn(WaitForFile(m_tmp / "dying"));
    HWND hungWnd = HandleIn(WaitForFile(m_tmp / "hung"));
    ASSERT_NE(dyingWnd, 0u);
    ASSERT_NE(hungWnd, 0u);

    EXPECT_EQ(SendMessageA(dyingWnd, WM_USER, 1, 1), 0);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_EQ(dying.Wait(), 0);

    SetSendMessageTimeout(200);
    EXPECT_TRUE(IsWindow(hungWnd));  // hung, but alive
    EXPECT_EQ(SendMessageA(hungWnd, WM_USER, 1, 1), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    SetSendMessageTimeout(0);  // back to the default
}

TEST_F(IpcTest, MessagesToWindowsOfThisProcess) {
    std::atomic<bool> done{false};
    std::thread::id handlerThread;
    HWND hwnd = 0;
    hwnd = RegisterWindow("TestLocalClass", [&](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        handlerThread = std::this_thread::get_id();
        EXPECT_EQ(h, hwnd);
        if (msg == WM_CLOSE) {
            UnregisterWindow(h);  // a window that goes away inside its own handler
            return 99;
        }
        return static_cast<LRESULT>(w) + l;
    });
    ASSERT_NE(hwnd, 0u);
    EXPECT_GE(GetWindowMessageFd(hwnd), 0);
    EXPECT_EQ(FindWindowA("TestLocalClass", nullptr), hwnd);

    // Same thread: the handler runs directly.
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 2, 3), 5);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());

    // Another thread: through the socket, answered by this thread's dispatch.
    LRESULT fromThread = 0;
    LRESULT closeResult = 0;
    std::thread sender([&] {
        fromThread = SendMessageA(hwnd, WM_USER, 10, 20);
        closeResult = SendMessageA(hwnd, WM_CLOSE, 0, 0);
        done = true;
    });
    ServeUntil(hwnd, done);
    sender.join();
    EXPECT_EQ(fromThread, 30);
    EXPECT_EQ(closeResult, 99);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(GetWindowMessageFd(hwnd), -1);
    DispatchWindowMessages(hwnd);  // unknown handle: nothing happens

    EXPECT_EQ(RegisterWindow("", nullptr), 0u);
    EXPECT_EQ(SendMessageA(0, WM_USER, 0, 0), 0);
    EXPECT_FALSE(IsWindow(0));
}

// The other process's handler sends back to this process while this process
// waits for its answer: the waiting sender serves its own window meanwhile.
TEST_F(IpcTest, HandlerThatSendsBackToTheWaitingSender) {
    int served = 0;
    HWND mine = RegisterWindow("TestBackClass", [&](HWND, UINT, WPARAM w, LPARAM l) -> LRESULT {
        ++served;
        return static_cast<LRESULT>(w) * 100 + l;
    });
    ASSERT_NE(mine, 0u);
    Child relay({Helper(), "window", "TestRelayClass", m_tmp / "out", "relay=TestBackClass"});
    HWND relayWnd = HandleIn(WaitForFile(m_tmp / "out"));
    ASSERT_NE(relayWnd, 0u);

    EXPECT_EQ(SendMessageA(relayWnd, WM_USER, 3, 4), 305);
    EXPECT_EQ(served, 1);
    SendMessageA(relayWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(relay.Wait(), 0);
    UnregisterWindow(mine);
}

}  // namespace
