// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaViewView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QRubberBand>
#include <QTimer>
#include <QWheelEvent>

#include "app/ToQString.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "display/OrmaZoomView.h"
#include "display/PageLoader.h"
#include "document/OrmaViewDoc.h"
#include "document/PageJob.h"
#include "frame/MainFrm.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "ormacomm/OrmaComm.h"
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
// The busy note appears when the page asked for is not there after this long.
constexpr int kBusyNoteMs = 150;
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
    m_pLoader = new CPageLoader(this);
    const unsigned long long nStoreBytes = GetPageCacheBytes();
    if (nStoreBytes > 0)
        m_pLoader->SetStore(
            std::make_shared<ov::image::CPageStore>(ov::image::CPageStore::DefaultFolder(), nStoreBytes));
    connect(m_pLoader, &CPageLoader::pageReady, this, &COrmaViewView::OnPageReady);
    // The busy note shows only when a page takes noticeably long.
    m_pBusyTimer = new QTimer(this);
    m_pBusyTimer->setSingleShot(true);
    m_pBusyTimer->setInterval(kBusyNoteMs);
    connect(m_pBusyTimer, &QTimer::timeout, this, [this] {
        if (m_pLoader->IsBusy()) {
            m_bShowBusy = TRUE;
            update();
        }
    });
}

COrmaViewView::~COrmaViewView() {
    // The workers are cancelled and joined before anything they were asked for goes.
    delete m_pLoader;
    m_pLoader = nullptr;
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

int COrmaViewView::RequestPage(BOOL bReport) {
    if (m_pDoc == nullptr)
        m_pDoc = m_pFrameworkDoc;
    if (m_pDoc == nullptr)
        return 0;
    // Render for the screen's pixels so that the page stays sharp on HiDPI
    // screens; the placement is worked out in device pixels as well.
    const qreal dpr = devicePixelRatioF();
    const QSize device(qRound(width() * dpr), qRound(height() * dpr));
    const QSize request = PageBitmapRequest(device);
    if (request.width() < 1 || request.height() < 1)
        return 0;
    return OV_GUARDED([&]() -> int {
        CPageJob job;
        const int rc = m_pDoc->GetPageJob(m_pDoc->m_iCurPagePos, request.width(), request.height(), &job);
        if (rc != 0) {
            // Known at once (no page to make): asked again at the next paint, as
            // it costs nothing.
            m_pLoader->CancelAll();
            ReleasePageBitmap();
            m_iPageError = rc;
            m_bPageErrorKnown = TRUE;
            m_bStale = FALSE;
            return rc;
        }
        // The neighbours in reading order (index sheets passed over), made after
        // the page itself so that the next step finds its bitmap ready. Postcard
        // pages change under the same names: made each time, nothing ahead.
        std::vector<CPageJob> aNeighbours;
        if (!IsHagakiFrame() && !m_pDoc->IsUndoFolderMode()) {
            for (const int iPos : {m_pDoc->GetNextPagePos(0), m_pDoc->GetPrevPagePos(0)}) {
                CPageJob near;
                if (iPos > 0 && m_pDoc->GetPageJob(iPos, request.width(), request.height(), &near) == 0)
                    aNeighbours.push_back(std::move(near));
            }
        } else {
            m_pLoader->CancelAll();
        }
        // The first page's failure is reported as a command's would be (it was the
        // start's own result while the page was made before the window showed).
        m_bReportFailure = bReport || m_bFirstRequest;
        m_bFirstRequest = FALSE;
        m_iPageError = 0;
        m_bPageErrorKnown = FALSE;
        m_bStale = m_pBitmap != nullptr;
        m_pLoader->Request(job, aNeighbours);
        if (!m_pBusyTimer->isActive() && !m_bShowBusy)
            m_pBusyTimer->start();
        return 0;
    });
}

void COrmaViewView::OnPageReady(int iPagePos, int iResult) {
    m_pBusyTimer->stop();
    m_bShowBusy = FALSE;
    m_bStale = FALSE;
    if (m_pDoc == nullptr || iPagePos != m_pDoc->m_iCurPagePos)
        return;
    std::unique_ptr<CPageBitmap> pBitmap = iResult == 0 ? m_pLoader->TakeBitmap() : nullptr;
    if (iResult != 0 || !pBitmap || pBitmap->IsNull()) {
        ReleasePageBitmap();
        m_bRedraw = TRUE;
        m_iPageError = iResult != 0 ? iResult : -1;
        update();
        if (m_bReportFailure) {
            m_pDoc->NotePageFailure(iPagePos, m_iPageError, m_pLoader->LastReason());
            emit pageFailed(m_iPageError);
        }
        m_bReportFailure = FALSE;
        return;
    }
    m_bReportFailure = FALSE;
    m_iPageError = 0;
    m_pDoc->NotePageImageMade(m_pDoc->GetThumbFilePath(iPagePos));
    const qreal dpr = devicePixelRatioF();
    const QSize device(qRound(width() * dpr), qRound(height() * dpr));
    m_pBitmap = std::move(pBitmap);
    m_image = QImage(m_pBitmap->Bits(), m_pBitmap->Width(), m_pBitmap->Height(), m_pBitmap->Stride(),
                     QImage::Format_RGB32);
    m_image.setDevicePixelRatio(dpr);
    m_iImageX = (device.width() - m_pBitmap->Width()) / 2;
    m_iImageY = (device.height() - m_pBitmap->Height()) / 2;
    update();
}

BOOL COrmaViewView::IsPageBusy() const {
    return m_pLoader->IsBusy() ? TRUE : FALSE;
}

BOOL COrmaViewView::WaitForPage(int iTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    // Settled already: nothing to run (the event loop is left alone).
    if (!m_pLoader->IsBusy() && !m_bStale && (m_pBitmap || m_iPageError != 0 || m_pZoomView != nullptr))
        return TRUE;
    // Events first: a paint or a resize that asks for the page may be pending.
    QCoreApplication::processEvents();
    if (!m_pBitmap && !m_pLoader->IsBusy() && isVisible() && m_pZoomView == nullptr &&
        (m_iPageError == 0 || m_bPageErrorKnown))
        RequestPage(FALSE);
    while (m_pLoader->IsBusy()) {
        if (timer.elapsed() > iTimeoutMs)
            return FALSE;
        // Sleeps in the event loop until the page comes (or a short while has passed).
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        connect(m_pLoader, &CPageLoader::pageReady, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QCoreApplication::processEvents();
    return TRUE;
}

void COrmaViewView::CancelPageWork() {
    m_pLoader->CancelAll();
    m_pBusyTimer->stop();
}

void COrmaViewView::PaintBusy(QPainter& painter) {
    // The page asked for is not there yet: the earlier picture is dimmed and a
    // small note says which page is coming.
    if (!m_image.isNull())
        painter.fillRect(PageImageRect(), QColor(255, 255, 255, 140));
    if (m_pDoc == nullptr)
        return;
    const int iNumber = m_pDoc->GetDisplayPageNo(m_pDoc->m_iCurPagePos);
    const QString text = iNumber >= 1 ? QStringLiteral("Page %1 of %2").arg(iNumber).arg(m_pDoc->m_iPageTotal)
                                      : QStringLiteral("Loading");
    const QFontMetrics fm(painter.font());
    QRect box = fm.boundingRect(text).adjusted(-10, -6, 10, 6);
    box.moveCenter(rect().center());
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void COrmaViewView::paintEvent(QPaintEvent*) {
    m_bRedraw = TRUE;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    emit viewPainted();
    if (m_pZoomView != nullptr)
        return;  // the page is hidden behind the zoom view
    if (m_pDoc == nullptr)
        m_pDoc = m_pFrameworkDoc;
    if (m_pDoc == nullptr)
        return;
    // Moved to a screen of another scale: the kept bitmap no longer matches the
    // device pixels (no resize tells of it).
    if (m_pBitmap && !m_bStale && !qFuzzyCompare(m_image.devicePixelRatio(), devicePixelRatioF()))
        RequestPage(FALSE);
    if (!m_pBitmap && !m_pLoader->IsBusy() && (m_iPageError == 0 || m_bPageErrorKnown))
        RequestPage(FALSE);
    const BOOL bBusy = m_pLoader->IsBusy();
    if (!m_image.isNull() && (m_bStale || !bBusy)) {
        const qreal dpr = m_image.devicePixelRatio();
        painter.drawImage(QPointF(m_iImageX / dpr, m_iImageY / dpr), m_image);
    } else if (!bBusy && m_iPageError != 0) {
        // No blank page without a word: the page's error is shown where it would be.
        const int iNumber = ov::MessageNumberForCode(m_iPageError);
        if (iNumber != 0) {
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                             ov::ToQString(ov::MessageText(iNumber)));
        }
        return;
    }
    if (bBusy) {
        if (m_bShowBusy)
            PaintBusy(painter);
        return;
    }
    if (m_image.isNull())
        return;
    m_bRedraw = FALSE;
    emit pagePainted();
}

void COrmaViewView::resizeEvent(QResizeEvent* event) {
    DestroyZoomView(FALSE);
    m_bRedraw = TRUE;
    // The page is made again at the new size; until then the old picture shows dimmed.
    m_iPageError = 0;
    if (m_pDoc != nullptr || m_pFrameworkDoc != nullptr)
        RequestPage(FALSE);
    QWidget::resizeEvent(event);
}

void COrmaViewView::RepaintNow() {
    if (isVisible())
        repaint();
    else
        update();
}

int COrmaViewView::ShowChangedPage() {
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
        // The title and the commands follow the page asked for at once; the page
        // itself follows when its bitmap is there.
        const int rc = RequestPage(TRUE);
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
        // The page image may have changed under the same name: nothing made
        // before is used.
        m_pLoader->CancelAll();
        const int rc = RequestPage(TRUE);
        if (ShowChangedPage() != 0) {
            DestroyZoomView(FALSE);
            return -1;
        }
        return rc;
    });
}

void COrmaViewView::RedrawPage() {
    m_pLoader->CancelAll();
    RequestPage(FALSE);
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
    // The page bitmap is needed to know where the page lies: no zoom over a page
    // that is still being made (or an older picture of another page).
    if (!m_pBitmap || m_bStale || m_pLoader->IsBusy())
        return FALSE;
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
