// SPDX-License-Identifier: AGPL-3.0-or-later
#include "document/FirstPageDraw.h"

#include <chrono>
#include <utility>

#include "base/StartMarks.h"
#include "document/OrmaViewDoc.h"
#include "image/OrmaImage.h"
#include "sennet/Sennet.h"
#include "win32/ShellPath.h"

namespace {
std::mutex g_offered;
CFirstPageDraw* g_pOffered = nullptr;
std::function<void(bool)> g_testHook;
}  // namespace

void CFirstPageDraw::SetTestHook(std::function<void(bool)> hook) {
    g_testHook = std::move(hook);
}

CFirstPageDraw::CFirstPageDraw(const std::string& strWorkDeskFolder, int iDocID, int iPageID) {
    const std::string strDocFolder = COrmaViewDoc::DocFolderPath(strWorkDeskFolder, iDocID);
    // The CP932 paths the page job passes, and its key of them.
    const std::string strSource = COrmaViewDoc::DataFilePath(strDocFolder, iPageID, "pdf");
    const std::string strEditInfo = COrmaViewDoc::DataFilePath(strDocFolder, iPageID, "dat");
    m_key.source = ov::ToFsPath(strSource);
    m_key.page = 1;
    m_key.drawEditInfo = 1;
    m_key.editInfo = ov::ToFsPath(strEditInfo);
    if (m_key.source.empty() || !ov::image::TakeIdentities(&m_key))
        return;
    m_strKeyText = ov::image::KeyText(m_key);
    {
        std::lock_guard<std::mutex> lock(g_offered);
        if (g_pOffered != nullptr)
            return;
        g_pOffered = this;
    }
    m_thread = std::thread([this, strSource, strEditInfo, hook = g_testHook] {
        TraceSetThreadMuted(1);
        if (hook)
            hook(false);
        ov::image::ThmImage image;
        int r = 0;
        {
            ov::image::ScopedRenderCancel scope(&m_cancel);
            r = ov::image::DrawThumbImage(strSource.c_str(), 1, 1000, 1000, 1, strEditInfo.c_str(), &image);
        }
        // Drawn from the files whose identities were taken first, or not at all.
        ov::image::PageStoreKey now = m_key;
        const bool bSame =
            r == 0 && ov::image::TakeIdentities(&now) && ov::image::KeyText(now) == m_strKeyText;
        ov::image::EmptyCaches();
        ov::StartMark("first-page-drawn-ahead");
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bDrawn = bSame;
            if (bSame)
                m_image = std::move(image);
            m_bDone = true;
            m_done.notify_all();
        }
        if (hook)
            hook(true);
    });
}

CFirstPageDraw::~CFirstPageDraw() {
    m_cancel.Cancel();
    {
        std::lock_guard<std::mutex> lock(g_offered);
        if (g_pOffered == this)
            g_pOffered = nullptr;
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool CFirstPageDraw::Take(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage,
                          const ov::image::RenderCancel* pCancel) {
    return TakeOffered(key, pImage, true, pCancel);
}

bool CFirstPageDraw::TakeIfDrawn(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage) {
    return TakeOffered(key, pImage, false, nullptr);
}

bool CFirstPageDraw::TakeOffered(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage, bool bWait,
                                 const ov::image::RenderCancel* pCancel) {
    std::lock_guard<std::mutex> offered(g_offered);
    CFirstPageDraw* pDraw = g_pOffered;
    if (pDraw == nullptr || ov::image::KeyText(key) != pDraw->m_strKeyText)
        return false;
    std::unique_lock<std::mutex> lock(pDraw->m_mutex);
    // A job cancelled meanwhile (a close, another page) stops waiting: the
    // draw goes on for a later job of the same page, or is cancelled with the start.
    while (!pDraw->m_bDone) {
        if (!bWait || (pCancel != nullptr && pCancel->IsCancelled()))
            return false;
        pDraw->m_done.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (!pDraw->m_bDrawn)
        return false;
    pDraw->m_bDrawn = false;  // once
    *pImage = std::move(pDraw->m_image);
    return true;
}
