// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaViewView.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QRubberBand>
#include <QTimer>
#include <QTransform>
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
// The device size turned by quarter turns.
QSize Turned(const QSize& size, int iTurns) {
    return iTurns % 2 != 0 ? size.transposed() : size;
}

// One notch of the wheel.
constexpr int kNotch = 120;
}  // namespace

const double COrmaViewView::kZoomLevels[5] = {1.5, 2, 3, 4, 6};

int CWheelSum::Add(QPoint angle, QPoint pixel) {
    int iDelta = angle.y() != 0 ? angle.y() : angle.x();
    if (iDelta == 0)
        iDelta = pixel.y() != 0 ? pixel.y() : pixel.x();
    if ((iDelta > 0 && m_iSum < 0) || (iDelta < 0 && m_iSum > 0))
        m_iSum = 0;
    m_iSum += iDelta;
    const int iSteps = m_iSum / kNotch;
    m_iSum -= iSteps * kNotch;
    return iSteps;
}

COrmaViewView::COrmaViewView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("COrmaViewView"));
    setFocusPolicy(Qt::StrongFocus);
    // The whole area is painted on every paint: no background erase needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(ov::ToQString(LoadResString(IDS_VIEW_NAME)));
    setAccessibleDescription(ov::ToQString(LoadResString(IDS_VIEW_DESCRIPTION)));
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
    MakeTurnedImage();
    m_iImageX = (device.width() - m_image.width()) / 2;
    m_iImageY = (device.height() - m_image.height()) / 2;
    update();
}

void COrmaViewView::MakeTurnedImage() {
    if (!m_pBitmap || m_pBitmap->IsNull()) {
        m_image = QImage();
        return;
    }
    // The pixels stay the bitmap's: QImage only reads them.
    m_image = QImage(m_pBitmap->Bits(), m_pBitmap->Width(), m_pBitmap->Height(), m_pBitmap->Stride(),
                     QImage::Format_RGB32);
    // A turned view was asked for at the turned size: a quarter turn of the
    // pixels (no resampling) keeps it sharp.
    if (m_iTurns != 0)
        m_image = m_image.transformed(QTransform().rotate(90.0 * m_iTurns));
    m_image.setDevicePixelRatio(devicePixelRatioF());
}

void COrmaViewView::SetQuarterTurns(int iTurns, BOOL bReport) {
    iTurns = ((iTurns % 4) + 4) % 4;
    if (iTurns == m_iTurns)
        return;
    DestroyZoomView(FALSE);
    m_iTurns = iTurns;
    // The picture shown turns at once; the one for the turned size follows.
    MakeTurnedImage();
    const QSize device = DeviceSize();
    m_iImageX = (device.width() - m_image.width()) / 2;
    m_iImageY = (device.height() - m_image.height()) / 2;
    if (bReport)
        ReportSize();
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
    // A turned view asks for the page at the turned size.
    const QSize device = Turned(DeviceSize(), m_iTurns);
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
    m_dZoomBase = 0;
    emit zoomLevelChanged(0);
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
    m_pZoomView->SetLevel(m_dOpenLevel);
    m_pZoomView->SetQuarterTurns(m_iTurns);
    connect(m_pZoomView, &COrmaZoomView::stepRequested, this, [this](int iSteps) {
        for (; iSteps > 0 && m_pZoomView != nullptr; --iSteps) ZoomIn();
        for (; iSteps < 0 && m_pZoomView != nullptr; ++iSteps) ZoomOut();
    });
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
    m_dZoomBase = m_pZoomView->Level();
    emit zoomLevelChanged(m_dZoomBase);
    return TRUE;
}

double COrmaViewView::ZoomLevel() const {
    return m_pZoomView != nullptr ? m_pZoomView->Level() : 0;
}

void COrmaViewView::OpenAtLevel(double dLevel, QRect rcBox) {
    // The frame decides whether the magnifier may open now.
    m_dOpenLevel = dLevel;
    emit zoomRequested(rcBox);
    m_dOpenLevel = 0;
}

BOOL COrmaViewView::SetZoomLevel(double dLevel) {
    if (m_pZoomView == nullptr)
        return FALSE;
    // The file is chosen again: a temporary one is gone after each load.
    std::string strPath;
    int iPage = 1;
    BOOL bTemporary = FALSE;
    BOOL bLoaded = FALSE;
    if (m_fnZoomFile && m_fnZoomFile(&strPath, &iPage, &bTemporary)) {
        ov::CWaitCursor wait;
        m_pZoomView->ChangeImageFile(strPath.c_str(), iPage);
        bLoaded = m_pZoomView->LoadLevel(dLevel);
        if (bTemporary)
            DeleteFileA(strPath.c_str());
    }
    if (!bLoaded) {
        OV_TRACE("COrmaViewView::SetZoomLevel - Change zoom level failed.\n");
        DestroyZoomView(TRUE);
        return FALSE;
    }
    emit zoomLevelChanged(m_pZoomView->Level());
    return TRUE;
}

void COrmaViewView::ZoomIn(QPoint ptAnchor) {
    if (m_pZoomView == nullptr) {
        OpenAtLevel(kZoomLevels[0], ZoomBoxAt(ptAnchor, kZoomLevels[0]));
        return;
    }
    // The next level clearly above the one shown; at the last, nothing.
    const double dLevel = m_pZoomView->Level();
    for (double dNext : kZoomLevels) {
        if (dNext > dLevel * 1.15) {
            SetZoomLevel(dNext);
            return;
        }
    }
}

void COrmaViewView::ZoomIn() {
    ZoomIn(rect().center());
}

void COrmaViewView::ZoomOut() {
    if (m_pZoomView == nullptr)
        return;
    // Back down the steps to the level it opened at; below that it closes.
    const double dLevel = m_pZoomView->Level();
    double dPrev = 0;
    for (double dStep : kZoomLevels) {
        if (dStep < dLevel / 1.15 && dStep > m_dZoomBase * 1.15)
            dPrev = dStep;
    }
    if (dPrev == 0 && m_dZoomBase < dLevel / 1.15)
        dPrev = m_dZoomBase;
    if (dPrev == 0)
        DestroyZoomView(TRUE);
    else
        SetZoomLevel(dPrev);
}

void COrmaViewView::ZoomFitWidth() {
    if (m_image.isNull())
        return;
    const double dLevel = static_cast<double>(DeviceSize().width()) / m_image.width();
    // The fitted page is already as wide as the view: the magnifier has nothing to add.
    if (dLevel < 1.05) {
        DestroyZoomView(TRUE);
        return;
    }
    if (m_pZoomView != nullptr) {
        SetZoomLevel(dLevel);
        return;
    }
    // From the page's top.
    const QRect rcImage = PageImageRect();
    OpenAtLevel(dLevel, ZoomBoxAt(QPoint(rcImage.center().x(), rcImage.top()), dLevel));
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

QRect COrmaViewView::ZoomBoxAt(QPoint pt, double dLevel) const {
    // The part of the view that fills it at that level.
    const QSize box(std::max(1, static_cast<int>(width() / dLevel)),
                    std::max(1, static_cast<int>(height() / dLevel)));
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
    if (event->angleDelta().isNull() && event->pixelDelta().isNull()) {
        event->ignore();
        return;
    }
    event->accept();
    // A step needs a full notch, however many messages bring it.
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl + wheel forwards magnifies around the cursor, a notch a step.
        int iSteps = m_wheelZoom.Add(event->angleDelta(), event->pixelDelta());
        for (; iSteps > 0; --iSteps) ZoomIn(event->position().toPoint());
        for (; iSteps < 0; ++iSteps) ZoomOut();
        return;
    }
    // One message moves one page at most, however large its delta: a flung
    // trackpad never flies through the document.
    const int iSteps = m_wheelPage.Add(event->angleDelta(), event->pixelDelta());
    if (iSteps != 0)
        emit wheelStepped(iSteps > 0 ? kNotch : -kNotch);
}

void COrmaViewView::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Minus) {
        if (event->key() == Qt::Key_Plus)
            ZoomIn();
        else
            ZoomOut();
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
