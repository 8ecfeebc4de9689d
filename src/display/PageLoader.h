// SPDX-License-Identifier: AGPL-3.0-or-later
// The owner of the page-image workers: makes the bitmaps of the page the user
// asked for and of its neighbours in reading order on two worker threads, and
// hands the results to the UI thread through queued calls. It alone starts,
// cancels and joins those threads; no document object ever reaches them (a job
// carries copied paths and numbers only, see document/PageJob.h).
#pragma once

#include <QObject>
#include <QThreadPool>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "document/PageJob.h"

class CPageBitmap;
namespace ov::image {
class CPageStore;
class RenderCancel;
}  // namespace ov::image

class CPageLoader : public QObject {
    Q_OBJECT

public:
    explicit CPageLoader(QObject* parent = nullptr);
    // Cancels every job and waits for the workers (a render stops at MuPDF's next check).
    ~CPageLoader() override;

    // The page the user asked for, and the neighbours to make after it (in
    // reading order; at most two). Work for any other page is cancelled and its
    // bitmaps dropped. The wanted page's job starts from the event loop, so that
    // several requests in a row (fast keys) start only the last one. pageReady
    // follows once its bitmap is there (at once, queued, when it already is).
    void Request(const CPageJob& wanted, const std::vector<CPageJob>& neighbours);
    // Cancels everything (the document is about to change or close).
    void CancelAll();
    // The bitmap of the last pageReady with result 0 (moved out).
    std::unique_ptr<CPageBitmap> TakeBitmap();
    // Whether the wanted page's bitmap is still being made.
    bool IsBusy() const { return m_bWantedPending; }
    // Whether no job runs at all (the neighbours made too).
    bool IsIdle() const { return !m_bWantedPending && m_mapRunning.empty(); }
    // Jobs started on a worker so far (for the tests and the bench).
    int StartedJobs() const { return m_iStarted; }
    // The image library's reason of the last failed wanted page (UTF-8).
    const std::string& LastReason() const { return m_strLastReason; }
    void SetStore(std::shared_ptr<const ov::image::CPageStore> pStore) { m_pStore = std::move(pStore); }

signals:
    // The wanted page (position iPagePos) is ready (iResult 0) or failed with iResult.
    void pageReady(int iPagePos, int iResult);

private:
    struct Running {
        int iId = 0;
        std::shared_ptr<ov::image::RenderCancel> pCancel;
    };
    static std::string KeyOf(const CPageJob& job);
    void Kick();
    void Start(const CPageJob& job);
    void Finished(const std::string& strKey, int iId, int iResult, std::shared_ptr<CPageBitmap> pBitmap,
                  std::string strReason);
    void StartNeighbours();

    QThreadPool m_pool;
    std::shared_ptr<const ov::image::CPageStore> m_pStore;
    CPageJob m_wanted;
    std::string m_strWantedKey;
    bool m_bWantedPending = false;
    bool m_bKickPosted = false;
    std::vector<CPageJob> m_aNeighbours;
    std::map<std::string, Running> m_mapRunning;
    struct Ready {
        int iResult = 0;
        std::shared_ptr<CPageBitmap> pBitmap;
        std::string strReason;
    };
    std::map<std::string, Ready> m_mapReady;  // made, not yet shown (the wanted page and its neighbours)
    std::unique_ptr<CPageBitmap> m_pTaken;
    int m_iStarted = 0;
    std::string m_strLastReason;
};
