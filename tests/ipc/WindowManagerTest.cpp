// SPDX-License-Identifier: AGPL-3.0-or-later
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "IpcTestUtil.h"

namespace {

using namespace ipctest;

// Discovery finds the newest live window of a class; a window whose socket has
// vanished is dead (killed owners: EntriesOfKilledOwnersAreSweptAtRegistration).
TEST_F(IpcTest, FindsTheNewestLiveWindowOfAClass) {
    HelperWindow a(m_tmp, "TestEchoClass", "echo"), b(m_tmp, "TestEchoClass", "echo");
    const std::string windows = Runtime() + "/windows/";
    auto entry = [&](HWND h) { return windows + std::to_string(h) + ".cls.TestEchoClass"; };
    auto registeredAt = [&](HWND h, time_t seconds) {
        const timespec t[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, entry(h).c_str(), t, AT_SYMLINK_NOFOLLOW));
    };
    registeredAt(a.hwnd, 2000000000);
    registeredAt(b.hwnd, 1900000000);
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), a.hwnd);
    registeredAt(b.hwnd, 2100000000);
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), b.hwnd);
    EXPECT_EQ(SendMessageA(b.hwnd, WM_USER, 5, 20), 45);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(SendMessageA(b.hwnd, WM_USER, 0, -3000000000LL), -6000000000LL);  // full 64-bit lParam

    ASSERT_EQ(0, ::unlink((windows + std::to_string(b.hwnd) + ".sock").c_str()));
    EXPECT_FALSE(IsWindow(b.hwnd));
    EXPECT_EQ(FindWindowA("TestEchoClass", nullptr), a.hwnd);
}

TEST_F(IpcTest, PeerThatDiesOrHangsGivesFailureNotAHang) {
    HelperWindow dying(m_tmp, "TestDyingClass", "die"), hung(m_tmp, "TestHungClass", "hang");
    ASSERT_NE(dying.hwnd, 0u);
    ASSERT_NE(hung.hwnd, 0u);
    EXPECT_EQ(SendMessageA(dying.hwnd, WM_USER, 1, 1), 0);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_EQ(dying.child.Wait(), 0);

    SetSendMessageTimeout(200);
    EXPECT_TRUE(IsWindow(hung.hwnd));  // hung, but alive
    EXPECT_EQ(SendMessageA(hung.hwnd, WM_USER, 1, 1), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    SetSendMessageTimeout(0);  // back to the default
}

TEST_F(IpcTest, WindowOfThisProcessServedDirectlyThroughItsFdAndWhileSending) {
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
    EXPECT_EQ(FindWindowA("TestLocalClass", nullptr), hwnd);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 2, 3), 5);  // same thread: the handler runs directly
    EXPECT_EQ(handlerThread, std::this_thread::get_id());

    // The other process's handler sends back to this process while this process
    // waits for its answer: the waiting sender serves its own window meanwhile.
    HelperWindow relay(m_tmp, "TestRelayClass", "relay=TestLocalClass");
    handlerThread = {};
    EXPECT_EQ(SendMessageA(relay.hwnd, WM_USER, 3, 4), 8);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    SendMessageA(relay.hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(relay.child.Wait(), 0);

    EXPECT_EQ(SendMessageA(hwnd, WM_CLOSE, 0, 0), 99);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(GetWindowMessageFd(hwnd), -1);
}

}  // namespace

namespace {

struct WireRequest {
    std::uint32_t magic, msg;
    std::uint64_t w;
    std::int64_t l;
};

// True when the peer has closed fd (end of file, nothing to read before it).
bool ClosedByPeer(int fd) {
    char c;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

// A connection to a window's socket that never writes anything.
int IdleConnection(const std::string& sockPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sockPath.c_str());
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    return fd;
}

}  // namespace

// Connections that say nothing (or only part of a request) must not hold the
// window's thread: a real message arriving behind ten of them is answered at
// once, not after each idle one has timed out.
TEST_F(IpcTest, IdleConnectionsCostTheReceiverNothing) {
    HWND hwnd = RegisterWindow("TestIdleClass", [](HWND, UINT, WPARAM w, LPARAM l) -> LRESULT {
        return static_cast<LRESULT>(w) * l;
    });
    ASSERT_NE(hwnd, 0u);
    const std::string sock = Runtime() + "/windows/" + std::to_string(hwnd) + ".sock";
    std::vector<int> idle;
    for (int i = 0; i < 10; ++i) idle.push_back(IdleConnection(sock));
    // One sender that writes half of its request and then the rest, later.
    const int slow = IdleConnection(sock);
    const WireRequest req{0x4f564d31, WM_USER, 6, 7};
    ASSERT_EQ(8, ::send(slow, &req, 8, 0));

    // A whole message behind them, with a sender that gives up after 1.5 s: a
    // receiver that waited even briefly for each idle connection would not answer.
    SetSendMessageTimeout(1500);
    std::atomic<bool> done{false};
    LRESULT result = 0;
    int err = -1;
    std::thread sender([&] {
        result = SendMessageA(hwnd, WM_USER, 3, 4);
        err = errno;
        done = true;
    });
    int dispatches = 0;
    while (!done) {
        pollfd p{GetWindowMessageFd(hwnd), POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            DispatchWindowMessages(hwnd);
            ++dispatches;
        }
    }
    sender.join();
    SetSendMessageTimeout(0);
    EXPECT_EQ(result, 12);
    EXPECT_EQ(err, 0);

    // The rest of the slow request arrives: it is answered as well.
    ASSERT_EQ(static_cast<ssize_t>(sizeof req - 8),
              ::send(slow, reinterpret_cast<const char*>(&req) + 8, sizeof req - 8, 0));
    struct {
        std::uint32_t magic, reserved;
        std::int64_t result;
    } ans{};
    pollfd p{GetWindowMessageFd(hwnd), POLLIN, 0};
    ASSERT_EQ(1, ::poll(&p, 1, 5000));
    DispatchWindowMessages(hwnd);
    ASSERT_EQ(static_cast<ssize_t>(sizeof ans), ::recv(slow, &ans, sizeof ans, 0));
    EXPECT_EQ(ans.result, 42);
    ::close(slow);
    for (int fd : idle) ::close(fd);
    UnregisterWindow(hwnd);
}

// A request with a wrong magic is closed unanswered, its handler never run; one
// left half-sent is closed by the first dispatch after its deadline (2 s).
TEST_F(IpcTest, BadAndUnfinishedRequestsAreClosedUnanswered) {
    int calls = 0;
    HWND hwnd =
        RegisterWindow("TestBadClass", [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++calls; });
    const std::string sock = Runtime() + "/windows/" + std::to_string(hwnd) + ".sock";
    const int wrong = IdleConnection(sock), half = IdleConnection(sock);
    const WireRequest bad{0x4f564d32, WM_USER, 1, 2}, good{0x4f564d31, WM_USER, 1, 2};
    ASSERT_EQ(static_cast<ssize_t>(sizeof bad), ::send(wrong, &bad, sizeof bad, 0));
    ASSERT_EQ(8, ::send(half, &good, 8, 0));
    DispatchWindowMessages(hwnd);
    EXPECT_TRUE(ClosedByPeer(wrong));
    EXPECT_FALSE(ClosedByPeer(half));  // within its time
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    DispatchWindowMessages(hwnd);
    EXPECT_TRUE(ClosedByPeer(half));
    EXPECT_EQ(calls, 0);
    ::close(wrong);
    ::close(half);
    UnregisterWindow(hwnd);
}

// Windows of killed processes leave their entries; the next registration sweeps
// them all, of every class, and keeps the live ones.
TEST_F(IpcTest, EntriesOfKilledOwnersAreSweptAtRegistration) {
    HelperWindow live(m_tmp, "TestLiveClass", "echo");
    std::vector<HWND> killed;
    for (int i = 0; i < 4; ++i) {
        HelperWindow dead(m_tmp, i % 2 ? "TestDeadA" : "TestDeadB", "echo");
        killed.push_back(dead.hwnd);
        dead.child.Signal(SIGKILL);
        dead.child.Wait();
    }
    const std::string windows = Runtime() + "/windows/";
    // Each helper's own registration has swept those killed before it.
    ASSERT_TRUE(ovtest::Exists(windows + std::to_string(killed.back()) + ".sock"));
    HWND mine = RegisterWindow("TestNewClass", nullptr);
    ASSERT_NE(mine, 0u);
    for (HWND h : killed) {
        EXPECT_FALSE(ovtest::Exists(windows + std::to_string(h) + ".sock")) << h;
        EXPECT_FALSE(ovtest::Exists(windows + std::to_string(h) + ".cls.TestDeadA")) << h;
        EXPECT_FALSE(ovtest::Exists(windows + std::to_string(h) + ".cls.TestDeadB")) << h;
    }
    EXPECT_TRUE(ovtest::Exists(windows + std::to_string(live.hwnd) + ".cls.TestLiveClass"));
    EXPECT_EQ(SendMessageA(live.hwnd, WM_USER, 5, 20), 45);
    UnregisterWindow(mine);
}
