// SPDX-License-Identifier: AGPL-3.0-or-later
#include "display/PageLoader.h"

#include <QMetaObject>
#include <set>

#include "image/MuPdf.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"

namespace {
// Two workers: the wanted page and one neighbour, or both neighbours, at a time.
constexpr int kWorkers = 2;
}  // namespace

CPageLoader::CPageLoader(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(kWorkers);
    m_pool.setObjectName(QStringLiteral("OrmaViewPageWorkers"));
}

CPageLoader::~CPageLoader() {
    CancelAll();
    m_pool.clear();
    m_pool.waitForDone();
}

std::string CPageLoader::KeyOf(const CPageJob& job) {
    return job.strThumb + "|" + std::to_string(job.iWidth) + "x" + std::to_string(job.iHeight);
}

void CPageLoader::CancelAll() {
    for (auto& kv : m_mapRunning) kv.second.pCancel->Cancel();
    m_mapRunning.clear();
    m_mapReady.clear();
    m_bWantedPending = false;
    m_strWantedKey.clear();
    m_aNeighbours.clear();
}

void CPageLoader::Request(const CPageJob& wanted, const std::vector<CPageJob>& neighbours) {
    std::set<std::string> keep{KeyOf(wanted)};
    for (const CPageJob& job : neighbours) keep.insert(KeyOf(job));
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
    m_aNeighbours = neighbours;
    m_bWantedPending = true;
    if (!m_bKickPosted) {
        m_bKickPosted = true;
        QMetaObject::invokeMethod(this, &CPageLoader::Kick, Qt::QueuedConnection);
    }
}

void CPageLoader::Kick() {
    m_bKickPosted = false;
    if (!m_bWantedPending)
        return;
    auto ready = m_mapReady.find(m_strWantedKey);
    if (ready != m_mapReady.end()) {
        Ready done = std::move(ready->second);
        m_mapReady.erase(ready);
        m_bWantedPending = false;
        m_strLastReason = done.strReason;
        if (done.pBitmap)
            m_pTaken = std::make_unique<CPageBitmap>(std::move(*done.pBitmap));
        emit pageReady(m_wanted.iPagePos, done.iResult);
        StartNeighbours();
        return;
    }
    if (m_mapRunning.count(m_strWantedKey) == 0)
        Start(m_wanted);
}

void CPageLoader::Start(const CPageJob& job) {
    const std::string strKey = KeyOf(job);
    Running run;
    run.iId = ++m_iStarted;
    run.pCancel = std::make_shared<ov::image::RenderCancel>();
    m_mapRunning[strKey] = run;
    std::shared_ptr<const ov::image::CPageStore> pStore = m_pStore;
    m_pool.start([this, job, strKey, run, pStore]() {
        auto pBitmap = std::make_shared<CPageBitmap>();
        std::string strReason;
        const int r = run.pCancel->IsCancelled() ? ov::image::kErrCancelled
                                                 : MakePageJobBitmap(job, pStore.get(), run.pCancel.get(),
                                                                     pBitmap.get(), &strReason);
        // Handed to the UI thread; the owner waits for its workers before it goes,
        // so this never outlives it.
        QMetaObject::invokeMethod(
            this,
            [this, strKey, id = run.iId, r, pBitmap, strReason]() {
                Finished(strKey, id, r, pBitmap, strReason);
            },
            Qt::QueuedConnection);
    });
}

void CPageLoader::Finished(const std::string& strKey, int iId, int iResult,
                           std::shared_ptr<CPageBitmap> pBitmap, std::string strReason) {
    auto it = m_mapRunning.find(strKey);
    if (it == m_mapRunning.end() || it->second.iId != iId)
        return;  // cancelled: no longer wanted
    m_mapRunning.erase(it);
    if (iResult == ov::image::kErrCancelled)
        return;
    Ready done;
    done.iResult = iResult;
    done.strReason = std::move(strReason);
    if (iResult == 0)
        done.pBitmap = std::move(pBitmap);
    if (m_bWantedPending && strKey == m_strWantedKey) {
        m_mapReady[strKey] = std::move(done);
        Kick();
        return;
    }
    if (iResult == 0)
        m_mapReady[strKey] = std::move(done);
}

void CPageLoader::StartNeighbours() {
    for (const CPageJob& job : m_aNeighbours) {
        const std::string strKey = KeyOf(job);
        if (m_mapReady.count(strKey) == 0 && m_mapRunning.count(strKey) == 0)
            Start(job);
    }
}

std::unique_ptr<CPageBitmap> CPageLoader::TakeBitmap() {
    return std::move(m_pTaken);
}
