// SPDX-License-Identifier: AGPL-3.0-or-later
// This side of the postcard viewer link: the shared block is read and published
// through the viewer library, and events go to the viewer's window as a
// synchronous message, after which the block is read back.
#include "postcard/HagakiManage.h"

#include <cstdlib>

#include "base/ErrorCodes.h"
#include "base/Trace.h"
#include "ipc/WindowManager.h"

namespace {

// The folder text is used as a C string: it is always ended inside its field.
void TerminateFolder(HAGAKI_MANAGE_INFO* info) {
    info->szWorkDeskFolder[sizeof info->szWorkDeskFolder - 1] = '\0';
}

}  // namespace

int CHagakiManage::Initialize(HWND hOwner, int iKey) {
    if (!IsWindow(hOwner) || iKey == 0) {
        OV_TRACE("Parameter Error! pDoc is Empty < 1.\n");
        return ov::kErrSilentParameter;
    }
    if (!m_pInfo) {
        m_pInfo = static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
        if (!m_pInfo) {
            OV_TRACE("UnException Occurred! [ErrorCode] %d\n", GetLastError());
            return ov::kErrNoMemory;
        }
    }
    if (int r = OrmaViewGetHagakiManage(iKey, m_pInfo); r != 0) {
        OV_TRACE("OrmaViewGetHagakiManage error! [ErrorCode] %d\n", GetLastError());
        FreeInfo();
        // Nobody published the key (a mistyped key, or a postcard viewer that has
        // ended): a box of its own rather than an unexpected error.
        return r == ORMAVIEW_DLL_NO_BLOCK ? ov::kErrNoPostcardKey : r;
    }
    TerminateFolder(m_pInfo);
    m_pInfo->iKey = iKey;
    m_pInfo->hOwnerWnd = hOwner;
    if (int r = OrmaViewSetHagakiManage(iKey, m_pInfo); r != 0) {
        OV_TRACE("OrmaViewSetHagakiManage error! [ErrorCode] %d\n", GetLastError());
        FreeInfo();
        return r;
    }
    return 0;
}

void CHagakiManage::FreeInfo() {
    std::free(m_pInfo);
    m_pInfo = nullptr;
}

int CHagakiManage::GetHagakiManageFromMapView() {
    if (!m_pInfo) {
        OV_TRACE("Parameter Error! m_pInfo is Empty.\n");
        return ov::kErrSilentParameter;
    }
    const int r = OrmaViewGetHagakiManage(m_pInfo->iKey, m_pInfo);
    TerminateFolder(m_pInfo);
    return r;
}

int CHagakiManage::FireEvent(int iEvent) {
    if (!m_pInfo) {
        OV_TRACE("Parameter Error! m_pInfo is Empty.\n");
        return ov::kErrSilentParameter;
    }
    m_pInfo->iResult = 0;
    if (int r = OrmaViewSetHagakiManage(m_pInfo->iKey, m_pInfo); r != 0) {
        OV_TRACE("OrmaViewSetHagakiManage error! [ErrorCode] %d\n", GetLastError());
        return r;
    }
    // A viewer that has gone away (or does not answer) leaves the block as it was
    // published: that must not pass for a handled event.
    SetLastError(0);
    if (SendMessageA(m_pInfo->hViewerWnd, m_pInfo->uEventMessage, 0, iEvent) == 0 && GetLastError() != 0) {
        OV_TRACE("SendMessageA() Error! [ErrorCode] %d\n", GetLastError());
        return ov::kErrException;
    }
    if (int r = GetHagakiManageFromMapView(); r != 0) {
        OV_TRACE("GetHagakiManageFromMapView error! [ErrorCode] %d\n", GetLastError());
        return r;
    }
    if (m_pInfo->iResult != 0) {
        OV_TRACE("CHagakiManage::FireEvent Viewer error! [ErrorCode] %d\n", m_pInfo->iResult);
        return ov::kErrException;
    }
    return 0;
}
