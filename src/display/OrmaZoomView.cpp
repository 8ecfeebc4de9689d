// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/OrmaZoomView.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTransform>
#include <QWheelEvent>

#include "base/Trace.h"
#include "image/Ravelin.h"

namespace {

// Half added, then truncated toward zero, on double precision.
int Nearest(double x) {
    return static_cast<int>(x + 0.5);
}

constexpr int kFrames = 10;
// One wheel notch or arrow key moves the image this many (logical) pixels.
constexpr int kStep = 120;
int s_iAnimationInterval = 50;

}  // namespace

COrmaZoomView::COrmaZoomView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("COrmaZoomView"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Zoom"));
    setAccessibleDescription(
        QStringLiteral("The magnified page. Arrows, wheel or drag: scroll; +/-: zoom; Escape: close"));
    m_timerAnimation.setSingleShot(true);
    connect(&m_timerAnimation, &QTimer::timeout, this, [this] { OnAnimationTimer(); });
    // Escape is taken before the frame's own handling (which would close the
    // viewer): application filters run newest first.
    qApp->installEventFilter(this);
}

COrmaZoomView::~COrmaZoomView() {
    FreeImage();
}

void COrmaZoomView::SetAnimationInterval(int iMs) {
    s_iAnimationInterval = std::max(0, iMs);
}

int COrmaZoomView::AnimationInterval() {
    return s_iAnimationInterval;
}

BOOL COrmaZoomView::InitImageIO(HWND hWnd, const char* pszAppTitle, int iReserved) {
    return ImageIO_Initialize(hWnd, pszAppTitle, iReserved) != 0 ? TRUE : FALSE;
}

void COrmaZoomView::SetImageFile(const char* pszPath, int iPage) {
    ChangeImageFile(pszPath, iPage);
    m_bShown = FALSE;
}

void COrmaZoomView::ChangeImageFile(const char* pszPath, int iPage) {
    std::memset(m_szImageFile, 0, sizeof m_szImageFile);
    if (pszPath != nullptr)
        std::strncpy(m_szImageFile, pszPath, sizeof m_szImageFile - 1);
    m_iPage = iPage;
}

QRect COrmaZoomView::ToDevice(const QRect& rc) const {
    const qreal dpr = devicePixelRatioF();
    const int l = qRound(rc.left() * dpr), t = qRound(rc.top() * dpr);
    return QRect(l, t, qRound((rc.left() + rc.width()) * dpr) - l,
                 qRound((rc.top() + rc.height()) * dpr) - t);
}

void COrmaZoomView::SetZoomRects(QRect rcSelect, QRect rcImage, QRect rcWnd) {
    m_rcSelect = ToDevice(rcSelect);
    m_rcImage = ToDevice(rcImage);
    m_rcWnd = ToDevice(rcWnd);
}

QSize COrmaZoomView::ClientSize() const {
    const qreal dpr = devicePixelRatioF();
    return QSize(qRound(width() * dpr), qRound(height() * dpr));
}

void COrmaZoomView::ConvertImage() {
    if (!m_image.isNull() || m_dibView.isNull())
        return;
    QImage image(m_iDibWidth, m_iDibHeight, QImage::Format_RGB32);
    if (image.isNull()) {
        OV_TRACE("CMemoryException Occurred!\n");
        return;  // the frames go on drawing from the library's rows
    }
    for (int y = 0; y < m_iDibHeight; ++y) {
        const uchar* s = m_dibView.constScanLine(m_iDibHeight - 1 - y);
        auto* d = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < m_iDibWidth; ++x, s += 3)
            d[x] = 0xFF000000u | (std::uint32_t{s[2]} << 16) | (std::uint32_t{s[1]} << 8) | s[0];
    }
    // A turned view: a quarter turn of the pixels, nothing resampled.
    if (m_iTurns % 4 != 0) {
        image = image.transformed(QTransform().rotate(90.0 * (m_iTurns % 4)));
        m_iDibWidth = image.width();
        m_iDibHeight = image.height();
    }
    m_image = std::move(image);
    // The library's block is no longer drawn from: half the memory goes.
    m_dibView = QImage();
    GlobalUnlock(m_hDib);
    GlobalFree(m_hDib);
    m_hDib = nullptr;
}

void COrmaZoomView::DrawPart(QPainter& painter, const QRectF& rcDest, const QRectF& rcSource) {
    if (!m_image.isNull()) {
        painter.drawImage(rcDest, m_image, rcSource);
        return;
    }
    // The library's rows run bottom-up: take the mirrored band and flip it back.
    const QRectF source(rcSource.left(), m_iDibHeight - rcSource.bottom(), rcSource.width(),
                        rcSource.height());
    painter.save();
    painter.translate(0, rcDest.top() + rcDest.bottom());
    painter.scale(1, -1);
    painter.drawImage(rcDest, m_dibView, source);
    painter.restore();
}

void COrmaZoomView::FreeImage() {
    m_image = QImage();
    m_dibView = QImage();
    if (m_hDib != nullptr) {
        GlobalUnlock(m_hDib);
        GlobalFree(m_hDib);
        m_hDib = nullptr;
    }
}

BOOL COrmaZoomView::LoadImage(BOOL bKeep) {
    IMAGE_REQUEST request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.szPath, m_szImageFile, sizeof request.szPath);
    request.iPage = m_iPage;
    if (ImageIO_GetImageInfo(&request) == 0)
        return FALSE;

    // A turned page: the image turns after loading, so its width comes from the
    // page's height.
    const bool bTurned = m_iTurns % 2 != 0;
    const double fullW = bTurned ? request.iHeight : request.iWidth;
    const double fullH = bTurned ? request.iWidth : request.iHeight;
    const int imageW = m_rcImage.width(), imageH = m_rcImage.height();
    const int wndW = m_rcWnd.width(), wndH = m_rcWnd.height();
    // No page bitmap or no window to fit into: nothing sensible to load.
    if (imageW <= 0 || imageH <= 0 || wndW <= 0 || wndH <= 0) {
        OV_TRACE("COrmaZoomView::LoadImage() Parameter Error!\n");
        return FALSE;
    }
    const int regionW = Nearest(m_rcSelect.width() * fullW / imageW);
    const int regionH = Nearest(m_rcSelect.height() * fullH / imageH);
    int iZoom = 25600;
    if (regionW > wndW || regionH > wndH) {
        const double ratio = static_cast<double>(wndH) * regionW > static_cast<double>(wndW) * regionH
                                 ? static_cast<double>(wndW) / regionW
                                 : static_cast<double>(wndH) / regionH;
        iZoom = Nearest(ratio * 25600);
    }
    // A level: the page that many times the page-bitmap's size, rendered at that
    // scale (sharp), shown at once without the animation.
    if (m_dLevel > 0) {
        iZoom = Nearest(m_dLevel * imageW / fullW * 25600);
        m_bShown = TRUE;
    }
    // A selection far larger than the window must still ask for some image.
    iZoom = std::max(iZoom, 1);
    m_iZoom = iZoom;
    request.iScaleSet = 1;
    request.iScale = std::max(1, Nearest(iZoom * 0.0390625));
    m_iLoadScale = request.iScale;

    FreeImage();
    if (ImageIO_LoadImage(&request, &m_hDib) == 0 || m_hDib == nullptr) {
        m_hDib = nullptr;
        return FALSE;
    }
    const auto* pBase = static_cast<const std::uint8_t*>(GlobalLock(m_hDib));
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, pBase, sizeof bih);
    const std::size_t stride =
        ((static_cast<std::size_t>(std::max(bih.biWidth, 0)) * bih.biBitCount + 31) / 32) * 4;
    const std::size_t offset =
        static_cast<std::size_t>(bih.biSize) + 4 * static_cast<std::size_t>(bih.biClrUsed);
    // Only what the library gives (24-bit, bottom-up rows) is drawn; the block
    // must hold every row that is read.
    if (bih.biBitCount != 24 || bih.biWidth < 1 || bih.biHeight < 1 ||
        GlobalSize(m_hDib) < offset + stride * static_cast<std::size_t>(bih.biHeight)) {
        OV_TRACE("COrmaZoomView::LoadImage() DIB Error! [Width] %d [Height] %d [BitCount] %d\n", bih.biWidth,
                 bih.biHeight, bih.biBitCount);
        FreeImage();
        return FALSE;
    }
    m_iDibWidth = bih.biWidth;
    m_iDibHeight = bih.biHeight;
    // The first frame is drawn straight from the library's rows (upside down,
    // B, G, R); the copy that the later frames and the hand drag draw from is
    // made once that frame is on the screen, or at once when nothing animates.
    m_dibView = QImage(pBase + offset, m_iDibWidth, m_iDibHeight, static_cast<qsizetype>(stride),
                       QImage::Format_BGR888);
    if (s_iAnimationInterval == 0 || m_bShown)
        ConvertImage();
    else if (m_iFrame > 0)  // a page change in the middle of the animation
        QTimer::singleShot(0, this, [this] { ConvertImage(); });
    SetScrollRanges(bKeep);
    if (m_dLevel > 0 && !bKeep) {
        // The selection's centre comes to the window's centre (as near as the edges allow).
        const QSize client = ClientSize();
        const double fx = (m_rcSelect.center().x() - m_rcImage.left()) / static_cast<double>(imageW);
        const double fy = (m_rcSelect.center().y() - m_rcImage.top()) / static_cast<double>(imageH);
        ScrollTo(qRound(fx * m_iDibWidth - client.width() / 2.0),
                 qRound(fy * m_iDibHeight - client.height() / 2.0));
    }
    UpdateCursor();
    update();
    return TRUE;
}

double COrmaZoomView::Level() const {
    return m_rcImage.width() > 0 ? static_cast<double>(m_iDibWidth) / m_rcImage.width() : 0;
}

BOOL COrmaZoomView::LoadLevel(double dLevel) {
    // The point at the window's centre, as a fraction of the image.
    const QSize client = ClientSize();
    double fx = 0.5, fy = 0.5;
    if (m_iDibWidth > client.width())
        fx = (m_ptScroll.x() + client.width() / 2.0) / m_iDibWidth;
    if (m_iDibHeight > client.height())
        fy = (m_ptScroll.y() + client.height() / 2.0) / m_iDibHeight;
    m_dLevel = dLevel;
    m_bShown = TRUE;
    m_timerAnimation.stop();
    m_iFrame = 0;
    if (!LoadImage(TRUE))
        return FALSE;
    ScrollTo(qRound(fx * m_iDibWidth - client.width() / 2.0),
             qRound(fy * m_iDibHeight - client.height() / 2.0));
    return TRUE;
}

void COrmaZoomView::SetScrollRanges(BOOL bKeep) {
    const QSize client = ClientSize();
    const QPoint ptOld = m_ptScroll;
    const QSize szOldRange = m_szRange;
    // The new position keeps the old one's place within what could be scrolled.
    auto place = [](int image, int clientSide, int oldPos, int oldRange) {
        if (oldRange == clientSide)
            return 0;
        const long long pos = static_cast<long long>(image - clientSide) * oldPos / (oldRange - clientSide);
        return static_cast<int>(std::clamp<long long>(pos, 0, image - clientSide));
    };
    int x = 0, y = 0;
    int rangeW = 0, rangeH = 0;
    if (m_iDibHeight > client.height()) {
        rangeH = m_iDibHeight;
        if (bKeep)
            y = place(m_iDibHeight, client.height(), ptOld.y(), szOldRange.height());
    }
    if (m_iDibWidth > client.width()) {
        rangeW = m_iDibWidth;
        if (bKeep)
            x = place(m_iDibWidth, client.width(), ptOld.x(), szOldRange.width());
    }
    m_szRange = QSize(rangeW, rangeH);
    m_ptScroll = QPoint(x, y);
}

void COrmaZoomView::ScrollTo(int x, int y) {
    const QSize client = ClientSize();
    x = client.width() >= m_szRange.width() ? 0 : std::clamp(x, 0, m_szRange.width() - client.width());
    y = client.height() >= m_szRange.height() ? 0 : std::clamp(y, 0, m_szRange.height() - client.height());
    if (QPoint(x, y) != m_ptScroll) {
        m_ptScroll = QPoint(x, y);
        update();
    }
}

BOOL COrmaZoomView::IsImageLargerThanWindow() const {
    const QSize client = ClientSize();
    return client.width() < m_iDibWidth || client.height() < m_iDibHeight ? TRUE : FALSE;
}

void COrmaZoomView::UpdateCursor() {
    if (m_bDragging)
        setCursor(Qt::ClosedHandCursor);
    else if (IsImageLargerThanWindow())
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
}

BOOL COrmaZoomView::DestroyWindow() {
    if (m_bClosed)
        return TRUE;
    m_bClosed = true;
    m_timerAnimation.stop();
    m_iFrame = 0;
    emit zoomClosed();
    hide();
    deleteLater();
    return TRUE;
}

// ---- Opening animation -------------------------------------------------------

int COrmaZoomView::FirstAnimationFrame() const {
    // An image no larger than the page view showed it has nothing to grow.
    if (s_iAnimationInterval == 0 || m_iDibWidth <= m_rcImage.width() || m_iDibHeight <= m_rcImage.height())
        return kFrames;
    return 1;
}

COrmaZoomView::Frame COrmaZoomView::AnimationFrame(int k) const {
    const int imgW = m_rcImage.width(), imgH = m_rcImage.height();
    const int dibW = m_iDibWidth, dibH = m_iDibHeight;
    const int wndL = m_rcWnd.left(), wndT = m_rcWnd.top();
    const int wndW = m_rcWnd.width(), wndH = m_rcWnd.height();
    const int wndR = wndL + wndW, wndB = wndT + wndH;
    // The selection relative to the page bitmap, and its final place in the image.
    const int l = m_rcSelect.left() - m_rcImage.left(), t = m_rcSelect.top() - m_rcImage.top();
    const int r = l + m_rcSelect.width(), b = t + m_rcSelect.height();
    const int fl = Nearest(static_cast<double>(l) * dibW / imgW),
              fr = Nearest(static_cast<double>(r) * dibW / imgW);
    const int ft = Nearest(static_cast<double>(t) * dibH / imgH),
              fb = Nearest(static_cast<double>(b) * dibH / imgH);
    // Where the selection's centre lies in the final view.
    auto target = [](int m, int dib, int wndLow, int wnd, int wndHigh) {
        if (dib > wnd) {
            if (m < wnd / 2)
                return wndLow + m;
            if (dib - m >= wnd / 2)
                return (wndLow + wndHigh) / 2;
            return wndHigh - (dib - m);
        }
        return wndLow + (wnd - dib) / 2 + m;
    };
    const int tx = target((fl + fr) / 2, dibW, wndL, wndW, wndR);
    const int ty = target((ft + fb) / 2, dibH, wndT, wndH, wndB);

    const int wk = imgW + Nearest(k * (dibW - imgW) * 0.1);
    const int hk = imgH + Nearest(k * (dibH - imgH) * 0.1);
    Frame frame;
    if (wk <= 0 || hk <= 0)
        return frame;
    const int sl = Nearest(static_cast<double>(l) * wk / imgW),
              sr = Nearest(static_cast<double>(r) * wk / imgW);
    const int st = Nearest(static_cast<double>(t) * hk / imgH),
              sb = Nearest(static_cast<double>(b) * hk / imgH);
    double dx, dw, sx, sw;
    if (dibW > wndW) {
        const int mk = (sl + sr) / 2;
        dx = std::max(tx - mk, 0);
        dw = wndR - dx;
        sw = Nearest(dw * dibW / wk);
        sx = Nearest(static_cast<double>(std::max(wndL + mk - tx, 0)) * dibW / wk);
    } else {
        dx = wndL + (wndW - wk) / 2;
        dw = wk;
        sx = 0;
        sw = dibW;
    }
    const int mky = (st + sb) / 2;
    const int d = ty - mky;
    const double dy = std::max(d, 0);
    const double dh = wndB - dy;
    const double sh = Nearest(dh * dibH / hk);
    const double sy = Nearest(static_cast<double>(std::max(wndT - d, 0)) * dibH / hk);
    frame.rcDest = QRectF(dx, dy, dw, dh);
    frame.rcSource = QRectF(sx, sy, sw, sh);
    return frame;
}

void COrmaZoomView::DrawAnimationFrame(QPainter& painter, int k) {
    painter.fillRect(QRect(QPoint(0, 0), ClientSize()), palette().color(QPalette::Window));
    const Frame frame = AnimationFrame(k);
    if (frame.rcSource.isEmpty() || frame.rcDest.isEmpty())
        return;
    // Only the part of the source inside the image is drawn, to the matching
    // part of the destination.
    const QRectF source = frame.rcSource.intersected(QRectF(0, 0, m_iDibWidth, m_iDibHeight));
    if (source.isEmpty())
        return;
    const double fx = frame.rcDest.width() / frame.rcSource.width();
    const double fy = frame.rcDest.height() / frame.rcSource.height();
    const QRectF dest(frame.rcDest.left() + (source.left() - frame.rcSource.left()) * fx,
                      frame.rcDest.top() + (source.top() - frame.rcSource.top()) * fy, source.width() * fx,
                      source.height() * fy);
    DrawPart(painter, dest, source);
}

void COrmaZoomView::DrawImage(QPainter& painter) {
    const QSize client = ClientSize();
    const int wndW = m_rcWnd.width(), wndH = m_rcWnd.height();
    // An image narrower (shorter) than the window is centred, the odd pixel
    // going to the left (top) margin.
    int x = 0, y = 0;
    if (m_iDibWidth < wndW)
        x = (wndW - m_iDibWidth) / 2 + (wndW - m_iDibWidth) % 2;
    if (m_iDibHeight < wndH)
        y = (wndH - m_iDibHeight) / 2 + (wndH - m_iDibHeight) % 2;
    const QRect rcDest(x - m_ptScroll.x(), y - m_ptScroll.y(), m_iDibWidth, m_iDibHeight);
    if (!rcDest.contains(QRect(QPoint(0, 0), client)))
        painter.fillRect(QRect(QPoint(0, 0), client), palette().color(QPalette::Window));
    if (m_image.isNull())
        DrawPart(painter, QRectF(rcDest), QRectF(0, 0, m_iDibWidth, m_iDibHeight));
    else
        painter.drawImage(rcDest.topLeft(), m_image);
}

void COrmaZoomView::OnAnimationTimer() {
    if (m_iFrame > 0 && m_iFrame < kFrames) {
        ++m_iFrame;
        update();
    }
}

void COrmaZoomView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal dpr = devicePixelRatioF();
    painter.scale(1 / dpr, 1 / dpr);
    if ((m_dibView.isNull() && m_image.isNull()) || m_iZoom == 0) {
        painter.fillRect(QRect(QPoint(0, 0), ClientSize()), palette().color(QPalette::Window));
        return;
    }
    if (m_bShown) {
        DrawImage(painter);
        return;
    }
    const bool bFirst = m_iFrame == 0;
    if (bFirst)
        m_iFrame = FirstAnimationFrame();
    // A selection that is the whole window has nothing to grow from.
    if (m_rcSelect == m_rcWnd) {
        m_iFrame = kFrames;
        DrawImage(painter);
    } else {
        DrawAnimationFrame(painter, m_iFrame);
    }
    if (bFirst) {
        emit firstFramePainted();
        // Once this frame is on the screen, the copy for the later ones is made.
        if (m_image.isNull())
            QTimer::singleShot(0, this, [this] { ConvertImage(); });
    }
    if (m_iFrame < kFrames) {
        m_timerAnimation.start(s_iAnimationInterval);
        return;
    }
    // The last frame: later paintings show the same picture from the scroll
    // position.
    if (m_rcSelect != m_rcWnd) {
        const Frame last = AnimationFrame(kFrames);
        const QSize client = ClientSize();
        const int x = static_cast<int>(last.rcSource.left()), y = static_cast<int>(last.rcSource.top());
        m_ptScroll = QPoint(
            client.width() >= m_szRange.width() ? 0 : std::clamp(x, 0, m_szRange.width() - client.width()),
            client.height() >= m_szRange.height() ? 0
                                                  : std::clamp(y, 0, m_szRange.height() - client.height()));
    }
    m_iFrame = 0;
    m_bShown = TRUE;
}

// ---- Hand drag, wheel, keys and closing ------------------------------------------

void COrmaZoomView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::RightButton) {
        DestroyWindow();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_bDragging = TRUE;
        m_ptLast = (event->position() * devicePixelRatioF()).toPoint();
        UpdateCursor();
    }
}

void COrmaZoomView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    const QPoint pt = (event->position() * devicePixelRatioF()).toPoint();
    // The image follows the mouse one to one; not while the page still grows.
    if (m_bDragging && m_bShown)
        ScrollTo(m_ptScroll.x() + (m_ptLast.x() - pt.x()), m_ptScroll.y() + (m_ptLast.y() - pt.y()));
    m_ptLast = pt;
}

void COrmaZoomView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && m_bDragging) {
        m_bDragging = FALSE;
        UpdateCursor();
    }
}

void COrmaZoomView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    DestroyWindow();
}

void COrmaZoomView::wheelEvent(QWheelEvent* event) {
    event->accept();
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl + wheel steps the level, one full notch a step.
        const int iDelta = delta.y() != 0 ? delta.y() : event->pixelDelta().y();
        if ((iDelta > 0 && m_iWheelZoom < 0) || (iDelta < 0 && m_iWheelZoom > 0))
            m_iWheelZoom = 0;
        m_iWheelZoom += iDelta;
        const int iSteps = m_iWheelZoom / kStep;
        m_iWheelZoom -= iSteps * kStep;
        if (iSteps != 0)
            emit stepRequested(iSteps);
        return;
    }
    if (!m_bShown)
        return;
    const qreal dpr = devicePixelRatioF();
    ScrollTo(m_ptScroll.x() - qRound(delta.x() * dpr), m_ptScroll.y() - qRound(delta.y() * dpr));
}

void COrmaZoomView::keyPressEvent(QKeyEvent* event) {
    const int iStep = qRound(kStep * devicePixelRatioF());
    switch (event->key()) {
        case Qt::Key_Escape:
            DestroyWindow();
            break;
        case Qt::Key_Minus:
            emit stepRequested(-1);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            emit stepRequested(1);
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
            if (m_bShown) {
                const int dx = event->key() == Qt::Key_Left    ? -iStep
                               : event->key() == Qt::Key_Right ? iStep
                                                               : 0;
                const int dy = event->key() == Qt::Key_Up ? -iStep : event->key() == Qt::Key_Down ? iStep : 0;
                ScrollTo(m_ptScroll.x() + dx, m_ptScroll.y() + dy);
            }
            break;
        default:
            // Page keys and the rest go on to the page view.
            event->ignore();
            return;
    }
    event->accept();
}

bool COrmaZoomView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        DestroyWindow();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
