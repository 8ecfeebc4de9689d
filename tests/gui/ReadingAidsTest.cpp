// SPDX-License-Identifier: AGPL-3.0-or-later
// Reading aids: the magnifier's steps, the turned view, the wheel summed into
// notches, the lot number's hint, the accessible names and the focus order.
#include <functional>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QToolBar>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "editpane/HagakiEditDialog.h"
#include "frame/MainFrm.h"
#include "ipc/OrmaViewDll.h"

namespace {

using guitest::SendWheel;

class ReadingAidsTest : public guitest::ViewerFixture {
protected:
    COrmaZoomView* Zoom() const { return View()->ZoomView(); }
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
            SendWheel(Zoom() != nullptr ? static_cast<QWidget*>(Zoom()) : View(), {10, 10}, {0, delta},
                      Qt::ControlModifier);
        };
    };
    const std::pair<std::function<void()>, double> steps[] = {
        {key(Qt::Key_Plus), 1.5}, {key(Qt::Key_Plus), 2},    {key(Qt::Key_Plus), 3},  {ctrlWheel(120), 4},
        {action(ID_ZOOM_IN), 6},  {key(Qt::Key_Equal), 6},   {key(Qt::Key_Minus), 4}, {ctrlWheel(-120), 3},
        {key(Qt::Key_Minus), 2},  {key(Qt::Key_Minus), 1.5}, {key(Qt::Key_Minus), 0}, {ctrlWheel(60), 0},
        {ctrlWheel(60), 1.5},     {action(ID_ZOOM_OUT), 0},  {key(Qt::Key_Minus), 0},
    };
    int i = 0;
    for (const auto& [step, level] : steps) {
        SCOPED_TRACE(i++);
        step();
        QApplication::processEvents();
        EXPECT_NEAR(ShownLevel(), level, level * 0.03);
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

// R turns the view right, Shift+R left, per page, the files untouched: the page
// is made for the turned shape (its aspect turns).
TEST_F(ReadingAidsTest, TurnedViewPerPageFileUntouched) {
    ASSERT_TRUE(StartOnPage(1));
    const std::string data = m_env.WorkDesk() + "/Doc000012/Data/Data1.";
    const std::string files = ovtest::ReadFile(data + "pdf") + ovtest::ReadFile(data + "dat");
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
    // Turned once; another page is upright.
    Frame()->CommandAction(ID_TURN_VIEW_RIGHT)->trigger();
    ASSERT_TRUE(Frame()->WaitForPage());
    QTest::keyClick(View(), Qt::Key_PageDown);
    ASSERT_TRUE(Frame()->WaitForPage());
    EXPECT_EQ(View()->QuarterTurns(), 0);
    QTest::keyClick(View(), Qt::Key_PageUp);
    ASSERT_TRUE(Frame()->WaitForPage());
    EXPECT_EQ(View()->QuarterTurns(), 1);
    EXPECT_EQ(ovtest::ReadFile(data + "pdf") + ovtest::ReadFile(data + "dat"), files);
}

// Partial deltas are summed: a page a full notch, never more than one a message.
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
        {"three notches in one message", {{0, -360}}, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (QPoint angle : c.angles) SendWheel(View(), {10, 10}, angle, {}, c.pixel);
        EXPECT_EQ(Doc()->m_iCurPagePos, c.page);
    }
}

// Postcard mode: a partial notch neither saves nor moves; keys typed in a field
// are the field's; the lot number's form is its tooltip and shows while it is
// red; every control has an accessible name.
TEST_F(ReadingAidsTest, PostcardFieldKeysNotchHintAndAccessibleNames) {
    // Page 1 a card with its side files named: the pane takes input.
    const std::string dat = m_env.WorkDesk() + "/Doc000012/Data/Data1.dat";
    ovtest::WriteFile(dat, "[PageInfo]\r\nPage1HagakiFile1=F.pdf\r\n" + ovtest::ReadFile(dat).substr(12));
    ASSERT_TRUE(StartPostcard(1));
    CHagakiEditDialog* pPane = Frame()->GetHagakiEditDialog();
    auto* pNumber = qobject_cast<QLineEdit*>(pPane->Control(IDC_HAGAKI_NUMBER));
    EXPECT_TRUE(pNumber->toolTip().contains(QStringLiteral("2024組0001234")));
    pNumber->setText(QStringLiteral("12345"));
    EXPECT_TRUE(pPane->NumberHint()->isVisibleTo(pPane));
    EXPECT_EQ(pPane->NumberHint()->text(), pNumber->toolTip());
    const int iPage = Doc()->m_iCurPagePos;
    SendWheel(View(), {10, 10}, {0, -119});
    EXPECT_EQ(Doc()->m_iCurPagePos, iPage);
    EXPECT_TRUE(pPane->IsModified());  // nothing saved: the red number is still the user's
    // Letters and page keys in a field never reach a command; a double click does not close.
    const int bShown = Doc()->m_bShowEditInfo;
    QWidget* pFrom = pPane->Control(IDC_HAGAKI_FROM);
    pFrom->setFocus();
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_PageDown, Qt::Key_Left})
        QTest::keyClick(pFrom, key);
    EXPECT_EQ(qobject_cast<QLineEdit*>(pFrom)->text(), QStringLiteral("a "));
    EXPECT_EQ(Doc()->m_bShowEditInfo, bShown);
    EXPECT_EQ(Doc()->m_iCurPagePos, iPage);
    QTest::mouseDClick(View(), Qt::LeftButton);
    EXPECT_TRUE(Frame()->isVisible());
    // The buttons, the fields and the page view have names and descriptions; Tab
    // follows the fields.
    std::vector<QWidget*> widgets{View()};
    for (QToolBar* pBar : {Frame()->ToolBar(), Frame()->ViewBar()})
        for (QAction* pAction : pBar->actions())
            if (QWidget* pButton = pBar->widgetForAction(pAction); pButton != Frame()->PageIndicator())
                widgets.push_back(pButton);
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
    for (std::size_t i = 0; i + 1 < std::size(fields); ++i) {
        QWidget* pNext = pPane->Control(fields[i])->nextInFocusChain();
        while ((pNext->focusPolicy() & Qt::TabFocus) == 0 || !pNext->isVisibleTo(pPane))
            pNext = pNext->nextInFocusChain();
        EXPECT_EQ(pNext, pPane->Control(fields[i + 1])) << fields[i];
    }
}

}  // namespace
