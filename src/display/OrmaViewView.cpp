// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaViewView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>

#include "app/ToQString.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "image/PageBitmap.h"
#include "ormamsg/OrmaMsg.h"

namespace {
// Direction codes of MovePage and action codes of HagakiPageAction.
constexpr int kMovePrev = 2;
constexpr int kMoveNext = 3;
constexpr int kHagakiNext = 3;
constexpr int kHagakiPrev = 4;
}  // namespace

COrmaViewView::COrmaViewView(COrmaViewDoc* pFrameworkDoc, QWidget* parent)
    : QWidget(parent), m_pFrameworkDoc(pFrameworkDoc) {
    setObjectName(QStringLiteral("COrmaViewView"));
    setFocusPolicy(Qt::StrongFocus);
    // The whole area is painted on every paint: no background erase needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

COrmaViewView::~COrmaViewView() {
    ReleasePageBitmap();
}

QSize COrmaViewView::PageBitmapRequest(const QSize& client) {
    return QSize(29 * client.width() / 30, 29 * client.height() / 30);
}

QRect COrmaViewView::PageImageRect() const {
    if (m_image.isNull())
        return QRect();
    const qreal dpr = m_image.devicePixelRatio();
    return QRect(qRound(m_iImageX / dpr), qRound(m_iImageY / dpr), qRound(m_image.width() / dpr),
                 qRound(m_image.height() / dpr));
}

CMainFrame* COrmaViewView::Frame() const {
    return qobject_cast<CMainFrame*>(window());
}

BOOL COrmaViewView::IsHagakiFrame() const {
    CMainFrame* pFrame = Frame();
    return pFrame != nullptr && pFrame->m_bHagaki;
}

void COrmaViewView::ReleasePageBitmap() {
    m_image = QImage();
    m_pBitmap.reset();
}

BOOL COrmaViewView::MakePageBitmap() {
    // Render for the screen's pixels so that the page stays sharp on HiDPI
    // screens; the placement is worked out in device pixels as well.
    const qreal dpr = devicePixelRatioF();
    const QSize device(qRound(width() * dpr), qRound(height() * dpr));
    const QSize request = PageBitmapRequest(device);
    const int iResult = OV_GUARDED([&]() -> int {
        auto pBitmap = std::make_unique<CPageBitmap>();
        const int rc = m_pDoc->GetThumbnail(nullptr, request.width(), request.height(), pBitmap.get());
        if (rc != 0)
            return rc;
        if (pBitmap->IsNull())
            return -1;
        m_pBitmap = std::move(pBitmap);
        return 0;
    });
    if (iResult != 0 || !m_pBitmap) {
        ReleasePageBitmap();
        m_bRedraw = TRUE;
        m_iPageError = iResult != 0 ? iResult : -1;
        return FALSE;
    }
    m_iPageError = 0;
    m_image = QImage(m_pBitmap->Bits(), m_pBitmap->Width(), m_pBitmap->Height(), m_pBitmap->Stride(),
                     QImage::Format_RGB32);
    m_image.setDevicePixelRatio(dpr);
    m_iImageX = (device.width() - m_pBitmap->Width()) / 2;
    m_iImageY = (device.height() - m_pBitmap->Height()) / 2;
    return TRUE;
}

void COrmaViewView::paintEvent(QPaintEvent*) {
    m_bRedraw = TRUE;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (m_pZoomView != nullptr)
        return;  // the page is hidden behind the zoom view
    if (m_pDoc == nullptr)
        m_pDoc = m_pFrameworkDoc;
    if (m_pDoc == nullptr)
        return;
    // Moved to a screen of another scale: the kept bitmap no longer matches the
    // device pixels (no resize tells of it).
    if (m_pBitmap && !qFuzzyCompare(m_image.devicePixelRatio(), devicePixelRatioF()))
        ReleasePageBitmap();
    if (!m_pBitmap && !MakePageBitmap()) {
        // No blank page without a word: the page's error is shown where it would be.
        const int iNumber = ov::MessageNumberForCode(m_iPageError);
        if (iNumber != 0) {
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                             ov::ToQString(ov::MessageText(iNumber)));
        }
        return;
    }
    const qreal dpr = m_image.devicePixelRatio();
    painter.drawImage(QPointF(m_iImageX / dpr, m_iImageY / dpr), m_image);
    m_bRedraw = FALSE;
    emit pagePainted();
}

void COrmaViewView::resizeEvent(QResizeEvent* event) {
    DestroyZoomView(FALSE);
    m_bRedraw = TRUE;
    ReleasePageBitmap();
    QWidget::resizeEvent(event);
}

void COrmaViewView::RepaintNow() {
    if (isVisible())
        repaint();
    else
        update();
}

int COrmaViewView::ShowChangedPage() {
    ReleasePageBitmap();
    if (m_pZoomView != nullptr) {
        // The zoom view follows the page once it exists; until then there is
        // nothing that could fail here.
        return 0;
    }
    RepaintNow();
    return 0;
}

int COrmaViewView::MovePage(int iDirection) {
    return OV_GUARDED([&]() -> int {
        if (m_pDoc == nullptr)
            m_pDoc = m_pFrameworkDoc;
        if (m_pDoc == nullptr)
            return 0;
        const int iPos = iDirection == kMovePrev ? m_pDoc->GetPrevPagePos(1) : m_pDoc->GetNextPagePos(1);
        if (iPos < 1)
            return 0;
        const int rc = m_pDoc->CreateThumbFile();
        if (CMainFrame* pFrame = Frame())
            pFrame->SetFrameTitle(m_pDoc->GetFrameTitle());
        if (ShowChangedPage() != 0) {
            DestroyZoomView(FALSE);
            return -1;
        }
        return rc;
    });
}

int COrmaViewView::RefreshPage() {
    return OV_GUARDED([&]() -> int {
        if (m_pDoc == nullptr)
            m_pDoc = m_pFrameworkDoc;
        if (m_pDoc == nullptr)
            return 0;
        const int rc = m_pDoc->CreateThumbFile();
        if (ShowChangedPage() != 0) {
            DestroyZoomView(FALSE);
            return -1;
        }
        return rc;
    });
}

void COrmaViewView::RedrawPage() {
    if (ShowChangedPage() != 0)
        DestroyZoomView(FALSE);
}

BOOL COrmaViewView::DestroyZoomView(BOOL bRepaint) {
    if (m_pZoomView == nullptr)
        return FALSE;
    delete m_pZoomView;
    m_pZoomView = nullptr;
    if (bRepaint)
        RepaintNow();
    return TRUE;
}

void COrmaViewView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (IsHagakiFrame())
        return;
    if (CMainFrame* pFrame = Frame())
        pFrame->OnViewClose();
}

void COrmaViewView::wheelEvent(QWheelEvent* event) {
    // One wheel message moves one page, whatever the size of its delta.
    const QPoint angle = event->angleDelta();
    const int iDelta = angle.y() != 0 ? angle.y() : angle.x();
    if (iDelta == 0) {
        event->ignore();
        return;
    }
    event->accept();
    if (!IsHagakiFrame()) {
        MovePage(iDelta < 0 ? kMoveNext : kMovePrev);
        if (CMainFrame* pFrame = Frame())
            pFrame->UpdateCommandState();
        return;
    }
    if (m_pZoomView != nullptr)
        return;
    if (CMainFrame* pFrame = Frame()) {
        const int rc = pFrame->HagakiPageAction(iDelta < 0 ? kHagakiNext : kHagakiPrev);
        if (rc != 0)
            ShowErrorMessage(rc);
    }
}

void COrmaViewView::keyPressEvent(QKeyEvent* event) {
    CMainFrame* pFrame = Frame();
    if (pFrame == nullptr || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_PageDown:
        case Qt::Key_Space:
        case Qt::Key_Right:
            pFrame->OnNextPage();
            event->accept();
            return;
        case Qt::Key_PageUp:
        case Qt::Key_Backspace:
        case Qt::Key_Left:
            pFrame->OnPrevPage();
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void COrmaViewView::mousePressEvent(QMouseEvent* event) {
    // The selection drag that opens the zoom view belongs to postcard mode.
    if (IsHagakiFrame() && event->button() == Qt::LeftButton) {
        m_bSelecting = TRUE;
        m_rcSelect = QRect(event->position().toPoint(), QSize(0, 0));
    }
    QWidget::mousePressEvent(event);
}

void COrmaViewView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bSelecting) {
        m_bSelecting = FALSE;
        m_rcSelect = QRect();
    }
    QWidget::mouseReleaseEvent(event);
}
