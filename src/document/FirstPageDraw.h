// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "image/MuPdf.h"
#include "image/PageStore.h"
#include "image/ThmFile.h"

// The first page of a start, drawn while the window is still being made: the
// page job that makes the same page from the same files takes the drawn pixels
// instead of drawing it again. Started by the program before anything else and
// owned by it; nothing is written and no trace line is left (a failure is met
// again, and told, by the page job).
class CFirstPageDraw {
public:
    // Draws page ID iPageID of document iDocID of the work desk (a CP932 path) as
    // the page job draws it at the start: annotations shown, base resolution.
    CFirstPageDraw(const std::string& strWorkDeskFolder, int iDocID, int iPageID);
    // Cancels a draw still running and waits for it; the pixels are no longer offered.
    ~CFirstPageDraw();
    CFirstPageDraw(const CFirstPageDraw&) = delete;
    CFirstPageDraw& operator=(const CFirstPageDraw&) = delete;

    // The drawn page for a render of key (the files' identities included), once:
    // waits while it is being drawn, unless pCancel (the asking job's) is
    // cancelled meanwhile. false when no draw of that page from those very files
    // succeeded, it was taken already, or the job was cancelled while waiting.
    static bool Take(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage,
                     const ov::image::RenderCancel* pCancel = nullptr);
    // The same without waiting: false as well while the page is still being drawn.
    static bool TakeIfDrawn(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage);
    // Tests: called on the drawing thread just before it draws (false) and once
    // the drawn page is offered (true).
    static void SetTestHook(std::function<void(bool bOffered)> hook);

private:
    static bool TakeOffered(const ov::image::PageStoreKey& key, ov::image::ThmImage* pImage, bool bWait,
                            const ov::image::RenderCancel* pCancel);

    ov::image::PageStoreKey m_key;
    std::string m_strKeyText;  // with the identities taken before the draw
    ov::image::RenderCancel m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_bDone = false;
    bool m_bDrawn = false;  // and the files unchanged meanwhile
    ov::image::ThmImage m_image;
    std::thread m_thread;
};
