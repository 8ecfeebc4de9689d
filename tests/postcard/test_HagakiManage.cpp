// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard manager against the postcard-viewer stand-in in a second process:
// the block checks, start, next, close, failing or missing answers, and the re-open
// of the document from the block.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "PostcardTestSupport.h"
#include "base/ErrorCodes.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"

extern char** environ;

namespace {

const std::string kPeer = ovtest::BuildProgram("ormaview-postcard-viewer");

// A started stand-in, stopped and reaped on destruction.
struct Peer {
    pid_t pid = -1;
    bool exited = false;
    bool Exited() { return exited || (exited = waitpid(pid, nullptr, WNOHANG) == pid); }
    void Wait() {
        if (!exited)
            waitpid(pid, nullptr, 0);
        exited = true;
    }
    ~Peer() {
        if (pid > 0 && !Exited())
            kill(pid, SIGTERM), Wait();
    }
};

// A private runtime folder and work desk, and a registered owner window.
class ManageTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1);
        setenv("ORMAVIEW_WORKDESK", m_desk.Path().c_str(), 1);
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
    // The stand-in for key and mode with cards "docID,pageID,editable" on m_desk (or
    // "folder,docID,pageID,editable") and more options, once it is ready.
    std::unique_ptr<Peer> StartPeer(int key, int mode, std::vector<std::string> cards,
                                    std::vector<std::string> more = {}) {
        const std::string ready = m_tmp / ("peer" + std::to_string(key) + ".ready");
        std::vector<std::string> args = {kPeer, "--no-launch", "--timeout", "120", "--ready-file", ready};
        args.insert(args.end(),
                    {"--key", std::to_string(key), "--mode", std::to_string(mode), "--log", Log(key)});
        for (const auto& c : cards)
            args.insert(args.end(), {"--card", c[0] == '/' ? c : m_desk.Path() + "," + c});
        args.insert(args.end(), more.begin(), more.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        auto peer = std::make_unique<Peer>();
        if (posix_spawn(&peer->pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            peer->pid = -1, peer->exited = true;
        // A bounded wait, so that a broken stand-in cannot hang the test.
        for (int i = 0; i < 3000 && !ovtest::Exists(ready) && !peer->Exited(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(ovtest::Exists(ready));
        return peer;
    }
    std::string Log(int key) const { return m_tmp / ("peer" + std::to_string(key) + ".log"); }
    bool Logged(int key, const std::string& line) const {
        return ovtest::ReadFile(Log(key)).find(line) != std::string::npos;
    }
    ovtest::TempDir m_runtime, m_desk, m_tmp;
    HWND m_owner = 0;
};

class PeerTest : public ManageTest {
    void SetUp() override {
        if (access(kPeer.c_str(), X_OK) != 0)
            GTEST_SKIP() << "no postcard-viewer stand-in at " << kPeer;
        ManageTest::SetUp();
    }
};

}  // namespace

TEST_F(ManageTest, BadParametersAndBadBlocksGiveNoManager) {
    ovtest::TraceCapture trace;
    COrmaViewDoc doc;
    EXPECT_EQ(ov::kErrSilentParameter, doc.InitHagakiManage(m_owner, 0));
    EXPECT_TRUE(trace.Contains("Parameter Error! pDoc is Empty < 1."));
    EXPECT_TRUE(trace.Contains("CHagakiManage::Initialize() Error!(-2)"));
    EXPECT_EQ(ov::kErrSilentParameter, doc.InitHagakiManage(0x7fff1234, 5));
    EXPECT_EQ(ORMAVIEW_DLL_NO_BLOCK, doc.InitHagakiManage(m_owner, 6));  // a key without a block
    EXPECT_TRUE(trace.Contains("OrmaViewGetHagakiManage error! [ErrorCode]"));
    EXPECT_EQ(nullptr, doc.m_pHagakiManage);
    const struct {
        std::string folder;
        int docID, pageID, expected;
        const char* trace;
    } cases[] = {
        {"", 12, 3, ov::kErrBadParameter, "Parameter Error! strWorkDeskFolder.GetLength() == 0."},
        {m_desk.Path(), 0, 3, ov::kErrBadParameter, "Parameter Error! iDocID < 1."},
        {m_desk.Path(), 12, 0, ov::kErrBadParameter, "Parameter Error! iPageID < 1."},
        {m_desk / "missing", 12, 3, ov::kErrFolderMissing, "File doesn't Exist! [File] "},
        {m_desk.Path(), 12, 3, 0, ""},  // document mode: no viewer window, no event
    };
    for (const auto& c : cases) {
        HAGAKI_MANAGE_INFO info{};
        std::strncpy(info.szWorkDeskFolder, c.folder.c_str(), MAX_PATH - 1);
        info.iDocID = c.docID;
        info.iPageID = c.pageID;
        ASSERT_EQ(0, OrmaViewSetHagakiManage(9, &info));
        EXPECT_EQ(c.expected, doc.InitHagakiManage(m_owner, 9)) << c.trace;
        EXPECT_TRUE(trace.Contains(c.trace)) << trace.Text();
        EXPECT_EQ(c.expected == 0, doc.m_pHagakiManage != nullptr);
    }
    HAGAKI_MANAGE_INFO published{};
    ASSERT_EQ(0, OrmaViewGetHagakiManage(9, &published));
    EXPECT_EQ(std::make_pair(m_owner, 9), std::make_pair(published.hOwnerWnd, published.iKey));
}

TEST_F(PeerTest, StartNextAndCloseAcrossProcesses) {
    auto peer = StartPeer(501, 1, {"12,1,1", "12,2,0"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 501));
    CHagakiManage& m = *doc.m_pHagakiManage;
    EXPECT_TRUE(Logged(501, "event=1 change=0 result=0 card=1"));
    EXPECT_EQ(m_desk.Path(), m.GetFolder());
    EXPECT_EQ(std::make_pair(12, 1), std::make_pair(m.GetDocID(), m.GetCurPageID()));
    EXPECT_TRUE(m.IsEditable() && m.HasNextPage() && !m.HasPrevPage());
    m.SetChange(2);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_NEXT));
    EXPECT_TRUE(Logged(501, "event=3 change=2 result=0 card=2"));
    EXPECT_EQ(2, m.GetCurPageID());
    EXPECT_TRUE(!m.IsEditable() && !m.HasNextPage() && m.HasPrevPage());  // the last postcard: no next
    m.SetChange(1);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_CLOSE));
    EXPECT_TRUE(Logged(501, "event=2 change=1 result=0"));

    CloseOwner();
    peer->Wait();
}

TEST_F(PeerTest, FailingAnswersAndAPeerThatHasGone) {
    ovtest::TraceCapture trace;
    {
        auto peer = StartPeer(503, 1, {"12,1,1"}, {"--fail", "1=9"});  // the start event fails
        COrmaViewDoc doc;
        EXPECT_EQ(ov::kErrException, doc.InitHagakiManage(m_owner, 503));
        EXPECT_TRUE(trace.Contains("CHagakiManage::FireEvent() Error!(-5)"));
        EXPECT_EQ(nullptr, doc.m_pHagakiManage);
    }
    {
        auto peer = StartPeer(504, 1, {"12,1,1", "12,2,1"}, {"--fail", "3=1"});
        COrmaViewDoc doc;
        ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 504));
        EXPECT_EQ(ov::kErrException, doc.m_pHagakiManage->FireEvent(HAGAKI_EVENT_NEXT));
        EXPECT_TRUE(trace.Contains("CHagakiManage::FireEvent Viewer error! [ErrorCode] 1"));
        EXPECT_TRUE(Logged(504, "event=3 change=0 result=1"));
    }
    auto peer = StartPeer(505, 1, {"12,1,1", "12,2,1"}, {"--die-on", "3"});
    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 505));
    CHagakiManage& m = *doc.m_pHagakiManage;
    EXPECT_NE(0, m.FireEvent(HAGAKI_EVENT_NEXT));
    peer->Wait();
    trace.Clear();
    EXPECT_EQ(ov::kErrException, m.FireEvent(HAGAKI_EVENT_NEXT));
    EXPECT_TRUE(trace.Contains("SendMessageA() Error!"));
    EXPECT_EQ(1, m.GetCurPageID());
}
