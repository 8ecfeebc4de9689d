// SPDX-License-Identifier: AGPL-3.0-or-later
// The window placement in WorkDesk.dat: the default square, a saved rectangle,
// and the maximised state across a close and a new start.
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"

namespace {

using PlacementTest = guitest::ViewerFixture;

TEST_F(PlacementTest, WithoutASavedRectangleTheWindowIsACentredSquare) {
    // No file, then a section with all four values 0.
    for (bool bZeros : {false, true}) {
        if (bZeros)
            guitest::WritePlacement(m_env.WorkDeskDat(), 0, 0, 0, 0, 0);
        ASSERT_TRUE(StartOnPage(1));
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = Frame()->frameGeometry();
        EXPECT_TRUE(Frame()->m_bCenterWindow);
        EXPECT_FALSE(Frame()->isMaximized());
        // A square that uses the smaller side of the work area and fits on it,
        // centred within the width of the window's border.
        EXPECT_EQ(Frame()->width(), Frame()->height());
        EXPECT_TRUE(avail.contains(frame));
        EXPECT_GE(frame.height(), avail.height() - 40);
        const int iBorder = frame.width() - Frame()->width();
        EXPECT_LE((frame.center() - avail.center()).manhattanLength(), 2 * iBorder);
    }
}

TEST_F(PlacementTest, SavedRectangleIsUsedAsStoredAndWrittenBackWithOtherKeysKept) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0, "[WorkDesk]\r\nName=Desk\r\n");
    ovtest::WriteFile(m_env.WorkDeskDat(), ovtest::ReadFile(m_env.WorkDeskDat()) + "Extra=keep\r\n");
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_FALSE(Frame()->m_bCenterWindow);
    EXPECT_EQ(Frame()->geometry(), QRect(100, 50, 400, 300));
    Frame()->setGeometry(120, 80, 500, 360);
    Frame()->OnClose();
    EXPECT_EQ(QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")), QRect(120, 80, 500, 360));
    EXPECT_EQ(Value("Size"), 0);
    const std::string text = ovtest::ReadFile(m_env.WorkDeskDat());
    EXPECT_NE(text.find("Name=Desk"), std::string::npos);
    EXPECT_NE(text.find("Extra=keep"), std::string::npos);
}

TEST_F(PlacementTest, MaximisedWindowComesBackMaximisedOverItsNormalRectangle) {
    const QRect normal(60, 40, 420, 320);
    guitest::WritePlacement(m_env.WorkDeskDat(), 60, 40, 420, 320, 0);
    ASSERT_TRUE(StartOnPage(1));
    Frame()->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Frame()->isMaximized(); }));
    Frame()->OnClose();
    EXPECT_EQ(Value("Size"), 1);
    EXPECT_EQ(QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")), normal);

    ASSERT_TRUE(StartOnPage(1));
    EXPECT_TRUE(Frame()->isMaximized());
    EXPECT_EQ(Frame()->normalGeometry(), normal);
    // Restored and closed again: the normal state is written.
    Frame()->showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Frame()->isMaximized(); }));
    EXPECT_EQ(Frame()->geometry(), normal);
    Frame()->OnClose();
    EXPECT_EQ(Value("Size"), 0);
    EXPECT_EQ(Value("Width"), 420);
}

}  // namespace
