// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard manager: the block checks, and start, next and close against the
// postcard-viewer stand-in in a second process, up to a viewer that has gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "PostcardTestSupport.h"
#include "base/ErrorCodes.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"

namespace {

// A private runtime folder and work desk, and a registered owner window.
class ManageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_owner = RegisterWindow("OrmaViewPostcardTestOwner",
                                 [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        ASSERT_NE(0u, m_owner);
    }
    void TearDown() override {
        if (m_owner)
            UnregisterWindow(m_owner);
    }
    ovtest::TempDir m_runtime, m_desk, m_tmp;
    ovtest::EnvGuard m_xdg{"XDG_RUNTIME_DIR", m_runtime.Path().c_str()};
    ovtest::EnvGuard m_wd{"ORMAVIEW_WORKDESK", m_desk.Path().c_str()};
    ovtest::TraceCapture m_trace;
    HWND m_owner = 0;
};

}  // namespace

TEST_F(ManageTest, BadParametersAndBadBlocksGiveNoManager) {
    COrmaViewDoc doc;
    EXPECT_EQ(ov::kErrSilentParameter, doc.InitHagakiManage(m_owner, 0));
    EXPECT_EQ(ov::kErrSilentParameter, doc.InitHagakiManage(0x7fff1234, 5));
    EXPECT_EQ(ov::kErrNoPostcardKey, doc.InitHagakiManage(m_owner, 6));  // a key without a block
    EXPECT_TRUE(m_trace.Contains("OrmaViewGetHagakiManage error! [ErrorCode]"));
    EXPECT_EQ(nullptr, doc.m_pHagakiManage);
    const struct {
        int mode;
        std::string folder;
        int docID, pageID, expected;
        const char* trace;
    } cases[] = {
        {0, "", 12, 3, ov::kErrBadParameter, "Parameter Error! strWorkDeskFolder.GetLength() == 0."},
        {0, m_desk.Path(), 12, 0, ov::kErrBadParameter, "Parameter Error! iPageID < 1."},
        {0, m_desk / "missing", 12, 3, ov::kErrFolderMissing, "File doesn't Exist! [File] "},
        // Undo-folder mode starts with an event: a viewer window that is not there fails it.
        {1, m_desk.Path(), 12, 3, ov::kErrException, "CHagakiManage::FireEvent() Error!(-5)"},
        {0, m_desk.Path(), 12, 3, 0, ""},  // document mode: no viewer window, no event
    };
    for (const auto& c : cases) {
        HAGAKI_MANAGE_INFO info{};
        std::strncpy(info.szWorkDeskFolder, c.folder.c_str(), MAX_PATH - 1);
        info.iMode = c.mode;
        info.hViewerWnd = 0x7fff1234;
        info.iDocID = c.docID;
        info.iPageID = c.pageID;
        ASSERT_EQ(0, OrmaViewSetHagakiManage(9, &info));
        EXPECT_EQ(c.expected, doc.InitHagakiManage(m_owner, 9)) << c.trace;
        EXPECT_TRUE(m_trace.Contains(c.trace)) << m_trace.Text();
        EXPECT_EQ(c.expected == 0, doc.m_pHagakiManage != nullptr);
    }
    EXPECT_TRUE(m_trace.Contains("SendMessageA() Error!"));
    HAGAKI_MANAGE_INFO published{};
    ASSERT_EQ(0, OrmaViewGetHagakiManage(9, &published));
    EXPECT_EQ(std::make_pair(m_owner, 9), std::make_pair(published.hOwnerWnd, published.iKey));
}

// One exchange with a real second process; its refusals are the viewer tests' part.
TEST_F(ManageTest, StartNextAndCloseAcrossProcessesThenTheViewerIsGone) {
    const std::string peer = ovtest::BuildProgram("ormaview-postcard-viewer");
    if (access(peer.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no postcard-viewer stand-in at " << peer;
    const std::string ready = m_tmp / "ready", log = m_tmp / "log";
    ovtest::Child child({peer, "--no-launch", "--timeout", "120", "--ready-file", ready, "--key", "501",
                         "--mode", "1", "--log", log, "--card", m_desk.Path() + ",12,1,1", "--card",
                         m_desk.Path() + ",12,2,0"});
    ASSERT_TRUE(ovtest::PollFor([&] { return ovtest::Exists(ready) || !child.Running(); }));
    auto logged = [&](const std::string& line) {
        return ovtest::ReadFile(log).find(line) != std::string::npos;
    };

    COrmaViewDoc doc;
    ASSERT_EQ(0, doc.InitHagakiManage(m_owner, 501));
    CHagakiManage& m = *doc.m_pHagakiManage;
    EXPECT_TRUE(logged("event=1 change=0 result=0 card=1"));
    EXPECT_EQ(m_desk.Path(), m.GetFolder());
    EXPECT_EQ(std::make_pair(12, 1), std::make_pair(m.GetDocID(), m.GetCurPageID()));
    EXPECT_TRUE(m.IsEditable() && m.HasNextPage() && !m.HasPrevPage());
    m.SetChange(2);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_NEXT));
    EXPECT_TRUE(logged("event=3 change=2 result=0 card=2"));
    EXPECT_EQ(2, m.GetCurPageID());
    EXPECT_TRUE(!m.IsEditable() && !m.HasNextPage() && m.HasPrevPage());  // the last postcard: no next
    m.SetChange(1);
    ASSERT_EQ(0, m.FireEvent(HAGAKI_EVENT_CLOSE));
    EXPECT_TRUE(logged("event=2 change=1 result=0"));

    // The stand-in ends once the close is answered and the frame has gone: an
    // event now fails and the card stays.
    UnregisterWindow(m_owner);
    m_owner = 0;
    EXPECT_EQ(0, child.Wait());
    m_trace.Clear();
    EXPECT_EQ(ov::kErrException, m.FireEvent(HAGAKI_EVENT_PREV));
    EXPECT_TRUE(m_trace.Contains("SendMessageA() Error!"));
    EXPECT_EQ(2, m.GetCurPageID());
}
