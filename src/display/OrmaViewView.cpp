// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaViewView.h"

#include <algorithm>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QRubberBand>
#include <QWheelEvent>

#include "app/ToQString.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "image/PageBitmap.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "win32/FileApi.h"
#include "win32/ShellPath.h"

namespace {
// Direction codes of MovePage and action codes of HagakiPageAction.
constexpr int kMovePrev = 2;
constexpr int kMoveNext = 3;
constexpr int kHagakiNext = 3;
constexpr int kHagakiPrev = 4;
// A selection smaller than this in either direction opens no zoom view.
constexpr int kMinSelection = 20;

// The rectangle spanned by two corners, width = right - left.
QRect SpannedRect(const QPoint& a, const QPoint& b) {
    const int l = std::min(a.x(), b.x()), t = std::min(a.y(), b.y());
    return QRect(l, t, std::max(a.x(), b.x()) - l, std::max(a.y(), b.y()) - t);
}

// The wait cursor while the zoom image loads.
class CZoomWaitCursor {
public:
    CZoomWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CZoomWaitCursor() { QApplication::restoreOverrideCursor(); }
    CZoomWaitCursor(const CZoomWaitCursor&) = delete;
    CZoomWaitCursor& operator=(const CZoomWaitCursor&) = delete;
};
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
    if (m_pZoomView != nullptr)
        return ChangeZoomImage() ? 0 : -1;
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
    // The zoom view tells of its closing (OnZoomClosed) and frees itself.
    COrmaZoomView* pZoomView = m_pZoomView;
    pZoomView->DestroyWindow();
    m_pZoomView = nullptr;
    if (bRepaint)
        RepaintNow();
    return TRUE;
}

void COrmaViewView::OnZoomClosed() {
    if (m_pZoomView == nullptr)
        return;
    m_pZoomView = nullptr;
    // The area that the zoom view uncovers is painted as usual; the keys come
    // back to the page.
    update();
    if (isVisible())
        setFocus();
}

BOOL COrmaViewView::ChooseZoomImageFile(std::string* pstrPath, int* piPage, BOOL* pbTemporary) {
    *pbTemporary = FALSE;
    if (m_pDoc == nullptr)
        m_pDoc = m_pFrameworkDoc;
    if (m_pDoc == nullptr)
        return FALSE;
    if (m_pDoc->m_bShowEditInfo) {
        std::string strPath;
        int bCreated = 0;
        const int rc = m_pDoc->CreateEditInfoPdf(&strPath, &bCreated);
        if (rc != 0) {
            ShowErrorMessage(rc);
            return FALSE;
        }
        if (bCreated) {
            if (!PathFileExistsA(strPath.c_str()))
                return FALSE;
            *pstrPath = strPath;
            *piPage = 1;
            *pbTemporary = TRUE;
            return TRUE;
        }
    }
    int iPage = 1;
    *pstrPath = m_pDoc->GetViewPdfPath(&iPage);
    *piPage = iPage;
    return TRUE;
}

BOOL COrmaViewView::CreateZoomView(QRect rcSelect, QRect rcImage) {
    const QRect rcNormal = rcSelect.normalized();
    if (rcNormal.intersected(rcImage).isEmpty()) {
        update(rcNormal);
        return TRUE;
    }
    DestroyZoomView(FALSE);
    const QRect rcClient = rect();
    m_pZoomView = new COrmaZoomView(this);
    m_pZoomView->setGeometry(rcClient);
    connect(m_pZoomView, &COrmaZoomView::zoomClosed, this, &COrmaViewView::OnZoomClosed);
    CMainFrame* pFrame = Frame();
    if (!m_pZoomView->InitImageIO(pFrame != nullptr ? pFrame->GetSafeHwnd() : 0,
                                  LoadResString(IDS_APP_TITLE).c_str(), 0)) {
        DestroyZoomView(FALSE);
        return FALSE;
    }
    // Only the background shows behind the zoom view from now on.
    RepaintNow();
    m_pZoomView->setFocus();
    if (!MoveZoomInWnd(rcSelect, rcImage, rcClient)) {
        DestroyZoomView(FALSE);
        return FALSE;
    }
    return TRUE;
}

BOOL COrmaViewView::MoveZoomInWnd(QRect rcSelect, QRect rcImage, QRect rcClient) {
    if (rcSelect.width() == 0 || rcSelect.height() == 0)
        return TRUE;
    if (m_pZoomView == nullptr)
        return FALSE;
    CZoomWaitCursor wait;
    std::string strPath;
    int iPage = 1;
    BOOL bTemporary = FALSE;
    if (!ChooseZoomImageFile(&strPath, &iPage, &bTemporary))
        return FALSE;
    m_pZoomView->SetImageFile(strPath.c_str(), iPage);
    m_pZoomView->SetZoomRects(rcSelect, rcImage, rcClient);
    const BOOL bLoaded = m_pZoomView->LoadImage(FALSE);
    if (bTemporary)
        DeleteFileA(strPath.c_str());
    if (!bLoaded) {
        OV_TRACE("COrmaViewView::MoveZoomInWnd - Move zoom imgage failed.\n");
        return FALSE;
    }
    m_pZoomView->show();
    m_pZoomView->raise();
    m_pZoomView->setFocus();
    // The first frame goes on the screen now, not after the next update tick.
    if (m_pZoomView->isVisible())
        m_pZoomView->repaint();
    return TRUE;
}

BOOL COrmaViewView::ChangeZoomImage() {
    if (m_pZoomView == nullptr)
        return TRUE;
    std::string strPath;
    int iPage = 1;
    BOOL bTemporary = FALSE;
    if (!ChooseZoomImageFile(&strPath, &iPage, &bTemporary))
        return FALSE;
    m_pZoomView->ChangeImageFile(strPath.c_str(), iPage);
    const BOOL bLoaded = m_pZoomView->LoadImage(TRUE);
    if (bTemporary)
        DeleteFileA(strPath.c_str());
    if (!bLoaded) {
        OV_TRACE("COrmaViewView::ChangeZoomImage - Change zoom imgage failed.\n");
        return FALSE;
    }
    return TRUE;
}

BOOL COrmaViewView::OpenZoomAt(QPoint pt) {
    if (m_pZoomView != nullptr)
        return FALSE;
    // The page bitmap is needed to know where the page lies.
    if (!m_pBitmap) {
        if (m_pDoc == nullptr)
            m_pDoc = m_pFrameworkDoc;
        if (m_pDoc == nullptr || !MakePageBitmap())
            return FALSE;
    }
    const QSize box(std::max(1, width() / 2), std::max(1, height() / 2));
    const QRect rcSelect(pt - QPoint(box.width() / 2, box.height() / 2), box);
    return CreateZoomView(rcSelect, PageImageRect()) && m_pZoomView != nullptr;
}

QRect COrmaViewView::SelectionRect() const {
    return m_bSelecting ? SpannedRect(m_rcSelect.topLeft(), m_rcSelect.bottomRight()) : QRect();
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
    // Ctrl + wheel forwards magnifies around the cursor, in both modes.
    if (event->modifiers() & Qt::ControlModifier) {
        if (iDelta > 0 && m_pZoomView == nullptr)
            OpenZoomAt(event->position().toPoint());
        return;
    }
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
        case Qt::Key_Plus:
            OpenZoomAt(rect().center());
            event->accept();
            return;
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
    if (IsHagakiFrame() && event->button() == Qt::LeftButton && m_pZoomView == nullptr) {
        m_bSelecting = TRUE;
        const QPoint pt = event->position().toPoint();
        m_rcSelect = QRect(pt, pt);
        if (m_pRubberBand == nullptr)
            m_pRubberBand = new QRubberBand(QRubberBand::Rectangle, this);
        m_pRubberBand->hide();
    }
    QWidget::mousePressEvent(event);
}

void COrmaViewView::mouseMoveEvent(QMouseEvent* event) {
    // The band follows the left button alone; with Shift or Ctrl (or another
    // button) it stays where it is.
    if (m_bSelecting && event->buttons() == Qt::LeftButton &&
        (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) == 0) {
        m_rcSelect.setBottomRight(event->position().toPoint());
        const QRect rcBand = SelectionRect().intersected(rect());
        if (m_pRubberBand != nullptr) {
            m_pRubberBand->setGeometry(rcBand);
            m_pRubberBand->setVisible(!rcBand.isEmpty());
        }
    }
    QWidget::mouseMoveEvent(event);
}

void COrmaViewView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bSelecting && event->button() == Qt::LeftButton) {
        if (m_pRubberBand != nullptr)
            m_pRubberBand->hide();
        // The release point ends the selection, whatever the band showed.
        m_rcSelect.setBottomRight(event->position().toPoint());
        const QRect rcSelect = SelectionRect();
        m_bSelecting = FALSE;
        if (rcSelect.width() >= kMinSelection && rcSelect.height() >= kMinSelection)
            CreateZoomView(rcSelect, PageImageRect());
    }
    QWidget::mouseReleaseEvent(event);
}
