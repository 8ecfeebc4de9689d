// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's widgets in standard mode: every key reaching its command, the
// painted page (dimmed with a note while another is coming, an error's text
// where the page would be), the ways of closing; the window placement in
// WorkDesk.dat: the rule for a saved rectangle on other screens, the default
// square, the saved and the maximised state across a close and a new start, and
// a save on a full disk.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QTest>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "frame/WindowPlacement.h"
#include "image/PageBitmap.h"
#include "support/EnvGuard.h"
#include "win32/AtomicFile.h"

namespace {

using ViewerTest = guitest::ViewerFixture;

// Pixels of a grab that differ from the button face (every other pixel).
int Written(const QImage& shot, const QColor& face) {
    int n = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) n += shot.pixelColor(x, y) != face;
    return n;
}

// Every key of a command runs it: the window's keys from anywhere, the page
// keys while the page has the focus.
TEST_F(ViewerTest, EveryKeyAndTheWheelReachTheirCommand) {
    ASSERT_TRUE(StartOnPage(1));
    const auto key = [this](QKeyCombination k) {
        return [this, k] { QTest::keyClick(View(), k.key(), k.keyboardModifiers()); };
    };
    const std::pair<std::function<void()>, int> steps[] = {
        {key(Qt::CTRL | Qt::Key_PageDown), 2},
        {key(Qt::CTRL | Qt::Key_PageUp), 1},
        {key(Qt::Key_PageDown), 2},
        {key(Qt::Key_Space), 5},  // both index sheets passed over
        {key(Qt::Key_Left), 2},
        {key(Qt::Key_Right), 5},
        {key(Qt::Key_Backspace), 2},
        {key(Qt::Key_End), 5},
        {key(Qt::Key_Home), 1},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].first();
        EXPECT_EQ(Doc()->m_iCurPagePos, steps[i].second);
        EXPECT_EQ(Frame()->CommandAction(ID_PREV_PAGE)->isEnabled(), steps[i].second != 1);
        EXPECT_EQ(Frame()->CommandAction(ID_NEXT_PAGE)->isEnabled(), steps[i].second != 5);
    }
    // A goes through the annotation command, whose button shows its state.
    const int iShown = Doc()->m_bShowEditInfo;
    key(QKeyCombination(Qt::Key_A))();
    EXPECT_NE(Doc()->m_bShowEditInfo, iShown);
    EXPECT_EQ(Frame()->CommandAction(ID_ANNOTATION)->isChecked(), Doc()->m_bShowEditInfo != 0);
    EXPECT_EQ(m_env.MessageLog(), "");
    // A tooltip names every key of its command, and shows only inside the frame.
    const QString tip = CMainFrame::ToolTipWithKeys(ID_NEXT_PAGE, QStringLiteral("Next"));
    for (const char* k : {"Ctrl+PgDown", "PgDown", "Space", "Right"})
        EXPECT_TRUE(tip.contains(QLatin1String(k))) << tip.toStdString();
    EXPECT_TRUE(CMainFrame::ToolTipWithKeys(ID_TURN_VIEW_LEFT, QString()).contains(QLatin1String("Shift+R")));
    EXPECT_EQ("", Frame()->OnToolTipText(ID_NEXT_PAGE, Frame()->mapToGlobal(QPoint(-5, -5))));
    EXPECT_NE("", Frame()->OnToolTipText(ID_NEXT_PAGE, Frame()->mapToGlobal(QPoint(5, 5))));
}

// The view on its own: the picture it is given, dimmed with the frame's note
// while another is coming, and an error's text in place of the page.
TEST(PageView, PaintsThePictureTheBusyNoteAndTheErrorText) {
    guitest::App();
    COrmaViewView view;
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(600, 450)), QSize(580, 435));  // 29/30 of the view
    const QColor face = view.palette().color(QPalette::Button);
    auto bitmap = std::make_shared<CPageBitmap>();
    bitmap->Create(100, 50);
    for (int y = 0; y < 50; ++y) std::fill_n(bitmap->Row(y), 100, 0xFF000000u);
    view.ShowPage(bitmap);
    EXPECT_EQ(view.PageImageRect(), QRect(100, 75, 100, 50));
    QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(150, 100), QColor(0, 0, 0));
    EXPECT_EQ(shot.pixelColor(5, 5), face);

    view.PageRequested(QStringLiteral("Page 2 of 3"));
    EXPECT_TRUE(view.IsPageBusy());
    EXPECT_EQ(view.grab().toImage().pixelColor(150, 80), QColor(0, 0, 0));  // not dimmed at once
    QTest::qWait(250);
    shot = view.grab().toImage();
    EXPECT_NE(shot.pixelColor(105, 80), QColor(0, 0, 0));     // dimmed
    EXPECT_GT(Written(shot.copy(0, 90, 300, 20), face), 20);  // the note

    view.ShowPageError(-704);
    EXPECT_FALSE(view.IsPageBusy());
    EXPECT_TRUE(view.PageImage().isNull());
    EXPECT_GT(Written(view.grab().toImage(), face), 50);  // the message's text
}

TEST_F(ViewerTest, EveryWayOfClosingTakesTheOneClosingPath) {
    const std::function<void()> closers[] = {
        [&] { QTest::keyClick(View(), Qt::Key_Escape); },
        [&] { QTest::mouseDClick(View(), Qt::LeftButton); },
        [&] { Frame()->close(); },
        [&] { Frame()->CommandAction(ID_VIEW_CLOSE)->trigger(); },
        [&] { QTest::keyClick(View(), Qt::Key_Q, Qt::ControlModifier); },
        [&] { QTest::keyClick(View(), Qt::Key_W, Qt::ControlModifier); },
    };
    for (std::size_t i = 0; i < std::size(closers); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(StartOnPage(1));
        std::remove(m_env.WorkDeskDat().c_str());
        closers[i]();
        EXPECT_FALSE(Frame()->isVisible());
        EXPECT_EQ(Value("Size"), 0);  // the placement saved
    }
}

TEST(WindowPlacementRule, SavedRectangleIsLimitedAndBroughtOntoTheAvailableScreen) {
    // Available areas in logical pixels: 1920x1080 and 3840x2160 at scale 2 with a
    // 40-px panel, a 1280x720 laptop, a second screen to the right.
    const QRect hd(0, 0, 1920, 1040);
    const QRect uhd2x(0, 0, 1920, 1060);
    const QRect laptop(0, 0, 1280, 690);
    const QRect right(1920, 0, 1280, 1024);
    const QMargins frame(4, 24, 4, 4);  // borders and a title bar
    struct Case {
        const char* what;
        int left, top, width, height;
        QList<QRect> screens;
        QRect expected;
        QMargins frame = {};
    };
    // clang-format off
    const Case cases[] = {
        {"saved on a 4K screen at scale 1, opened at scale 2: size limited, moved",
         2400, 1200, 1600, 900, {uhd2x}, QRect(320, 160, 1600, 900)},
        {"60 % off to the right on a smaller screen: moved back with its frame, size kept",
         1000, 100, 700, 500, {laptop}, QRect(576, 100, 700, 500), frame},
        {"as large as the screen: limited so that the frame fits",
         10, 10, 1280, 690, {laptop}, QRect(4, 24, 1272, 662), frame},
        {"on screen, its title bar above the top: not moved", 0, 0, 800, 600, {hd}, QRect(0, 0, 800, 600), frame},
        {"on the second screen: stays there", 2000, 100, 1000, 800, {hd, right}, QRect(2000, 100, 1000, 800)},
        {"second screen gone: onto the primary", 2000, 100, 1000, 800, {hd}, QRect(920, 100, 1000, 800)},
        {"Left=INT_MAX, Height=INT_MAX: no overflow", INT_MAX, 0, 800, INT_MAX, {hd}, QRect(1120, 0, 800, 1040)},
        {"no screen known: an 800x600 area", 5000, 5000, 400, 300, {}, QRect(400, 300, 400, 300)},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(ov::FitSavedWindowRect(c.left, c.top, c.width, c.height, c.screens, c.frame), c.expected)
            << c.what;
}

class PlacementTest : public guitest::ViewerFixture {
protected:
    QRect Saved() const { return QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")); }
};

// The maximised state and the normal rectangle come back at the next start,
// other keys kept. Without $ORMAVIEW_WORKDESK or an ormaview.ini the folder of
// the command line keeps them.
TEST_F(PlacementTest, SavedAndMaximisedStatesComeBackWithOtherKeysKept) {
    ovtest::EnvGuard noDesk("ORMAVIEW_WORKDESK", nullptr);
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0, "[WorkDesk]\r\nName=Desk\r\n");
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->m_strWorkDeskDatPath, m_env.WorkDeskDat());
    EXPECT_EQ(Frame()->geometry(), QRect(100, 50, 400, 300));

    const QRect normal(120, 80, 500, 360);
    Frame()->setGeometry(normal);
    Frame()->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Frame()->isMaximized(); }));
    Frame()->OnClose();
    EXPECT_EQ(Value("Size"), 1);
    EXPECT_EQ(Saved(), normal);
    EXPECT_NE(ovtest::ReadFile(m_env.WorkDeskDat()).find("Name=Desk"), std::string::npos);
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_TRUE(Frame()->isMaximized());
    EXPECT_EQ(Frame()->normalGeometry(), normal);
}

// The frame saves through the crash-safe replace (whose link handling the
// platform tests cover).
TEST_F(PlacementTest, AFullDiskKeepsTheOldPlacementAndSaysSo) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0);
    const std::string old = ovtest::ReadFile(m_env.WorkDeskDat());
    ASSERT_TRUE(StartOnPage(1));
    Frame()->setGeometry(120, 80, 500, 360);
    ov::SetReplaceFaultHook([](ov::ReplaceStep step) { return step == ov::ReplaceStep::Write ? ENOSPC : 0; });
    Frame()->OnClose();
    ov::SetReplaceFaultHook(nullptr);
    EXPECT_EQ(old, ovtest::ReadFile(m_env.WorkDeskDat()));
    const std::string trace = m_env.TraceText();
    for (const std::string& line :
         {"ReplaceFileContents() Error! [Path] " + m_env.WorkDeskDat() + " [Step] write [errno] 28",
          "WritePrivateProfileString() Error! [File] " + m_env.WorkDeskDat() + " [ErrorCode] 28"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
}

}  // namespace
