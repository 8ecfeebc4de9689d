// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard manager against the postcard-viewer stand-in in a second process:
// set-up and its checks, start, next, close and failing or missing answers, and
// the re-open of the document from the block.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "PostcardTestSupport.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"
#include "postcard/HagakiManage.h"

extern char** environ;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        m_had = std::getenv(name) != nullptr;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { m_had ? (void)setenv(m_name.c_str(), m_old.c_str(), 1) : (void)unsetenv(m_name.c_str()); }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

// The stand-in lies beside the test program in the build's bin folder.
std::string PeerPath() {
    if (const char* bin = std::getenv("ORMAVIEW_TEST_BIN_DIR"))
        return std::string(bin) + "/bin/ormaview-postcard-viewer";
    std::error_code ec;
    return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "ormaview-postcard-viewer")
        .string();
}

// The stand-in, started with --no-launch; stopped and reaped on destruction.
class Peer {
public:
    Peer(std::vector<std::string> args, const std::string& readyFile) {
        args.insert(args.begin(), PeerPath());
        args.insert(args.end(), {"--no-launch", "--ready-file", readyFile, "--timeout", "120"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        // Bounded wait for readiness, so that a broken stand-in cannot hang the test.
        for (int i = 0; m_pid > 0 && i < 3000 && !ovtest::Exists(readyFile) && !Exited(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_ready = ovtest::Exists(readyFile);
    }
    ~Peer() {
        if (m_pid > 0 && !Exited()) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    bool Ready() const { return m_ready; }
    void Wait() {
        if (m_pid > 0 && !m_exited)
            waitpid(m_pid, nullptr, 0);
        m_exited = true;
    }

private:
    bool Exited() {
        if (!m_exited && waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            m_exited = true;
        return m_exited;
    }
    pid_t m_pid = -1;
    bool m_ready = false;
    bool m_exited = false;
};

}  // namespace

// Private runtime folder, work desk and TMPDIR, and a registered owner window.
class ManageTest : public ::testing::Test {
protected:
    ManageTest()
        : m_envRuntime("XDG_RUNTIME_DIR", m_runtime.Path()),
          m_envDesk("ORMAVIEW_WORKDESK", m_desk.Path()),
          m_envTmp("TMPDIR", m_tmp.Path()) {}
    void SetUp() override {
        m_owner = RegisterWindow("OrmaViewPostcardTestOwner",
                                 [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        ASSERT_NE(0u, m_owner);
    }
    void TearDown() override { CloseOwner(); }
    void CloseOwner() {
        if (m_owner)
            UnregisterWindow(m_owner);
        m_owner = 0;
    }

    // Starts the stand-in for the key and mode with the cards "docID,pageID,editable"
    // (work desk m_desk unless given) and more options; skips without it.
    std::unique_ptr<Peer> StartPeer(int key, int mode, std::vector<std::string> cards,
                                    std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--key", std::to_string(key), "--mode", std::to_string(mode),
                                         "--log", m_tmp / "peer.log"};
        for (const auto& c : cards)
            args.insert(args.end(), {"--card", c.find('/') == 0 ? c : m_desk.Path() + "," + c});
        args.insert(args.end(), more.begin(), more.end());
        auto peer = std::make_unique<Peer>(args, m_tmp / ("peer" + std::to_string(++m_peers) + ".ready"));
        EXPECT_TRUE(peer->Ready());
        return peer;
    }
    bool Logged(const std::string& line) const {
        return ovtest::ReadFile(m_tmp / "peer.log").find(line) != std::string::npos;
    }

    ovtest::TempDir m_runtime, m_desk, m_tmp;
    ScopedEnv m_envRuntime, m_envDesk, m_envTmp;
    HWND m_owner = 0;
    int m_peers = 0;
};

class PeerTest : public ManageTest {
protected:
    void SetUp() override {
        if (access(PeerPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << "no postcard-viewer stand-in at " << PeerPath();
        ManageTest::SetUp();
    }
};

TEST_F(ManageTest, InitializeRefusesBadParametersBeforeAnyLibraryCall) {
    ovtest::TraceCapture trace;
    COrmaViewDoc doc;
    EXPECT_EQ(-2, doc.InitHagakiManage(m_owner, 0));
    EXPECT_TRUE(trace.Contains("Parameter Error! pDoc is Empty < 1."));
    EXPECT_TRUE(trace.Contains("CHagakiManage::Initialize() Error!(-2)"));
    EXPECT_EQ(-2, doc.InitHagakiManage(0x7fff1234, 5));
    EXPECT_EQ(nullptr, doc.m_pHagakiManage);
    // A key without a block: the library's code, and no manager.
    EXPECT_EQ(ORMAVIEW_DLL_NO_BLOCK, doc.InitHagakiManage(m_owner, 6));
    EXPECT_TRUE(trace.Contains("OrmaViewGetHagakiManage error! [ErrorCode]"));
    EXPECT_EQ(nullptr, doc.m_pHagakiManage);
}

TEST_F(ManageTest, DocumentModeSendsNoEventButChecksTheBlock) {
    struct Case {
        std::string folder;
        int docID, pageID, expected;
        const char* trace;
    };
    const Case cases[] = {
        {m_desk.Path(), 12, 3, 0, nullptr},
        {"", 12, 3, -705, "Parameter Error! strWorkDeskFolder.GetLength() == 0."},
        {m_desk.Path(), 0, 3, -705, "Parameter Error! iDocID < 1."},
        {m_desk.Path(), 12, 0, -705, "Parameter Error! iPageID < 1."},
        {m_desk / "missing", 12, 3, -701, "File doesn't Exist! [File] "},
    };
    for (const Case& c : cases) {
        // No viewer window at all: an event would fail.
        HAGAKI_MANAGE_INFO info{};
        std::strncpy(info.szWorkDeskFolder, c.folder.c_str(), sizeof info.szWorkDeskFolder - 1);
        info.iDocID = c.docID;
        info.iPageID = c.pageID;
        ASSERT_EQ(0, OrmaViewSetHagakiManage(9, &info));
        ovtest::TraceCapture trace;
        COrmaViewDoc doc;
        EXPECT_EQ(c.expected, doc.InitHagakiManage(m_owner, 9)) << c.folder;
        EXPECT_EQ(c.expected == 0, doc.m_pHagakiManage != nullptr);
        if (c.trace) {
            EXPECT_TRUE(trace.Contains(c.trace)) << trace.Text();
        } else {
            HAGAKI_MANAGE_INFO published{};
            ASSERT_EQ(0, OrmaViewGetHagakiManage(9, &published));
            EXPECT_EQ(m_owner, published.hOwnerWnd);
            EXPECT_EQ(9, published.iKey);
            // Following the block is for undo-folder mode only.
            doc.m_strTempFolder = m_tmp.Path();
            EXPECT_EQ(0, doc.InitDocFromHagakiManage());
            EXPECT_TRUE(ovtest::Exists(m_tmp.Path()));
            doc.m_strTempFolder.clear();
        }
    }
}

TEST_F(PeerTest, StartNextAndCloseAcrossProcesses) {
    auto peer = StartPeer(501, 1, {"12,1,1", "12,2,0"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 501));
    CHagakiManage& m = *doc.m_pHagakiManage;
    EXPECT_TRUE(Logged("event=1 change=0 result=0 card=1"));
    EXPECT_EQ(m_desk.Path(), m.GetFolder());
    EXPECT_EQ(12, m.GetDocID());
    EXPECT_EQ(1, m.GetCurPageID());
    EXPECT_TRUE(m.IsEditable());
    EXPECT_TRUE(m.HasNextPage());
    EXPECT_FALSE(m.HasPrevPage());

    m.SetChange(2);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_NEXT));
    EXPECT_TRUE(Logged("event=3 change=2 result=0 card=2"));
    EXPECT_EQ(2, m.GetCurPageID());
    EXPECT_FALSE(m.IsEditable());
    EXPECT_FALSE(m.HasNextPage());  // the last postcard: no next event is sent
    EXPECT_TRUE(m.HasPrevPage());

    m.SetChange(1);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_CLOSE));
    EXPECT_TRUE(Logged("event=2 change=1 result=0"));
    CloseOwner();
    peer->Wait();
}

TEST_F(PeerTest, DocumentModeCloseWithoutChange) {
    auto peer = StartPeer(502, 0, {"7,3,1"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 502));
    EXPECT_FALSE(Logged("event=1"));
    EXPECT_EQ(7, doc.m_pHagakiManage->GetDocID());
    EXPECT_EQ(3, doc.m_pHagakiManage->GetCurPageID());
    doc.m_pHagakiManage->SetChange(0);
    ASSERT_EQ(0, doc.m_pHagakiManage->FireEvent(HAGAKI_EVENT_CLOSE));
    EXPECT_TRUE(Logged("event=2 change=0"));
}

TEST_F(PeerTest, FailingAnswersAndBadBlocks) {
    {
        auto peer = StartPeer(503, 1, {"12,1,1", "12,2,1"}, {"--fail", "3=1"});
        COrmaViewDoc doc;
        ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 503));
        ovtest::TraceCapture trace;
        EXPECT_EQ(-5, doc.m_pHagakiManage->FireEvent(HAGAKI_EVENT_NEXT));
        EXPECT_TRUE(trace.Contains("CHagakiManage::FireEvent Viewer error! [ErrorCode] 1"));
        EXPECT_TRUE(Logged("event=3 change=0 result=1"));
    }
    struct Case {
        std::string card;
        std::vector<std::string> more;
        int expected;
        const char* trace;
    };
    const Case cases[] = {
        {"12,1,1", {"--fail", "1=9"}, -5, "CHagakiManage::FireEvent() Error!(-5)"},
        {"12,0,1", {}, -705, "Parameter Error! iPageID < 1."},
        {m_desk / "gone" + ",12,1,1", {}, -701, "File doesn't Exist! [File] "},
    };
    int key = 510;
    for (const Case& c : cases) {
        auto peer = StartPeer(++key, 1, {c.card}, c.more);
        ovtest::TraceCapture trace;
        COrmaViewDoc doc;
        EXPECT_EQ(c.expected, doc.InitHagakiManage(m_owner, key)) << c.card;
        EXPECT_TRUE(trace.Contains(c.trace)) << trace.Text();
        EXPECT_EQ(nullptr, doc.m_pHagakiManage);
    }
}

TEST_F(PeerTest, PeerThatHasGoneAway) {
    auto peer = StartPeer(505, 1, {"12,1,1", "12,2,1"}, {"--die-on", "3"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 505));
    CHagakiManage& m = *doc.m_pHagakiManage;
    EXPECT_NE(0, m.FireEvent(HAGAKI_EVENT_NEXT));
    peer->Wait();
    ovtest::TraceCapture trace;
    EXPECT_EQ(-5, m.FireEvent(HAGAKI_EVENT_NEXT));
    EXPECT_TRUE(trace.Contains("SendMessageA() Error!"));
    EXPECT_EQ(1, m.GetCurPageID());
}

TEST_F(PeerTest, InitDocFromHagakiManageReopensTheNamedPostcard) {
    ovtest::WriteFile(
        m_desk / "UndoFolder/UndoData.ini",
        "[BinderInfo]\nTitle=Box\x18\x19One\n[PageInfo]\nPage1HagakiFrom=Sato\nPage1FilePageName=" +
            (m_desk / "scan.pdf") + "\n");
    pctest::WriteOnePagePdf(m_desk / "scan.pdf", 200, 100);
    auto peer = StartPeer(506, 1, {"12,1,1", m_desk / "gone,12,1,1"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 506));
    ovtest::TempDir oldTemp;
    doc.m_strTempFolder = oldTemp.Path();
    ASSERT_EQ(0, doc.InitDocFromHagakiManage());
    EXPECT_FALSE(ovtest::Exists(oldTemp.Path()));
    EXPECT_EQ("Box One", doc.m_strDocName);
    EXPECT_EQ("Sato", doc.m_cHagakiInfo.GetFrom());
    EXPECT_EQ(m_desk / "UndoFolder", doc.m_strDocFolder);

    // The next postcard names a missing work desk: InitDoc's code comes back.
    ASSERT_EQ(0, doc.m_pHagakiManage->FireEvent(HAGAKI_EVENT_NEXT));
    ovtest::TraceCapture trace;
    EXPECT_EQ(-701, doc.InitDocFromHagakiManage());
    EXPECT_TRUE(trace.Contains("CHagakiManage::InitDoc() Error!(-701)"));
}
