// SPDX-License-Identifier: AGPL-3.0-or-later
// Reading aids: the magnifier's steps, the turned view, the wheel summed into
// notches, the lot number's hint and the accessible names.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "editpane/HagakiEditDialog.h"
#include "frame/MainFrm.h"
#include "ipc/OrmaViewDll.h"

namespace {

void SendWheel(QWidget* pWidget, QPoint angle, QPoint pixel = QPoint(),
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF pt(10, 10);
    QWheelEvent event(pt, pWidget->mapToGlobal(pt), pixel, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(pWidget, &event);
}

// Every file of a folder tree with its bytes.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().string()] = ovtest::ReadFile(entry.path());
    return files;
}

class ReadingAidsTest : public guitest::ViewerFixture {
protected:
    COrmaZoomView* Zoom() const { return View()->ZoomView(); }
    // With ORMAVIEW_SHOT_DIR set, the window as the user sees it, for the docs.
    void SaveShot(const char* name, bool bNow) const {
        if (const char* dir = std::getenv("ORMAVIEW_SHOT_DIR"); dir != nullptr && bNow)
            Frame()->grab().save(QString::fromUtf8(dir) + '/' + name);
    }
    // The magnifier's width over the fitted page's, 0 when closed.
    double ShownLevel() const {
        return Zoom() == nullptr ? 0 : double(Zoom()->ImageSize().width()) / View()->PageImageRect().width();
    }
};

// Each + enlarges further, rendered at the level's scale (the image's pixels
// follow the level, nothing stretched); - steps back and closes at the level it
// opened at; W fits the width; the indicator shows the level.
TEST_F(ReadingAidsTest, ZoomStepsUpAndBackSharpAtEveryLevel) {
    ASSERT_TRUE(StartOnPage(1));
    const auto key = [this](Qt::Key k) {
        return [this, k] { QTest::keyClick(Zoom() != nullptr ? static_cast<QWidget*>(Zoom()) : View(), k); };
    };
    const auto action = [this](UINT nID) { return [this, nID] { Frame()->CommandAction(nID)->trigger(); }; };
    const auto ctrlWheel = [this](int delta) {
        return [this, delta] {
            SendWheel(Zoom() != nullptr ? static_cast<QWidget*>(Zoom()) : View(), QPoint(0, delta), QPoint(),
                      Qt::ControlModifier);
        };
    };
    const std::pair<std::function<void()>, double> steps[] = {
        {key(Qt::Key_Plus), 2},  {key(Qt::Key_Plus), 3},  {ctrlWheel(120), 4},  {action(ID_ZOOM_IN), 6},
        {key(Qt::Key_Equal), 6}, {key(Qt::Key_Minus), 4}, {ctrlWheel(-120), 3}, {key(Qt::Key_Minus), 2},
        {key(Qt::Key_Minus), 0}, {ctrlWheel(60), 0},      {ctrlWheel(60), 2},   {action(ID_ZOOM_OUT), 0},
        {key(Qt::Key_Minus), 0},
    };
    int i = 0;
    for (const auto& [step, level] : steps) {
        SCOPED_TRACE(i++);
        step();
        QApplication::processEvents();
        EXPECT_NEAR(ShownLevel(), level, level * 0.03);
        SaveShot("zoom-3x.png", level == 3 && i == 2);
        if (level > 0) {
            EXPECT_EQ(Zoom()->Image().size(), Zoom()->ImageSize());
            EXPECT_TRUE(Frame()->PageIndicator()->text().endsWith(QStringLiteral("%1x").arg(level)));
        } else {
            EXPECT_FALSE(Frame()->PageIndicator()->text().contains('x'));
        }
    }
    // W: the page as wide as the view.
    QTest::keyClick(View(), Qt::Key_W);
    ASSERT_NE(Zoom(), nullptr);
    EXPECT_NEAR(Zoom()->ImageSize().width(), View()->width(), View()->width() * 0.03);
}

// R turns the view right, Shift+R left, per page, the file untouched: the page
// is made for the turned shape (its aspect turns) and the magnifier turns too.
TEST_F(ReadingAidsTest, TurnedViewPerPageFileUntouched) {
    ASSERT_TRUE(StartOnPage(1));
    const auto files = FilesUnder(m_env.WorkDesk() + "/Doc000012");
    const QSize upright = View()->PageImage().size();
    const auto aspect = [](QSize s) { return double(s.width()) / s.height(); };
    ASSERT_GT(std::abs(aspect(upright) - 1), 0.05);  // a page that is not square
    const struct {
        Qt::KeyboardModifiers modifiers;
        int turns;
    } cases[] = {{Qt::NoModifier, 1}, {Qt::NoModifier, 2}, {Qt::ShiftModifier, 1}, {Qt::ShiftModifier, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.turns);
        QTest::keyClick(View(), Qt::Key_R, c.modifiers);
        ASSERT_TRUE(Frame()->WaitForPage());
        EXPECT_EQ(View()->QuarterTurns(), c.turns);
        const QSize shown = View()->PageImage().size();
        EXPECT_NEAR(aspect(shown), c.turns % 2 != 0 ? 1 / aspect(upright) : aspect(upright), 0.03);
    }
    // Turned once, the magnifier shows the turned page; another page is upright.
    Frame()->CommandAction(ID_TURN_VIEW_RIGHT)->trigger();
    ASSERT_TRUE(Frame()->WaitForPage());
    SaveShot("turned-view.png", true);
    QTest::keyClick(View(), Qt::Key_Plus);
    ASSERT_NE(Zoom(), nullptr);
    EXPECT_NEAR(aspect(Zoom()->ImageSize()), 1 / aspect(upright), 0.03);
    QTest::keyClick(Zoom(), Qt::Key_Escape);
    QTest::keyClick(View(), Qt::Key_PageDown);
    ASSERT_TRUE(Frame()->WaitForPage());
    EXPECT_EQ(View()->QuarterTurns(), 0);
    QTest::keyClick(View(), Qt::Key_PageUp);
    ASSERT_TRUE(Frame()->WaitForPage());
    EXPECT_EQ(View()->QuarterTurns(), 1);
    EXPECT_EQ(FilesUnder(m_env.WorkDesk() + "/Doc000012"), files);
}

// Partial deltas are summed: a page a full notch, never one a message.
TEST_F(ReadingAidsTest, WheelStepsOncePerFullNotch) {
    ASSERT_TRUE(StartOnPage(1));
    const struct {
        const char* what;
        std::vector<QPoint> angles;
        QPoint pixel;
        int page;
    } cases[] = {
        {"3 x 40 = one notch", {{0, -40}, {0, -40}, {0, -40}}, {}, 2},
        {"119: none", {{0, -119}}, {}, 2},
        {"and 1 more", {{0, -1}}, {}, 5},
        {"turning back starts afresh", {{0, -100}, {0, 100}, {0, 20}}, {}, 2},
        {"trackpad pixels", {{0, 0}, {0, 0}}, {0, 60}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (QPoint angle : c.angles) SendWheel(View(), angle, c.pixel);
        EXPECT_EQ(Doc()->m_iCurPagePos, c.page);
    }
}

// Postcard mode: a partial notch neither saves nor moves; the lot number's form
// is its tooltip and shows under it while it is red.
TEST_F(ReadingAidsTest, PostcardPartialNotchAndLotNumberHint) {
    ASSERT_TRUE(StartPostcard(1));
    CHagakiEditDialog* pPane = Frame()->GetHagakiEditDialog();
    auto* pNumber = qobject_cast<QLineEdit*>(pPane->Control(IDC_HAGAKI_NUMBER));
    EXPECT_TRUE(pNumber->toolTip().contains(QStringLiteral("2024組0001234")));
    for (const char* text : {"2024組0001234", "12345", "abcd組0000001", "2024組00012345"}) {
        SCOPED_TRACE(text);
        pNumber->setText(QString::fromUtf8(text));
        EXPECT_EQ(pPane->NumberHint()->isVisibleTo(pPane), !pPane->m_bNumberValid);
        EXPECT_EQ(pPane->NumberHint()->text(), pNumber->toolTip());
    }
    const int iPage = Doc()->m_iCurPagePos;
    SendWheel(View(), QPoint(0, -119));
    EXPECT_EQ(Doc()->m_iCurPagePos, iPage);
    EXPECT_TRUE(pPane->IsModified());  // nothing saved: the red number is still the user's
    // The card stays at least about 320 px wide in a narrow window.
    Frame()->resize(200, Frame()->height());
    QApplication::processEvents();
    EXPECT_GE(View()->width(), 320);
}

// The buttons, the fields and the page view have names and descriptions; Tab
// follows the fields; every tooltip lists the keys.
TEST_F(ReadingAidsTest, AccessibleNamesFocusOrderAndKeys) {
    ASSERT_TRUE(StartPostcard(1));
    std::vector<QWidget*> widgets{View()};
    for (QToolBar* pBar : {Frame()->ToolBar(), Frame()->ViewBar()})
        for (QAction* pAction : pBar->actions())
            if (QWidget* pButton = pBar->widgetForAction(pAction); pButton != Frame()->PageIndicator())
                widgets.push_back(pButton);
    CHagakiEditDialog* pPane = Frame()->GetHagakiEditDialog();
    const int fields[] = {IDC_HAGAKI_FROM, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_NUMBER, IDC_HAGAKI_YEAR,
                          IDC_HAGAKI_TYPE, IDC_HAGAKI_MEMO,     IDC_HAGAKI_RESET};
    for (int nID : fields) widgets.push_back(pPane->Control(nID));
    EXPECT_GE(widgets.size(), 16u);
    for (QWidget* pWidget : widgets) {
        SCOPED_TRACE(pWidget->objectName().toStdString());
        QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pWidget);
        ASSERT_NE(pAccessible, nullptr);
        EXPECT_FALSE(pAccessible->text(QAccessible::Name).isEmpty());
        EXPECT_FALSE(pAccessible->text(QAccessible::Description).isEmpty());
    }
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(pPane->Control(IDC_HAGAKI_NUMBER))->text(QAccessible::Name),
        QStringLiteral("lot number"));
    for (std::size_t i = 0; i + 1 < std::size(fields); ++i) {
        QWidget* pNext = pPane->Control(fields[i])->nextInFocusChain();
        while ((pNext->focusPolicy() & Qt::TabFocus) == 0 || !pNext->isVisibleTo(pPane))
            pNext = pNext->nextInFocusChain();
        EXPECT_EQ(pNext, pPane->Control(fields[i + 1])) << fields[i];
    }

    const std::pair<UINT, QStringList> keys[] = {{ID_ZOOM_IN, {"+", "="}},
                                                 {ID_ZOOM_OUT, {"-"}},
                                                 {ID_ZOOM_FIT_WIDTH, {"W"}},
                                                 {ID_TURN_VIEW_RIGHT, {"R"}},
                                                 {ID_TURN_VIEW_LEFT, {"Shift+R"}}};
    for (const auto& [nID, list] : keys)
        EXPECT_EQ(CMainFrame::ToolTipWithKeys(nID, QStringLiteral("T")),
                  QStringLiteral("T (") + list.join(QStringLiteral(", ")) + ')');
}

}  // namespace
