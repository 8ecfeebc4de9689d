// SPDX-License-Identifier: AGPL-3.0-or-later
// The page view: paints the picture of the current page that it is given,
// fitted and centred on the button-face colour (or the page's error text where
// the page would be), dims it with a note while another picture is coming, and
// hosts the zoom view. It reports input upward through its signals only; what a
// key, the wheel or a drag does is the frame's business.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QImage>
#include <QKeySequence>
#include <QList>
#include <QRect>
#include <QWidget>

#include "base/WinTypes.h"

class COrmaZoomView;
class CPageBitmap;
class QPainter;
class QRubberBand;
class QTimer;

// Sums a wheel's deltas (angle, or a trackpad's pixels when it gives no angle)
// into whole notches of 120 units, so that a high-resolution wheel or a
// trackpad steps once per notch's worth and never once per message. Turning
// the other way starts the sum afresh.
class CWheelSum {
public:
    // The whole notches now complete: > 0 up (backwards), < 0 down (forwards).
    int Add(QPoint angle, QPoint pixel);
    void Reset() { m_iSum = 0; }

private:
    int m_iSum = 0;
};

class COrmaViewView : public QWidget {
    Q_OBJECT

public:
    // The file the zoom view loads for the current page: path (CP932), page
    // number, whether it is a temporary file to delete after loading. FALSE: none.
    using ZoomFileSource = std::function<BOOL(std::string* pstrPath, int* piPage, BOOL* pbTemporary)>;

    explicit COrmaViewView(QWidget* parent = nullptr);
    ~COrmaViewView() override;

    // --- What the frame shows ---
    // The picture of the current page, in device pixels.
    void ShowPage(std::shared_ptr<const CPageBitmap> pBitmap);
    // No picture for the current page: the code's message where the page would be.
    void ShowPageError(int iResult);
    // Another picture is coming: the one shown stays, dimmed with strNote after
    // a short while.
    void PageRequested(const QString& strNote);
    // A picture is still coming (PageRequested without ShowPage or ShowPageError).
    BOOL IsPageBusy() const { return m_bBusy; }
    // The keys that step to the next and the previous page while the view has
    // the focus (nextRequested, prevRequested).
    void SetStepKeys(const QList<QKeySequence>& next, const QList<QKeySequence>& prev);
    // The selection drag that asks for the magnifier (postcard mode).
    void SetSelectionEnabled(BOOL bEnabled) { m_bSelectionEnabled = bEnabled; }
    void SetZoomFileSource(ZoomFileSource fnSource) { m_fnZoomFile = std::move(fnSource); }
    // The view turned by quarter turns clockwise (0 to 3): the page is asked
    // for at the turned size (viewSizeChanged) and painted turned, and the
    // magnifier shows it turned. bReport tells the turned size at once (else
    // at the next painting).
    void SetQuarterTurns(int iTurns, BOOL bReport);
    int QuarterTurns() const { return m_iTurns; }
    // The window handle given to the zoom view's image library.
    void SetWindowHandle(HWND hWnd) { m_hWnd = hWnd; }

    // The size of the page bitmap asked for a client area: 29/30 of each side.
    static QSize PageBitmapRequest(const QSize& client);
    // The client size in device pixels.
    QSize DeviceSize() const;
    // Tells the size when it (or the device pixel ratio) changed since last told.
    void ReportSize();
    // The picture shown (null when none) and where it is drawn, in widget
    // coordinates.
    const QImage& PageImage() const { return m_image; }
    QRect PageImageRect() const;
    void ReleasePageBitmap();

    // --- The magnifier ---
    // Opens the zoom view over the selection (widget coordinates) on the picture
    // shown; TRUE also when the selection misses the page and nothing opens.
    BOOL CreateZoomView(QRect rcSelect);
    // Loads the zoom image for the selection and shows the zoom view.
    BOOL MoveZoomInWnd(QRect rcSelect, QRect rcImage, QRect rcClient);
    // Has an open zoom view show the current page (relative position kept);
    // TRUE when none is open.
    BOOL ChangeZoomImage();
    // FALSE when no zoom view was open.
    BOOL DestroyZoomView(BOOL bRepaint);
    COrmaZoomView* ZoomView() const { return m_pZoomView; }
    // The magnifier's steps: each opens or enlarges further (1.5x, 2x, 3x, 4x, 6x of
    // the fitted page); ZoomOut steps back to the level it opened at and then
    // closes; ZoomFitWidth shows the page as wide as the view. Opening goes
    // through zoomRequested, as every way of opening does.
    static const double kZoomLevels[5];
    void ZoomIn(QPoint ptAnchor);
    void ZoomIn();
    void ZoomOut();
    void ZoomFitWidth();
    // The open magnifier's level (times the fitted page), 0 when closed.
    double ZoomLevel() const;
    // The selection a drag shows (empty when none).
    QRect SelectionRect() const;

signals:
    // The client size in device pixels: on show, on a resize and when the
    // device pixel ratio changes.
    void viewSizeChanged(QSize deviceSize);
    void nextRequested();
    void prevRequested();
    // One wheel step (no Ctrl): < 0 forwards, > 0 backwards.
    void wheelStepped(int iDelta);
    void doubleClicked();
    // The magnifier over rcSelect (widget coordinates): the selection drag, the
    // + key and Ctrl + wheel forwards.
    void zoomRequested(QRect rcSelect);
    // The magnifier's level changed (0: closed).
    void zoomLevelChanged(double dLevel);
    // The page was drawn (after every paint that showed the page).
    void pagePainted();
    // The view was painted, with or without its page.
    void viewPainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void PaintBusy(QPainter& painter);
    void RepaintNow();
    // The box centred on pt that fills the view at dLevel.
    QRect ZoomBoxAt(QPoint pt, double dLevel) const;
    void OnZoomClosed();
    // Makes m_image: the bitmap's pixels, turned by m_iTurns.
    void MakeTurnedImage();
    // Loads the open magnifier at dLevel; closes it when that fails.
    BOOL SetZoomLevel(double dLevel);
    void OpenAtLevel(double dLevel, QRect rcBox);

    std::shared_ptr<const CPageBitmap> m_pBitmap;
    QImage m_image;     // wraps m_pBitmap's pixels (no copy), or their turned copy
    int m_iTurns = 0;   // quarter turns clockwise of the view
    int m_iImageX = 0;  // device pixels
    int m_iImageY = 0;
    // The code of the page's failure (0: none): its message shows instead.
    int m_iPageError = 0;
    BOOL m_bBusy = FALSE;
    BOOL m_bShowBusy = FALSE;
    QString m_strBusyNote;
    QTimer* m_pBusyTimer = nullptr;
    QSize m_szReported;
    qreal m_dprReported = 0;
    QList<QKeySequence> m_aNextKeys;
    QList<QKeySequence> m_aPrevKeys;
    BOOL m_bSelectionEnabled = FALSE;
    QRect m_rcSelect;  // anchor (top-left) and moving corner (bottom-right)
    BOOL m_bSelecting = FALSE;
    QRubberBand* m_pRubberBand = nullptr;
    ZoomFileSource m_fnZoomFile;
    HWND m_hWnd = 0;
    // The open zoom view, or null; it frees itself when it closes.
    COrmaZoomView* m_pZoomView = nullptr;
    // The level the next opening loads at (0: the selection fits the window),
    // and the level the open magnifier opened at (ZoomOut closes below it).
    double m_dOpenLevel = 0;
    double m_dZoomBase = 0;
    CWheelSum m_wheelPage;
    CWheelSum m_wheelZoom;
};
