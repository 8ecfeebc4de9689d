// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaViewView.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QRubberBand>
#include <QTimer>
#include <QWheelEvent>

#include "base/Trace.h"
#include "display/OrmaZoomView.h"
#include "image/PageBitmap.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "qtglue/QtText.h"
#include "qtglue/WaitCursor.h"
#include "win32/FileApi.h"

namespace {
// The busy note appears when the picture asked for is not there after this long.
constexpr int kBusyNoteMs = 150;
// A selection smaller than this in either direction opens no zoom view.
constexpr int kMinSelection = 20;

// The rectangle spanned by two corners, width = right - left.
QRect SpannedRect(const QPoint& a, const QPoint& b) {
    const int l = std::min(a.x(), b.x()), t = std::min(a.y(), b.y());
    return QRect(l, t, std::max(a.x(), b.x()) - l, std::max(a.y(), b.y()) - t);
}
}  // namespace

COrmaViewView::COrmaViewView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("COrmaViewView"));
    setFocusPolicy(Qt::StrongFocus);
    // The whole area is painted on every paint: no background erase needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The busy note shows only when a picture takes noticeably long.
    m_pBusyTimer = new QTimer(this);
    m_pBusyTimer->setSingleShot(true);
    m_pBusyTimer->setInterval(kBusyNoteMs);
    connect(m_pBusyTimer, &QTimer::timeout, this, [this] {
        if (m_bBusy) {
            m_bShowBusy = TRUE;
            update();
        }
    });
}

COrmaViewView::~COrmaViewView() {
    ReleasePageBitmap();
}

QSize COrmaViewView::PageBitmapRequest(const QSize& client) {
    return QSize(29 * client.width() / 30, 29 * client.height() / 30);
}

QSize COrmaViewView::DeviceSize() const {
    // The page is made for the screen's pixels, so that it stays sharp on HiDPI
    // screens; its placement is worked out in device pixels as well.
    const qreal dpr = devicePixelRatioF();
    return QSize(qRound(width() * dpr), qRound(height() * dpr));
}

QRect COrmaViewView::PageImageRect() const {
    if (m_image.isNull())
        return QRect();
    const qreal dpr = m_image.devicePixelRatio();
    return QRect(qRound(m_iImageX / dpr), qRound(m_iImageY / dpr), qRound(m_image.width() / dpr),
                 qRound(m_image.height() / dpr));
}

void COrmaViewView::ReleasePageBitmap() {
    m_image = QImage();
    m_pBitmap.reset();
}

void COrmaViewView::SetStepKeys(const QList<QKeySequence>& next, const QList<QKeySequence>& prev) {
    m_aNextKeys = next;
    m_aPrevKeys = prev;
}

void COrmaViewView::ShowPage(std::shared_ptr<const CPageBitmap> pBitmap) {
    m_pBusyTimer->stop();
    m_bBusy = FALSE;
    m_bShowBusy = FALSE;
    if (!pBitmap || pBitmap->IsNull()) {
        ShowPageError(-1);
        return;
    }
    m_iPageError = 0;
    const QSize device = DeviceSize();
    m_pBitmap = std::move(pBitmap);
    // The pixels stay the bitmap's: QImage only reads them.
    m_image = QImage(m_pBitmap->Bits(), m_pBitmap->Width(), m_pBitmap->Height(), m_pBitmap->Stride(),
                     QImage::Format_RGB32);
    m_image.setDevicePixelRatio(devicePixelRatioF());
    m_iImageX = (device.width() - m_pBitmap->Width()) / 2;
    m_iImageY = (device.height() - m_pBitmap->Height()) / 2;
    update();
}

void COrmaViewView::ShowPageError(int iResult) {
    m_pBusyTimer->stop();
    m_bBusy = FALSE;
    m_bShowBusy = FALSE;
    ReleasePageBitmap();
    m_iPageError = iResult != 0 ? iResult : -1;
    update();
}

void COrmaViewView::PageRequested(const QString& strNote) {
    m_bBusy = TRUE;
    m_iPageError = 0;
    m_strBusyNote = strNote;
    if (!m_pBusyTimer->isActive() && !m_bShowBusy)
        m_pBusyTimer->start();
    if (m_bShowBusy)
        update();
}

void COrmaViewView::ReportSize() {
    const QSize device = DeviceSize();
    const qreal dpr = devicePixelRatioF();
    if (device == m_szReported && qFuzzyCompare(dpr, m_dprReported))
        return;
    m_szReported = device;
    m_dprReported = dpr;
    if (device.width() > 0 && device.height() > 0)
        emit viewSizeChanged(device);
}

void COrmaViewView::PaintBusy(QPainter& painter) {
    // The picture asked for is not there yet: the earlier one is dimmed and a
    // small note says which page is coming.
    if (!m_image.isNull())
        painter.fillRect(PageImageRect(), QColor(255, 255, 255, 140));
    const QString text = m_strBusyNote.isEmpty() ? QStringLiteral("Loading") : m_strBusyNote;
    const QFontMetrics fm(painter.font());
    QRect box = fm.boundingRect(text).adjusted(-10, -6, 10, 6);
    box.moveCenter(rect().center());
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void COrmaViewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    emit viewPainted();
    if (m_pZoomView != nullptr)
        return;  // the page is hidden behind the zoom view
    // Moved to a screen of another scale: no resize tells of it.
    ReportSize();
    if (!m_image.isNull()) {
        const qreal dpr = m_image.devicePixelRatio();
        painter.drawImage(QPointF(m_iImageX / dpr, m_iImageY / dpr), m_image);
    } else if (!m_bBusy && m_iPageError != 0) {
        // No blank page without a word: the page's error is shown where it would be.
        const int iNumber = ov::MessageNumberForCode(m_iPageError);
        if (iNumber != 0) {
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                             ov::ToQString(ov::MessageText(iNumber)));
        }
        return;
    }
    if (m_bBusy) {
        if (m_bShowBusy)
            PaintBusy(painter);
        return;
    }
    if (!m_image.isNull())
        emit pagePainted();
}

void COrmaViewView::resizeEvent(QResizeEvent* event) {
    DestroyZoomView(FALSE);
    QWidget::resizeEvent(event);
    ReportSize();
}

void COrmaViewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ReportSize();
}

void COrmaViewView::RepaintNow() {
    if (isVisible())
        repaint();
    else
        update();
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

BOOL COrmaViewView::CreateZoomView(QRect rcSelect) {
    const QRect rcImage = PageImageRect();
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
    if (!m_pZoomView->InitImageIO(m_hWnd, LoadResString(IDS_APP_TITLE).c_str(), 0)) {
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
    if (m_pZoomView == nullptr || !m_fnZoomFile)
        return FALSE;
    ov::CWaitCursor wait;
    std::string strPath;
    int iPage = 1;
    BOOL bTemporary = FALSE;
    if (!m_fnZoomFile(&strPath, &iPage, &bTemporary))
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
    if (!m_fnZoomFile || !m_fnZoomFile(&strPath, &iPage, &bTemporary))
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

QRect COrmaViewView::ZoomBoxAt(QPoint pt) const {
    const QSize box(std::max(1, width() / 2), std::max(1, height() / 2));
    return QRect(pt - QPoint(box.width() / 2, box.height() / 2), box);
}

QRect COrmaViewView::SelectionRect() const {
    return m_bSelecting ? SpannedRect(m_rcSelect.topLeft(), m_rcSelect.bottomRight()) : QRect();
}

void COrmaViewView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    emit doubleClicked();
}

void COrmaViewView::wheelEvent(QWheelEvent* event) {
    // One wheel message is one step, whatever the size of its delta.
    const QPoint angle = event->angleDelta();
    const int iDelta = angle.y() != 0 ? angle.y() : angle.x();
    if (iDelta == 0) {
        event->ignore();
        return;
    }
    event->accept();
    // Ctrl + wheel forwards magnifies around the cursor.
    if (event->modifiers() & Qt::ControlModifier) {
        if (iDelta > 0 && m_pZoomView == nullptr)
            emit zoomRequested(ZoomBoxAt(event->position().toPoint()));
        return;
    }
    emit wheelStepped(iDelta);
}

void COrmaViewView::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Plus) {
        if (m_pZoomView == nullptr)
            emit zoomRequested(ZoomBoxAt(rect().center()));
        event->accept();
        return;
    }
    const QKeySequence key(QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
    if (m_aNextKeys.contains(key)) {
        event->accept();
        emit nextRequested();
    } else if (m_aPrevKeys.contains(key)) {
        event->accept();
        emit prevRequested();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void COrmaViewView::mousePressEvent(QMouseEvent* event) {
    if (m_bSelectionEnabled && event->button() == Qt::LeftButton && m_pZoomView == nullptr) {
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
            emit zoomRequested(rcSelect);
    }
    QWidget::mouseReleaseEvent(event);
}
