// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's widgets in standard mode: the toolbar and its tooltips, every key
// and the wheel reaching its command, the painted page (fitted, dimmed with a
// note while another is coming, an error's text where the page would be), the
// ways of closing; the window placement in WorkDesk.dat: the rule for a saved
// rectangle on other screens, the default square, the saved and the maximised
// state across a close and a new start, the work-desk folder taken from the
// command line when no other is named, and a save on a full disk.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "frame/WindowPlacement.h"
#include "image/PageBitmap.h"
#include "support/EnvGuard.h"
#include "win32/AtomicFile.h"

namespace {

class ViewerTest : public guitest::ViewerFixture {
protected:
    // The colour in the middle of the page image.
    QColor PageColour() const {
        const QImage& image = View()->PageImage();
        return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    }
    // The page fills 29/30 of the client area on one side and fits on the other.
    void ExpectPageFitted() const {
        const QRect rcImage = View()->PageImageRect();
        const QSize request = COrmaViewView::PageBitmapRequest(View()->size());
        ASSERT_FALSE(rcImage.isEmpty());
        EXPECT_TRUE(rcImage.width() == request.width() || rcImage.height() == request.height());
        EXPECT_TRUE(rcImage.width() <= request.width() && rcImage.height() <= request.height());
        EXPECT_LE((rcImage.center() - View()->rect().center()).manhattanLength(), 2);
    }
};

// Pixels of a grab that differ from the button face (every other pixel).
int Written(const QImage& shot, const QColor& face) {
    int n = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) n += shot.pixelColor(x, y) != face;
    return n;
}

TEST_F(ViewerTest, StartShowsTheButtonsAndTheFirstPageFittedAndCentred) {
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(600, 450)), QSize(580, 435));
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 1/3 )"));
    EXPECT_FALSE(Frame()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(Frame()->toolBarArea(Frame()->ToolBar()), Qt::LeftToolBarArea);
    QStringList labels;
    for (QAction* pAction : Frame()->ToolBar()->actions()) {
        if (!pAction->text().isEmpty())  // the page indicator has none
            labels << pAction->text();
    }
    EXPECT_EQ(labels, QStringList({"Previous", "Next", "Annotations", "Close"}));
    EXPECT_EQ(Frame()->PageIndicator()->text(), QStringLiteral("1 / 3"));

    ExpectPageFitted();
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));
    EXPECT_EQ(View()->grab().toImage().pixelColor(1, 1), View()->palette().color(QPalette::Button));
    Frame()->resize(Frame()->width() / 2, Frame()->height() / 2);
    QApplication::processEvents();
    ExpectPageFitted();
}

// Every key of a command runs it: the window's keys from anywhere, the page
// keys while the page has the focus; the wheel steps one page a message.
TEST_F(ViewerTest, EveryKeyAndTheWheelReachTheirCommand) {
    ASSERT_TRUE(StartOnPage(1));
    const auto key = [this](QKeyCombination k) {
        return [this, k] { QTest::keyClick(View(), k.key(), k.keyboardModifiers()); };
    };
    const auto wheel = [this](int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [this, delta, modifiers] {
            guitest::SendWheel(View(), QPoint(10, 10), QPoint(0, delta), modifiers);
        };
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
        {wheel(-360), 2},  // one message, one page, however large the delta
        {wheel(120), 1},
        {wheel(-120, Qt::ControlModifier), 1},  // Ctrl + wheel magnifies, never steps
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
    // Ctrl+G asks for a number (index sheets not counted).
    QWidget* pView = View();
    QTimer::singleShot(0, [] {
        if (auto* pDialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(pDialog->intMaximum(), 3);
            pDialog->setIntValue(3);
            pDialog->accept();
        }
    });
    QTest::keyClick(pView, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    EXPECT_EQ(PageColour(), QColor(0, 0, 255));
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(ViewerTest, TooltipsListEveryKeyOnlyWhileTheCursorIsInsideTheFrame) {
    ASSERT_TRUE(StartOnPage(1));
    const QPoint inside = Frame()->mapToGlobal(QPoint(5, 5));
    const QPoint outside = Frame()->mapToGlobal(QPoint(-20, Frame()->height() + 20));
    const std::pair<UINT, const char*> tips[] = {
        {ID_PREV_PAGE, "Previous Page (Ctrl+PgUp, PgUp, Backspace, Left)"},
        {ID_NEXT_PAGE, "Next Page (Ctrl+PgDown, PgDown, Space, Right)"},
        {ID_ANNOTATION, "Show/Hide annotations (A)"},
        {ID_VIEW_CLOSE, "Close (Ctrl+W, Ctrl+Q)"},
        {ID_OMOTE_ROTATE, "Turn front side right (Ctrl+R)"},
        {ID_URA_ROTATE, "Turn back side right (Ctrl+Shift+R)"},
        {ID_HAGAKI_ROTATION, "Turn postcard upside down (Ctrl+T)"},
    };
    for (const auto& [nID, tip] : tips) {
        const QString text = QString::fromStdString(Frame()->OnToolTipText(nID, inside));
        EXPECT_EQ(CMainFrame::ToolTipWithKeys(nID, text), QString::fromUtf8(tip));
        EXPECT_EQ(Frame()->OnToolTipText(nID, outside), "");
    }
    // The same rule on the real tooltip event of a button.
    QWidget* pButton = Frame()->ToolBar()->widgetForAction(Frame()->CommandAction(ID_NEXT_PAGE));
    QHelpEvent outsideEvent(QEvent::ToolTip, QPoint(1, 1), outside);
    QApplication::sendEvent(pButton, &outsideEvent);
    EXPECT_FALSE(QToolTip::isVisible());
    QHelpEvent insideEvent(QEvent::ToolTip, QPoint(1, 1), pButton->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(pButton, &insideEvent);
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8(tips[1].second));
    QToolTip::hideText();
}

// The view on its own: the picture it is given, dimmed with the frame's note
// while another is coming, and an error's text in place of the page.
TEST(PageView, PaintsThePictureTheBusyNoteAndTheErrorText) {
    guitest::App();
    COrmaViewView view;
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
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
        [&] { Frame()->OnClose(); },
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
        EXPECT_EQ(Value("Width"), Frame()->width());
    }
}

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
    // clang-format off
    const Case cases[] = {
        {"fits: as stored", 100, 50, 800, 600, {hd}, QRect(100, 50, 800, 600)},
        {"partly off but mostly on: as stored", 1300, 400, 800, 600, {hd}, QRect(1300, 400, 800, 600)},
        {"saved on a 4K screen at scale 1, opened at scale 2: size limited, moved",
         2400, 1200, 1600, 900, {uhd2x}, QRect(320, 160, 1600, 900)},
        {"60 % off to the right on a smaller screen: moved back, size kept",
         1000, 100, 700, 500, {laptop}, QRect(580, 100, 700, 500)},
        {"larger than the laptop: limited to it", 0, 0, 2560, 1400, {laptop}, QRect(0, 0, 1280, 690)},
        {"left of the screen: moved to its left edge", -900, 200, 1000, 600, {hd}, QRect(0, 200, 1000, 600)},
        {"above the screen: moved down", 300, -700, 800, 600, {hd}, QRect(300, 0, 800, 600)},
        {"on the second screen: stays there", 2000, 100, 1000, 800, {hd, right}, QRect(2000, 100, 1000, 800)},
        {"second screen gone: onto the primary", 2000, 100, 1000, 800, {hd}, QRect(920, 100, 1000, 800)},
        {"Width=INT_MAX: limited before it is added", 100, 50, INT_MAX, 600, {hd}, QRect(0, 50, 1920, 600)},
        {"Left=INT_MAX, Height=INT_MAX: no overflow", INT_MAX, 0, 800, INT_MAX, {hd}, QRect(1120, 0, 800, 1040)},
        {"Left=INT_MIN: onto the screen", INT_MIN, INT_MIN, 800, 600, {hd}, QRect(0, 0, 800, 600)},
        {"negative and zero sizes: the smallest window", 100, 100, -50, 0, {hd}, QRect(100, 100, 200, 200)},
        {"smaller screen than the smallest window", 0, 0, 50, 50, {QRect(0, 0, 120, 90)}, QRect(0, 0, 120, 90)},
        {"no screen known: an 800x600 area", 5000, 5000, 400, 300, {}, QRect(400, 300, 400, 300)},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(ov::FitSavedWindowRect(c.left, c.top, c.width, c.height, c.screens), c.expected) << c.what;
}

class PlacementTest : public guitest::ViewerFixture {
protected:
    QRect Saved() const { return QRect(Value("Left"), Value("Top"), Value("Width"), Value("Height")); }
};

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

TEST_F(PlacementTest, SavedAndMaximisedStatesComeBackWithOtherKeysKept) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0, "[WorkDesk]\r\nName=Desk\r\n");
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_FALSE(Frame()->m_bCenterWindow);
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
    // Restored and closed again: the normal state is written.
    Frame()->showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Frame()->isMaximized(); }));
    EXPECT_EQ(Frame()->geometry(), normal);
    Frame()->OnClose();
    EXPECT_EQ(Value("Size"), 0);
    EXPECT_EQ(Saved(), normal);
}

TEST_F(PlacementTest, WithoutANamedWorkDeskTheFolderOfTheCommandLineKeepsThePlacement) {
    // Neither $ORMAVIEW_WORKDESK nor an ormaview.ini names a work desk.
    ovtest::EnvGuard noDesk("ORMAVIEW_WORKDESK", nullptr);
    guitest::WritePlacement(m_env.WorkDeskDat(), 30, 40, 350, 250, 0);
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->m_strWorkDeskDatPath, m_env.WorkDeskDat());
    EXPECT_EQ(Frame()->geometry(), QRect(30, 40, 350, 250));
    Frame()->setGeometry(60, 70, 380, 260);
    Frame()->OnClose();
    EXPECT_EQ(Saved(), QRect(60, 70, 380, 260));
    EXPECT_EQ(m_env.TraceText().find("MakeFile() Error!"), std::string::npos);
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
