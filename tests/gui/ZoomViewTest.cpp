// SPDX-License-Identifier: AGPL-3.0-or-later
// The magnifier: the selection drag that opens it, the load scale, the opening
// animation, the hand drag, wheel and keys with their clamping, closing, and
// following page changes. The viewer runs in-process, in postcard mode (the
// postcard viewer's block published for a key) unless a test says otherwise.
#include <cstring>
#include <functional>

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ipc/OrmaViewDll.h"

namespace {

constexpr int kKey = 4711;

void SendMouse(QWidget* pWidget, QEvent::Type type, QPoint pt, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), button, buttons, modifiers);
    QApplication::sendEvent(pWidget, &event);
}

void SendWheel(QWidget* pWidget, QPoint pt, QPoint delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), QPoint(), delta, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(pWidget, &event);
}

// A left-button drag from a to b, the moves made with the given keys held.
void Drag(QWidget* pWidget, QPoint a, QPoint b, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    SendMouse(pWidget, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton, modifiers);
    SendMouse(pWidget, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton, modifiers);
    SendMouse(pWidget, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
}

class ZoomViewTest : public guitest::ZoomFixture {
protected:
    void TearDown() override {
        ZoomFixture::TearDown();
        OrmaViewRemoveHagakiManage(kKey);
    }

    // Postcard mode, document mode of the postcard viewer, on page ID iPageID;
    // the page view is given the client size asked for.
    bool StartPostcard(int iPageID, QSize client = QSize(600, 500)) {
        HAGAKI_MANAGE_INFO info;
        std::memset(&info, 0, sizeof info);
        info.iMode = 0;
        std::strncpy(info.szWorkDeskFolder, m_env.WorkDesk().c_str(), sizeof info.szWorkDeskFolder - 1);
        info.iDocID = 12;
        info.iPageID = iPageID;
        info.bEditable = 1;
        if (OrmaViewSetHagakiManage(kKey, &info) != 0)
            return false;
        if (!Start("/h " + std::to_string(kKey)))
            return false;
        Resize(client);
        return true;
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
    // Largest scroll position on each axis.
    QPoint MaxScroll() const {
        const QSize image = Zoom()->ImageSize(), client = Zoom()->size();
        return QPoint(std::max(0, image.width() - client.width()),
                      std::max(0, image.height() - client.height()));
    }
    // The zoom view closed and forgotten; the viewer still open.
    void ExpectClosed(const QPointer<COrmaZoomView>& pZoom) {
        EXPECT_EQ(Zoom(), nullptr);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(pZoom.isNull());
        EXPECT_TRUE(Frame()->isVisible());
    }
};

TEST_F(ZoomViewTest, SelectionRuleSizesModifiersAndOffPage) {
    ASSERT_TRUE(StartPostcard(1));
    const QRect page = Page();
    ASSERT_FALSE(page.isEmpty());
    const QPoint in = page.topLeft() + QPoint(30, 30);
    struct Case {
        const char* what;
        QPoint a, b;
        Qt::KeyboardModifiers modifiers;
        bool opens;
    };
    const Case cases[] = {
        {"19 wide", in, in + QPoint(19, 40), Qt::NoModifier, false},
        {"19 high", in, in + QPoint(40, 19), Qt::NoModifier, false},
        {"20 x 20", in, in + QPoint(20, 20), Qt::NoModifier, true},
        {"dragged up and left", in + QPoint(40, 40), in, Qt::NoModifier, true},
        // The band stays with Shift or Ctrl held; the release point still counts.
        {"Shift held", in, in + QPoint(60, 60), Qt::ShiftModifier, true},
        {"Ctrl held", in, in + QPoint(60, 60), Qt::ControlModifier, true},
        {"left of the page", QPoint(0, page.top() + 10), QPoint(page.left(), page.top() + 60), Qt::NoModifier,
         false},
        {"below the page", QPoint(page.left() + 10, page.bottom() + 1),
         QPoint(page.left() + 60, View()->height() - 1), Qt::NoModifier, false},
        {"touching the page's corner", page.topLeft() - QPoint(30, 30), page.topLeft() + QPoint(1, 1),
         Qt::NoModifier, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Zoom(), nullptr);
        SendMouse(View(), QEvent::MouseButtonPress, c.a, Qt::LeftButton, Qt::LeftButton);
        SendMouse(View(), QEvent::MouseMove, c.b, Qt::NoButton, Qt::LeftButton, c.modifiers);
        const QRect band = View()->SelectionRect();
        if (c.modifiers == Qt::NoModifier)
            EXPECT_EQ(band.size(), QSize(std::abs(c.b.x() - c.a.x()), std::abs(c.b.y() - c.a.y())));
        else
            EXPECT_EQ(band.size(), QSize(0, 0));
        SendMouse(View(), QEvent::MouseButtonRelease, c.b, Qt::LeftButton, Qt::NoButton);
        EXPECT_EQ(Zoom() != nullptr, c.opens);
        if (Zoom() != nullptr) {
            QPointer<COrmaZoomView> pZoom = Zoom();
            EXPECT_TRUE(pZoom->isVisible());
            EXPECT_EQ(pZoom->geometry(), View()->rect());
            EXPECT_EQ(QApplication::focusWidget(), pZoom.data());
            QTest::keyClick(pZoom, Qt::Key_Escape);
            ExpectClosed(pZoom);
            EXPECT_EQ(QApplication::focusWidget(), View());  // the keys come back to the page
        }
    }
    // A button press over another button still held moves nothing either.
    SendMouse(View(), QEvent::MouseButtonPress, in, Qt::LeftButton, Qt::LeftButton);
    SendMouse(View(), QEvent::MouseMove, in + QPoint(50, 50), Qt::NoButton, Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(View()->SelectionRect().size(), QSize(0, 0));
    SendMouse(View(), QEvent::MouseButtonRelease, in + QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Zoom(), nullptr);
}

// Right after a move the picture shown is still the previous card's: no way of
// asking opens the magnifier over it; once the new picture is there, each does.
TEST_F(ZoomViewTest, RightAfterAMoveNothingMagnifiesTheOldPicture) {
    ASSERT_TRUE(StartPostcard(1));
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

TEST_F(ZoomViewTest, StandardModeDragDoesNothingButCtrlWheelAndKeysMagnify) {
    ASSERT_TRUE(StartOnPage(1));
    const QPoint centre = Page().center();
    Drag(View(), centre - QPoint(50, 50), centre + QPoint(50, 50));
    EXPECT_EQ(Zoom(), nullptr);
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);

    // Ctrl + wheel backwards: nothing (and no page step); forwards: open at the cursor.
    SendWheel(View(), centre, QPoint(0, -120), Qt::ControlModifier);
    EXPECT_EQ(Zoom(), nullptr);
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);
    SendWheel(View(), centre, QPoint(0, 120), Qt::ControlModifier);
    ASSERT_NE(Zoom(), nullptr);
    QPointer<COrmaZoomView> pZoom = Zoom();
    pZoom->repaint();
    EXPECT_TRUE(pZoom->IsShown());
    // A wheel over the magnifier moves the image, never the page.
    SendWheel(pZoom, centre, QPoint(0, -120));
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);
    // Ctrl + wheel backwards over it closes it.
    SendWheel(pZoom, centre, QPoint(0, -120), Qt::ControlModifier);
    ExpectClosed(pZoom);

    // The + key opens around the view's centre; a double click on the magnifier
    // closes it, not the viewer.
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_Plus);
    ASSERT_NE(Zoom(), nullptr);
    pZoom = Zoom();
    SendMouse(pZoom, QEvent::MouseButtonDblClick, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    ExpectClosed(pZoom);
}

TEST_F(ZoomViewTest, LoadScaleFollowsTheSelection) {
    ASSERT_TRUE(StartPostcard(1));
    const QRect page = Page();
    // Full size of the test page: 200 x 280 points at 300 DPI.
    const double fullW = 833, fullH = 1167;
    struct Case {
        const char* what;
        QRect select;
        int scale;  // expected thousandths; 0: computed from the window
    };
    const QSize wnd = View()->size();
    const Case cases[] = {
        {"small selection: full size, never more", QRect(page.topLeft() + QPoint(20, 20), QSize(40, 40)),
         1000},
        {"selection wider than the window at full size",
         QRect(page.left(), page.top() + 20, page.width(), 40), 0},
        {"selection taller than the window at full size",
         QRect(page.left() + 10, page.top(), 40, page.height()), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COrmaZoomView* pZoom = OpenOver(c.select);
        ASSERT_NE(pZoom, nullptr);
        int expected = c.scale;
        if (expected == 0) {
            const double regionW = static_cast<int>(c.select.width() * fullW / page.width() + 0.5);
            const double regionH = static_cast<int>(c.select.height() * fullH / page.height() + 0.5);
            const double ratio = wnd.height() * regionW > wnd.width() * regionH ? wnd.width() / regionW
                                                                                : wnd.height() / regionH;
            expected = static_cast<int>(static_cast<int>(ratio * 25600 + 0.5) * 0.0390625 + 0.5);
            EXPECT_LT(expected, 1000);
        }
        EXPECT_EQ(pZoom->LoadScale(), expected);
        EXPECT_EQ(pZoom->ImageSize(), QSize(static_cast<int>(std::lround(fullW * expected / 1000.0)),
                                            static_cast<int>(std::lround(fullH * expected / 1000.0))));
        QPointer<COrmaZoomView> p = pZoom;
        SendMouse(pZoom, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
        ExpectClosed(p);
    }
}

TEST_F(ZoomViewTest, HandDragWheelAndArrowsClampAtEveryEdge) {
    ASSERT_TRUE(StartPostcard(1));
    const QRect page = Page();
    COrmaZoomView* pZoom = OpenOver(QRect(page.center(), QSize(40, 40)));
    ASSERT_NE(pZoom, nullptr);
    ASSERT_TRUE(pZoom->IsImageLargerThanWindow());
    EXPECT_EQ(pZoom->cursor().shape(), Qt::OpenHandCursor);
    const QPoint max = MaxScroll();
    ASSERT_GT(max.x(), 0);
    ASSERT_GT(max.y(), 0);
    // The selection's centre was brought into view, away from the corner.
    EXPECT_GT(pZoom->ScrollPosition().x(), 0);
    EXPECT_GT(pZoom->ScrollPosition().y(), 0);

    const QPoint mid(pZoom->width() / 2, pZoom->height() / 2);
    auto hand = [&](QPoint by) {
        SendMouse(pZoom, QEvent::MouseButtonPress, mid, Qt::LeftButton, Qt::LeftButton);
        EXPECT_EQ(pZoom->cursor().shape(), Qt::ClosedHandCursor);
        SendMouse(pZoom, QEvent::MouseMove, mid + by, Qt::NoButton, Qt::LeftButton);
        SendMouse(pZoom, QEvent::MouseButtonRelease, mid + by, Qt::LeftButton, Qt::NoButton);
        EXPECT_EQ(pZoom->cursor().shape(), Qt::OpenHandCursor);
    };
    const QPoint start = pZoom->ScrollPosition();
    hand(QPoint(-7, -5));  // one to one: the image follows the mouse
    EXPECT_EQ(pZoom->ScrollPosition(), start + QPoint(7, 5));
    const std::pair<std::function<void()>, QPoint> steps[] = {
        {[&] { hand(QPoint(5000, 5000)); }, QPoint(0, 0)},               // top-left edge
        {[&] { SendWheel(pZoom, mid, QPoint(0, 120)); }, QPoint(0, 0)},  // the wheel at the top stays
        {[&] { SendWheel(pZoom, mid, QPoint(0, -120)); }, QPoint(0, std::min(120, max.y()))},
        {[&] { QTest::keyClick(pZoom, Qt::Key_Right); },
         QPoint(std::min(120, max.x()), std::min(120, max.y()))},
        {[&] { QTest::keyClick(pZoom, Qt::Key_Up); }, QPoint(std::min(120, max.x()), 0)},
        {[&] { hand(QPoint(-5000, -5000)); }, max},  // bottom-right edge
        {[&] { SendWheel(pZoom, mid, QPoint(0, -120)); }, max},
        {[&] { QTest::keyClick(pZoom, Qt::Key_Down); }, max},
        {[&] { QTest::keyClick(pZoom, Qt::Key_Right); }, max},
        {[&] { hand(QPoint(5000, -5000)); }, QPoint(0, max.y())},  // bottom-left
        {[&] { QTest::keyClick(pZoom, Qt::Key_Left); }, QPoint(0, max.y())},
        {[&] { hand(QPoint(-5000, 5000)); }, QPoint(max.x(), 0)},  // top-right
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].first();
        EXPECT_EQ(pZoom->ScrollPosition(), steps[i].second);
    }
    // What is drawn is the image at the scroll position.
    const QImage shot = pZoom->grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), pZoom->Image().pixelColor(max.x() + 10, 10));
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);  // the arrows moved the image, not the page
}

TEST_F(ZoomViewTest, ImageNarrowerThanTheWindowOnlyMovesVertically) {
    ASSERT_TRUE(StartPostcard(1, QSize(900, 400)));
    const QRect page = Page();
    // Tall and narrow: fitted by its height, the page comes out narrower than the window.
    COrmaZoomView* pZoom = OpenOver(QRect(page.left() + 20, page.top(), 20, page.height() / 2));
    ASSERT_NE(pZoom, nullptr);
    ASSERT_LT(pZoom->ImageSize().width(), pZoom->width());
    ASSERT_GT(pZoom->ImageSize().height(), pZoom->height());
    EXPECT_EQ(pZoom->ScrollPosition().x(), 0);
    const QPoint mid(pZoom->width() / 2, pZoom->height() / 2);
    SendMouse(pZoom, QEvent::MouseButtonPress, mid, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pZoom, QEvent::MouseMove, mid + QPoint(-30, -30), Qt::NoButton, Qt::LeftButton);
    SendMouse(pZoom, QEvent::MouseButtonRelease, mid + QPoint(-30, -30), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(pZoom->ScrollPosition(), QPoint(0, 30));
    SendWheel(pZoom, mid, QPoint(120, -120));
    EXPECT_EQ(pZoom->ScrollPosition(), QPoint(0, 150));
    // Centred horizontally in the window colour.
    const QImage shot = pZoom->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, pZoom->height() / 2), pZoom->palette().color(QPalette::Window));
    EXPECT_EQ(shot.pixelColor(pZoom->width() / 2, pZoom->height() / 2),
              pZoom->Image().pixelColor(pZoom->ImageSize().width() / 2, 150 + pZoom->height() / 2));
}

TEST_F(ZoomViewTest, ClosingByKeysButtonsResizeAndFrameClose) {
    ASSERT_TRUE(StartPostcard(1));
    const QRect select(Page().center(), QSize(40, 40));
    const std::pair<const char*, std::function<void(COrmaZoomView*)>> ways[] = {
        // The mouse is nowhere near; the magnifier has the keyboard focus.
        {"Escape", [](COrmaZoomView* p) { QTest::keyClick(p, Qt::Key_Escape); }},
        {"minus", [](COrmaZoomView* p) { QTest::keyClick(p, Qt::Key_Minus); }},
        {"right button",
         [](COrmaZoomView* p) {
             SendMouse(p, QEvent::MouseButtonPress, QPoint(3, 3), Qt::RightButton, Qt::RightButton);
         }},
        {"double click",
         [](COrmaZoomView* p) {
             SendMouse(p, QEvent::MouseButtonDblClick, QPoint(3, 3), Qt::LeftButton, Qt::LeftButton);
         }},
        {"resize", [this](COrmaZoomView*) { Resize(View()->size() - QSize(20, 20)); }},
    };
    for (const auto& [what, close] : ways) {
        SCOPED_TRACE(what);
        QPointer<COrmaZoomView> pZoom = OpenOver(select);
        ASSERT_FALSE(pZoom.isNull());
        close(pZoom);
        ExpectClosed(pZoom);
        // The page shows again.
        View()->repaint();
        EXPECT_FALSE(View()->PageImage().isNull());
    }
    QPointer<COrmaZoomView> pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    Frame()->OnClose();
    EXPECT_EQ(Zoom(), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pZoom.isNull());
}

TEST_F(ZoomViewTest, PageChangeReloadsKeepingTheRelativePosition) {
    // Page 2 is twice the size of page 1: its image is twice as large.
    const std::string data = m_env.WorkDesk() + "/Doc000012/Data/Data2.pdf";
    ASSERT_TRUE(
        ovsample::WritePdf(data, {ovsample::PdfPage{400, 560, 0, "0 1 0 rg 40 40 320 480 re f", {}}}));
    ASSERT_TRUE(StartPostcard(1));
    COrmaZoomView* pZoom = OpenOver(QRect(Page().center(), QSize(40, 40)));
    ASSERT_NE(pZoom, nullptr);
    ASSERT_EQ(pZoom->LoadScale(), 1000);
    const QSize client = pZoom->size();
    const QSize oldImage = pZoom->ImageSize();
    const QPoint old = pZoom->ScrollPosition();

    ASSERT_EQ(Frame()->Session().MovePage(kMovePageNext), 0);
    ASSERT_EQ(Zoom(), pZoom);
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    EXPECT_TRUE(pZoom->IsShown());  // no second animation
    const QSize newImage = pZoom->ImageSize();
    EXPECT_GT(newImage.width(), oldImage.width());
    const QPoint expected(
        (newImage.width() - client.width()) * old.x() / (oldImage.width() - client.width()),
        (newImage.height() - client.height()) * old.y() / (oldImage.height() - client.height()));
    EXPECT_EQ(pZoom->ScrollPosition(), expected);
    pZoom->repaint();
    EXPECT_EQ(pZoom->grab().toImage().pixelColor(client.width() / 2, client.height() / 2), QColor(0, 255, 0));

    // Back, annotations off (a refresh): the zoom view follows again.
    Frame()->Session().OnAnnotation();
    ASSERT_EQ(Zoom(), pZoom);
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    const QPoint there = pZoom->ScrollPosition();
    ASSERT_EQ(Frame()->Session().MovePage(kMovePagePrev), 0);
    EXPECT_EQ(pZoom->ImageSize(), oldImage);
    EXPECT_EQ(
        pZoom->ScrollPosition(),
        QPoint((oldImage.width() - client.width()) * there.x() / (newImage.width() - client.width()),
               (oldImage.height() - client.height()) * there.y() / (newImage.height() - client.height())));
    EXPECT_LE((pZoom->ScrollPosition() - old).manhattanLength(), 2);
}

TEST_F(ZoomViewTest, FailedLoadsCloseItWithTheirTraceLines) {
    ASSERT_TRUE(StartPostcard(1));
    const QRect select(Page().center(), QSize(40, 40));
    // Page 2's images (with and without annotations) are made once; then its
    // PDF is damaged.
    ASSERT_EQ(Frame()->Session().MovePage(kMovePageNext), 0);
    Frame()->Session().OnAnnotation();
    ASSERT_NE(View(), nullptr);  // the page without annotations made (not coalesced away)
    Frame()->Session().OnAnnotation();
    ASSERT_EQ(Frame()->Session().MovePage(kMovePagePrev), 0);
    const std::string data2 = m_env.WorkDesk() + "/Doc000012/Data/Data2.pdf";
    ovtest::WriteFile(data2, "not a PDF");

    QPointer<COrmaZoomView> pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    EXPECT_EQ(Frame()->Session().MovePage(kMovePageNext), -1);
    ExpectClosed(pZoom);
    EXPECT_NE(m_env.TraceText().find("COrmaViewView::ChangeZoomImage - Change zoom imgage failed."),
              std::string::npos);

    // Opening over a damaged page opens nothing.
    Frame()->Session().OnAnnotation();  // annotations off: the page's own PDF is loaded
    EXPECT_EQ(OpenOver(select), nullptr);
    EXPECT_NE(m_env.TraceText().find("COrmaViewView::MoveZoomInWnd - Move zoom imgage failed."),
              std::string::npos);
    View()->repaint();
    EXPECT_FALSE(View()->PageImage().isNull());
}

TEST_F(ZoomViewTest, AnnotationsShowInTheMagnifiedImageAndTheTemporaryFileGoes) {
    ASSERT_TRUE(StartPostcard(1));
    // Page 1's annotation: a blue frame at (30, 30), 140 x 60 points, 12 wide.
    // Its upper edge, magnified at full size (300 DPI): y = 30 / 72 * 300 = 125.
    auto blueOnTheFrame = [&](COrmaZoomView* pZoom) {
        const QImage& image = pZoom->Image();
        const QColor c = image.pixelColor(image.width() / 2, 125);
        return c.blue() > 200 && c.red() < 60;
    };
    const QRect select(Page().topLeft() + QPoint(20, 20), QSize(40, 40));
    COrmaZoomView* pZoom = OpenOver(select);
    ASSERT_NE(pZoom, nullptr);
    ASSERT_EQ(pZoom->LoadScale(), 1000);
    EXPECT_TRUE(blueOnTheFrame(pZoom));
    // The PDF with the annotations drawn in was only for the load.
    EXPECT_FALSE(ovtest::Exists(Doc()->m_strEditInfoOnFolder + "/OrmaView1.thm.pdf"));

    Frame()->Session().OnAnnotation();  // off: the zoom view reloads the page's own PDF
    ASSERT_EQ(Zoom(), pZoom);
    EXPECT_FALSE(blueOnTheFrame(pZoom));
    Frame()->Session().OnAnnotation();
    EXPECT_TRUE(blueOnTheFrame(pZoom));
}

TEST_F(ZoomViewTest, AnimationRunsFromATimerAndEscapeStopsItAtOnce) {
    COrmaZoomView::SetAnimationInterval(20);
    ASSERT_TRUE(StartPostcard(1));
    const QRect select(Page().center(), QSize(40, 40));
    Drag(View(), select.topLeft(), select.bottomRight() + QPoint(1, 1));
    QPointer<COrmaZoomView> pZoom = Zoom();
    ASSERT_FALSE(pZoom.isNull());
    // The release has painted the first frame and returned with the page still
    // growing; the later frames come from the timer.
    EXPECT_TRUE(pZoom->IsAnimating());
    EXPECT_FALSE(pZoom->IsShown());
    int iFirstFrames = 0;
    QObject::connect(pZoom, &COrmaZoomView::firstFramePainted, [&] { ++iFirstFrames; });
    QTRY_VERIFY_WITH_TIMEOUT(pZoom->IsShown(), 5000);
    EXPECT_FALSE(pZoom->IsAnimating());
    EXPECT_EQ(iFirstFrames, 0);
    const QPoint final = pZoom->ScrollPosition();
    QTest::keyClick(pZoom, Qt::Key_Escape);
    ExpectClosed(pZoom);

    // Escape in the middle of the animation closes it there and then.
    pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    ASSERT_TRUE(pZoom->IsAnimating());
    QTest::qWait(30);
    QTest::keyClick(pZoom, Qt::Key_Escape);
    ExpectClosed(pZoom);
    EXPECT_TRUE(Frame()->isVisible());

    // The first frame is drawn from the library's bottom-up rows, later ones from
    // a converted copy: both draw the same picture.
    COrmaZoomView::SetAnimationInterval(60000);
    pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    ASSERT_TRUE(pZoom->Image().isNull());
    const QImage fromRows = pZoom->grab().toImage();
    QApplication::processEvents();
    ASSERT_FALSE(pZoom->Image().isNull());
    ASSERT_TRUE(pZoom->IsAnimating());
    const QImage fromCopy = pZoom->grab().toImage();
    ASSERT_EQ(fromRows.size(), fromCopy.size());
    int iDiffering = 0;
    for (int y = 0; y < fromRows.height(); ++y)
        for (int x = 0; x < fromRows.width(); ++x) iDiffering += fromRows.pixel(x, y) != fromCopy.pixel(x, y);
    EXPECT_LT(iDiffering, fromRows.width() * fromRows.height() / 100);
    EXPECT_NE(fromRows.pixelColor(fromRows.width() / 2, fromRows.height() / 2),
              pZoom->palette().color(QPalette::Window));
    QTest::keyClick(pZoom, Qt::Key_Escape);
    ExpectClosed(pZoom);

    // The animated opening ends where the immediate one does.
    COrmaZoomView::SetAnimationInterval(0);
    pZoom = OpenOver(select);
    ASSERT_FALSE(pZoom.isNull());
    EXPECT_TRUE(pZoom->IsShown());
    EXPECT_EQ(pZoom->ScrollPosition(), final);
}

}  // namespace
