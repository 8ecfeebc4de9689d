// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer session: the one owner of the viewer's state, without Qt. It owns
// the use of the document (the asked-for and the shown page), the page jobs on
// the workers, the postcard workflow (the postcard steps of Load, the moves and
// the close with saving, the three turns, the undo-folder re-open), the command
// states and the order of the closing steps. The window (Qt) only adapts: it
// forwards input to the session and carries out what the session asks through
// IViewerWindow; the workers come from the window through IPageExecutor.
//
// Page work never races a file change: every operation that changes or deletes a
// file a page job may read or write (the turns, the merge, the undo-folder
// re-open, InitDoc, closing) first cancels and joins the page jobs.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/WinTypes.h"
#include "document/PageJob.h"
#include "postcard/HagakiRecordSource.h"

class COrmaViewDoc;
struct CPageStepQuery;
class CPageBitmap;
class CHagakiInfo;
namespace ov::image {
class CPageStore;
class RenderCancel;
}  // namespace ov::image

// Command IDs of the toolbar and the page keys.
enum : UINT {
    ID_PREV_PAGE = 32775,
    ID_NEXT_PAGE = 32777,
    ID_VIEW_CLOSE = 32778,
    ID_ANNOTATION = 32779,
    ID_OMOTE_ROTATE = 32780,
    ID_URA_ROTATE = 32781,
    ID_HAGAKI_ROTATION = 32782,
    // Keys of our own (standard mode): Home, End, Ctrl+G.
    ID_FIRST_PAGE = 32790,
    ID_LAST_PAGE = 32791,
    ID_GOTO_PAGE = 32792,
};

// The frame's window class, by which a second viewer finds the running one.
inline constexpr const char* kViewerWndClass = "ZantexQuilmLibraryPerOrmaViewWndClass";
// The work desk's window class, told when the viewer closes.
inline constexpr const char* kWorkDeskWndClass = "ZantexQuilmLibraryPerWorkDeskWndClass";

// Action codes of HagakiPageAction (also the postcard manager's event codes) and
// direction codes of MovePage.
enum : int {
    kHagakiActionClose = 2,
    kHagakiActionNext = 3,
    kHagakiActionPrev = 4,
    kMovePagePrev = 2,
    kMovePageNext = 3,
};

// Worker threads, supplied by the window. Start and Join are called on the
// session's (UI) thread only; Post also from a worker, to hand a result back.
class IPageExecutor {
public:
    virtual ~IPageExecutor() = default;
    // Runs fnWork on a worker thread.
    virtual void Start(std::function<void()> fnWork) = 0;
    // Runs fnDone later on the session's thread, from its event loop (never
    // from inside Post itself). Safe to call from any thread.
    virtual void Post(std::function<void()> fnDone) = 0;
    // Returns once every work started so far has returned.
    virtual void Join() = 0;
};

// What the session asks of its window. Called on the UI thread.
class IViewerWindow {
public:
    virtual ~IViewerWindow() = default;

    // --- The page view ---
    // The picture of the current page (position iPagePos), iWidth x iHeight
    // device pixels as asked for by SetViewSize.
    virtual void ShowPage(int iPagePos, std::shared_ptr<const CPageBitmap> pBitmap) = 0;
    // No picture for the current page: the view shows the code's message where
    // the page would be.
    virtual void ShowPageError(int iResult) = 0;
    // Another picture is coming for the current page: the view keeps the earlier
    // one (dimmed after a while, with a note naming the page).
    virtual void PageRequested() = 0;
    // An open zoom view follows the current page (its relative position kept);
    // TRUE when none is open. FALSE: it could not follow (the session closes it).
    virtual BOOL RefreshZoomView() = 0;
    virtual void CloseZoomView() = 0;

    // --- The frame ---
    virtual void SetTitle(const std::string& strTitle) = 0;  // CP932
    // The command states or the page number may have changed: read them again
    // (CViewerSession::GetCommandState, GetDisplayPageNo).
    virtual void CommandStatesChanged() = 0;
    // The error box of a code (ShowErrorMessage).
    virtual void ShowError(int iResult) = 0;
    virtual void SetWaitCursor(BOOL bWait) = 0;
    // The window placement into WorkDesk.dat (last closing step).
    virtual void SaveWindowPlacement() = 0;

    // --- The postcard edit pane (postcard mode) ---
    virtual int EditPaneLoad() = 0;
    virtual int EditPaneSaveToDoc() = 0;
    virtual void EditPaneSetReadOnly(BOOL bReadOnly) = 0;
};

struct CCommandState {
    BOOL bEnabled = TRUE;
    BOOL bChecked = FALSE;
};

class CViewerSession : public IHagakiRecordSource {
public:
    // doc, window and executor outlive the session.
    CViewerSession(COrmaViewDoc& doc, IViewerWindow& window, IPageExecutor& executor, BOOL bHagaki);
    // Cancels and joins the page jobs.
    ~CViewerSession() override;
    CViewerSession(const CViewerSession&) = delete;
    CViewerSession& operator=(const CViewerSession&) = delete;

    COrmaViewDoc& Document() { return m_doc; }
    BOOL IsHagaki() const { return m_bHagaki; }
    // The page store used by the page jobs (null: none).
    void SetPageStore(std::shared_ptr<const ov::image::CPageStore> pStore);

    // --- Load: opens the folder, document and page; 0 or an error code ---
    // Postcard mode: hOwner and iManageKey set up the postcard manager, which
    // names the folder, document and page instead. The first page is asked for
    // once SetViewSize gives a size.
    int Load(std::string strWorkDeskFolder, int iDocID, int iPageID, HWND hOwner = 0, int iManageKey = 0);

    // --- Commands: each runs under the wait cursor, shows its error box itself
    // (after the cursor is restored) and returns the code ---
    int OnPrevPage();
    int OnNextPage();
    int OnAnnotation();
    int OnOmoteRotate();
    int OnUraRotate();
    int OnHagakiRotation();
    // Home, End, a page number (1..total, index sheets not counted): standard mode.
    int OnFirstPage();
    int OnLastPage();
    int GoToPageNumber(int iNumber);
    // The mouse wheel: iDelta < 0 forwards (next), > 0 backwards. Standard mode
    // moves a page, postcard mode runs HagakiPageAction (no wait cursor).
    int OnWheel(int iDelta);
    // The closing steps, in order: the zoom view closed, page work cancelled and
    // joined, the postcard close action (its error box shown, closing goes on),
    // the work desk told, the placement saved. Runs once.
    void OnClose();
    BOOL IsClosed() const { return m_bClosed; }

    // Postcard move or close: 2 close, 3 next, 4 previous. 0 or an error code
    // (no box: the callers show it).
    int HagakiPageAction(int iAction);
    BOOL IsHagakiManaged() const;
    // The page view's move: 2 previous, anything else next. 0 or the code.
    int MovePage(int iDirection);
    // The current page made again (annotation state or file changed).
    int RefreshPage();
    // The page made again and shown, without an error box.
    void RedrawPage();

    // --- Command states, title, page number ---
    // Previous and next are enabled when there is a page that way. Crossing a
    // long run of index sheets to know it is done on a worker: until its answer
    // is in, that command stays enabled (pressing it does the real step), and
    // CommandStatesChanged tells the window when the answer arrives.
    CCommandState GetCommandState(UINT nID);
    std::string GetFrameTitle();
    // The current page's number (0 on an index sheet) and the page total.
    int GetDisplayPageNo();
    int GetPageTotal() const;

    // --- The page picture ---
    // The page view's client size in device pixels: the page is asked for at
    // 29/30 of each side (again when the size changed, or when forced).
    void SetViewSize(int iWidth, int iHeight, BOOL bForce = FALSE);
    // The current page's picture is still being made.
    BOOL IsPageBusy() const;
    // The picture last shown (ShowPage) is of the current page, at the current
    // size, and nothing newer is coming: the zoom view may open over it.
    BOOL IsShownPageCurrent() const;
    // No page job runs at all (neighbours included).
    BOOL IsIdle() const;
    // Cancels every page job and waits for the workers.
    void CancelPageWork();
    // Jobs started on a worker so far (tests and the bench).
    int StartedJobs() const { return m_iStarted; }
    // While held, the pages around the current one (and the steps' flags) are
    // not made ahead: at a start the window's first paint keeps the processor
    // to itself. Released, what was held back starts.
    void HoldNeighbours(BOOL bHold);

    // --- The zoom view's file ---
    // The file that the zoom view loads for the current page: the PDF with the
    // annotations drawn in (a temporary file, *pbTemporary set) when they are
    // shown, else the page's own PDF. FALSE when there is none (an error box was
    // shown when making it failed).
    BOOL ChooseZoomImageFile(std::string* pstrPath, int* piPage, BOOL* pbTemporary);

    // --- IHagakiRecordSource (the edit pane's record) ---
    int GetHagakiInfo(CHagakiInfo& cInfo, int iSelect) override;
    int SetHagakiInfo(const CHagakiInfo& cInfo) override;
    BOOL HasHagakiManage() const override;
    BOOL IsEditable() const override;

private:
    struct Running {
        int iId = 0;
        int iGeneration = 0;
        std::shared_ptr<ov::image::RenderCancel> pCancel;
        // The picture handed out once drawn, while the job still writes the page
        // image: asked for again meanwhile, it is shown from here.
        std::shared_ptr<const CPageBitmap> pDrawn;
    };
    struct Ready {
        int iResult = 0;
        std::shared_ptr<const CPageBitmap> pBitmap;
        std::string strReason;
    };
    // The turns' common part: 1 front side, 0 back side, -1 upside down.
    int RunHagakiTurn(int iTurn);
    // Runs fn under the wait cursor, updates the commands, shows a failure.
    int RunCommand(BOOL bWaitCursor, const std::function<int()>& fn);
    int GoToPagePos(int iPagePos);
    int RequestPage(BOOL bReport);
    int ShowChangedPage();
    static std::string KeyOf(const CPageJob& job);
    // The page wanted now and the neighbours to make after it; other work is
    // cancelled and its results dropped.
    void Request(const CPageJob& wanted, const std::vector<CPageJob>& aNeighbours);
    // Cancels every job without waiting; their results are dropped.
    void CancelJobs();
    void OnPageReady(const CPageJob& job, const Ready& done);
    void Kick();
    void StartJob(CPageJob job);
    // The picture of a rendered page, handed over while its page image is written.
    void JobDrawn(const std::string& strKey, int iId, int iGeneration, std::shared_ptr<CPageBitmap> pBitmap);
    // bDrawn: the picture went out through JobDrawn before (pBitmap is then null).
    void JobFinished(const std::string& strKey, const CPageJob& job, int iId, int iGeneration, int iResult,
                     std::shared_ptr<CPageBitmap> pBitmap, std::string strReason, bool bDrawn);
    void StartNeighbours();
    // The neighbours of the current page known so far, as page jobs.
    std::vector<CPageJob> NeighbourJobs(int iWidth, int iHeight);
    // The next (bNext) or previous page from the current one, 0 when there is
    // none, -1 while a worker still reads the flags to find out.
    int KnownPageStep(BOOL bNext);
    // Starts a search of the steps from the current page after the page asked
    // for is made, so that the page never waits for it.
    void SearchPageSteps();
    void StartSearch();
    void PageStepsFound(const CPageStepQuery& q, int iSerial);
    // The flags that a step may read at once on this thread before a worker
    // takes over: ordinary runs of index sheets are shorter.
    static constexpr int kStepFlagReads = 128;

    COrmaViewDoc& m_doc;
    IViewerWindow& m_window;
    IPageExecutor& m_executor;
    const BOOL m_bHagaki;
    BOOL m_bClosed = FALSE;
    BOOL m_bLoaded = FALSE;  // Load opened the document: pages may be asked for
    std::shared_ptr<const ov::image::CPageStore> m_pStore;
    // Posted callbacks hold a weak reference: none runs once the session is gone.
    std::shared_ptr<int> m_pAlive = std::make_shared<int>(0);

    // The page asked for and the picture shown.
    int m_iViewWidth = 0;
    int m_iViewHeight = 0;
    BOOL m_bReportFailure = FALSE;
    BOOL m_bFirstRequest = TRUE;
    int m_iShownPos = 0;
    int m_iShownWidth = 0;
    int m_iShownHeight = 0;
    int m_iShownGeneration = -1;

    // The page jobs.
    int m_iGeneration = 0;  // raised whenever all work is cancelled
    CPageJob m_wanted;
    std::string m_strWantedKey;
    BOOL m_bWantedPending = FALSE;
    BOOL m_bKickPosted = FALSE;
    std::vector<CPageJob> m_aNeighbours;
    BOOL m_bHoldNeighbours = FALSE;
    BOOL m_bNeighboursHeld = FALSE;  // held back while m_bHoldNeighbours
    std::map<std::string, Running> m_mapRunning;
    std::map<std::string, Ready> m_mapReady;
    int m_iStarted = 0;

    // The flags of the steps from one position read on a worker.
    enum SearchState { kSearchNone, kSearchPosted, kSearchWaiting, kSearchRunning, kSearchDone };
    struct StepSearch {
        int iSerial = 0;
        int iPos = 0;
        unsigned uListGen = 0;
        SearchState iState = kSearchNone;
        std::shared_ptr<std::atomic<bool>> pCancel;  // of a running one
    };
    StepSearch m_search;
    int m_iSearchSerial = 0;
};
