// SPDX-License-Identifier: AGPL-3.0-or-later
#include "frame/ViewerSession.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "image/MuPdf.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "ipc/WindowManager.h"
#include "ormamsg/OrmaMsg.h"
#include "postcard/HagakiManage.h"
#include "win32/ShellPath.h"

CViewerSession::CViewerSession(COrmaViewDoc& doc, IViewerWindow& window, IPageExecutor& executor,
                               BOOL bHagaki)
    : m_doc(doc), m_window(window), m_executor(executor), m_bHagaki(bHagaki ? TRUE : FALSE) {}

CViewerSession::~CViewerSession() {
    CancelPageWork();
}

void CViewerSession::SetPageStore(std::shared_ptr<const ov::image::CPageStore> pStore) {
    m_pStore = std::move(pStore);
}

// --- Load ---

int CViewerSession::Load(std::string strWorkDeskFolder, int iDocID, int iPageID, HWND hOwner,
                         int iManageKey) {
    const int iResult = OV_GUARDED([&]() -> int {
        if (!m_bHagaki) {
            if (strWorkDeskFolder.empty()) {
                OV_TRACE("Parameter Error! strWorkDeskFolder.GetLength() == 0.\n");
                return ov::kErrBadParameter;
            }
            if (iDocID < 1) {
                OV_TRACE("Parameter Error! iDocID < 1.\n");
                ov::NoteMessageDetail(ov::DetailKind::DocumentID, iDocID);
                return ov::kErrBadParameter;
            }
            if (iPageID < 1) {
                OV_TRACE("Parameter Error! iPageID < 1.\n");
                ov::NoteMessageDetail(ov::DetailKind::PageID, iPageID);
                return ov::kErrBadParameter;
            }
            if (!PathFileExistsA(strWorkDeskFolder.c_str())) {
                OV_TRACE("File doesn't Exist! [File] %s\n", strWorkDeskFolder.c_str());
                ov::NoteMessageDetail(ov::DetailKind::Folder, strWorkDeskFolder);
                return ov::kErrFolderMissing;
            }
        }
        // The document's folders are about to be made again.
        CancelPageWork();
        if (m_bHagaki) {
            // The postcard manager names the folder, document and page.
            const int rc = m_doc.InitHagakiManage(hOwner, iManageKey);
            if (rc != 0) {
                OV_TRACE("COrmaViewDoc::InitDoc() Error!\n");
                ov::NoteMessageDetail(ov::DetailKind::PostcardKey, iManageKey);
                return rc;
            }
            strWorkDeskFolder = m_doc.m_pHagakiManage->GetFolder();
            iDocID = m_doc.m_pHagakiManage->GetDocID();
            iPageID = m_doc.m_pHagakiManage->GetCurPageID();
        }
        m_doc.m_bDeferPageImage = TRUE;  // made by the workers, the window shows at once
        const int rc = m_doc.InitDoc(strWorkDeskFolder, iDocID, iPageID);
        if (rc != 0) {
            OV_TRACE("COrmaViewDoc::InitDoc() Error!\n");
            return rc;
        }
        m_window.SetTitle(m_doc.GetFrameTitle());
        m_bLoaded = TRUE;
        if (m_bHagaki) {
            if (const int rcPane = m_window.EditPaneLoad(); rcPane != 0) {
                OV_TRACE("CHagakiEditDialog::Load() Error!\n");
                return rcPane;
            }
        }
        return 0;
    });
    m_window.CommandStatesChanged();
    if (iResult == 0)
        RequestPage(FALSE);
    return iResult;
}

// --- Commands ---

int CViewerSession::RunCommand(BOOL bWaitCursor, const std::function<int()>& fn) {
    if (bWaitCursor)
        m_window.SetWaitCursor(TRUE);
    const int rc = OV_GUARDED(fn);
    if (bWaitCursor)
        m_window.SetWaitCursor(FALSE);
    m_window.CommandStatesChanged();
    if (rc != 0)
        m_window.ShowError(rc);
    return rc;
}

int CViewerSession::OnPrevPage() {
    return RunCommand(
        TRUE, [&] { return m_bHagaki ? HagakiPageAction(kHagakiActionPrev) : MovePage(kMovePagePrev); });
}

int CViewerSession::OnNextPage() {
    return RunCommand(
        TRUE, [&] { return m_bHagaki ? HagakiPageAction(kHagakiActionNext) : MovePage(kMovePageNext); });
}

int CViewerSession::OnAnnotation() {
    m_doc.m_bShowEditInfo = m_doc.m_bShowEditInfo == 0 ? 1 : 0;
    return RunCommand(TRUE, [&] { return RefreshPage(); });
}

int CViewerSession::OnOmoteRotate() {
    return RunHagakiTurn(1);
}

int CViewerSession::OnUraRotate() {
    return RunHagakiTurn(0);
}

int CViewerSession::OnHagakiRotation() {
    return RunHagakiTurn(-1);
}

int CViewerSession::RunHagakiTurn(int iTurn) {
    // A disabled turn does nothing, whichever way it was asked for.
    const UINT nID = iTurn < 0 ? ID_HAGAKI_ROTATION : iTurn ? ID_OMOTE_ROTATE : ID_URA_ROTATE;
    if (!GetCommandState(nID).bEnabled)
        return 0;
    return RunCommand(TRUE, [&] {
        // The PDFs and the page image change under the jobs' feet: none may run.
        const BOOL bShownCurrent = IsShownPageCurrent();
        CancelPageWork();
        int rc = iTurn < 0 ? m_doc.UpSideDownHagakiPdf() : m_doc.RotateHagakiPdf(iTurn);
        if (rc != 0) {
            if (iTurn < 0)
                OV_TRACE("COrmaViewDoc::UpSideDownHagakiPdf() Error!(%d)\n", rc);
            else
                OV_TRACE("COrmaViewDoc::RotateHagakiPdf() Error!(%d)\n", rc);
        } else {
            // The turned PDF stays turned when its cached page image cannot go.
            rc = m_doc.DeleteThumbFileCurrent();
            if (rc != 0)
                OV_TRACE("COrmaViewDoc::DeleteThumbFileCurrent() Error!(%d)\n", rc);
            else
                RefreshPage();
        }
        if (rc != 0) {
            // Nothing changed on the page: the picture shown stays good, or the
            // page cancelled above is asked for again.
            if (bShownCurrent)
                m_iShownGeneration = m_iGeneration;
            else
                RequestPage(FALSE);
        }
        return rc;
    });
}

int CViewerSession::GoToPagePos(int iPagePos) {
    if (m_bHagaki || iPagePos < 1 || iPagePos == m_doc.m_iCurPagePos)
        return 0;
    // The steps of a page move: the position, the page image, the title, the view.
    return RunCommand(TRUE, [&] {
        m_window.CloseZoomView();
        m_doc.m_iCurPagePos = iPagePos;
        const int rc = RefreshPage();
        m_window.SetTitle(m_doc.GetFrameTitle());
        return rc;
    });
}

int CViewerSession::OnFirstPage() {
    ov::ClearMessageDetail();
    return GoToPagePos(m_doc.GetFirstPagePos());
}

int CViewerSession::OnLastPage() {
    ov::ClearMessageDetail();
    return GoToPagePos(m_doc.GetLastPagePos());
}

int CViewerSession::GoToPageNumber(int iNumber) {
    ov::ClearMessageDetail();
    return GoToPagePos(m_doc.ConvertPageNoToPagePos(iNumber));
}

int CViewerSession::OnWheel(int iDelta) {
    if (iDelta == 0)
        return 0;
    if (!m_bHagaki) {
        // The result is not looked at: the wheel at the last page shows nothing.
        MovePage(iDelta < 0 ? kMovePageNext : kMovePagePrev);
        m_window.CommandStatesChanged();
        return 0;
    }
    const int rc = HagakiPageAction(iDelta < 0 ? kHagakiActionNext : kHagakiActionPrev);
    if (rc != 0)
        m_window.ShowError(rc);
    return rc;
}

void CViewerSession::OnClose() {
    if (m_bClosed)
        return;
    m_bClosed = TRUE;
    m_window.CloseZoomView();
    CancelPageWork();  // a page being made is not waited for beyond its next check
    if (m_bHagaki) {
        const int rc = HagakiPageAction(kHagakiActionClose);
        if (rc != 0)
            m_window.ShowError(rc);
    }
    const HWND hWorkDesk = FindWindowA(kWorkDeskWndClass, nullptr);
    if (hWorkDesk != 0)
        SendMessageA(hWorkDesk, WM_VIEWER_CLOSED, 0, 0);
    m_window.SaveWindowPlacement();
}

// --- The postcard workflow ---

int CViewerSession::HagakiPageAction(int iAction) {
    if (!m_bHagaki)
        return 0;
    CHagakiManage* pManage = m_doc.m_pHagakiManage;
    const BOOL bManaged = IsHagakiManaged();
    if (bManaged) {
        // No postcard in that direction: nothing at all happens, not even a commit.
        if ((iAction == kHagakiActionNext && !pManage->HasNextPage()) ||
            (iAction == kHagakiActionPrev && !pManage->HasPrevPage()))
            return 0;
    }
    const int iResult = OV_GUARDED([&]() -> int {
        if (const int rc = m_window.EditPaneSaveToDoc(); rc != 0)
            return rc;
        const int iChange = m_doc.m_iHagakiChange;
        if (iChange != 0) {
            if (const int rc = m_doc.SaveHagakiInfo(); rc != 0)
                return rc;
        }
        if (bManaged) {
            int iLoad = 0;
            pManage->SetChange(iChange);
            if (iChange != 0 || iAction != kHagakiActionClose) {
                const int rcEvent = pManage->FireEvent(iAction);
                if (pManage->GetResult() == 0 && rcEvent != 0) {
                    // The event never reached the postcard viewer (it has gone or
                    // did not answer): the postcard stays, and the user is told.
                    // Its record is saved already.
                    RedrawPage();
                    return rcEvent;
                }
                if (pManage->GetResult() == 0) {
                    // The working folder with the page images goes: no job may
                    // still read or write there.
                    CancelPageWork();
                    if (const int rc = m_doc.InitDocFromHagakiManage(); rc != 0)
                        return rc;
                    m_window.SetTitle(m_doc.GetFrameTitle());
                    iLoad = m_window.EditPaneLoad();
                    if (!pManage->IsEditable())
                        m_window.EditPaneSetReadOnly(TRUE);
                }
            }
            RedrawPage();
            return iLoad;
        }
        if (pManage == nullptr)
            return 0;
        // Document mode: the viewer moves between the document's pages itself.
        // A page whose image could not be made has still become the current
        // page: its own record is loaded all the same, so that the pane never
        // shows (and a later save never writes) the record of the page before.
        int rcMove = 0;
        if (iAction == kHagakiActionNext || iAction == kHagakiActionPrev)
            rcMove = MovePage(iAction == kHagakiActionNext ? kMovePageNext : kMovePagePrev);
        if (const int rc = m_doc.LoadHagakiInfo(); rc != 0) {
            OV_TRACE("COrmaViewDoc::LoadHagakiInfo() Error!(%d)\n", rc);
            return ov::kErrRecordAfterMove;
        }
        if (const int rc = m_window.EditPaneLoad(); rc != 0)
            return rc;
        if (!pManage->IsEditable())
            m_window.EditPaneSetReadOnly(TRUE);
        return rcMove;
    });
    m_window.CommandStatesChanged();
    return iResult;
}

BOOL CViewerSession::IsHagakiManaged() const {
    return m_bHagaki && m_doc.m_pHagakiManage != nullptr && m_doc.m_pHagakiManage->GetMode() == 1 ? TRUE
                                                                                                  : FALSE;
}

// --- The page moves ---

int CViewerSession::MovePage(int iDirection) {
    return OV_GUARDED([&]() -> int {
        if (!m_bLoaded)
            return 0;
        const int iPos = iDirection == kMovePagePrev ? m_doc.GetPrevPagePos(1) : m_doc.GetNextPagePos(1);
        if (iPos < 1)
            return 0;
        // The title and the commands follow the page asked for at once; the page
        // itself follows when its bitmap is there.
        const int rc = RequestPage(TRUE);
        m_window.SetTitle(m_doc.GetFrameTitle());
        if (ShowChangedPage() != 0)
            return -1;
        return rc;
    });
}

int CViewerSession::RefreshPage() {
    return OV_GUARDED([&]() -> int {
        // The page image may have changed under the same name: nothing made
        // before is used.
        CancelJobs();
        const int rc = RequestPage(TRUE);
        if (ShowChangedPage() != 0)
            return -1;
        return rc;
    });
}

void CViewerSession::RedrawPage() {
    CancelJobs();
    RequestPage(FALSE);
    ShowChangedPage();
}

int CViewerSession::ShowChangedPage() {
    if (m_window.RefreshZoomView())
        return 0;
    m_window.CloseZoomView();
    return -1;
}

// --- Command states, title, page number ---

CCommandState CViewerSession::GetCommandState(UINT nID) {
    CCommandState state;
    // The turns need a postcard that may be edited and the side (or both sides)
    // they turn.
    const auto turnable = [&](BOOL bFront, BOOL bBack) {
        CHagakiInfo cInfo;
        return m_bHagaki && m_doc.m_pHagakiManage != nullptr && m_doc.GetHagakiInfo(cInfo, 0) == 0 &&
                       m_doc.m_pHagakiManage->IsEditable() && (!bFront || !cInfo.m_strFile1.empty()) &&
                       (!bBack || !cInfo.m_strFile2.empty())
                   ? TRUE
                   : FALSE;
    };
    switch (nID) {
        case ID_PREV_PAGE:
            state.bEnabled =
                IsHagakiManaged() ? (m_doc.m_pHagakiManage->HasPrevPage() != 0) : (KnownPageStep(FALSE) != 0);
            break;
        case ID_NEXT_PAGE:
            state.bEnabled =
                IsHagakiManaged() ? (m_doc.m_pHagakiManage->HasNextPage() != 0) : (KnownPageStep(TRUE) != 0);
            break;
        case ID_ANNOTATION:
            state.bChecked = m_doc.m_bShowEditInfo != 0;
            break;
        case ID_OMOTE_ROTATE:
            state.bEnabled = turnable(TRUE, FALSE);
            break;
        case ID_URA_ROTATE:
            state.bEnabled = turnable(FALSE, TRUE);
            break;
        case ID_HAGAKI_ROTATION:
            state.bEnabled = turnable(TRUE, TRUE);
            break;
        case ID_FIRST_PAGE:
        case ID_LAST_PAGE:
        case ID_GOTO_PAGE:
            // In postcard mode the postcard viewer decides which postcard comes next.
            state.bEnabled = !m_bHagaki;
            break;
        default:
            break;  // Close is always enabled
    }
    return state;
}

std::string CViewerSession::GetFrameTitle() {
    return m_doc.GetFrameTitle();
}

int CViewerSession::GetDisplayPageNo() {
    return m_doc.m_iCurPagePos < 1 ? 0 : m_doc.GetDisplayPageNo(m_doc.m_iCurPagePos);
}

int CViewerSession::GetPageTotal() const {
    return m_doc.m_iPageTotal;
}

// --- The zoom view's file ---

BOOL CViewerSession::ChooseZoomImageFile(std::string* pstrPath, int* piPage, BOOL* pbTemporary) {
    *pbTemporary = FALSE;
    if (m_doc.m_bShowEditInfo) {
        std::string strPath;
        int bCreated = 0;
        const int rc = m_doc.CreateEditInfoPdf(&strPath, &bCreated);
        if (rc != 0) {
            m_window.ShowError(rc);
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
    *pstrPath = m_doc.GetViewPdfPath(&iPage);
    *piPage = iPage;
    return TRUE;
}

// --- The edit pane's record ---

int CViewerSession::GetHagakiInfo(CHagakiInfo& cInfo, int iSelect) {
    return m_doc.GetHagakiInfo(cInfo, iSelect);
}

int CViewerSession::SetHagakiInfo(const CHagakiInfo& cInfo) {
    return m_doc.SetHagakiInfo(cInfo);
}

BOOL CViewerSession::HasHagakiManage() const {
    return m_doc.m_pHagakiManage != nullptr ? TRUE : FALSE;
}

BOOL CViewerSession::IsEditable() const {
    return m_doc.m_pHagakiManage != nullptr && m_doc.m_pHagakiManage->IsEditable() ? TRUE : FALSE;
}
