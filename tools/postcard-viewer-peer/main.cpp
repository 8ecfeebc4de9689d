// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-postcard-viewer --key K --mode M --card WORKDESK,DOCID,PAGEID,EDITABLE [--card ...]
//     [--log FILE] [--fail EVENT=RESULT]... [--die-on EVENT]... [--viewer PATH | --no-launch]
//     [--ready-file FILE] [--timeout SECONDS]
//
// Stands in for the work desk's postcard viewer: registers a window of class
// "OrmaViewPostcardViewerWndClass", publishes the postcard block under key K
// (mode M, its window, event message WM_APP + 0x100, the first card), then
// starts "<viewer> /h K" and ends with the viewer's exit status, or with
// --no-launch serves events until it has answered a close event (and the viewer
// has re-read the block: until the viewer's frame has gone, 2 s at most). Each event is
// answered by rewriting the block and logged as
// "event=<n> change=<iChange> result=<r> card=<index from 1>".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"
#include "win32/CodePage.h"

namespace {

constexpr UINT kEventMessage = WM_APP + 0x100;
constexpr const char* kClassName = "OrmaViewPostcardViewerWndClass";
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr int kExitDied = 3;
constexpr int kExitTimeout = 124;
constexpr int kLingerPollMs = 50;
constexpr std::chrono::seconds kLingerMax{2};

struct Card {
    std::string folder;  // CP932
    int docId = 0;
    int pageId = 0;
    int editable = 0;
};

struct Options {
    std::optional<int> key;
    std::optional<int> mode;
    std::vector<Card> cards;
    std::string logPath;
    std::map<int, int> fail;
    std::set<int> dieOn;
    std::string viewer;
    bool noLaunch = false;
    std::string readyPath;
    double timeoutSeconds = 60.0;
    bool timeoutGiven = false;
};

int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    int saved = errno;
    char c = static_cast<char>(sig);
    [[maybe_unused]] ssize_t r = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

int Usage(const char* problem) {
    if (problem != nullptr) {
        std::fprintf(stderr, "ormaview-postcard-viewer: %s\n", problem);
    }
    std::fprintf(stderr,
                 "usage: ormaview-postcard-viewer --key K --mode M --card WORKDESK,DOCID,PAGEID,EDITABLE "
                 "[--card ...]\n"
                 "       [--log FILE] [--fail EVENT=RESULT]... [--die-on EVENT]...\n"
                 "       [--viewer PATH | --no-launch] [--ready-file FILE] [--timeout SECONDS]\n");
    return kExitUsage;
}

bool ParseInt(const std::string& text, int& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// "WORKDESK,DOCID,PAGEID,EDITABLE": the three numbers are the last three fields,
// so the folder may itself hold commas.
bool ParseCard(const std::string& text, Card& card) {
    size_t c3 = text.rfind(',');
    if (c3 == std::string::npos || c3 == 0) {
        return false;
    }
    size_t c2 = text.rfind(',', c3 - 1);
    if (c2 == std::string::npos || c2 == 0) {
        return false;
    }
    size_t c1 = text.rfind(',', c2 - 1);
    if (c1 == std::string::npos) {
        return false;
    }
    if (!ParseInt(text.substr(c1 + 1, c2 - c1 - 1), card.docId) ||
        !ParseInt(text.substr(c2 + 1, c3 - c2 - 1), card.pageId) ||
        !ParseInt(text.substr(c3 + 1), card.editable)) {
        return false;
    }
    std::optional<std::string> folder = ov::Utf8ToCp932(text.substr(0, c1));
    if (!folder || folder->size() >= sizeof(HAGAKI_MANAGE_INFO::szWorkDeskFolder)) {
        return false;
    }
    card.folder = *folder;
    return true;
}

// Returns 0 when the options are complete, else the exit status of a usage error
// (or -1 after --help).
int ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        int n = 0;
        if (arg == "--help" || arg == "-h") {
            Usage(nullptr);
            return -1;
        } else if (arg == "--no-launch") {
            o.noLaunch = true;
        } else if (!value(v)) {
            return Usage(("unknown option or missing value: " + arg).c_str());
        } else if (arg == "--key") {
            if (!ParseInt(v, n)) {
                return Usage("--key needs a number");
            }
            o.key = n;
        } else if (arg == "--mode") {
            if (!ParseInt(v, n)) {
                return Usage("--mode needs a number");
            }
            o.mode = n;
        } else if (arg == "--card") {
            Card card;
            if (!ParseCard(v, card)) {
                return Usage(
                    ("bad --card (WORKDESK,DOCID,PAGEID,EDITABLE; folder up to 259 CP932 bytes): " + v)
                        .c_str());
            }
            o.cards.push_back(card);
        } else if (arg == "--log") {
            o.logPath = v;
        } else if (arg == "--fail") {
            size_t eq = v.find('=');
            int event = 0;
            int result = 0;
            if (eq == std::string::npos || !ParseInt(v.substr(0, eq), event) ||
                !ParseInt(v.substr(eq + 1), result) || result == 0) {
                return Usage("--fail needs EVENT=RESULT with a non-zero RESULT");
            }
            o.fail[event] = result;
        } else if (arg == "--die-on") {
            if (!ParseInt(v, n)) {
                return Usage("--die-on needs an event number");
            }
            o.dieOn.insert(n);
        } else if (arg == "--viewer") {
            o.viewer = v;
        } else if (arg == "--ready-file") {
            o.readyPath = v;
        } else if (arg == "--timeout") {
            char* end = nullptr;
            double t = std::strtod(v.c_str(), &end);
            if (*end != '\0' || !(t > 0) || !std::isfinite(t)) {
                return Usage("--timeout needs a positive number of seconds");
            }
            o.timeoutSeconds = t;
            o.timeoutGiven = true;
        } else {
            return Usage(("unknown option: " + arg).c_str());
        }
    }
    if (!o.key || !o.mode || o.cards.empty()) {
        return Usage("--key, --mode and at least one --card are needed");
    }
    if (o.noLaunch && !o.viewer.empty()) {
        return Usage("--viewer and --no-launch exclude each other");
    }
    return 0;
}

std::string DefaultViewer() {
    const char* env = std::getenv("ORMAVIEW_BIN");
    if (env != nullptr && *env != '\0') {
        return env;
    }
    char self[PATH_MAX] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = ".";
    if (n > 0) {
        std::string path(self, static_cast<size_t>(n));
        size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            dir = path.substr(0, slash);
        }
    }
    return dir + "/ormaview";
}

class PostcardViewer {
public:
    PostcardViewer(const Options& o, FILE* log) : m_o(o), m_log(log) {}

    // Registers the window and publishes the first card. 0 or an exit status.
    int Start() {
        m_hwnd = RegisterWindow(kClassName, [this](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
            return OnMessage(msg, lParam);
        });
        if (m_hwnd == 0) {
            std::fprintf(stderr, "ormaview-postcard-viewer: cannot register the window: %s\n",
                         std::strerror(errno));
            return kExitFailure;
        }
        std::memset(&m_block, 0, sizeof m_block);
        m_block.iKey = *m_o.key;
        m_block.iMode = *m_o.mode;
        FillCard(m_block);
        if (OrmaViewSetHagakiManage(*m_o.key, &m_block) != 0) {
            std::fprintf(stderr, "ormaview-postcard-viewer: cannot publish the block: %s\n",
                         std::strerror(errno));
            return kExitFailure;
        }
        m_published = true;
        return 0;
    }

    void Stop() {
        if (m_published) {
            OrmaViewRemoveHagakiManage(*m_o.key);
            m_published = false;
        }
        if (m_hwnd != 0) {
            UnregisterWindow(m_hwnd);
            m_hwnd = 0;
        }
    }

    HWND Hwnd() const { return m_hwnd; }
    bool CloseAnswered() const { return m_closeAnswered; }
    bool CloseRequested() const { return m_closeRequested; }
    // The viewer's frame as the block named it when the close event came.
    HWND OwnerAtClose() const { return m_ownerAtClose; }

private:
    void FillCard(HAGAKI_MANAGE_INFO& b) const {
        const Card& c = m_o.cards[m_index];
        b.hViewerWnd = m_hwnd;
        b.uEventMessage = kEventMessage;
        std::memset(b.szWorkDeskFolder, 0, sizeof b.szWorkDeskFolder);
        std::memcpy(b.szWorkDeskFolder, c.folder.data(), c.folder.size());
        b.iDocID = c.docId;
        b.iPageID = c.pageId;
        b.bEditable = c.editable;
        b.bNextPage = m_index + 1 < m_o.cards.size() ? 1 : 0;
        b.bPrevPage = m_index > 0 ? 1 : 0;
    }

    LRESULT OnMessage(UINT msg, LPARAM lParam) {
        if (msg == WM_CLOSE) {
            m_closeRequested = true;
            return 0;
        }
        if (msg != kEventMessage) {
            return 0;
        }
        int event = static_cast<int>(lParam);
        if (m_o.dieOn.count(event) != 0) {
            // A viewer side that dies in the middle of the message: no answer, no cleanup.
            std::_Exit(kExitDied);
        }
        // The viewer has published its copy (with the change state) before sending.
        HAGAKI_MANAGE_INFO b;
        int change = -1;
        if (OrmaViewGetHagakiManage(*m_o.key, &b) == 0) {
            change = b.iChange;
        } else {
            b = m_block;
        }
        int result = 0;
        auto failed = m_o.fail.find(event);
        if (failed != m_o.fail.end()) {
            result = failed->second;
        } else if (event == HAGAKI_EVENT_NEXT) {
            if (m_index + 1 < m_o.cards.size()) {
                ++m_index;
            } else {
                result = 1;
            }
        } else if (event == HAGAKI_EVENT_PREV) {
            if (m_index > 0) {
                --m_index;
            } else {
                result = 1;
            }
        } else if (event != HAGAKI_EVENT_START && event != HAGAKI_EVENT_CLOSE) {
            result = 1;  // not an event of this protocol
        }
        b.iResult = result;
        b.iMode = *m_o.mode;
        FillCard(b);
        if (OrmaViewSetHagakiManage(*m_o.key, &b) == 0) {
            m_block = b;
        } else {
            std::fprintf(stderr, "ormaview-postcard-viewer: cannot rewrite the block: %s\n",
                         std::strerror(errno));
        }
        std::fprintf(m_log, "event=%d change=%d result=%d card=%zu\n", event, change, result, m_index + 1);
        std::fflush(m_log);
        if (event == HAGAKI_EVENT_CLOSE) {
            m_closeAnswered = true;
            m_ownerAtClose = b.hOwnerWnd;
        }
        return result;
    }

    const Options& m_o;
    FILE* m_log;
    HWND m_hwnd = 0;
    HAGAKI_MANAGE_INFO m_block{};
    size_t m_index = 0;
    bool m_published = false;
    bool m_closeAnswered = false;
    bool m_closeRequested = false;
    HWND m_ownerAtClose = 0;
};

pid_t Launch(const std::string& viewer, int key) {
    std::string keyText = std::to_string(key);
    pid_t pid = ::fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        char* args[] = {const_cast<char*>(viewer.c_str()), const_cast<char*>("/h"), keyText.data(), nullptr};
        ::execv(viewer.c_str(), args);
        std::fprintf(stderr, "ormaview-postcard-viewer: cannot start %s: %s\n", viewer.c_str(),
                     std::strerror(errno));
        std::_Exit(127);
    }
    return pid;
}

int ExitStatusOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = ParseOptions(argc, argv, o);
    if (rc != 0) {
        return rc < 0 ? 0 : rc;
    }
    FILE* log = stdout;
    if (!o.logPath.empty()) {
        log = std::fopen(o.logPath.c_str(), "a");
        if (log == nullptr) {
            std::fprintf(stderr, "ormaview-postcard-viewer: cannot open %s: %s\n", o.logPath.c_str(),
                         std::strerror(errno));
            return kExitFailure;
        }
    }
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("ormaview-postcard-viewer: pipe");
        return kExitFailure;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGCHLD, &sa, nullptr);

    PostcardViewer viewer(o, log);
    rc = viewer.Start();
    if (rc != 0) {
        viewer.Stop();
        return rc;
    }
    if (!o.readyPath.empty()) {
        FILE* ready = std::fopen(o.readyPath.c_str(), "w");
        if (ready != nullptr) {
            std::fprintf(ready, "%u\n", viewer.Hwnd());
            std::fclose(ready);
        }
    }

    pid_t child = -1;
    if (!o.noLaunch) {
        child = Launch(o.viewer.empty() ? DefaultViewer() : o.viewer, *o.key);
        if (child < 0) {
            std::perror("ormaview-postcard-viewer: fork");
            viewer.Stop();
            return kExitFailure;
        }
    }

    using Clock = std::chrono::steady_clock;
    const bool useTimeout = o.noLaunch || o.timeoutGiven;
    const auto deadline = Clock::now() + std::chrono::milliseconds(
                                             static_cast<long long>(std::ceil(o.timeoutSeconds * 1000.0)));
    bool timedOut = false;
    Clock::time_point closeSeen{};
    int exitStatus = 0;
    int fd = GetWindowMessageFd(viewer.Hwnd());
    for (;;) {
        if (child < 0 && viewer.CloseRequested()) {
            break;
        }
        // After the close event the viewer still re-reads the block: keep it until
        // the viewer's frame has gone, for a few seconds at most.
        bool lingering = child < 0 && viewer.CloseAnswered();
        if (lingering && closeSeen == Clock::time_point{}) {
            closeSeen = Clock::now();
        }
        if (lingering && (timedOut || Clock::now() - closeSeen >= kLingerMax || viewer.OwnerAtClose() == 0 ||
                          !IsWindow(viewer.OwnerAtClose()))) {
            break;
        }
        int waitMs = -1;
        if (useTimeout && !timedOut) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
        }
        if (lingering) {
            waitMs = waitMs < 0 ? kLingerPollMs : std::min(waitMs, kLingerPollMs);
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        int n = ::poll(fds, 2, waitMs);
        if (n < 0 && errno != EINTR) {
            std::perror("ormaview-postcard-viewer: poll");
            exitStatus = kExitFailure;
            break;
        }
        if (n == 0 && useTimeout && !timedOut && Clock::now() >= deadline) {
            timedOut = true;
            if (lingering) {
                continue;
            }
            if (child < 0) {
                exitStatus = kExitTimeout;
                break;
            }
            ::kill(child, SIGTERM);
            continue;
        }
        if (n > 0 && fds[0].revents != 0) {
            DispatchWindowMessages(viewer.Hwnd());
        }
        if (n > 0 && fds[1].revents != 0) {
            bool stop = false;
            char sig = 0;
            while (::read(g_signalPipe[0], &sig, 1) == 1) {
                if (sig == SIGCHLD) {
                    continue;
                }
                if (child > 0) {
                    ::kill(child, SIGTERM);  // the viewer's end decides the exit status
                } else {
                    stop = true;
                }
            }
            if (stop) {
                break;
            }
        }
        if (child > 0) {
            int status = 0;
            pid_t r = ::waitpid(child, &status, WNOHANG);
            if (r == child) {
                exitStatus = ExitStatusOf(status);
                break;
            }
        }
    }
    viewer.Stop();
    if (log != stdout) {
        std::fclose(log);
    }
    return exitStatus;
}
