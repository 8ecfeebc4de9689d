// SPDX-License-Identifier: AGPL-3.0-or-later
// The saved placement under a real window manager, which puts its frame (title
// bar and borders) around the window only once the window is shown. Run by
// run-under-wm.sh on a display of its own with openbox.
#include <string>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"

namespace {

std::string Text(const QRect& rc) {
    return std::to_string(rc.x()) + "," + std::to_string(rc.y()) + " " + std::to_string(rc.width()) + "x" +
           std::to_string(rc.height());
}

class PlacementWmTest : public guitest::ViewerFixture {
protected:
    QRect Saved() const { return QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")); }
};

// A window fitted onto the screen lands there with its frame; one that lies on
// screen as saved stays exactly there. Either way its inside is saved.
TEST_F(PlacementWmTest, FittedWindowsLandWithTheirFrameOnTheScreen) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display with a window manager (tests/gui/run-under-wm.sh)";
    struct Case {
        const char* what;
        QRect saved;
        bool bSizeKept;
        bool bPlaceKept;
    };
    // The screen is 1024x768.
    const Case cases[] = {
        {"larger than the screen", QRect(40, 30, 1600, 1200), false, false},
        {"mostly off the right and bottom edges", QRect(800, 600, 500, 400), true, false},
        {"at negative coordinates", QRect(-300, -200, 500, 400), true, false},
        {"on the screen as saved", QRect(200, 150, 500, 400), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        guitest::WritePlacement(m_env.WorkDeskDat(), c.saved.x(), c.saved.y(), c.saved.width(),
                                c.saved.height(), 0);
        ASSERT_TRUE(StartOnPage(1));
        CMainFrame* pFrame = Frame();
        ASSERT_TRUE(QTest::qWaitFor([&] { return pFrame->frameGeometry() != pFrame->geometry(); }, 60000))
            << "the window manager put no frame around the window";
        const QRect avail = pFrame->screen()->availableGeometry();
        EXPECT_TRUE(QTest::qWaitFor([&] { return avail.contains(pFrame->frameGeometry()); }, 60000))
            << "frame " << Text(pFrame->frameGeometry()) << " on " << Text(avail);
        const QRect frame = pFrame->frameGeometry();
        const QRect inside = pFrame->geometry();
        if (c.bPlaceKept) {
            EXPECT_EQ(Text(inside), Text(c.saved));
        } else if (c.bSizeKept) {  // moved, not resized
            EXPECT_EQ(inside.size(), c.saved.size()) << Text(inside);
        } else {  // limited to the screen, not below
            EXPECT_EQ(frame.size(), avail.size()) << Text(frame);
        }

        pFrame->OnClose();
        EXPECT_EQ(Text(Saved()), Text(inside));
    }
}

}  // namespace
