// SPDX-License-Identifier: AGPL-3.0-or-later
// This side's holder of the block shared with the postcard viewer.
#pragma once

#include "base/WinTypes.h"
#include "ipc/OrmaViewDll.h"

// Initialize and FireEvent are virtual so that the postcard workflow can run
// against a stand-in without a peer process.
class CHagakiManage {
public:
    virtual ~CHagakiManage() = default;
    virtual int Initialize(HWND hOwner, int iKey);
    void FreeInfo();
    int GetHagakiManageFromMapView();
    virtual int FireEvent(int iEvent);

    int GetMode() const { return m_pInfo ? m_pInfo->iMode : 0; }
    const char* GetFolder() const { return m_pInfo ? m_pInfo->szWorkDeskFolder : ""; }
    int GetDocID() const { return m_pInfo ? m_pInfo->iDocID : 0; }
    int GetCurPageID() const { return m_pInfo ? m_pInfo->iPageID : 0; }
    BOOL IsEditable() const { return m_pInfo ? m_pInfo->bEditable : 0; }
    BOOL HasNextPage() const { return m_pInfo ? m_pInfo->bNextPage : 0; }
    BOOL HasPrevPage() const { return m_pInfo ? m_pInfo->bPrevPage : 0; }
    int GetResult() const { return m_pInfo ? m_pInfo->iResult : 0; }
    void SetChange(int iChange) {
        if (m_pInfo)
            m_pInfo->iChange = iChange;
    }

    HAGAKI_MANAGE_INFO* m_pInfo = nullptr;
};
