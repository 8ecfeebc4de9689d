// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's top-level window: the toolbar on the left edge, the page view (or,
// in postcard mode, the splitter with the edit pane and the page view), the
// commands with their state rules, closing, and the window placement kept in
// WorkDesk.dat.
#pragma once

#include <map>
#include <string>

#include <QMainWindow>
#include <QRect>

#include "base/WinTypes.h"

class QAction;
class QLabel;
class QSocketNotifier;
class QSplitter;
class QToolBar;
class CHagakiEditDialog;
class COrmaViewDoc;
class COrmaViewView;

// Command IDs of the toolbar.
enum : UINT {
    ID_PREV_PAGE = 32775,
    ID_NEXT_PAGE = 32777,
    ID_VIEW_CLOSE = 32778,
    ID_ANNOTATION = 32779,
    ID_OMOTE_ROTATE = 32780,
    ID_URA_ROTATE = 32781,
    ID_HAGAKI_ROTATION = 32782,
};

// The frame's window class, by which a second viewer finds the running one.
inline constexpr const char* kViewerWndClass = "ZantexQuilmLibraryPerOrmaViewWndClass";
// The work desk's window class, told when the viewer closes.
inline constexpr const char* kWorkDeskWndClass = "ZantexQuilmLibraryPerWorkDeskWndClass";

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    // pDocument is the document the page view is created for (not owned).
    explicit CMainFrame(COrmaViewDoc* pDocument);
    ~CMainFrame() override;

    // Creates the window (still hidden): mode, window class, style and
    // rectangle, then the client area, the image I/O library and the toolbar.
    // FALSE when the frame could not be created.
    BOOL Create(BOOL bHagakiMode);

    // Opens the folder, document and page; 0 or an error code.
    int Load(std::string strWorkDeskFolder, int iDocID, int iPageID);

    // --- Window placement in WorkDesk.dat, section "ThumbViewRect" ---
    void LoadWindowRect(RECT* pRect);
    void GetInitialWindowRect(RECT* pRect);
    int IsSavedMaximized();
    // Reads the rectangle again and gives it to the still hidden window (once
    // the work-desk folder is known from the command line).
    void ApplyInitialWindowRect();
    void SaveWindowRect();

    COrmaViewView* GetActiveView() const;
    COrmaViewDoc* GetActiveDocument() const;
    // The postcard edit pane (pane 0 of the splitter); null outside postcard mode.
    CHagakiEditDialog* GetHagakiEditDialog() const;

    // --- Commands ---
    void OnPrevPage();
    void OnNextPage();
    void OnViewClose();
    void OnAnnotation();
    void OnOmoteRotate();
    void OnUraRotate();
    void OnHagakiRotation();
    // Postcard move or close: 2 close, 3 next, 4 previous. 0 or an error code.
    int HagakiPageAction(int iAction);
    BOOL IsHagakiManaged() const;

    // Brings every command's enabled and checked state up to date with the
    // document; run after every command, page move and load.
    void UpdateCommandState();
    // The tooltip of a command for a cursor at globalPos: empty unless the
    // cursor lies inside the frame's client area; at most 79 bytes (CP932).
    std::string OnToolTipText(UINT nID, const QPoint& globalPos) const;
    // The tooltip as shown: the text followed by the command's keys, read from
    // the action itself, e.g. "Next Page (Ctrl+PgDown)".
    static QString ToolTipWithShortcuts(const QAction* pAction, const QString& strText);

    // The one closing path (close button, Escape, close command, WM_CLOSE from
    // another viewer): zoom view closed, work desk told, rectangle saved, then
    // the window closes.
    void OnClose();
    void SetFrameTitle(const std::string& strTitle);

    HWND GetSafeHwnd() const { return m_hWnd; }
    QAction* CommandAction(UINT nID) const;
    QToolBar* ToolBar() const { return m_wndToolBar; }

    BOOL m_bCenterWindow = FALSE;
    std::string m_strWorkDeskDatPath;
    COrmaViewView* m_pView = nullptr;
    COrmaViewDoc* m_pDoc = nullptr;
    BOOL m_bImageIOInit = TRUE;
    BOOL m_bHagaki = FALSE;

    // --- Page keys and the page indicator (FrameNavigation.cpp) ---
    // Home, End and Ctrl+G (standard mode): the first and last page that the
    // steps reach, and the page of a number from 1 to the page total (index
    // sheets not counted). Each runs the steps of a page move.
    void OnFirstPage();
    void OnLastPage();
    void OnGoToPage();
    // 0, or the error code of the move (no move for a number out of range).
    int GoToPageNumber(int iNumber);
    // Shows "number / total" of the current page.
    void UpdatePageIndicator();
    QLabel* PageIndicator() const { return m_pPageIndicator; }

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
    void ConnectView(COrmaViewView* pView);
    BOOL OnCreateClient();
    BOOL CreateToolBar();
    LRESULT OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void RunClosingSteps();
    void OnUpdatePrevPage(QAction* pAction);
    void OnUpdateNextPage(QAction* pAction);
    void OnUpdateAnnotation(QAction* pAction);
    void OnUpdateOmoteRotate(QAction* pAction);
    void OnUpdateUraRotate(QAction* pAction);
    void OnUpdateHagakiRotation(QAction* pAction);
    // The turn commands' common part: under the wait cursor, the turn (1 front
    // side, 0 back side, -1 upside down), the page image's cache file deleted
    // and the page made again.
    void RunHagakiTurn(int iTurn);
    // Adds the page keys and the page indicator; called once by CreateToolBar.
    void CreateNavigation();
    int GoToPagePos(int iPagePos);
    QLabel* m_pPageIndicator = nullptr;

    COrmaViewDoc* m_pTemplateDoc = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QSplitter* m_wndSplitter = nullptr;
    CHagakiEditDialog* m_pEditPane = nullptr;
    std::map<UINT, QAction*> m_mapActions;
    HWND m_hWnd = 0;
    QSocketNotifier* m_pMessageNotifier = nullptr;
    bool m_bClosing = false;
    // The window's rectangle while it was last neither maximised nor minimised.
    QRect m_rcNormal;
    void TrackNormalGeometry();
};
