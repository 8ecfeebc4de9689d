// SPDX-License-Identifier: AGPL-3.0-or-later
// The magnifier in postcard mode: the selection drag that opens it and its load
// scale, the hand drag, wheel and keys with their clamping, the ways of closing,
// and following page changes.
#include <functional>

#include <QApplication>
#include <QPointer>
#include <QTest>

#include "GuiTestSupport.h"
#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"

namespace {

using guitest::Drag;
using guitest::SendMouse;
using guitest::SendWheel;

// Full size of the test pages: 200 x 280 points at 300 DPI.
constexpr double kFullW = 833, kFullH = 1167;

class ZoomViewTest : public guitest::ViewerFixture {
protected:
    // Postcard mode on page ID iPageID, the page view given the client size asked for.
    void StartZoomable(int iPageID, QSize client = QSize(600, 500)) {
        ASSERT_TRUE(StartPostcard(iPageID));
        Resize(client);
    }
    void Resize(QSize client) {
        Frame()->resize(Frame()->size() + client - View()->size());
        QApplication::processEvents();
        View()->repaint();
        ASSERT_EQ(View()->size(), client);
    }
    COrmaZoomView* Zoom() const { return View()->ZoomView(); }
    // Opens by a drag over rcSelect and paints the first (here: final) frame.
    COrmaZoomView* OpenOver(const QRect& rcSelect) {
        Drag(View(), rcSelect.topLeft(), rcSelect.topLeft() + QPoint(rcSelect.width(), rcSelect.height()));
        if (Zoom() != nullptr)
            Zoom()->repaint();
        return Zoom();
    }
    QRect Page() const { return View()->PageImageRect(); }
    // The zoom view closed and forgotten.
    void ExpectClosed(const QPointer<COrmaZoomView>& pZoom) {
        EXPECT_EQ(Zoom(), nullptr);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(pZoom.isNull());
    }
};

TEST_F(ZoomViewTest, OpensOverTheSelectionAtTheScaleThatFitsIt) {
    StartZoomable(1);
    const QRect page = Page();
    const QSize wnd = View()->size();
    const QPoint in = page.topLeft() + QPoint(30, 30);
    struct Case {
        const char* what;
        QPoint a, b;
        int scale;  // thousandths; -1: nothing opens; 0: the selection fitted to the window
    };
    // clang-format off
    const Case cases[] = {
        {"19 wide", in, in + QPoint(19, 40), -1},
        {"20 x 20: full size, never more", in, in + QPoint(20, 20), 1000},
        {"dragged up and left", in + QPoint(40, 40), in, 1000},
        {"left of the page", QPoint(0, page.top() + 10), QPoint(page.left(), page.top() + 60), -1},
        {"taller than the window", QPoint(page.left() + 10, page.top()), QPoint(page.left() + 50, page.bottom() + 1), 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SendMouse(View(), QEvent::MouseButtonPress, c.a, Qt::LeftButton, Qt::LeftButton);
        SendMouse(View(), QEvent::MouseMove, c.b, Qt::NoButton, Qt::LeftButton);
        const QSize band(std::abs(c.b.x() - c.a.x()), std::abs(c.b.y() - c.a.y()));
        EXPECT_EQ(View()->SelectionRect().size(), band);
        SendMouse(View(), QEvent::MouseButtonRelease, c.b, Qt::LeftButton, Qt::NoButton);
        QPointer<COrmaZoomView> pZoom = Zoom();
        ASSERT_EQ(pZoom != nullptr, c.scale >= 0);
        if (pZoom == nullptr)
            continue;
        EXPECT_EQ(pZoom->geometry(), View()->rect());
        EXPECT_EQ(QApplication::focusWidget(), pZoom.data());
        const double regionW = static_cast<int>(band.width() * kFullW / page.width() + 0.5);
        const double regionH = static_cast<int>(band.height() * kFullH / page.height() + 0.5);
        const double ratio =
            wnd.height() * regionW > wnd.width() * regionH ? wnd.width() / regionW : wnd.height() / regionH;
        const int expected = c.scale ? c.scale : static_cast<int>(int(ratio * 25600 + 0.5) * 0.0390625 + 0.5);
        EXPECT_EQ(pZoom->LoadScale(), expected);
        EXPECT_EQ(pZoom->ImageSize(),
                  QSize(std::lround(kFullW * expected / 1000.0), std::lround(kFullH * expected / 1000.0)));
        QTest::keyClick(pZoom, Qt::Key_Escape);
        ExpectClosed(pZoom);
        EXPECT_EQ(QApplication::focusWidget(), View());  // the keys come back to the page
    }
}

// Right after a move the picture shown is still the previous card's: no way of
// asking opens the magnifier over it; once the new picture is there, each does.
TEST_F(ZoomViewTest, RightAfterAMoveNothingMagnifiesTheOldPicture) {
    StartZoomable(1);
    const QRect select(Page().center() - QPoint(30, 30), QSize(60, 60));
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"drag", [&] { Drag(ViewNow(), select.topLeft(), select.bottomRight()); }},
        {"+ key", [&] { QTest::keyClick(ViewNow(), Qt::Key_Plus); }},
        {"Ctrl + wheel", [&] { SendWheel(ViewNow(), select.center(), QPoint(0, 120), Qt::ControlModifier); }},
    };
    bool bNext = true;
    for (const auto& [what, open] : ways) {
        SCOPED_TRACE(what);
        ASSERT_EQ(bNext ? Frame()->Session().OnNextPage() : Frame()->Session().OnPrevPage(), 0);
        bNext = !bNext;
        ASSERT_TRUE(ViewNow()->IsPageBusy());
        ASSERT_FALSE(ViewNow()->PageImage().isNull());  // the old card's picture
        open();
        EXPECT_EQ(ViewNow()->ZoomView(), nullptr);
        View()->setFocus();  // the new picture is there
        open();
        ASSERT_NE(Zoom(), nullptr);
        View()->DestroyZoomView(FALSE);
    }
}

TEST_F(ZoomViewTest, HandDragWheelAndArrowsClampAtEveryEdge) {
    StartZoomable(1);
    COrmaZoomView* pZoom = OpenOver(QRect(Page().center(), QSize(40, 40)));
    ASSERT_NE(pZoom, nullptr);
    EXPECT_EQ(pZoom->cursor().shape(), Qt::OpenHandCursor);
    const QPoint max(pZoom->ImageSize().width() - pZoom->width(),
                     pZoom->ImageSize().height() - pZoom->height());
    ASSERT_GT(std::min(max.x(), max.y()), 120);

    const QPoint mid(pZoom->width() / 2, pZoom->height() / 2);
    auto hand = [&](QPoint by) {
        SendMouse(pZoom, QEvent::MouseButtonPress, mid, Qt::LeftButton, Qt::LeftButton);
        EXPECT_EQ(pZoom->cursor().shape(), Qt::ClosedHandCursor);
        SendMouse(pZoom, QEvent::MouseMove, mid + by, Qt::NoButton, Qt::LeftButton);
        SendMouse(pZoom, QEvent::MouseButtonRelease, mid + by, Qt::LeftButton, Qt::NoButton);
    };
    const QPoint start = pZoom->ScrollPosition();
    hand(QPoint(-7, -5));  // one to one: the image follows the mouse
    EXPECT_EQ(pZoom->ScrollPosition(), start + QPoint(7, 5));
    const auto key = [&](Qt::Key k) { return [&, k] { QTest::keyClick(pZoom, k); }; };
    const auto wheel = [&](int dy) { return [&, dy] { SendWheel(pZoom, mid, QPoint(0, dy)); }; };
    const std::pair<std::function<void()>, QPoint> steps[] = {
        {[&] { hand(QPoint(5000, 5000)); }, QPoint(0, 0)},  // top-left edge
        {wheel(120), QPoint(0, 0)},
        {wheel(-120), QPoint(0, 120)},
        {key(Qt::Key_Right), QPoint(120, 120)},
        {[&] { hand(QPoint(-5000, -5000)); }, max},  // bottom-right edge
        {key(Qt::Key_Right), max},
        {[&] { hand(QPoint(5000, 0)); }, QPoint(0, max.y())},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].first();
        EXPECT_EQ(pZoom->ScrollPosition(), steps[i].second);
    }
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);  // the wheel and arrows moved the image, not the page
}

TEST_F(ZoomViewTest, EveryWayOfClosingShowsThePageAgain) {
    StartZoomable(1);
    const QRect select(Page().center(), QSize(40, 40));
    QPointer<COrmaZoomView> pZoom;
    const QPoint pt(3, 3);  // the mouse is nowhere near; the magnifier has the keyboard focus
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Escape", [&] { QTest::keyClick(pZoom, Qt::Key_Escape); }},
        {"minus", [&] { QTest::keyClick(pZoom, Qt::Key_Minus); }},
        {"right button",
         [&] { SendMouse(pZoom, QEvent::MouseButtonPress, pt, Qt::RightButton, Qt::RightButton); }},
        {"double click",
         [&] { SendMouse(pZoom, QEvent::MouseButtonDblClick, pt, Qt::LeftButton, Qt::LeftButton); }},
        {"Ctrl + wheel backwards", [&] { SendWheel(pZoom, pt, QPoint(0, -120), Qt::ControlModifier); }},
    };
    for (const auto& [what, close] : ways) {
        SCOPED_TRACE(what);
        pZoom = OpenOver(select);
        ASSERT_FALSE(pZoom.isNull());
        close();
        ExpectClosed(pZoom);
        View()->repaint();
        EXPECT_FALSE(View()->PageImage().isNull());
    }
}

// A page change reloads the magnifier keeping the relative scroll position; a
// page whose file cannot be loaded closes it with a trace line.
TEST_F(ZoomViewTest, PageChangesReloadItOrCloseItWithATraceLine) {
    // Page 2 is twice the size of page 1: its image is twice as large.
    const std::string data2 = m_env.WorkDesk() + "/Doc000012/Data/Data2.pdf";
    ASSERT_TRUE(
        ovsample::WritePdf(data2, {ovsample::PdfPage{400, 560, 0, "0 1 0 rg 40 40 320 480 re f", {}}}));
    StartZoomable(1);
    const QRect select(Page().center(), QSize(40, 40));
    // Page 2's page images (with and without annotations) are made before its PDF
    // is damaged: each step waits until its page is in place.
    const auto settled = [&] {
        return QTest::qWaitFor([&] { return Frame()->Session().IsIdle() != FALSE; });
    };
    ASSERT_EQ(Frame()->Session().MovePage(kMovePageNext), 0);
    ASSERT_TRUE(settled());
    Frame()->Session().OnAnnotation();
    ASSERT_TRUE(settled());
    Frame()->Session().OnAnnotation();
    ASSERT_TRUE(settled());
    ASSERT_EQ(Frame()->Session().MovePage(kMovePagePrev), 0);
    ASSERT_TRUE(settled());

    QPointer<COrmaZoomView> pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    const QSize client = pZoom->size(), oldImage = pZoom->ImageSize();
    const QPoint old = pZoom->ScrollPosition();
    ASSERT_EQ(Frame()->Session().MovePage(kMovePageNext), 0);
    ASSERT_EQ(Zoom(), pZoom);
    EXPECT_TRUE(pZoom->IsShown());  // no second animation
    const QSize newImage = pZoom->ImageSize();
    EXPECT_GT(newImage.width(), oldImage.width());
    EXPECT_EQ(
        pZoom->ScrollPosition(),
        QPoint((newImage.width() - client.width()) * old.x() / (oldImage.width() - client.width()),
               (newImage.height() - client.height()) * old.y() / (oldImage.height() - client.height())));
    ASSERT_EQ(Frame()->Session().MovePage(kMovePagePrev), 0);
    ovtest::WriteFile(data2, "not a PDF");
    EXPECT_EQ(Frame()->Session().MovePage(kMovePageNext), -1);
    ExpectClosed(pZoom);
    EXPECT_NE(m_env.TraceText().find("COrmaViewView::ChangeZoomImage - Change zoom imgage failed."),
              std::string::npos);
    // The page itself is still shown from the page image made before.
    ASSERT_TRUE(settled());
    View()->repaint();
    EXPECT_FALSE(View()->PageImage().isNull());
}

}  // namespace
