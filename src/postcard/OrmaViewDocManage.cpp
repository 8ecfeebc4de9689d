// SPDX-License-Identifier: AGPL-3.0-or-later
// The document's postcard manager: created and checked at start-up, released on
// failure and at the end, and followed after each answered event.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "OrmaViewDocHagaki.cpp"

#include <new>

#include "base/ErrorCodes.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "ormacomm/QuilmCommon.h"
#include "postcard/HagakiManage.h"
#include "win32/ShellPath.h"

int COrmaViewDoc::InitHagakiManage(HWND hOwner, int iKey) {
    if (!m_pHagakiManage) {
        m_pHagakiManage = new (std::nothrow) CHagakiManage();
        if (!m_pHagakiManage) {
            OV_TRACE("UnException Occurred! [ErrorCode] %d\n", GetLastError());
            return ov::kErrNoMemory;
        }
    }
    if (int r = m_pHagakiManage->Initialize(hOwner, iKey); r != 0) {
        OV_TRACE("CHagakiManage::Initialize() Error!(%d)\n", r);
        ReleaseHagakiManage();
        return r;
    }
    if (m_pHagakiManage->GetMode() == 1) {
        if (int r = m_pHagakiManage->FireEvent(HAGAKI_EVENT_START); r != 0) {
            OV_TRACE("CHagakiManage::FireEvent() Error!(%d)\n", r);
            ReleaseHagakiManage();
            return r;
        }
    }

    auto fail = [&](int code) {
        ReleaseHagakiManage();
        return code;
    };
    const char* folder = m_pHagakiManage->GetFolder();
    if (folder[0] == '\0') {
        OV_TRACE("Parameter Error! strWorkDeskFolder.GetLength() == 0.\n");
        return fail(ov::kErrBadParameter);
    }
    if (m_pHagakiManage->GetDocID() < 1) {
        OV_TRACE("Parameter Error! iDocID < 1.\n");
        return fail(ov::kErrBadParameter);
    }
    if (m_pHagakiManage->GetCurPageID() < 1) {
        OV_TRACE("Parameter Error! iPageID < 1.\n");
        return fail(ov::kErrBadParameter);
    }
    if (!PathFileExistsA(folder)) {
        OV_TRACE("File doesn't Exist! [File] %s\n", folder);
        return fail(ov::kErrFolderMissing);
    }
    return 0;
}

void COrmaViewDoc::ReleaseHagakiManage() {
    if (!m_pHagakiManage)
        return;
    m_pHagakiManage->FreeInfo();
    delete m_pHagakiManage;
    m_pHagakiManage = nullptr;
}

int COrmaViewDoc::InitDocFromHagakiManage() {
    if (!m_pHagakiManage || m_pHagakiManage->GetMode() != 1)
        return 0;
    if (!m_strTempFolder.empty() && PathFileExistsA(m_strTempFolder.c_str())) {
        if (!DeleteTheFolder(m_strTempFolder.c_str(), 0))
            OV_TRACE("DeleteTheFolder() Error!\n");
    }
    const int r =
        InitDoc(m_pHagakiManage->GetFolder(), m_pHagakiManage->GetDocID(), m_pHagakiManage->GetCurPageID());
    if (r != 0) {
        OV_TRACE("CHagakiManage::InitDoc() Error!(%d)\n", r);
        return r;
    }
    return 0;
}
