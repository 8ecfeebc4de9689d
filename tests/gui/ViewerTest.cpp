// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's widgets in standard mode: the toolbar and its tooltips, every key
// and the wheel reaching its command, the painted page (fitted, dimmed with a
// note while another is coming, an error's text where the page would be), the
// ways of closing and the error box.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "image/PageBitmap.h"
#include "ipc/WindowManager.h"
#include "ormamsg/OrmaMsg.h"
#include "support/EnvGuard.h"

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
        if (Frame()->ToolBar()->widgetForAction(pAction) == static_cast<QWidget*>(Frame()->PageIndicator()))
            continue;  // the page indicator, not a button
        labels << pAction->text();
        const QImage normal = pAction->icon().pixmap(24, QIcon::Normal).toImage();
        EXPECT_FALSE(normal.isNull());
        EXPECT_NE(normal, pAction->icon().pixmap(24, QIcon::Disabled).toImage());
    }
    EXPECT_EQ(labels, QStringList({"Previous", "Next", "Annotations", "Close"}));
    EXPECT_EQ(Frame()->CommandAction(ID_OMOTE_ROTATE), nullptr);
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
            QWheelEvent event(QPointF(10, 10), View()->mapToGlobal(QPointF(10, 10)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(View(), &event);
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
        {key(Qt::Key_PageUp), 1},
        {key(Qt::Key_End), 5},
        {key(Qt::Key_Home), 1},
        {wheel(-360), 2},  // one message, one page, however large the delta
        {wheel(120), 1},
        {wheel(0), 1},
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
    View();
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
    EXPECT_EQ(Frame()->OnToolTipText(12345, inside), "");
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
        [&] { QTest::keyClick(View(), Qt::Key_Q, Qt::ControlModifier); },
        [&] { QTest::keyClick(View(), Qt::Key_W, Qt::ControlModifier); },
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

TEST(QtTranslations, QtsOwnTextsFollowTheJapaneseLocale) {
    guitest::App();
    {
        ovtest::EnvGuard all("LC_ALL", "ja_JP.UTF-8");
        ov::InstallQtTranslations();
        EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    }
    ovtest::EnvGuard all("LC_ALL", "C");
    ov::InstallQtTranslations();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

}  // namespace
