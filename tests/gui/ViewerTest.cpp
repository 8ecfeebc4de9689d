// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer started in-process from a command line: the page shown, the
// commands and their states, closing, tooltips and failed starts.
#include <memory>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "app/OrmaView.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ipc/WindowManager.h"
#include "ormamsg/OrmaMsg.h"

using guitest::ViewerEnv;

namespace {

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::WriteIndexedDocument(m_env.WorkDesk(), 12);
        ov::InstallMessageBoxPresenter();
    }
    void TearDown() override {
        if (m_pApp)
            m_pApp->ExitInstance();
        m_pApp.reset();
    }

    // Starts the viewer on the command line; the frame is shown and painted.
    BOOL Start(const std::string& strCmdLine) {
        m_pApp = std::make_unique<COrmaDeskApp>();
        const BOOL bStarted = m_pApp->InitInstance(strCmdLine);
        if (bStarted) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(Frame()));
            View()->repaint();
        }
        return bStarted;
    }
    BOOL StartOnPage(int iPageID) {
        return Start("\"" + m_env.WorkDesk() + "\" 12 " + std::to_string(iPageID));
    }

    CMainFrame* Frame() const { return m_pApp->GetMainFrame(); }
    COrmaViewView* View() const { return Frame()->GetActiveView(); }
    COrmaViewDoc* Doc() const { return m_pApp->GetDocument(); }
    bool Enabled(UINT nID) const { return Frame()->CommandAction(nID)->isEnabled(); }
    // The colour in the middle of the page image.
    QColor PageColour() const {
        const QImage& image = View()->PageImage();
        return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    }

    ViewerEnv m_env;
    std::unique_ptr<COrmaDeskApp> m_pApp;
};

TEST_F(ViewerTest, FullStartShowsTheFirstPageFittedAndCentred) {
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 1/3 )"));
    EXPECT_FALSE(Frame()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(Frame()->toolBarArea(Frame()->ToolBar()), Qt::LeftToolBarArea);
    ASSERT_EQ(Frame()->ToolBar()->actions().size(), 4);
    const QStringList labels = {"Previous", "Next", "Annotations", "Close"};
    for (int i = 0; i < 4; ++i) {
        // Each button has its own icon and a disabled form that differs from it.
        const QAction* pAction = Frame()->ToolBar()->actions()[i];
        EXPECT_EQ(pAction->text(), labels[i]);
        const QImage normal = pAction->icon().pixmap(24, QIcon::Normal).toImage();
        const QImage disabled = pAction->icon().pixmap(24, QIcon::Disabled).toImage();
        EXPECT_FALSE(normal.isNull());
        EXPECT_NE(normal, disabled);
    }
    EXPECT_FALSE(Frame()->windowIcon().isNull());

    // The bitmap fits into 29/30 of the client area, keeps the page's aspect
    // ratio and is centred.
    const QRect rcImage = View()->PageImageRect();
    const QSize request = COrmaViewView::PageBitmapRequest(View()->size());
    ASSERT_FALSE(rcImage.isEmpty());
    EXPECT_LE(rcImage.width(), request.width());
    EXPECT_LE(rcImage.height(), request.height());
    EXPECT_TRUE(rcImage.width() == request.width() || rcImage.height() == request.height());
    EXPECT_LE(std::abs(rcImage.center().x() - View()->rect().center().x()), 1);
    EXPECT_LE(std::abs(rcImage.center().y() - View()->rect().center().y()), 1);
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));
    // Around the page the button face shows.
    EXPECT_EQ(View()->grab().toImage().pixelColor(1, 1), View()->palette().color(QPalette::Button));

    // A resize refits the page to the new client size.
    Frame()->resize(Frame()->width() / 2, Frame()->height() / 2);
    QApplication::processEvents();
    View()->repaint();
    const QSize smaller = COrmaViewView::PageBitmapRequest(View()->size());
    EXPECT_TRUE(View()->PageImageRect().width() == smaller.width() ||
                View()->PageImageRect().height() == smaller.height());
    EXPECT_LE(View()->PageImageRect().height(), smaller.height());
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));

    const std::string trace = m_env.TraceText();
    EXPECT_NE(trace.find("COrmaDeskApp::COrmaDeskApp()"), std::string::npos);
    EXPECT_NE(trace.find("[m_lpCmdLine] \"" + m_env.WorkDesk() + "\" 12 1"), std::string::npos);
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(ViewerTest, BitmapRequestIsTwentyNineThirtiethsOfTheClient) {
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(600, 450)), QSize(580, 435));
    EXPECT_EQ(COrmaViewView::PageBitmapRequest(QSize(31, 1)), QSize(29, 0));
}

TEST_F(ViewerTest, ButtonStatesFollowThePagesAcrossIndexSheets) {
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_FALSE(Enabled(ID_PREV_PAGE));
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(Enabled(ID_VIEW_CLOSE));

    Frame()->CommandAction(ID_NEXT_PAGE)->trigger();
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    EXPECT_TRUE(Enabled(ID_PREV_PAGE));
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    EXPECT_EQ(PageColour(), QColor(0, 255, 0));

    // Both sides of the index sheet are passed over.
    Frame()->CommandAction(ID_NEXT_PAGE)->trigger();
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 3/3 )"));
    EXPECT_EQ(PageColour(), QColor(0, 0, 255));
    EXPECT_TRUE(Enabled(ID_PREV_PAGE));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));

    Frame()->CommandAction(ID_PREV_PAGE)->trigger();
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Test doc ( 2/3 )"));
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(ViewerTest, KeysAndWheelStepOnePageAtATime) {
    ASSERT_TRUE(StartOnPage(2));
    QTest::keyClick(View(), Qt::Key_PageDown);
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    QTest::keyClick(View(), Qt::Key_Left);
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    QTest::keyClick(View(), Qt::Key_Space);
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    QTest::keyClick(View(), Qt::Key_Backspace);
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);

    auto wheel = [&](int delta) {
        const QPointF pos(10, 10);
        QWheelEvent event(pos, View()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(View(), &event);
    };
    wheel(-360);  // one message, one page, however large the delta
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    wheel(-120);  // the last page: nothing changes, no message
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    wheel(0);
    EXPECT_EQ(Doc()->m_iCurPagePos, 5);
    wheel(120);
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
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
    EXPECT_TRUE(ovtest::Exists(Doc()->m_strEditInfoOffFolder + "/OrmaView1.thm"));
    EXPECT_FALSE(View()->PageImage().isNull());
    EXPECT_NE(View()->PageImage().copy(), first);  // the annotation is gone

    pAnnotation->trigger();
    EXPECT_EQ(Doc()->m_bShowEditInfo, 1);
    EXPECT_TRUE(pAnnotation->isChecked());
    EXPECT_EQ(View()->PageImage().copy(), first);
}

// A stand-in for the work desk's window in this process.
class WorkDeskWindow {
public:
    WorkDeskWindow() {
        m_hWnd = RegisterWindow(kWorkDeskWndClass, [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
            if (msg == WM_VIEWER_CLOSED)
                ++m_iClosed;
            return 0;
        });
    }
    ~WorkDeskWindow() { UnregisterWindow(m_hWnd); }
    int m_iClosed = 0;

private:
    HWND m_hWnd = 0;
};

TEST_F(ViewerTest, EscapeDoubleClickAndCloseButtonTakeTheOneClosingPath) {
    WorkDeskWindow workDesk;
    ASSERT_TRUE(StartOnPage(1));
    QTest::keyClick(View(), Qt::Key_Escape);
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_EQ(workDesk.m_iClosed, 1);
    EXPECT_EQ(guitest::PlacementValue(m_env.WorkDeskDat(), "Size"), 0);
    m_pApp->ExitInstance();

    ASSERT_TRUE(StartOnPage(1));
    QTest::mouseDClick(View(), Qt::LeftButton);
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_EQ(workDesk.m_iClosed, 2);
    m_pApp->ExitInstance();

    ASSERT_TRUE(StartOnPage(1));
    Frame()->close();
    EXPECT_EQ(workDesk.m_iClosed, 3);
    m_pApp->ExitInstance();

    ASSERT_TRUE(StartOnPage(1));
    Frame()->CommandAction(ID_VIEW_CLOSE)->trigger();
    EXPECT_EQ(workDesk.m_iClosed, 4);
}

TEST_F(ViewerTest, ClosingWithoutAWorkDeskStillSavesThePlacement) {
    ASSERT_TRUE(StartOnPage(1));
    Frame()->OnClose();
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_NE(guitest::PlacementValue(m_env.WorkDeskDat(), "Width"), -9999);
}

TEST_F(ViewerTest, TooltipsOnlyWhileTheCursorIsInsideTheFrame) {
    ASSERT_TRUE(StartOnPage(1));
    const QPoint inside = Frame()->mapToGlobal(QPoint(5, 5));
    const QPoint outside = Frame()->mapToGlobal(QPoint(-20, Frame()->height() + 20));
    EXPECT_EQ(Frame()->OnToolTipText(ID_PREV_PAGE, inside), "Previous Page");
    EXPECT_EQ(Frame()->OnToolTipText(ID_NEXT_PAGE, inside), "Next Page");
    EXPECT_EQ(Frame()->OnToolTipText(ID_ANNOTATION, inside), "Show/Hide annotations");
    EXPECT_EQ(Frame()->OnToolTipText(ID_VIEW_CLOSE, inside), "Close");
    EXPECT_EQ(Frame()->OnToolTipText(ID_NEXT_PAGE, outside), "");
    EXPECT_EQ(Frame()->OnToolTipText(12345, inside), "");

    // The same rule on the real tooltip event of a button.
    QWidget* pButton = Frame()->ToolBar()->widgetForAction(Frame()->CommandAction(ID_NEXT_PAGE));
    ASSERT_NE(pButton, nullptr);
    QHelpEvent outsideEvent(QEvent::ToolTip, QPoint(1, 1), outside);
    QApplication::sendEvent(pButton, &outsideEvent);
    EXPECT_FALSE(QToolTip::isVisible());
    const QPoint centre = pButton->rect().center();
    QHelpEvent insideEvent(QEvent::ToolTip, centre, pButton->mapToGlobal(centre));
    QApplication::sendEvent(pButton, &insideEvent);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Next Page"));
    QToolTip::hideText();
}

TEST_F(ViewerTest, FailedStartsEndWithTheirMessageAndNoWindow) {
    // Too few parameters: code -2, no box.
    EXPECT_FALSE(Start("\"" + m_env.WorkDesk() + "\" 12"));
    EXPECT_EQ(m_pApp->m_iResult, -2);
    EXPECT_EQ(m_pApp->GetMainFrame(), nullptr);
    EXPECT_EQ(m_env.MessageLog(), "");
    m_pApp->ExitInstance();

    // A page ID of 0: -705 before the document is touched, message 44.
    EXPECT_FALSE(StartOnPage(0));
    EXPECT_EQ(m_pApp->m_iResult, -705);
    EXPECT_NE(m_env.TraceText().find("Parameter Error! iPageID < 1."), std::string::npos);
    EXPECT_NE(m_env.MessageLog().find(guitest::MessageTextUtf8(44)), std::string::npos);
    m_pApp->ExitInstance();

    // A missing folder: -701, message 25 in a box captioned "Quilm-WorkArea".
    EXPECT_FALSE(Start(m_env.Path("missing") + " 12 1"));
    EXPECT_EQ(m_pApp->m_iResult, -701);
    const std::string log = m_env.MessageLog();
    EXPECT_NE(log.find("50010\tQuilm-WorkArea\t" + guitest::MessageTextUtf8(25) + "\n"), std::string::npos);
    // Nothing was saved: the closing steps did not run.
    EXPECT_FALSE(ovtest::Exists(m_env.WorkDeskDat()));
}

TEST_F(ViewerTest, ErrorBoxIsACriticalMessageBox) {
    ov::InstallMessageBoxPresenter();
    QString strTitle;
    QString strText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            strTitle = pBox->windowTitle();
            strText = pBox->text();
            icon = pBox->icon();
        }
    });
    ShowErrorMessage(-701);
    EXPECT_EQ(strTitle, QStringLiteral("Quilm-WorkArea"));
    EXPECT_EQ(strText.toStdString(), guitest::MessageTextUtf8(25));
    EXPECT_EQ(icon, QMessageBox::Critical);
    // -2 shows nothing.
    const std::string before = m_env.MessageLog();
    ShowErrorMessage(-2);
    EXPECT_EQ(m_env.MessageLog(), before);
}

}  // namespace
