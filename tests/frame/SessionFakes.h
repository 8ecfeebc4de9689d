// SPDX-License-Identifier: AGPL-3.0-or-later
// Stand-ins around the viewer session: a window that records what it is asked,
// workers that run only when the test says so, and a postcard manager that
// answers its events in-process. All three write into one shared call log.
#pragma once

#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "frame/ViewerSession.h"
#include "image/PageBitmap.h"
#include "postcard/HagakiInfo.h"
#include "postcard/HagakiManage.h"

namespace sessiontest {

using Log = std::vector<std::string>;

// Work and posted callbacks wait in queues until the test runs them.
class FakeExecutor : public IPageExecutor {
public:
    explicit FakeExecutor(Log& log) : m_log(log) {}
    void Start(std::function<void()> fnWork) override { work.push_back(std::move(fnWork)); }
    void Post(std::function<void()> fnDone) override { posted.push_back(std::move(fnDone)); }
    void Join() override {
        m_log.push_back("join");
        while (RunWork()) {
        }
    }
    bool RunWork() { return RunOne(work); }
    bool RunPosted() { return RunOne(posted); }
    // Runs everything: the posted callbacks first, then one work at a time.
    void Settle() {
        while (RunPosted() || RunWork()) {
        }
    }
    std::deque<std::function<void()>> work, posted;

private:
    static bool RunOne(std::deque<std::function<void()>>& queue) {
        if (queue.empty())
            return false;
        auto fn = std::move(queue.front());
        queue.pop_front();
        fn();
        return true;
    }
    Log& m_log;
};

class FakeWindow : public IViewerWindow {
public:
    explicit FakeWindow(Log& log) : m_log(log) {}
    void ShowPage(int iPagePos, std::shared_ptr<const CPageBitmap> pBitmap) override {
        shownPos = iPagePos;
        shown.push_back(std::move(pBitmap));
    }
    void ShowPageError(int iResult) override { pageErrors.push_back(iResult); }
    void PageRequested() override {}
    BOOL RefreshZoomView() override { return TRUE; }
    void CloseZoomView() override { m_log.push_back("zoom closed"); }
    void SetTitle(const std::string& strTitle) override { title = strTitle; }
    void CommandStatesChanged() override { ++statesChanged; }
    void ShowError(int iResult) override { m_log.push_back("box " + std::to_string(iResult)); }
    void SetWaitCursor(BOOL bWait) override { waitDepth += bWait ? 1 : -1; }
    void SaveWindowPlacement() override { m_log.push_back("placement"); }
    // The pane: its six fields, taken from and handed back to the session.
    int EditPaneLoad() override {
        session->GetHagakiInfo(pane, 0);
        readOnly = !session->IsEditable() || (pane.m_strFile1.empty() && pane.m_strFile2.empty());
        m_log.push_back("pane load");
        return 0;
    }
    int EditPaneSaveToDoc() override {
        m_log.push_back("pane save");
        CHagakiInfo cInfo;
        session->GetHagakiInfo(cInfo, 0);
        cInfo.m_strFrom = pane.m_strFrom;
        cInfo.m_strYear = pane.m_strYear;
        cInfo.m_strMemo = pane.m_strMemo;
        return session->SetHagakiInfo(cInfo);
    }
    void EditPaneSetReadOnly(BOOL bReadOnly) override { readOnly = readOnly || bReadOnly; }
    std::uint32_t CentrePixel() const {
        const CPageBitmap& b = *shown.back();
        return b.Row(b.Height() / 2)[b.Width() / 2] & 0xFFFFFF;
    }
    bool Landscape() const { return shown.back()->Width() > shown.back()->Height(); }

    CViewerSession* session = nullptr;
    std::vector<std::shared_ptr<const CPageBitmap>> shown;
    int shownPos = 0;
    int statesChanged = 0;
    std::vector<int> pageErrors;
    int waitDepth = 0;
    std::string title;
    CHagakiInfo pane;
    bool readOnly = false;

private:
    Log& m_log;
};

// The postcard viewer's answers: a list of cards, next and previous move along it.
struct Card {
    std::string desk;
    int iDocID = 12, iPageID = 1, bEditable = 1;
};

class FakeHagakiManage : public CHagakiManage {
public:
    FakeHagakiManage(Log& log, int iMode, std::vector<Card> cards)
        : m_log(log), m_iMode(iMode), m_cards(std::move(cards)) {}
    int Initialize(HWND hOwner, int iKey) override {
        m_pInfo = static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
        m_pInfo->iKey = iKey;
        m_pInfo->hOwnerWnd = hOwner;
        m_pInfo->iMode = m_iMode;
        Publish();
        return 0;
    }
    int FireEvent(int iEvent) override {
        m_pInfo->iResult = 0;
        m_log.push_back("event " + std::to_string(iEvent) + " change " + std::to_string(m_pInfo->iChange));
        if (bUndelivered)
            return -5;  // the block stays as published
        if (iRefuse != 0) {
            m_pInfo->iResult = iRefuse;
            return -5;
        }
        m_iCard += iEvent == 3 ? 1 : iEvent == 4 ? -1 : 0;
        Publish();
        return 0;
    }
    bool bUndelivered = false;
    int iRefuse = 0;

private:
    void Publish() {
        const Card& c = m_cards[m_iCard];
        std::strncpy(m_pInfo->szWorkDeskFolder, c.desk.c_str(), MAX_PATH - 1);
        m_pInfo->iDocID = c.iDocID;
        m_pInfo->iPageID = c.iPageID;
        m_pInfo->bEditable = c.bEditable;
        m_pInfo->bNextPage = m_iCard + 1 < static_cast<int>(m_cards.size());
        m_pInfo->bPrevPage = m_iCard > 0;
    }
    Log& m_log;
    int m_iMode;
    std::vector<Card> m_cards;
    int m_iCard = 0;
};

}  // namespace sessiontest
