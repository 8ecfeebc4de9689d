// SPDX-License-Identifier: AGPL-3.0-or-later
// A saved window rectangle on screens of other sizes and scales, and the
// work-desk folder taken from the command line when no other is named.
#include <climits>

#include <QGuiApplication>
#include <QScreen>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"
#include "frame/WindowPlacement.h"

namespace {

TEST(WindowPlacementRule, SavedRectangleIsLimitedAndBroughtOntoTheAvailableScreen) {
    // Available areas in logical pixels: a 1920x1080 screen at scale 1 with a
    // 40-px panel, the same panel at scale 2 on a 3840x2160 screen, a 1280x720
    // laptop, and two screens side by side (the second to the right).
    const QRect hd(0, 0, 1920, 1040);
    const QRect uhd2x(0, 0, 1920, 1060);
    const QRect laptop(0, 0, 1280, 690);
    const QRect right(1920, 0, 1280, 1024);
    struct Case {
        const char* what;
        int left, top, width, height;
        QList<QRect> screens;
        QRect expected;
    };
    const Case cases[] = {
        {"fits: as stored", 100, 50, 800, 600, {hd}, QRect(100, 50, 800, 600)},
        {"partly off but mostly on: as stored", 1300, 400, 800, 600, {hd}, QRect(1300, 400, 800, 600)},
        {"saved on a 4K screen at scale 1, opened at scale 2: size limited, moved",
         2400,
         1200,
         1600,
         900,
         {uhd2x},
         QRect(320, 160, 1600, 900)},
        {"60 % off to the right on a smaller screen: moved back, size kept",
         1000,
         100,
         700,
         500,
         {laptop},
         QRect(580, 100, 700, 500)},
        {"larger than the laptop: limited to it", 0, 0, 2560, 1400, {laptop}, QRect(0, 0, 1280, 690)},
        {"left of the screen: moved to its left edge", -900, 200, 1000, 600, {hd}, QRect(0, 200, 1000, 600)},
        {"above the screen: moved down", 300, -700, 800, 600, {hd}, QRect(300, 0, 800, 600)},
        {"on the second screen: stays there", 2000, 100, 1000, 800, {hd, right}, QRect(2000, 100, 1000, 800)},
        {"second screen gone: onto the primary", 2000, 100, 1000, 800, {hd}, QRect(920, 100, 1000, 800)},
        {"Width=INT_MAX: limited before it is added", 100, 50, INT_MAX, 600, {hd}, QRect(0, 50, 1920, 600)},
        {"Left=INT_MAX, Height=INT_MAX: no overflow",
         INT_MAX,
         0,
         800,
         INT_MAX,
         {hd},
         QRect(1120, 0, 800, 1040)},
        {"Left=INT_MIN: onto the screen", INT_MIN, INT_MIN, 800, 600, {hd}, QRect(0, 0, 800, 600)},
        {"negative and zero sizes: the smallest window", 100, 100, -50, 0, {hd}, QRect(100, 100, 200, 200)},
        {"smaller screen than the smallest window",
         0,
         0,
         50,
         50,
         {QRect(0, 0, 120, 90)},
         QRect(0, 0, 120, 90)},
        {"no screen known: an 800x600 area", 5000, 5000, 400, 300, {}, QRect(400, 300, 400, 300)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ov::FitSavedWindowRect(c.left, c.top, c.width, c.height, c.screens), c.expected) << c.what;
    }
}

using PlacementRuleTest = guitest::ViewerFixture;

TEST_F(PlacementRuleTest, HugeSavedValuesOpenAWindowThatFitsTheScreen) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 2147483647, 10, 2147483647, 2147483647, 0);
    ASSERT_TRUE(StartOnPage(1));
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_FALSE(Frame()->m_bCenterWindow);
    EXPECT_LE(Frame()->width(), avail.width());
    EXPECT_LE(Frame()->height(), avail.height());
    EXPECT_TRUE(avail.intersects(Frame()->geometry()));
}

TEST_F(PlacementRuleTest, WithoutANamedWorkDeskTheFolderOfTheCommandLineKeepsThePlacement) {
    // Neither $ORMAVIEW_WORKDESK nor an ormaview.ini names a work desk.
    ovtest::EnvGuard noDesk("ORMAVIEW_WORKDESK", nullptr);
    ovtest::EnvGuard noConfig("XDG_CONFIG_HOME", m_env.Path("config").c_str());
    guitest::WritePlacement(m_env.WorkDeskDat(), 30, 40, 350, 250, 0);
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->m_strWorkDeskDatPath, m_env.WorkDeskDat());
    EXPECT_EQ(Frame()->geometry(), QRect(30, 40, 350, 250));
    Frame()->setGeometry(60, 70, 380, 260);
    Frame()->OnClose();
    Stop();
    EXPECT_EQ(QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")), QRect(60, 70, 380, 260));
    EXPECT_EQ(m_env.TraceText().find("MakeFile() Error!"), std::string::npos);

    // A named work desk still wins over the folder of the command line.
    const std::string other = m_env.Path("other");
    ovtest::MakeDirs(other);
    ovtest::EnvGuard desk("ORMAVIEW_WORKDESK", other.c_str());
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->m_strWorkDeskDatPath, other + "/WorkDesk.dat");
    Frame()->OnClose();
    Stop();
    EXPECT_NE(guitest::PlacementValue(other + "/WorkDesk.dat", "Width"), -9999);
    EXPECT_EQ(Value("Width"), 380);
}

}  // namespace
