// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's top-level window: the toolbar on the left edge, the page view (or,
// in postcard mode, the splitter with the edit pane and the page view), the one
// command table, closing, and the window placement kept in WorkDesk.dat. The
// viewer's state and workflow belong to its session (CViewerSession): the frame
// forwards every command, key and the close to it and carries out what the
// session asks of its window.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QMargins>
#include <QRect>

#include "base/WinTypes.h"
#include "frame/ViewerSession.h"

class QAction;
class QLabel;
class QSocketNotifier;
class QSplitter;
class QToolBar;
class CHagakiEditDialog;
class COrmaViewDoc;
class COrmaViewView;
class CPageWorkers;
struct CommandDef;

// The frame's own commands on the view: the magnifier's steps and the turned
// view. They change no file and no state of the session.
enum : UINT {
    ID_ZOOM_IN = 32800,
    ID_ZOOM_OUT = 32801,
    ID_ZOOM_FIT_WIDTH = 32802,
    ID_TURN_VIEW_RIGHT = 32803,
    ID_TURN_VIEW_LEFT = 32804,
};

class CMainFrame : public QMainWindow, public IViewerWindow {
    Q_OBJECT

public:
    // pDocument is the document the session works on (not owned).
    explicit CMainFrame(COrmaViewDoc* pDocument);
    ~CMainFrame() override;

    // Creates the window (still hidden) for the mode: window class, style and
    // rectangle, then the client area, the image I/O library, the toolbar and the
    // session. FALSE when the frame could not be created.
    BOOL Create(BOOL bHagakiMode);

    // Opens the folder, document and page (postcard mode: those that the
    // postcard manager of iManageKey names); 0 or an error code.
    int Load(std::string strWorkDeskFolder, int iDocID, int iPageID, int iManageKey = 0);

    // --- Window placement in WorkDesk.dat, section "ThumbViewRect" ---
    void LoadWindowRect(RECT* pRect);
    void GetInitialWindowRect(RECT* pRect);
    int IsSavedMaximized();
    // Reads the rectangle again and gives it to the still hidden window (once
    // the work-desk folder is known from the command line).
    void ApplyInitialWindowRect();
    void SaveWindowRect();

    COrmaViewView* GetActiveView() const { return m_pView; }
    COrmaViewDoc* GetActiveDocument() const { return m_pDoc; }
    // The postcard edit pane; null outside postcard mode.
    CHagakiEditDialog* GetHagakiEditDialog() const { return m_pEditPane; }
    CViewerSession& Session() const { return *m_pSession; }

    // Postcard move or close: 2 close, 3 next, 4 previous. 0 or an error code.
    int HagakiPageAction(int iAction) { return m_pSession->HagakiPageAction(iAction); }

    // The one closing path (close button, Escape, the close command, WM_CLOSE
    // from another viewer, a signal): the session's closing steps, then the
    // window closes.
    void OnClose();
    // Ctrl+G: asks for a page number and goes there.
    void OnGoToPage();
    // The magnifier's steps (+, -, W): opening only over a picture of the
    // current page.
    void OnZoomIn();
    void OnZoomOut();
    void OnZoomFitWidth();
    // R and Shift+R (standard mode): the current page's view turned a quarter
    // right or left, for this run; the file is not touched.
    void OnTurnViewRight();
    void OnTurnViewLeft();
    // Quarter turns clockwise of the view of a page position.
    int ViewTurnsOf(int iPagePos) const;

    // The tooltip text of a command for a cursor at globalPos: empty unless the
    // cursor lies inside the frame's client area; at most 79 bytes (CP932).
    std::string OnToolTipText(UINT nID, const QPoint& globalPos) const;
    // The tooltip as shown: the text followed by every key of the command, e.g.
    // "Next Page (Ctrl+PgDown, PgDown, Space, Right)".
    static QString ToolTipWithKeys(UINT nID, const QString& strText);

    HWND GetSafeHwnd() const { return m_hWnd; }
    QAction* CommandAction(UINT nID) const;
    QToolBar* ToolBar() const { return m_wndToolBar; }
    // The reading aids' buttons: the magnifier and the turned view.
    QToolBar* ViewBar() const { return m_wndViewBar; }
    QLabel* PageIndicator() const { return m_pPageIndicator; }
    // Runs the event loop until no picture of the current page is coming any
    // more (tests and the bench); FALSE after iTimeoutMs.
    BOOL WaitForPage(int iTimeoutMs = 20000);
    // Before the window is first shown: runs the page work handed back (nothing
    // else of the event loop) until the first page's picture is there or
    // iTimeoutMs have passed, so that the first paint shows the page.
    void WaitForFirstPicture(int iTimeoutMs);

    BOOL m_bCenterWindow = FALSE;
    std::string m_strWorkDeskDatPath;
    BOOL m_bImageIOInit = TRUE;
    BOOL m_bHagaki = FALSE;

    // --- IViewerWindow ---
    void ShowPage(int iPagePos, std::shared_ptr<const CPageBitmap> pBitmap) override;
    void ShowPageError(int iResult) override;
    void PageRequested() override;
    BOOL RefreshZoomView() override;
    void CloseZoomView() override;
    void SetTitle(const std::string& strTitle) override;
    void CommandStatesChanged() override;
    void ShowError(int iResult) override;
    void SetWaitCursor(BOOL bWait) override;
    void SaveWindowPlacement() override;
    int EditPaneLoad() override;
    int EditPaneSaveToDoc() override;
    void EditPaneSetReadOnly(BOOL bReadOnly) override;

signals:
    // The frame has run its closing steps and is closed.
    void frameClosed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    BOOL PreCreateWindow();
    int OnCreate();
    BOOL OnCreateClient();
    void ConnectView();
    BOOL CreateToolBar();
    void RunCommand(const CommandDef& def);
    LRESULT OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The page indicator under the toolbar's buttons (FrameNavigation.cpp).
    void CreatePageIndicator();
    // Shows "number / total" of the current page.
    void UpdatePageIndicator();
    void TrackNormalGeometry();
    // The border the window manager has put around the window (null while the
    // window is not framed).
    QMargins FrameMargins() const;
    // Once the window is framed: a saved rectangle that had to be fitted onto
    // the screen is fitted again with the real frame, when the frame sticks out.
    void FitFramedWindow();

    COrmaViewDoc* m_pDoc = nullptr;
    COrmaViewView* m_pView = nullptr;
    std::unique_ptr<CPageWorkers> m_pWorkers;
    std::unique_ptr<CViewerSession> m_pSession;
    BOOL m_bLoaded = FALSE;
    QToolBar* m_wndToolBar = nullptr;
    QToolBar* m_wndViewBar = nullptr;
    QLabel* m_pPageIndicator = nullptr;
    QSplitter* m_wndSplitter = nullptr;
    CHagakiEditDialog* m_pEditPane = nullptr;
    std::map<UINT, QAction*> m_mapActions;
    HWND m_hWnd = 0;
    QSocketNotifier* m_pMessageNotifier = nullptr;
    bool m_bClosing = false;
    void TurnView(int iQuarter);
    // Quarter turns of the view by page position, for this run.
    std::map<int, int> m_mapViewTurns;
    // The open magnifier's level for the indicator (0: closed).
    double m_dZoomLevel = 0;
    // The window's rectangle while it was last neither maximised nor minimised.
    QRect m_rcNormal;
    // Left, Top, Width and Height as read, and whether they had to be fitted
    // and are waiting for the window's frame to be fitted again.
    std::array<int, 4> m_aiSavedRect{};
    bool m_bFitWhenFramed = false;
};
