// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer session's page work: the picture asked for and shown, the
// previous/next steps searched away from the UI thread, and the page jobs on
// the workers (started, cancelled and joined here only).
#include <algorithm>
#include <set>
#include <utility>

#include "base/ErrorGuard.h"
#include "base/StartMarks.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "frame/ViewerSession.h"
#include "image/LargeBuffer.h"
#include "image/MuPdf.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"

namespace {

// The size of the page bitmap asked for a client area: 29/30 of each side.
int RequestSide(int iClient) {
    return 29 * iClient / 30;
}

}  // namespace

// --- The page picture ---

void CViewerSession::SetViewSize(int iWidth, int iHeight, BOOL bForce) {
    const BOOL bChanged = iWidth != m_iViewWidth || iHeight != m_iViewHeight;
    m_iViewWidth = iWidth;
    m_iViewHeight = iHeight;
    if (bChanged || bForce)
        RequestPage(FALSE);
}

BOOL CViewerSession::IsPageBusy() const {
    return m_bWantedPending;
}

BOOL CViewerSession::IsShownPageCurrent() const {
    return m_iShownGeneration == m_iGeneration && m_iShownPos == m_doc.m_iCurPagePos &&
                   m_iShownWidth == RequestSide(m_iViewWidth) &&
                   m_iShownHeight == RequestSide(m_iViewHeight) && !m_bWantedPending
               ? TRUE
               : FALSE;
}

BOOL CViewerSession::IsIdle() const {
    return !m_bWantedPending && m_mapRunning.empty() ? TRUE : FALSE;
}

void CViewerSession::CancelJobs() {
    for (auto& kv : m_mapRunning) kv.second.pCancel->Cancel();
    m_mapRunning.clear();
    m_mapReady.clear();
    m_bWantedPending = FALSE;
    m_strWantedKey.clear();
    m_aNeighbours.clear();
    ++m_iGeneration;
}

void CViewerSession::CancelPageWork() {
    CancelJobs();
    // A search of the steps stops at its next flag; a later ask starts anew.
    if (m_search.pCancel)
        m_search.pCancel->store(true);
    m_search = StepSearch();
    m_executor.Join();
}

// --- The previous/next steps ---

std::vector<CPageJob> CViewerSession::NeighbourJobs(int iWidth, int iHeight) {
    std::vector<CPageJob> aNeighbours;
    for (const int iPos : {KnownPageStep(TRUE), KnownPageStep(FALSE)}) {
        CPageJob near;
        if (iPos > 0 && m_doc.GetPageJob(iPos, iWidth, iHeight, &near) == 0)
            aNeighbours.push_back(std::move(near));
    }
    return aNeighbours;
}

int CViewerSession::KnownPageStep(BOOL bNext) {
    const BOOL bHere =
        m_search.iPos == m_doc.m_iCurPagePos && m_search.uListGen == m_doc.GetPageListGeneration();
    int iPos = 0;
    if (bHere && m_search.iState == kSearchDone) {
        // The search's flags are in: the step reads no file left unread (only
        // a negative flag is read again, as every step does).
        iPos = bNext ? m_doc.GetNextPagePos(0) : m_doc.GetPrevPagePos(0);
    } else {
        // Once a worker is to read the flags, this thread reads none itself.
        const int iReads = bHere && m_search.iState != kSearchNone ? 0 : kStepFlagReads;
        iPos = bNext ? m_doc.PeekNextPagePos(iReads) : m_doc.PeekPrevPagePos(iReads);
    }
    if (iPos < 0)
        SearchPageSteps();
    return iPos;
}

void CViewerSession::SearchPageSteps() {
    const int iPos = m_doc.m_iCurPagePos;
    const unsigned uListGen = m_doc.GetPageListGeneration();
    if (m_search.iPos == iPos && m_search.uListGen == uListGen && m_search.iState != kSearchNone) {
        // A waiting search whose page is no longer being made starts now.
        if (m_search.iState == kSearchWaiting && !m_bWantedPending)
            StartSearch();
        return;
    }
    // A search from another page stops; the flags it has read are still kept.
    if (m_search.pCancel)
        m_search.pCancel->store(true);
    m_search = StepSearch();
    m_search.iSerial = ++m_iSearchSerial;
    m_search.iPos = iPos;
    m_search.uListGen = uListGen;
    m_search.iState = kSearchPosted;
    // Decided from the event loop, once the page of this command is asked for.
    m_executor.Post([this, pAlive = std::weak_ptr<int>(m_pAlive), iSerial = m_search.iSerial] {
        if (pAlive.lock())
            OV_GUARDED([&] {
                if (m_search.iSerial == iSerial && m_search.iState == kSearchPosted) {
                    if (m_bWantedPending)
                        m_search.iState = kSearchWaiting;  // started with the neighbours
                    else
                        StartSearch();
                }
                return 0;
            });
    });
}

void CViewerSession::StartSearch() {
    m_search.iState = kSearchRunning;
    m_search.pCancel = std::make_shared<std::atomic<bool>>(false);
    // The worker gets a copy of the page list, never the document.
    auto pQuery = std::make_shared<CPageStepQuery>(m_doc.GetPageStepQuery());
    IPageExecutor* pExecutor = &m_executor;
    m_executor.Start([this, pExecutor, pAlive = std::weak_ptr<int>(m_pAlive), pQuery,
                      pCancel = m_search.pCancel, iSerial = m_search.iSerial] {
        ReadPageStepFlags(*pQuery, pCancel.get());
        pExecutor->Post([this, pAlive, pQuery, iSerial] {
            if (pAlive.lock())
                OV_GUARDED([&] {
                    PageStepsFound(*pQuery, iSerial);
                    return 0;
                });
        });
    });
}

void CViewerSession::PageStepsFound(const CPageStepQuery& q, int iSerial) {
    m_doc.TakePageStepFlags(q);
    if (iSerial != m_search.iSerial || m_search.iState != kSearchRunning)
        return;  // stopped for another page or by cancelled page work
    m_search.pCancel.reset();
    m_search.iState = q.bComplete ? kSearchDone : kSearchNone;
    if (!q.bComplete)
        return;
    m_window.CommandStatesChanged();
    // The neighbours that were not known when the page was asked for are made
    // ahead now, after the page itself.
    if (m_bHagaki || m_doc.IsUndoFolderMode() || m_strWantedKey.empty() ||
        m_wanted.iPagePos != m_doc.m_iCurPagePos)
        return;
    for (CPageJob& near : NeighbourJobs(m_wanted.iWidth, m_wanted.iHeight)) {
        const std::string strKey = KeyOf(near);
        if (std::none_of(m_aNeighbours.begin(), m_aNeighbours.end(),
                         [&](const CPageJob& job) { return KeyOf(job) == strKey; }))
            m_aNeighbours.push_back(std::move(near));
    }
    if (!m_bWantedPending)
        StartNeighbours();
}

int CViewerSession::RequestPage(BOOL bReport) {
    if (!m_bLoaded || m_bClosed)
        return 0;
    const int iWidth = RequestSide(m_iViewWidth);
    const int iHeight = RequestSide(m_iViewHeight);
    if (iWidth < 1 || iHeight < 1)
        return 0;
    return OV_GUARDED([&]() -> int {
        CPageJob job;
        const int rc = m_doc.GetPageJob(m_doc.m_iCurPagePos, iWidth, iHeight, &job);
        if (rc != 0) {
            // Known at once: there is no page to make.
            CancelJobs();
            m_iShownGeneration = -1;
            m_window.ShowPageError(rc);
            return rc;
        }
        // The neighbours in reading order (index sheets passed over), made after
        // the page itself so that the next step finds its bitmap ready. Postcard
        // pages change under the same names: made each time, nothing ahead.
        std::vector<CPageJob> aNeighbours;
        if (!m_bHagaki && !m_doc.IsUndoFolderMode())
            aNeighbours = NeighbourJobs(iWidth, iHeight);
        else
            CancelJobs();
        // The first page's failure is reported as a command's would be.
        m_bReportFailure = bReport || m_bFirstRequest;
        m_bFirstRequest = FALSE;
        ov::StartMark("page-requested");
        Request(job, aNeighbours);
        m_window.PageRequested();
        return 0;
    });
}

// --- The page jobs ---

std::string CViewerSession::KeyOf(const CPageJob& job) {
    return job.strThumb + "|" + std::to_string(job.iWidth) + "x" + std::to_string(job.iHeight);
}

void CViewerSession::Request(const CPageJob& wanted, const std::vector<CPageJob>& aNeighbours) {
    std::set<std::string> keep{KeyOf(wanted)};
    for (const CPageJob& job : aNeighbours) keep.insert(KeyOf(job));
    // Work for pages no longer near the one asked for is cancelled.
    for (auto it = m_mapRunning.begin(); it != m_mapRunning.end();) {
        if (keep.count(it->first) == 0) {
            it->second.pCancel->Cancel();
            it = m_mapRunning.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_mapReady.begin(); it != m_mapReady.end();)
        it = keep.count(it->first) == 0 ? m_mapReady.erase(it) : std::next(it);
    m_wanted = wanted;
    m_strWantedKey = KeyOf(wanted);
    m_aNeighbours = aNeighbours;
    m_bWantedPending = TRUE;
    // Started from the event loop: several requests in a row start the last only.
    if (!m_bKickPosted) {
        m_bKickPosted = TRUE;
        m_executor.Post([this, pAlive = std::weak_ptr<int>(m_pAlive)] {
            if (pAlive.lock())
                OV_GUARDED([&] {
                    Kick();
                    return 0;
                });
        });
    }
}

void CViewerSession::Kick() {
    m_bKickPosted = FALSE;
    if (!m_bWantedPending)
        return;
    auto ready = m_mapReady.find(m_strWantedKey);
    if (ready != m_mapReady.end()) {
        Ready done = std::move(ready->second);
        m_mapReady.erase(ready);
        m_bWantedPending = FALSE;
        const CPageJob job = m_wanted;
        OnPageReady(job, done);
        StartNeighbours();
        return;
    }
    if (m_mapRunning.count(m_strWantedKey) == 0)
        StartJob(m_wanted);
}

void CViewerSession::StartJob(CPageJob job) {
    const std::string strKey = KeyOf(job);
    // The page waited for on screen is drawn for the view first, its page image after.
    job.bViewFirst = strKey == m_strWantedKey ? 1 : 0;
    Running run;
    run.iId = ++m_iStarted;
    run.iGeneration = m_iGeneration;
    run.pCancel = std::make_shared<ov::image::RenderCancel>();
    m_mapRunning[strKey] = run;
    IPageExecutor* pExecutor = &m_executor;
    m_executor.Start(
        [this, pExecutor, pAlive = std::weak_ptr<int>(m_pAlive), job, strKey, run, pStore = m_pStore]() {
            ov::StartMark("page-job");
            auto pBitmap = std::make_shared<CPageBitmap>();
            std::string strReason;
            bool bDrawn = false;
            // A rendered page goes to the view as soon as MuPDF has drawn it; its
            // page image is encoded and written here afterwards.
            const auto onDrawn = [&] {
                ov::StartMark("page-drawn");
                bDrawn = true;
                pExecutor->Post([this, pAlive, strKey, run, pBitmap]() mutable {
                    if (pAlive.lock())
                        OV_GUARDED([&] {
                            JobDrawn(strKey, run.iId, run.iGeneration, std::move(pBitmap));
                            return 0;
                        });
                });
            };
            const int r = run.pCancel->IsCancelled() ? ov::image::kErrCancelled
                                                     : MakePageJobBitmap(job, pStore.get(), run.pCancel.get(),
                                                                         pBitmap.get(), &strReason, onDrawn);
            if (bDrawn)
                pBitmap.reset();  // handed out already
            // Handed back to the session's thread; dropped there once the session is gone.
            pExecutor->Post([this, pAlive, job, strKey, run, r, pBitmap, strReason, bDrawn]() mutable {
                if (pAlive.lock())
                    OV_GUARDED([&] {
                        JobFinished(strKey, job, run.iId, run.iGeneration, r, std::move(pBitmap),
                                    std::move(strReason), bDrawn);
                        // The blocks kept for the next page go back once no page is being made.
                        if (m_mapRunning.empty())
                            ov::image::ReleaseSpareLargeBlocks();
                        return 0;
                    });
            });
        });
}

void CViewerSession::JobDrawn(const std::string& strKey, int iId, int iGeneration,
                              std::shared_ptr<CPageBitmap> pBitmap) {
    auto it = m_mapRunning.find(strKey);
    if (iGeneration != m_iGeneration || it == m_mapRunning.end() || it->second.iId != iId)
        return;  // cancelled: no longer wanted
    // Shown (or kept for a step) while the job goes on writing the page image.
    it->second.pDrawn = pBitmap;
    Ready done;
    done.pBitmap = std::move(pBitmap);
    m_mapReady[strKey] = std::move(done);
    if (m_bWantedPending && strKey == m_strWantedKey)
        Kick();
}

void CViewerSession::JobFinished(const std::string& strKey, const CPageJob& job, int iId, int iGeneration,
                                 int iResult, std::shared_ptr<CPageBitmap> pBitmap, std::string strReason,
                                 bool bDrawn) {
    // Whatever became of the job, a page-image file it made counts against the
    // run's bound.
    if (iResult != ov::image::kErrCancelled)
        m_doc.NotePageImageMade(job.strThumb);
    auto it = m_mapRunning.find(strKey);
    if (iGeneration != m_iGeneration || it == m_mapRunning.end() || it->second.iId != iId)
        return;  // cancelled: no longer wanted
    const std::shared_ptr<const CPageBitmap> pDrawn = std::move(it->second.pDrawn);
    m_mapRunning.erase(it);
    if (iResult == ov::image::kErrCancelled)
        return;
    const BOOL bWanted = m_bWantedPending && strKey == m_strWantedKey;
    if (bDrawn) {
        // The picture went out when it was drawn. Its source changed while the page
        // image was written: the picture is dropped and the page asked for again
        // (nothing was stored). Any other ending keeps it: it shows the page, also
        // when the page was asked for again while its image was being written.
        if (iResult != ov::image::kErrSourceChanged) {
            if (pDrawn && (bWanted || m_mapReady.count(strKey) == 0)) {
                Ready done;
                done.pBitmap = pDrawn;
                m_mapReady[strKey] = std::move(done);
                if (bWanted)
                    Kick();
            }
            return;
        }
        m_mapReady.erase(strKey);
        if (strKey == m_strWantedKey) {
            if (!m_bWantedPending) {
                m_bWantedPending = TRUE;
                m_window.PageRequested();
            }
            StartJob(m_wanted);
        }
        return;
    }
    if (iResult == ov::image::kErrSourceChanged) {
        // Made from a source that changed meanwhile: never shown nor kept.
        if (bWanted)
            StartJob(m_wanted);
        return;
    }
    Ready done;
    done.iResult = iResult;
    done.strReason = std::move(strReason);
    if (iResult == 0)
        done.pBitmap = std::move(pBitmap);
    if (bWanted) {
        m_mapReady[strKey] = std::move(done);
        Kick();
        return;
    }
    if (iResult == 0)
        m_mapReady[strKey] = std::move(done);
}

void CViewerSession::HoldNeighbours(BOOL bHold) {
    m_bHoldNeighbours = bHold;
    if (!bHold && m_bNeighboursHeld) {
        m_bNeighboursHeld = FALSE;
        if (m_bLoaded && !m_bClosed)
            StartNeighbours();
    }
}

void CViewerSession::StartNeighbours() {
    if (m_bHoldNeighbours) {
        m_bNeighboursHeld = TRUE;
        return;
    }
    if (m_search.iState == kSearchWaiting)
        StartSearch();  // the steps' flags after the page itself
    for (const CPageJob& job : m_aNeighbours) {
        const std::string strKey = KeyOf(job);
        if (m_mapReady.count(strKey) == 0 && m_mapRunning.count(strKey) == 0)
            StartJob(job);
    }
}

void CViewerSession::OnPageReady(const CPageJob& job, const Ready& done) {
    if (job.iPagePos != m_doc.m_iCurPagePos)
        return;
    if (done.iResult != 0 || !done.pBitmap || done.pBitmap->IsNull()) {
        const int iError = done.iResult != 0 ? done.iResult : -1;
        m_iShownGeneration = -1;
        m_window.ShowPageError(iError);
        if (m_bReportFailure) {
            m_bReportFailure = FALSE;
            m_doc.NotePageFailure(job.iPagePos, iError, done.strReason);
            m_window.CommandStatesChanged();
            m_window.ShowError(iError);
        }
        return;
    }
    m_bReportFailure = FALSE;
    m_iShownPos = job.iPagePos;
    m_iShownWidth = job.iWidth;
    m_iShownHeight = job.iHeight;
    m_iShownGeneration = m_iGeneration;
    ov::StartMark("page-to-view");
    m_window.ShowPage(job.iPagePos, done.pBitmap);
}
