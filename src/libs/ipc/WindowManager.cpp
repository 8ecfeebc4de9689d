// SPDX-License-Identifier: AGPL-3.0-or-later
// Windows between processes. Each window of a process has a listening Unix
// stream socket "<runtime>/windows/<handle>.sock" and a registry entry
// "<runtime>/windows/<handle>.cls.<class>" that holds the owner's pid. A sent
// message is one connection: the sender writes a request, the owner's handler
// runs, the owner writes the answer and both sides close.
#include "ipc/WindowManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/FdIo.h"
#include "ipc/RuntimeDir.h"
#include "win32/AtomicFile.h"
#include "win32/RegularFile.h"

namespace {

constexpr std::uint32_t kRequestMagic = 0x4f564d31;  // "OVM1"
constexpr std::uint32_t kAnswerMagic = 0x4f564131;   // "OVA1"
constexpr int kDefaultTimeoutMs = 10000;
// How long an accepted connection may take to deliver its request. The receiving
// side never waits for it: a connection whose request is not complete is kept
// aside and read on when it becomes readable, and dropped once this has passed.
constexpr int kRequestWaitMs = 2000;
// Connections served per DispatchWindowMessages call; the descriptor stays readable
// while more are waiting, so a flood cannot hold the caller for ever.
constexpr int kMaxPerDispatch = 64;
// Connections kept aside at most; the oldest is dropped for a new one.
constexpr std::size_t kMaxPending = 64;

struct Request {
    std::uint32_t magic;
    std::uint32_t msg;
    std::uint64_t wParam;
    std::int64_t lParam;
};

struct Answer {
    std::uint32_t magic;
    std::uint32_t reserved;
    std::int64_t result;
};

using Clock = std::chrono::steady_clock;

// An accepted connection whose request has not fully arrived.
struct Pending {
    int fd = -1;
    std::size_t got = 0;
    Request req{};
    Clock::time_point deadline;
};

struct Window {
    HWND hwnd = 0;
    int listenFd = -1;
    // Watches the listening socket and every pending connection; this is the
    // descriptor that GetWindowMessageFd hands out.
    int epollFd = -1;
    pid_t creatorPid = 0;
    std::thread::id owner;
    std::string sockPath;
    std::string regPath;
    MessageHandler handler;
    std::atomic<bool> alive{true};
    std::mutex pendingMutex;
    std::vector<Pending> pending;

    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() {
        for (const Pending& p : pending) {
            ::close(p.fd);
        }
        if (epollFd >= 0) {
            ::close(epollFd);
        }
        if (listenFd >= 0) {
            ::close(listenFd);
        }
    }
};

using WindowPtr = std::shared_ptr<Window>;

// The windows of this process. On a normal exit the files of windows still
// registered are removed (only by the process that created them, not by a
// forked child).
struct Registry {
    std::mutex mutex;
    std::map<HWND, WindowPtr> windows;
    unsigned counter = 0;

    ~Registry() {
        for (auto& [hwnd, win] : windows) {
            if (win->creatorPid == ::getpid()) {
                ::unlink(win->regPath.c_str());
                ::unlink(win->sockPath.c_str());
            }
        }
    }
};

Registry& Reg() {
    static Registry registry;
    return registry;
}

std::atomic<int> g_timeoutMs{kDefaultTimeoutMs};

WindowPtr FindLocal(HWND hwnd) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    auto it = Reg().windows.find(hwnd);
    return it == Reg().windows.end() ? nullptr : it->second;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string SocketPath(const std::string& dir, HWND hwnd) {
    return dir + "/" + std::to_string(hwnd) + ".sock";
}

// Starts a non-blocking connection. 0 and a connected descriptor, or an errno
// value: EAGAIN when the listener's backlog is full (it is alive but busy).
int ConnectTo(const std::string& path, int& fdOut) {
    fdOut = -1;
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return ENAMETOOLONG;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        return err;
    }
    fdOut = fd;
    return 0;
}

enum class Liveness { Live, Dead, Unknown };

// A window is alive while its socket accepts connections.
Liveness Probe(const std::string& sockPath) {
    int fd = -1;
    int err = ConnectTo(sockPath, fd);
    if (fd >= 0) {
        ::close(fd);
    }
    if (err == 0 || err == EAGAIN || err == EINPROGRESS) {
        return Liveness::Live;
    }
    if (err == ECONNREFUSED || err == ENOENT) {
        return Liveness::Dead;
    }
    return Liveness::Unknown;
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

pid_t ReadPid(const std::string& regPath) {
    // A registry entry is a small regular file; anything else is refused at once.
    struct stat st {};
    int fd = ov::OpenRegularFile(regPath, 32, &st, false);
    if (fd < 0) {
        return 0;
    }
    char buf[32] = {};
    ssize_t n = ov::ipc::ReadAll(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) {
        return 0;
    }
    return static_cast<pid_t>(std::strtol(buf, nullptr, 10));
}

struct Entry {
    HWND hwnd = 0;
    std::string regPath;
    std::int64_t stamp = 0;  // registration time, ns
};

// Registry entries "<handle>.cls.<escaped class>" of the folder; every class when
// escapedClass is null.
std::vector<Entry> ListEntries(const std::string& dir, const std::string* escapedClass) {
    std::vector<Entry> out;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return out;
    }
    while (dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (name[0] < '1' || name[0] > '9') {
            continue;
        }
        char* end = nullptr;
        unsigned long value = std::strtoul(name, &end, 10);
        if (value == 0 || value > 0xFFFFFFFFul || std::strncmp(end, ".cls.", 5) != 0) {
            continue;
        }
        if (escapedClass != nullptr && *escapedClass != end + 5) {
            continue;
        }
        Entry entry;
        entry.hwnd = static_cast<HWND>(value);
        entry.regPath = dir + "/" + name;
        struct stat st {};
        if (::lstat(entry.regPath.c_str(), &st) != 0) {
            continue;
        }
        entry.stamp = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        out.push_back(std::move(entry));
    }
    ::closedir(d);
    return out;
}

// Removes every file of a handle whose owner has gone.
void RemoveStale(const std::string& dir, HWND hwnd) {
    for (const Entry& e : ListEntries(dir, nullptr)) {
        if (e.hwnd == hwnd) {
            ::unlink(e.regPath.c_str());
        }
    }
    ::unlink(SocketPath(dir, hwnd).c_str());
}

bool StaleEntry(const std::string& dir, const Entry& e) {
    if (Probe(SocketPath(dir, e.hwnd)) != Liveness::Dead) {
        return false;
    }
    pid_t pid = ReadPid(e.regPath);
    if (pid == ::getpid()) {
        // Left behind by an earlier process that had our pid.
        return !FindLocal(e.hwnd);
    }
    return !ProcessAlive(pid);
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000000));
}

// Waits until fd is ready for the events or the deadline passes. While waiting,
// messages sent to windows that this thread owns are served, so that two
// processes sending to each other at the same time do not wait for ever.
// Returns 1 ready, 0 timed out, -1 error.
int WaitReady(int fd, short events, Clock::time_point deadline, bool serveOwnWindows) {
    for (;;) {
        std::vector<WindowPtr> own;
        if (serveOwnWindows) {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            for (auto& [hwnd, win] : Reg().windows) {
                if (win->owner == std::this_thread::get_id() && win->alive) {
                    own.push_back(win);
                }
            }
        }
        std::vector<pollfd> fds;
        fds.push_back({fd, events, 0});
        for (auto& win : own) {
            fds.push_back({win->epollFd, POLLIN, 0});
        }
        int left = RemainingMs(deadline);
        int rc = ::poll(fds.data(), fds.size(), left);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (rc == 0) {
            if (Clock::now() >= deadline) {
                return 0;
            }
            continue;
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                DispatchWindowMessages(own[i - 1]->hwnd);
            }
        }
        if (fds[0].revents != 0) {
            return 1;
        }
    }
}

// Moves exactly n bytes through the socket before the deadline: receives for
// POLLIN, sends for POLLOUT. False on end of file, error or timeout (errno
// ECONNRESET, the error, or ETIMEDOUT).
bool TransferAll(int fd, char* buf, size_t n, short events, Clock::time_point deadline,
                 bool serveOwnWindows) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = events == POLLIN ? ::recv(fd, buf + done, n - done, 0)
                                     : ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
        if (r > 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        if (r == 0) {
            errno = ECONNRESET;
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        int w = WaitReady(fd, events, deadline, serveOwnWindows);
        if (w == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (w < 0) {
            return false;
        }
    }
    return true;
}

bool RecvAll(int fd, void* buf, size_t n, Clock::time_point deadline, bool serveOwnWindows) {
    return TransferAll(fd, static_cast<char*>(buf), n, POLLIN, deadline, serveOwnWindows);
}

bool SendAll(int fd, const void* buf, size_t n, Clock::time_point deadline, bool serveOwnWindows) {
    // send() only reads the buffer.
    return TransferAll(fd, static_cast<char*>(const_cast<void*>(buf)), n, POLLOUT, deadline, serveOwnWindows);
}

LRESULT CallHandler(const WindowPtr& win, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!win->handler) {
        return 0;
    }
    try {
        return win->handler(win->hwnd, msg, wParam, lParam);
    } catch (...) {
        // A handler's exception must not unwind into the event loop or the sender.
        return 0;
    }
}

// Answers a complete request on its connection.
void AnswerRequest(const WindowPtr& win, int fd, const Request& req) {
    LRESULT result = CallHandler(win, req.msg, req.wParam, static_cast<LPARAM>(req.lParam));
    Answer ans{kAnswerMagic, 0, result};
    // The answer is small and the connection fresh, so it fits into the socket buffer;
    // a sender that has gone is ignored.
    ::send(fd, &ans, sizeof ans, MSG_NOSIGNAL | MSG_DONTWAIT);
}

enum class ReadState { Complete, Waiting, Gone };

// Reads what has arrived of the request, without waiting.
ReadState ReadRequest(Pending& p) {
    char* buf = reinterpret_cast<char*>(&p.req);
    while (p.got < sizeof p.req) {
        ssize_t r = ::recv(p.fd, buf + p.got, sizeof p.req - p.got, MSG_DONTWAIT);
        if (r > 0) {
            p.got += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ReadState::Waiting;
        }
        return ReadState::Gone;  // a liveness probe, or a sender that gave up
    }
    return p.req.magic == kRequestMagic ? ReadState::Complete : ReadState::Gone;
}

void DropPending(const WindowPtr& win, const Pending& p) {
    ::epoll_ctl(win->epollFd, EPOLL_CTL_DEL, p.fd, nullptr);
    ::close(p.fd);
}

// Keeps a connection aside until the rest of its request arrives.
void KeepPending(const WindowPtr& win, Pending&& p) {
    std::lock_guard<std::mutex> lock(win->pendingMutex);
    if (win->pending.size() >= kMaxPending) {
        DropPending(win, win->pending.front());
        win->pending.erase(win->pending.begin());
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.fd = p.fd;
    if (::epoll_ctl(win->epollFd, EPOLL_CTL_ADD, p.fd, &ev) != 0) {
        ::close(p.fd);
        return;
    }
    win->pending.push_back(std::move(p));
}

// Reads on at the connections kept aside; answers those now complete and drops
// those whose sender has gone or whose time is up. Never waits.
void ServePending(const WindowPtr& win) {
    const auto now = Clock::now();
    std::vector<Pending> ready;
    std::unique_lock<std::mutex> lock(win->pendingMutex);
    for (std::size_t i = 0; i < win->pending.size();) {
        Pending& p = win->pending[i];
        const ReadState state = ReadRequest(p);
        if (state == ReadState::Waiting && now < p.deadline) {
            ++i;
            continue;
        }
        ::epoll_ctl(win->epollFd, EPOLL_CTL_DEL, p.fd, nullptr);
        if (state == ReadState::Complete) {
            ready.push_back(std::move(p));
        } else {
            ::close(p.fd);
        }
        win->pending.erase(win->pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
    lock.unlock();
    // Handlers run only now: one may dispatch this window again while it runs.
    for (const Pending& p : ready) {
        if (win->alive) {
            AnswerRequest(win, p.fd, p.req);
        }
        ::close(p.fd);
    }
}

}  // namespace

HWND RegisterWindow(const char* className, MessageHandler handler) {
    if (className == nullptr || *className == '\0') {
        errno = EINVAL;
        return 0;
    }
    std::string dir = ov::ipc::RuntimeSubDir("windows");
    if (dir.empty()) {
        return 0;
    }
    // Entries of windows whose processes were killed are swept here, so that they
    // cannot pile up however many viewers died without unregistering.
    for (const Entry& e : ListEntries(dir, nullptr)) {
        if (!FindLocal(e.hwnd) && StaleEntry(dir, e)) {
            RemoveStale(dir, e.hwnd);
        }
    }
    auto win = std::make_shared<Window>();
    win->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (win->listenFd < 0) {
        return 0;
    }
    const unsigned pidPart = (static_cast<unsigned>(::getpid()) & 0x3FFFFFu) << 10;
    bool bound = false;
    for (int attempt = 0; attempt < 1024 && !bound; ++attempt) {
        unsigned counter;
        {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            counter = (++Reg().counter) & 0x3FFu;
            if (counter == 0) {
                counter = (++Reg().counter) & 0x3FFu;
            }
        }
        HWND hwnd = pidPart | counter;
        if (FindLocal(hwnd)) {
            continue;
        }
        std::string path = SocketPath(dir, hwnd);
        sockaddr_un addr;
        if (!MakeAddress(path, addr)) {
            return 0;
        }
        for (int tries = 0; tries < 2; ++tries) {
            if (::bind(win->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                bound = true;
                win->hwnd = hwnd;
                win->sockPath = path;
                break;
            }
            if (errno != EADDRINUSE) {
                return 0;
            }
            // The handle's socket exists: reuse it only when its owner has gone.
            if (Probe(path) != Liveness::Dead) {
                break;
            }
            RemoveStale(dir, hwnd);
        }
    }
    if (!bound) {
        errno = EADDRINUSE;
        return 0;
    }
    if (::listen(win->listenFd, 64) != 0) {
        int err = errno;
        ::unlink(win->sockPath.c_str());
        errno = err;
        return 0;
    }
    win->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = win->listenFd;
    if (win->epollFd < 0 || ::epoll_ctl(win->epollFd, EPOLL_CTL_ADD, win->listenFd, &ev) != 0) {
        int err = errno;
        ::unlink(win->sockPath.c_str());
        errno = err;
        return 0;
    }
    win->regPath = dir + "/" + std::to_string(win->hwnd) + ".cls." + ov::ipc::FileNameEscape(className);
    if (!ov::ReplaceFileContents(win->regPath, std::to_string(::getpid()) + "\n")) {
        int err = errno;
        ::unlink(win->sockPath.c_str());
        errno = err;
        return 0;
    }
    win->creatorPid = ::getpid();
    win->owner = std::this_thread::get_id();
    win->handler = std::move(handler);
    HWND hwnd = win->hwnd;
    {
        std::lock_guard<std::mutex> lock(Reg().mutex);
        Reg().windows[hwnd] = std::move(win);
    }
    return hwnd;
}

void UnregisterWindow(HWND hwnd) {
    WindowPtr win;
    {
        std::lock_guard<std::mutex> lock(Reg().mutex);
        auto it = Reg().windows.find(hwnd);
        if (it == Reg().windows.end()) {
            return;
        }
        win = std::move(it->second);
        Reg().windows.erase(it);
    }
    win->alive = false;
    // The registry entry first, so that nobody finds a window whose socket is going.
    ::unlink(win->regPath.c_str());
    ::unlink(win->sockPath.c_str());
    // The listening socket closes with the last reference: at once, or when a
    // dispatch that is running the window's handler returns.
}

int GetWindowMessageFd(HWND hwnd) {
    WindowPtr win = FindLocal(hwnd);
    return win ? win->epollFd : -1;
}

void DispatchWindowMessages(HWND hwnd) {
    WindowPtr win = FindLocal(hwnd);
    if (!win) {
        return;
    }
    ServePending(win);
    for (int served = 0; served < kMaxPerDispatch && win->alive; ++served) {
        int fd = ::accept4(win->listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            break;  // EAGAIN: nothing more is waiting
        }
        Pending p;
        p.fd = fd;
        p.deadline = Clock::now() + std::chrono::milliseconds(kRequestWaitMs);
        switch (ReadRequest(p)) {
            case ReadState::Complete:
                AnswerRequest(win, fd, p.req);
                ::close(fd);
                break;
            case ReadState::Waiting:
                KeepPending(win, std::move(p));
                break;
            case ReadState::Gone:
                ::close(fd);
                break;
        }
    }
}

HWND FindWindowA(const char* className, const char* /*windowName*/) {
    int savedErrno = errno;
    std::string dir = ov::ipc::RuntimeSubDir("windows");
    if (dir.empty()) {
        return 0;
    }
    std::string escaped;
    bool anyClass = className == nullptr || *className == '\0';
    if (!anyClass) {
        escaped = ov::ipc::FileNameEscape(className);
    }
    std::vector<Entry> entries = ListEntries(dir, anyClass ? nullptr : &escaped);
    // Most recently registered first, as the topmost window comes first.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.hwnd > b.hwnd;
    });
    for (const Entry& e : entries) {
        if (FindLocal(e.hwnd)) {
            errno = savedErrno;
            return e.hwnd;
        }
        if (Probe(SocketPath(dir, e.hwnd)) == Liveness::Live) {
            errno = savedErrno;
            return e.hwnd;
        }
        if (StaleEntry(dir, e)) {
            RemoveStale(dir, e.hwnd);
        }
    }
    errno = ENOENT;
    return 0;
}

BOOL IsWindow(HWND hwnd) {
    if (hwnd == 0) {
        return FALSE;
    }
    if (FindLocal(hwnd)) {
        return TRUE;
    }
    int savedErrno = errno;
    std::string dir = ov::ipc::RuntimeSubDir("windows");
    if (dir.empty()) {
        return FALSE;
    }
    BOOL live = Probe(SocketPath(dir, hwnd)) == Liveness::Live ? TRUE : FALSE;
    errno = savedErrno;
    return live;
}

void SetSendMessageTimeout(int milliseconds) {
    g_timeoutMs = milliseconds > 0 ? milliseconds : kDefaultTimeoutMs;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == 0) {
        errno = EINVAL;
        return 0;
    }
    WindowPtr local = FindLocal(hwnd);
    if (local && local->owner == std::this_thread::get_id()) {
        LRESULT result = CallHandler(local, msg, wParam, lParam);
        errno = 0;
        return result;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(g_timeoutMs.load());
    errno = 0;
    std::string dir = ov::ipc::RuntimeSubDir("windows");
    if (dir.empty()) {
        // Not delivered: callers tell a failed send from a handler's 0 by errno.
        if (errno == 0)
            errno = ENOENT;
        return 0;
    }
    std::string path = SocketPath(dir, hwnd);
    int fd = -1;
    for (;;) {
        int err = ConnectTo(path, fd);
        if (err == 0) {
            break;
        }
        if (err != EAGAIN) {
            errno = err;
            return 0;
        }
        // The owner's backlog is full: it is alive but busy.
        if (Clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Request req{kRequestMagic, msg, wParam, static_cast<std::int64_t>(lParam)};
    Answer ans{};
    bool ok = SendAll(fd, &req, sizeof req, deadline, true) && RecvAll(fd, &ans, sizeof ans, deadline, true);
    int err = errno;
    ::close(fd);
    if (!ok) {
        errno = err;
        return 0;
    }
    if (ans.magic != kAnswerMagic) {
        errno = EPROTO;
        return 0;
    }
    errno = 0;
    return static_cast<LRESULT>(ans.result);
}
