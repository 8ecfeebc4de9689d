// SPDX-License-Identifier: AGPL-3.0-or-later
// The page view: shows the document's current page as one bitmap fitted to the
// window and centred on the button-face colour, and carries out the page moves
// and refreshes that the frame's commands ask for.
#pragma once

#include <memory>
#include <string>

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QWidget>

#include "base/WinTypes.h"

class CMainFrame;
class COrmaViewDoc;
class COrmaZoomView;
class CPageBitmap;
class CPageLoader;
class QTimer;
class QRubberBand;

class COrmaViewView : public QWidget {
    Q_OBJECT

public:
    // pFrameworkDoc is the document link of the view (not owned); m_pDoc is taken
    // from it at the first drawing when the frame has not set it.
    explicit COrmaViewView(COrmaViewDoc* pFrameworkDoc, QWidget* parent = nullptr);
    ~COrmaViewView() override;

    // Direction 2: previous page; any other value: next page. The document moves
    // and the page's bitmap is asked for at once; it is made on a worker and shown
    // when it is there (a failure then comes as pageFailed). 0, or -704 when the
    // page cannot be asked for; -1/-4/-5 for exceptions.
    int MovePage(int iDirection);
    // Makes the current page's image again (annotation state changed).
    int RefreshPage();
    // Cancels the page work (the window closes); nothing is made afterwards.
    void CancelPageWork();
    // Whether the bitmap of the current page is still being made.
    BOOL IsPageBusy() const;
    // Runs the event loop until the current page is shown or has failed (tests
    // and the bench); FALSE after iTimeoutMs.
    BOOL WaitForPage(int iTimeoutMs = 20000);
    CPageLoader* PageLoader() const { return m_pLoader; }
    // Forgets the page bitmap and draws the page again.
    void RedrawPage();
    // FALSE when no zoom view was open.
    BOOL DestroyZoomView(BOOL bRepaint);
    void ReleasePageBitmap();

    COrmaViewDoc* GetDocument() const { return m_pFrameworkDoc; }

    // The size of the page bitmap asked for a client area: 29/30 of each side.
    static QSize PageBitmapRequest(const QSize& client);
    // The cached page image (null when none) and where it is drawn, in widget
    // coordinates.
    const QImage& PageImage() const { return m_image; }
    QRect PageImageRect() const;

    // --- The magnifier ---
    // Opens the zoom view over the selection (page-view coordinates); TRUE also
    // when the selection misses the page and nothing opens.
    BOOL CreateZoomView(QRect rcSelect, QRect rcImage);
    // Loads the zoom image for the selection and shows the zoom view.
    BOOL MoveZoomInWnd(QRect rcSelect, QRect rcImage, QRect rcClient);
    // Has an open zoom view show the current page (relative position kept).
    BOOL ChangeZoomImage();
    // The magnifier over a box half the view's size centred on pt (Ctrl+wheel,
    // the + key); FALSE when it did not open.
    BOOL OpenZoomAt(QPoint pt);
    COrmaZoomView* ZoomView() const { return m_pZoomView; }
    // The selection a drag shows (empty when none).
    QRect SelectionRect() const;

    COrmaViewDoc* m_pDoc = nullptr;

signals:
    // The page was drawn (emitted after every paint that showed the page).
    void pagePainted();
    // The view was painted, with or without its page.
    void viewPainted();
    // The page a command moved to could not be made (the error code to report).
    void pageFailed(int iResult);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CMainFrame* Frame() const;
    BOOL IsHagakiFrame() const;
    // Asks the workers for the bitmap of the current page at the current client
    // size (and for its neighbours in reading order). 0 or the code of a page
    // that cannot be asked for (then shown as the page's error).
    int RequestPage(BOOL bReport);
    void OnPageReady(int iPagePos, int iResult);
    void PaintBusy(QPainter& painter);
    // Step 4 of a page move: drop the bitmap and draw again (or have an open zoom
    // view follow). -1 when the zoom view could not follow.
    int ShowChangedPage();
    void RepaintNow();
    // The file that the zoom view loads for the current page: the PDF with the
    // annotations drawn in (a temporary file, *pbTemporary set) when they are
    // shown, else the page's own PDF. FALSE when there is none.
    BOOL ChooseZoomImageFile(std::string* pstrPath, int* piPage, BOOL* pbTemporary);
    // The zoom view told that it closed.
    void OnZoomClosed();

    COrmaViewDoc* m_pFrameworkDoc = nullptr;
    std::unique_ptr<CPageBitmap> m_pBitmap;
    QImage m_image;  // wraps m_pBitmap's pixels, no copy
    int m_iImageX = 0;
    int m_iImageY = 0;
    BOOL m_bRedraw = TRUE;
    // The code of the last failed page bitmap (0 when it was made): the view shows
    // its message in place of the page.
    int m_iPageError = 0;
    QRect m_rcSelect;  // anchor (top-left) and moving corner (bottom-right)
    BOOL m_bSelecting = FALSE;
    CPageLoader* m_pLoader = nullptr;
    // The bitmap shown belongs to another page or size: drawn dimmed while the
    // current one is made.
    BOOL m_bStale = FALSE;
    // A failure of the page being made is reported (a command asked for it).
    BOOL m_bReportFailure = FALSE;
    BOOL m_bShowBusy = FALSE;
    BOOL m_bFirstRequest = TRUE;
    // m_iPageError was found when the page was asked for, not by a render.
    BOOL m_bPageErrorKnown = FALSE;
    QTimer* m_pBusyTimer = nullptr;
    QRubberBand* m_pRubberBand = nullptr;
    // The open zoom view, or null; it frees itself when it closes.
    COrmaZoomView* m_pZoomView = nullptr;
};
