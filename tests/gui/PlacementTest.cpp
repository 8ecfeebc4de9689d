// SPDX-License-Identifier: AGPL-3.0-or-later
// The window placement in WorkDesk.dat: the default square, a saved rectangle,
// and the maximised state across a close and a new start.
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/OrmaView.h"
#include "frame/MainFrm.h"
#include "ormamsg/OrmaMsg.h"

namespace {

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::WriteIndexedDocument(m_env.WorkDesk(), 12);
        ov::InstallMessageBoxPresenter();
    }
    void TearDown() override { Stop(); }

    CMainFrame* Start() {
        m_pApp = std::make_unique<COrmaDeskApp>();
        if (!m_pApp->InitInstance(m_env.WorkDesk() + " 12 1"))
            return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_pApp->GetMainFrame()));
        return m_pApp->GetMainFrame();
    }
    void Stop() {
        if (m_pApp)
            m_pApp->ExitInstance();
        m_pApp.reset();
    }
    int Value(const char* key) const { return guitest::PlacementValue(m_env.WorkDeskDat(), key); }

    guitest::ViewerEnv m_env;
    std::unique_ptr<COrmaDeskApp> m_pApp;
};

TEST_F(PlacementTest, WithoutASavedRectangleTheWindowIsACentredSquare) {
    CMainFrame* pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(pFrame->m_bCenterWindow);
    EXPECT_FALSE(pFrame->isMaximized());
    // A square that uses the smaller side of the work area and fits on it.
    EXPECT_EQ(pFrame->width(), pFrame->height());
    EXPECT_TRUE(avail.contains(pFrame->frameGeometry()));
    EXPECT_GE(pFrame->frameGeometry().height(), avail.height() - 40);
    // Centred, within the width of the window's border.
    const int iBorder = pFrame->frameGeometry().width() - pFrame->width();
    EXPECT_LE(std::abs(pFrame->frameGeometry().center().x() - avail.center().x()), iBorder);
    EXPECT_LE(std::abs(pFrame->frameGeometry().center().y() - avail.center().y()), iBorder);
}

TEST_F(PlacementTest, AllFourValuesZeroCountAsNoSection) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 0, 0, 0, 0, 0);
    CMainFrame* pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_TRUE(pFrame->m_bCenterWindow);
}

TEST_F(PlacementTest, SavedRectangleIsUsedAsStoredAndWrittenBackOnClose) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0);
    CMainFrame* pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_FALSE(pFrame->m_bCenterWindow);
    EXPECT_EQ(pFrame->geometry(), QRect(100, 50, 400, 300));

    pFrame->setGeometry(120, 80, 500, 360);
    pFrame->OnClose();
    EXPECT_EQ(Value("Left"), 120);
    EXPECT_EQ(Value("Top"), 80);
    EXPECT_EQ(Value("Width"), 500);
    EXPECT_EQ(Value("Height"), 360);
    EXPECT_EQ(Value("Size"), 0);
}

TEST_F(PlacementTest, MaximisedWindowComesBackMaximisedOverItsNormalRectangle) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 60, 40, 420, 320, 0);
    CMainFrame* pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    pFrame->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pFrame->isMaximized(); }));
    pFrame->OnClose();
    EXPECT_EQ(Value("Size"), 1);
    EXPECT_EQ(Value("Left"), 60);
    EXPECT_EQ(Value("Top"), 40);
    EXPECT_EQ(Value("Width"), 420);
    EXPECT_EQ(Value("Height"), 320);
    Stop();

    pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_TRUE(pFrame->isMaximized());
    EXPECT_EQ(pFrame->normalGeometry(), QRect(60, 40, 420, 320));
    // Restored and closed again: the normal state is written.
    pFrame->showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pFrame->isMaximized(); }));
    pFrame->OnClose();
    EXPECT_EQ(Value("Size"), 0);
    EXPECT_EQ(Value("Width"), 420);
}

TEST_F(PlacementTest, OtherSectionsAndKeysAreKept) {
    ovtest::WriteFile(m_env.WorkDeskDat(),
                      "[WorkDesk]\r\nName=Desk\r\n[ThumbViewRect]\r\nLeft=10\r\nTop=20\r\n"
                      "Width=300\r\nHeight=200\r\nExtra=keep\r\n");
    CMainFrame* pFrame = Start();
    ASSERT_NE(pFrame, nullptr);
    pFrame->OnClose();
    const std::string text = ovtest::ReadFile(m_env.WorkDeskDat());
    EXPECT_NE(text.find("Name=Desk"), std::string::npos);
    EXPECT_NE(text.find("Extra=keep"), std::string::npos);
    EXPECT_EQ(Value("Size"), 0);
}

}  // namespace
