// SPDX-License-Identifier: AGPL-3.0-or-later
// The magnifier: a child of the page view laid exactly over it, showing the page
// file's image at a scale at which the user's selection fits the window (never
// above full size). It opens with a short animation in which the page grows from
// its page-view size around the selection, moves with the hand drag, the wheel
// and the arrow keys, and closes on Escape, the right button, a double click or
// the - key, telling the page view through zoomClosed().
//
// All geometry is kept in device pixels: the rectangles handed in (page-view
// coordinates) are multiplied by the device pixel ratio, and the image is
// loaded for the screen's pixels so that the magnified page is sharp.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include "base/GlobalMemory.h"
#include "base/WinTypes.h"

class COrmaZoomView : public QWidget {
    Q_OBJECT

public:
    explicit COrmaZoomView(QWidget* parent);
    ~COrmaZoomView() override;

    // TRUE when the image library is ready (ImageIO_Initialize non-zero).
    BOOL InitImageIO(HWND hWnd, const char* pszAppTitle, int iReserved);
    // The file and page to load; the next painting animates.
    void SetImageFile(const char* pszPath, int iPage);
    // As SetImageFile, but a magnifier already shown does not animate again.
    void ChangeImageFile(const char* pszPath, int iPage);
    // Selection, page-bitmap rectangle and window rectangle, in page-view
    // coordinates (width = right - left).
    void SetZoomRects(QRect rcSelect, QRect rcImage, QRect rcWnd);
    // Loads the image at the scale rule; bKeep keeps the relative scroll
    // position (a page change). FALSE when the library failed.
    BOOL LoadImage(BOOL bKeep);
    // A fixed level (times the page-bitmap rectangle's size) instead of the
    // selection rule; 0: the selection fits the window. A level loads without
    // the opening animation, centred on the selection.
    void SetLevel(double dLevel) { m_dLevel = dLevel; }
    // The page turned by quarter turns clockwise, as the page view shows it.
    void SetQuarterTurns(int iTurns) { m_iTurns = iTurns; }
    // Loads the image file again at dLevel, keeping the point at the window's
    // centre where it is. FALSE when the library failed.
    BOOL LoadLevel(double dLevel);
    // The level shown: the loaded image's width over the page-bitmap rectangle's.
    double Level() const;
    // The loaded image is wider or taller than the window (the hand applies).
    BOOL IsImageLargerThanWindow() const;
    // Closes: tells the page view (zoomClosed), hides, and frees itself once
    // control is back in the event loop. Always TRUE.
    BOOL DestroyWindow();

    // Milliseconds between the ten frames of the opening animation; 0 draws
    // only the final frame at once (tests). 50 by default.
    static void SetAnimationInterval(int iMs);
    static int AnimationInterval();

    // --- State, for the page view and for tests ---
    int Zoom() const { return m_iZoom; }                                  // load scale x 25600
    int LoadScale() const { return m_iLoadScale; }                        // thousandths asked of the library
    QSize ImageSize() const { return QSize(m_iDibWidth, m_iDibHeight); }  // device pixels
    QPoint ScrollPosition() const { return m_ptScroll; }                  // device pixels
    bool IsShown() const { return m_bShown != FALSE; }
    bool IsAnimating() const { return m_iFrame > 0; }
    bool IsDragging() const { return m_bDragging != FALSE; }
    const QImage& Image() const { return m_image; }

signals:
    // The magnifier closed (always sent once, before it goes away).
    void zoomClosed();
    // The + or - key, or Ctrl + wheel (one notch a step): > 0 enlarge further,
    // < 0 step back.
    void stepRequested(int iSteps);
    // The first picture of the magnifier (first animation frame) was painted.
    void firstFramePainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One frame of the opening animation: where the image part goes and which
    // part of the image that is (device pixels; the source may reach past the
    // image's edges, the drawing clips it).
    struct Frame {
        QRectF rcDest;
        QRectF rcSource;
    };
    Frame AnimationFrame(int k) const;
    int FirstAnimationFrame() const;
    void DrawAnimationFrame(class QPainter& painter, int k);
    void DrawImage(class QPainter& painter);
    void OnAnimationTimer();
    void SetScrollRanges(BOOL bKeep);
    // Moves the visible part to (x, y), clamped to the image; repaints.
    void ScrollTo(int x, int y);
    void UpdateCursor();
    void FreeImage();
    // Makes m_image from the library's rows (once per load).
    void ConvertImage();
    // Draws the source part of the image (top-down coordinates) into rcDest.
    void DrawPart(class QPainter& painter, const QRectF& rcDest, const QRectF& rcSource);
    QSize ClientSize() const;  // device pixels
    QRect ToDevice(const QRect& rc) const;

    HGLOBAL m_hDib = nullptr;  // the loaded image (packed DIB), kept until its drawing copy is made
    char m_szImageFile[MAX_PATH] = {};
    int m_iPage = 0;
    int m_iZoom = 0;
    int m_iDibHeight = 0;
    int m_iDibWidth = 0;
    QRect m_rcSelect;  // device pixels
    QRect m_rcImage;
    QRect m_rcWnd;
    BOOL m_bShown = FALSE;
    BOOL m_bDragging = FALSE;
    QPoint m_ptLast;

    QImage m_dibView;  // the DIB's rows as they lie in the block (bottom-up, B, G, R)
    QImage m_image;    // the same pixels top row first, 32-bit, for drawing
    int m_iLoadScale = 0;
    QPoint m_ptScroll;
    QSize m_szRange;   // scroll range of each axis (0 when it does not scroll)
    int m_iFrame = 0;  // animation frame being shown, 0 when not animating
    QTimer m_timerAnimation;
    bool m_bClosed = false;
    double m_dLevel = 0;
    int m_iTurns = 0;
    int m_iWheelZoom = 0;  // Ctrl + wheel's sum short of a notch
};
