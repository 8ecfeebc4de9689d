// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer started in-process from a command line: the page shown, the
// commands and their states, closing, tooltips and the error box.
#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "display/PageLoader.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ipc/WindowManager.h"
#include "ormamsg/OrmaMsg.h"

namespace {

class ViewerTest : public guitest::ViewerFixture {
protected:
    bool Enabled(UINT nID) const { return Frame()->CommandAction(nID)->isEnabled(); }
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

TEST_F(ViewerTest, FullStartShowsTheFirstPageFittedAndCentred) {
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(600, 450)), QSize(580, 435));
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(31, 1)), QSize(29, 0));
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 1/3 )"));
    EXPECT_FALSE(Frame()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(Frame()->windowIcon().isNull());
    EXPECT_EQ(Frame()->toolBarArea(Frame()->ToolBar()), Qt::LeftToolBarArea);
    QStringList labels;
    for (const QAction* pAction : Frame()->ToolBar()->actions()) {
        if (Frame()->ToolBar()->widgetForAction(const_cast<QAction*>(pAction)) ==
            static_cast<QWidget*>(Frame()->PageIndicator()))
            continue;  // the page indicator, not a button
        labels << pAction->text();
        // Each button has an icon and a disabled form that differs from it.
        const QImage normal = pAction->icon().pixmap(24, QIcon::Normal).toImage();
        EXPECT_FALSE(normal.isNull());
        EXPECT_NE(normal, pAction->icon().pixmap(24, QIcon::Disabled).toImage());
    }
    EXPECT_EQ(labels, QStringList({"Previous", "Next", "Annotations", "Close"}));

    ExpectPageFitted();
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));
    // Around the page the button face shows.
    EXPECT_EQ(View()->grab().toImage().pixelColor(1, 1), View()->palette().color(QPalette::Button));
    // A resize refits the page.
    Frame()->resize(Frame()->width() / 2, Frame()->height() / 2);
    QApplication::processEvents();
    View()->repaint();
    ExpectPageFitted();

    const std::string trace = m_env.TraceText();
    EXPECT_NE(trace.find("COrmaDeskApp::COrmaDeskApp()"), std::string::npos);
    EXPECT_NE(trace.find("[m_lpCmdLine] \"" + m_env.WorkDesk() + "\" 12 1"), std::string::npos);
}

TEST_F(ViewerTest, ButtonsKeysAndWheelStepOverIndexSheets) {
    ASSERT_TRUE(StartOnPage(1));
    auto command = [&](UINT nID) { return [this, nID] { Frame()->CommandAction(nID)->trigger(); }; };
    auto key = [&](Qt::Key k) { return [this, k] { QTest::keyClick(View(), k); }; };
    auto wheel = [&](int delta) {
        return [this, delta] {
            QWheelEvent event(QPointF(10, 10), View()->mapToGlobal(QPointF(10, 10)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(View(), &event);
        };
    };
    const std::pair<std::function<void()>, int> steps[] = {
        {[] {}, 1},
        {command(ID_NEXT_PAGE), 2},
        {command(ID_NEXT_PAGE), 5},  // both index sheets passed over
        {command(ID_PREV_PAGE), 2},
        {key(Qt::Key_PageDown), 5},
        {key(Qt::Key_Left), 2},
        {key(Qt::Key_Space), 5},
        {key(Qt::Key_Backspace), 2},
        {key(Qt::Key_Right), 5},
        {key(Qt::Key_PageUp), 2},
        {wheel(-360), 5},  // one message, one page, however large the delta
        {wheel(-120), 5},  // the last page: nothing changes, no message
        {wheel(0), 5},
        {wheel(120), 2},
    };
    const std::map<int, std::pair<QString, QColor>> shown = {{1, {"Test doc ( 1/3 )", Qt::red}},
                                                             {2, {"Test doc ( 2/3 )", Qt::green}},
                                                             {5, {"Test doc ( 3/3 )", Qt::blue}}};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].first();
        const int iPos = steps[i].second;
        EXPECT_EQ(Doc()->m_iCurPagePos, iPos);
        EXPECT_EQ(Frame()->windowTitle(), shown.at(iPos).first);
        EXPECT_EQ(PageColour(), shown.at(iPos).second);
        EXPECT_EQ(Enabled(ID_PREV_PAGE), iPos != 1);
        EXPECT_EQ(Enabled(ID_NEXT_PAGE), iPos != 5);
        EXPECT_TRUE(Enabled(ID_VIEW_CLOSE));
    }
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(ViewerTest, AnnotationToggleSwitchesTheImageCacheAndComesBack) {
    ASSERT_TRUE(StartOnPage(1));
    QAction* pAnnotation = Frame()->CommandAction(ID_ANNOTATION);
    ASSERT_TRUE(pAnnotation->isCheckable());
    EXPECT_TRUE(pAnnotation->isChecked());
    const QImage first = View()->PageImage().copy();

    pAnnotation->trigger();
    EXPECT_EQ(Doc()->m_bShowEditInfo, 0);
    EXPECT_FALSE(pAnnotation->isChecked());
    EXPECT_TRUE(pAnnotation->isEnabled());
    EXPECT_FALSE(View()->PageImage().isNull());
    EXPECT_TRUE(ovtest::Exists(Doc()->m_strEditInfoOffFolder + "/OrmaView1.thm"));
    EXPECT_NE(View()->PageImage().copy(), first);  // the annotation is gone

    pAnnotation->trigger();
    EXPECT_EQ(Doc()->m_bShowEditInfo, 1);
    EXPECT_TRUE(pAnnotation->isChecked());
    EXPECT_EQ(View()->PageImage().copy(), first);
}

// A stand-in for the work desk's window in this process.
struct WorkDeskWindow {
    WorkDeskWindow() {
        m_hWnd = RegisterWindow(kWorkDeskWndClass, [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
            m_iClosed += msg == WM_VIEWER_CLOSED ? 1 : 0;
            return 0;
        });
    }
    ~WorkDeskWindow() { UnregisterWindow(m_hWnd); }
    HWND m_hWnd = 0;
    int m_iClosed = 0;
};

TEST_F(ViewerTest, EveryWayOfClosingTakesTheOneClosingPath) {
    const std::function<void()> closers[] = {
        [&] { Frame()->OnClose(); },  // first without a work desk: the placement is still saved
        [&] { QTest::keyClick(View(), Qt::Key_Escape); },
        [&] { QTest::mouseDClick(View(), Qt::LeftButton); },
        [&] { Frame()->close(); },
        [&] { Frame()->CommandAction(ID_VIEW_CLOSE)->trigger(); },
    };
    std::optional<WorkDeskWindow> workDesk;
    for (int i = 0; i < static_cast<int>(std::size(closers)); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(StartOnPage(1));
        std::remove(m_env.WorkDeskDat().c_str());
        closers[i]();
        EXPECT_FALSE(Frame()->isVisible());
        EXPECT_EQ(Value("Size"), 0);
        EXPECT_EQ(Value("Width"), Frame()->width());
        EXPECT_EQ(workDesk ? workDesk->m_iClosed : 0, i);
        if (!workDesk)
            workDesk.emplace();
    }
}

TEST_F(ViewerTest, TooltipsOnlyWhileTheCursorIsInsideTheFrame) {
    ASSERT_TRUE(StartOnPage(1));
    const QPoint inside = Frame()->mapToGlobal(QPoint(5, 5));
    const QPoint outside = Frame()->mapToGlobal(QPoint(-20, Frame()->height() + 20));
    const std::pair<UINT, std::string> tips[] = {{ID_PREV_PAGE, "Previous Page"},
                                                 {ID_NEXT_PAGE, "Next Page"},
                                                 {ID_ANNOTATION, "Show/Hide annotations"},
                                                 {ID_VIEW_CLOSE, "Close"},
                                                 {12345, ""}};
    for (const auto& [nID, text] : tips) {
        EXPECT_EQ(Frame()->OnToolTipText(nID, inside), text);
        EXPECT_EQ(Frame()->OnToolTipText(nID, outside), "");
    }
    // The same rule on the real tooltip event of a button.
    QWidget* pButton = Frame()->ToolBar()->widgetForAction(Frame()->CommandAction(ID_NEXT_PAGE));
    QHelpEvent outsideEvent(QEvent::ToolTip, QPoint(1, 1), outside);
    QApplication::sendEvent(pButton, &outsideEvent);
    EXPECT_FALSE(QToolTip::isVisible());
    QHelpEvent insideEvent(QEvent::ToolTip, QPoint(1, 1), pButton->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(pButton, &insideEvent);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Next Page (Ctrl+PgDown)"));
    QToolTip::hideText();
}

TEST_F(ViewerTest, ErrorBoxIsACriticalMessageBox) {
    QStringList seen;
    QTimer::singleShot(0, [&] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            seen << pBox->windowTitle() << pBox->text() << QString::number(pBox->icon());
    });
    ShowErrorMessage(-701);
    EXPECT_EQ(seen, QStringList({"Quilm-WorkArea", QString::fromStdString(guitest::MessageTextUtf8(25)),
                                 QString::number(QMessageBox::Critical)}));
}

}  // namespace

namespace {

// A page that cannot be drawn is not left blank: its error's message is shown.
TEST_F(ViewerTest, PageThatCannotBeDrawnShowsItsErrorInsteadOfABlank) {
    ASSERT_TRUE(StartOnPage(2));  // the green page's image is made
    const std::string thm = Doc()->GetThumbFilePath(Doc()->m_iCurPagePos);
    Frame()->OnPrevPage();
    ASSERT_EQ(PageColour(), QColor(255, 0, 0));
    // Page 2's image is damaged on disk and its PDF is gone: made again once, then the error.
    std::string bytes = ovtest::ReadFile(thm);
    ASSERT_GT(bytes.size(), 100u);
    bytes[bytes.size() / 2] ^= 0x5A;
    ovtest::WriteFile(thm, bytes);
    ASSERT_EQ(std::remove((m_env.WorkDesk() + "/Doc000012/Data/Data2.pdf").c_str()), 0);
    // Another window size: nothing made ahead at the old size is used.
    Frame()->resize(Frame()->width() + 20, Frame()->height());
    ASSERT_EQ(PageColour(), QColor(255, 0, 0));
    Frame()->OnNextPage();
    View()->repaint();
    EXPECT_TRUE(View()->PageImage().isNull());
    const QImage shot = View()->grab().toImage();
    const QColor face = View()->palette().color(QPalette::Button);
    int written = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) written += shot.pixelColor(x, y) != face;
    EXPECT_GT(written, 50);  // the message's text
    const std::string trace = m_env.TraceText();
    EXPECT_NE(trace.find("WorkDesk_GetThumbnail() Error! [Return] -809 (page image made again)"),
              std::string::npos);
}

}  // namespace

namespace {

// Keys faster than the pages: the title follows every key at once, only the page
// the keys land on is made, and the index sheets are passed over on the way.
TEST_F(ViewerTest, QuickKeysLandOnTheRightPageAndMakeOnlyThatOne) {
    ASSERT_TRUE(StartOnPage(1));
    COrmaViewView* pView = View();  // page 1 shown, page 2 made ahead
    const int iStarted = pView->PageLoader()->StartedJobs();
    for (int i = 0; i < 3; ++i) Frame()->OnNextPage();  // red -> green -> (index sheets) -> blue -> none
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 3/3 )"));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(ViewNow()->IsPageBusy());
    EXPECT_EQ(PageColour(), QColor(0, 0, 255));
    // The blue page alone was made: green was there already, its neighbour.
    EXPECT_EQ(ViewNow()->PageLoader()->StartedJobs() - iStarted, 1);
    EXPECT_FALSE(ovtest::Exists(Doc()->GetThumbFilePath(3)));
    Frame()->OnPrevPage();
    Frame()->OnPrevPage();
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));
}

// Closing while a slow page is drawn: the window goes at once, the render is
// cancelled and joined, and no page image of it is left, whole or in part.
TEST_F(ViewerTest, ClosingDuringASlowPageLeavesNothingBehind) {
    std::string content = "0.3 w\n";
    for (int i = 0; i < 60000; ++i)
        content += std::to_string(i % 197) + " " + std::to_string(i % 271) + " m " +
                   std::to_string((i * 7) % 200) + " 280 " + std::to_string((i * 13) % 200) + " 0 190 " +
                   std::to_string(i % 280) + " c S\n";
    ASSERT_TRUE(
        ovsample::WritePdf(m_env.WorkDesk() + "/Doc000012/Data/Data5.pdf", {{200, 280, 0, content, {}}}));
    ASSERT_TRUE(Start("\"" + m_env.WorkDesk() + "\" 12 1"));
    Frame()->OnNextPage();
    Frame()->OnNextPage();  // the dense blue page, now being drawn
    const std::string thm = Doc()->GetThumbFilePath(5);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ViewNow()->IsPageBusy());
    Frame()->OnClose();
    EXPECT_FALSE(Frame()->isVisible());
    Stop();  // joins the workers
    EXPECT_FALSE(ovtest::Exists(thm));
}

}  // namespace
