// SPDX-License-Identifier: AGPL-3.0-or-later
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "IpcTestUtil.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/WindowManager.h"

namespace {

using ipctest::Child;
using ipctest::IpcTest;
using ipctest::WaitForFile;

std::string Peer(const char* name) {
    return ipctest::BinDir() + "/" + name;
}

TEST_F(IpcTest, WorkDeskPeerLogsTheViewerClosedNotification) {
    Child desk({Peer("ormaview-workdesk"), "--log", m_tmp / "log", "--ready-file", m_tmp / "ready"});
    ASSERT_NE(WaitForFile(m_tmp / "ready"), "");
    HWND hwnd = FindWindowA("ZantexQuilmLibraryPerWorkDeskWndClass", nullptr);
    ASSERT_NE(hwnd, 0u);
    EXPECT_EQ(SendMessageA(hwnd, WM_VIEWER_CLOSED, 0, 0), 0);
    EXPECT_EQ(errno, 0);
    SendMessageA(hwnd, WM_USER, 1, 2);  // answered, not logged
    EXPECT_EQ(SendMessageA(hwnd, WM_VIEWER_CLOSED, 0, 0), 0);
    EXPECT_EQ(ovtest::ReadFile(m_tmp / "log"),
              "WM_VIEWER_CLOSED wParam=0 lParam=0\nWM_VIEWER_CLOSED wParam=0 lParam=0\n");

    desk.Signal(SIGTERM);
    EXPECT_EQ(desk.Wait(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

class PostcardPeerTest : public IpcTest {
protected:
    void SetUp() override {
        IpcTest::SetUp();
        m_frame = RegisterWindow("ZantexQuilmLibraryPerOrmaViewWndClass", nullptr);
        ASSERT_NE(m_frame, 0u);
    }
    void TearDown() override {
        UnregisterWindow(m_frame);
        IpcTest::TearDown();
    }
    // The viewer's side of an event: publish the change state, send, re-read.
    HAGAKI_MANAGE_INFO Fire(int event, int change, LRESULT* answer = nullptr) {
        HAGAKI_MANAGE_INFO b{};
        EXPECT_EQ(OrmaViewGetHagakiManage(kKey, &b), 0);
        b.iChange = change;
        b.hOwnerWnd = m_frame;
        b.iResult = 0;
        b.reserved3[5] = 0x5A;
        EXPECT_EQ(OrmaViewSetHagakiManage(kKey, &b), 0);
        LRESULT r = SendMessageA(b.hViewerWnd, b.uEventMessage, 0, event);
        if (answer != nullptr) {
            *answer = r;
        }
        HAGAKI_MANAGE_INFO after{};
        EXPECT_EQ(OrmaViewGetHagakiManage(kKey, &after), 0);
        EXPECT_EQ(after.reserved3[5], 0x5A);  // the peer carries what it does not use
        return after;
    }
    static constexpr int kKey = 77;
    HWND m_frame = 0;  // the viewer's frame, as the viewer publishes it
};

TEST_F(PostcardPeerTest, AnswersEventsByRewritingTheBlock) {
    Child peer({Peer("ormaview-postcard-viewer"), "--key", "77", "--mode", "1", "--card", "/wd/a,b,12,3,1",
                "--card", "/wd/c,14,5,0", "--no-launch", "--fail", "4=7", "--log", m_tmp / "log",
                "--ready-file", m_tmp / "ready"});
    ASSERT_NE(WaitForFile(m_tmp / "ready"), "");

    HAGAKI_MANAGE_INFO b{};
    ASSERT_EQ(OrmaViewGetHagakiManage(kKey, &b), 0);
    EXPECT_EQ(b.iKey, kKey);
    EXPECT_EQ(b.iMode, 1);
    EXPECT_EQ(b.hViewerWnd, FindWindowA("OrmaViewPostcardViewerWndClass", nullptr));
    EXPECT_EQ(b.uEventMessage, 0x8100u);
    EXPECT_STREQ(b.szWorkDeskFolder, "/wd/a,b");  // commas belong to the folder
    EXPECT_EQ(b.iDocID, 12);
    EXPECT_EQ(b.iPageID, 3);
    EXPECT_EQ(b.bEditable, 1);
    EXPECT_EQ(b.bNextPage, 1);
    EXPECT_EQ(b.bPrevPage, 0);

    b = Fire(HAGAKI_EVENT_START, 0);
    EXPECT_EQ(b.iResult, 0);
    EXPECT_EQ(b.iDocID, 12);

    LRESULT answer = -1;
    b = Fire(HAGAKI_EVENT_NEXT, 1, &answer);
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(b.iResult, 0);
    EXPECT_STREQ(b.szWorkDeskFolder, "/wd/c");
    EXPECT_EQ(b.iDocID, 14);
    EXPECT_EQ(b.iPageID, 5);
    EXPECT_EQ(b.bEditable, 0);
    EXPECT_EQ(b.bNextPage, 0);
    EXPECT_EQ(b.bPrevPage, 1);

    b = Fire(HAGAKI_EVENT_NEXT, 0, &answer);  // there is no next card
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(b.iResult, 1);
    EXPECT_EQ(b.iDocID, 14);

    b = Fire(HAGAKI_EVENT_PREV, 3);  // told to fail
    EXPECT_EQ(b.iResult, 7);
    EXPECT_EQ(b.iDocID, 14);

    b = Fire(HAGAKI_EVENT_CLOSE, 2);  // re-reads the block after the answer
    EXPECT_EQ(b.iResult, 0);
    UnregisterWindow(m_frame);  // the viewer's frame goes; the peer ends
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_EQ(OrmaViewGetHagakiManage(kKey, &b), ORMAVIEW_DLL_NO_BLOCK);  // removed on exit
    EXPECT_EQ(ovtest::ReadFile(m_tmp / "log"),
              "event=1 change=0 result=0 card=1\n"
              "event=3 change=1 result=0 card=2\n"
              "event=3 change=0 result=1 card=2\n"
              "event=4 change=3 result=7 card=2\n"
              "event=2 change=2 result=0 card=2\n");
}

TEST_F(PostcardPeerTest, PeerThatDiesMidEventGivesAFailedSend) {
    Child peer({Peer("ormaview-postcard-viewer"), "--key", "77", "--mode", "0", "--card", "/wd,1,1,1",
                "--no-launch", "--die-on", "2", "--ready-file", m_tmp / "ready"});
    ASSERT_NE(WaitForFile(m_tmp / "ready"), "");
    HAGAKI_MANAGE_INFO b{};
    ASSERT_EQ(OrmaViewGetHagakiManage(kKey, &b), 0);
    EXPECT_EQ(SendMessageA(b.hViewerWnd, b.uEventMessage, 0, HAGAKI_EVENT_CLOSE), 0);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_EQ(peer.Wait(), 3);
    EXPECT_FALSE(IsWindow(b.hViewerWnd));
}

TEST_F(PostcardPeerTest, LaunchesTheViewerAndEndsWithItsStatus) {
    ::setenv("IPC_HELPER_OUT", (m_tmp / "viewer").c_str(), 1);
    Child peer({Peer("ormaview-postcard-viewer"), "--key", "77", "--mode", "1", "--card", "/wd,1,2,1",
                "--card", "/wd,3,4,1", "--viewer", Peer("ormaview-ipc-test-helper"), "--log", m_tmp / "log"});
    EXPECT_EQ(peer.Wait(), 42);
    ::unsetenv("IPC_HELPER_OUT");
    EXPECT_EQ(ovtest::ReadFile(m_tmp / "viewer"),
              "start folder=/wd doc=1 page=2 next=1 prev=0\n"
              "next answer=0 result=0 doc=3 page=4 next=0 prev=1\n");
    EXPECT_EQ(ovtest::ReadFile(m_tmp / "log"),
              "event=3 change=2 result=0 card=2\n"
              "event=2 change=2 result=0 card=2\n");

    // Bad command lines are refused.
    Child noCard({Peer("ormaview-postcard-viewer"), "--key", "77", "--mode", "1", "--no-launch"});
    EXPECT_EQ(noCard.Wait(), 2);
    Child badCard({Peer("ormaview-postcard-viewer"), "--key", "77", "--mode", "1", "--card", "/wd,x,1,1"});
    EXPECT_EQ(badCard.Wait(), 2);
}

}  // namespace
