// SPDX-License-Identifier: AGPL-3.0-or-later
// The document object: construction and clean-up, InitDoc and the reading of Doc.dat.
#include "document/OrmaViewDoc.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "ormacomm/OrmaComm.h"
#include "ormacomm/QuilmCommon.h"
#include "ormamsg/OrmaMsg.h"
#include "postcard/HagakiManage.h"
#include "win32/CodePage.h"
#include "win32/FileApi.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {

// The folder that holds the working folders, as the box names it.
std::string TempFolderBase() {
    const char* tmp = std::getenv("TMPDIR");
    return ov::FromFsPath(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
}

constexpr const char* kDocInfo = "DocInfo";
// The document name is kept in a 260-byte buffer: at most this many bytes.
constexpr std::size_t kMaxDocNameBytes = MAX_PATH - 1;

// Length of the longest prefix of text that has at most maxBytes bytes and does not
// end inside a double-byte CP932 character.

// A page ID from the list; IDs that do not fit an int are no valid IDs.
int ToPageID(unsigned uID) {
    return uID > static_cast<unsigned>(INT_MAX) ? -1 : static_cast<int>(uID);
}

}  // namespace

COrmaViewDoc::~COrmaViewDoc() {
    OV_GUARDED([&] {
        ReleaseHagakiManage();
        if (!m_strTempFolder.empty() && PathFileExistsA(m_strTempFolder.c_str())) {
            if (!DeleteTheFolder(m_strTempFolder.c_str(), 0))
                OV_TRACE("DeleteTheFolder() Error!\n");
        }
        return 0;
    });
}

BOOL COrmaViewDoc::IsUndoFolderMode() const {
    return m_pHagakiManage != nullptr && m_pHagakiManage->GetMode() == 1;
}

int COrmaViewDoc::InitDoc(std::string strWorkDeskFolder, int iDocID, int iPageID) {
    return OV_GUARDED([&]() -> int {
        const BOOL bUndoFolder = IsUndoFolderMode();

        char szTempFolder[MAX_PATH] = {};
        if (!CreateTempFolder(szTempFolder)) {
            OV_TRACE("CreateTempFolder() Error!\n");
            ov::NoteMessageDetail(ov::DetailKind::Folder, TempFolderBase());
            return ov::kErrFolderNotMade;
        }
        // A folder left by an earlier InitDoc is no longer reachable: remove it now
        // instead of leaving it behind.
        if (!m_strTempFolder.empty() && m_strTempFolder != szTempFolder &&
            PathFileExistsA(m_strTempFolder.c_str())) {
            if (!DeleteTheFolder(m_strTempFolder.c_str(), 0))
                OV_TRACE("DeleteTheFolder() Error!\n");
        }
        m_strTempFolder = szTempFolder;
        m_aThumbUse.clear();

        m_strEditInfoOnFolder = ov::JoinPath(m_strTempFolder, "EditInfo_On");
        if (!CreateDirectoryA(m_strEditInfoOnFolder.c_str(), nullptr)) {
            OV_TRACE("CreateDirectory() Error! [GetLastError:%d]\n", GetLastError());
            ov::NoteMessageDetail(ov::DetailKind::Folder, m_strEditInfoOnFolder);
            return ov::kErrFolderNotMade;
        }
        m_strEditInfoOffFolder = ov::JoinPath(m_strTempFolder, "EditInfo_Off");
        if (!CreateDirectoryA(m_strEditInfoOffFolder.c_str(), nullptr)) {
            OV_TRACE("CreateDirectory() Error! [GetLastError:%d]\n", GetLastError());
            ov::NoteMessageDetail(ov::DetailKind::Folder, m_strEditInfoOffFolder);
            return ov::kErrFolderNotMade;
        }

        m_iDocID = iDocID;

        m_strDocFolder = bUndoFolder ? ov::JoinPath(strWorkDeskFolder, "UndoFolder")
                                     : DocFolderPath(strWorkDeskFolder, iDocID);
        if (!PathFileExistsA(m_strDocFolder.c_str())) {
            OV_TRACE("DocFolder is not Exist [Path] %s\n", m_strDocFolder.c_str());
            ov::NoteMessageDetail(ov::DetailKind::Folder, m_strDocFolder);
            return ov::kErrFolderMissing;
        }

        int r = bUndoFolder ? ReadUndoDataFile() : ReadDocFile();
        if (r < 0) {
            OV_TRACE("ReadDocFile() Error!\n");
            return r;
        }

        m_iCurPagePos = ConvertPageIDToPagePos(iPageID);
        if (m_iCurPagePos < 1) {
            OV_TRACE("ConvertPageIDToPagePos() Error! [DocFolder] %s [PageID] %d\n", m_strDocFolder.c_str(),
                     iPageID);
            ov::NoteMessageDetail(ov::DetailKind::Folder, m_strDocFolder);
            ov::NoteMessageDetail(ov::DetailKind::PageID, iPageID);
            return ov::kErrNotFound;
        }

        // The postcard record of the page; its outcome does not decide the result.
        if (m_pHagakiManage != nullptr)
            LoadHagakiInfo();

        // The viewer's window makes the page image on its workers; what can be
        // known at once (no page, no source) is still InitDoc's result.
        return m_bDeferPageImage ? CheckPageSource() : CreateThumbFile();
    });
}

int COrmaViewDoc::ReadDocFile() {
    return OV_GUARDED([&]() -> int {
        const std::string strFilePath = ov::JoinPath(m_strDocFolder, "Doc.dat");
        const char* pszPath = strFilePath.c_str();
        std::vector<unsigned> aList;

        m_iPageTotal = static_cast<int>(GetPrivateProfileIntA(kDocInfo, "PageTotal", 0, pszPath));
        m_iIndexTotal = static_cast<int>(GetPrivateProfileIntA(kDocInfo, "IndexTotal", 0, pszPath));

        // Read with room to spare, so that a name longer than the 259 bytes kept can
        // be told from one that fits.
        std::vector<char> aName(4 * MAX_PATH, '\0');
        DWORD dwLen = GetPrivateProfileStringA(kDocInfo, "DocName", "", aName.data(),
                                               static_cast<DWORD>(aName.size()), pszPath);
        std::string strName(aName.data(), dwLen);
        if (strName.size() > kMaxDocNameBytes) {
            OV_TRACE("DocName is too long, cut to %d bytes [FilePath] %s\n",
                     static_cast<int>(kMaxDocNameBytes), pszPath);
            strName.resize(ov::Cp932CutLength(strName, kMaxDocNameBytes));
        }
        m_strDocName = strName;

        m_iMaxPageID = static_cast<int>(GetPrivateProfileIntA(kDocInfo, "MaxPageID", 0, pszPath));

        if (!ReadPageIDListFromDocInfo(strFilePath, aList)) {
            OV_TRACE("ReadPageIDListFromDocInfo() Error! [FilePath] %s\n", pszPath);
            ov::NoteMessageDetail(ov::DetailKind::File, strFilePath);
            // The positions of a page list read before belong to another document.
            m_cMapPageInfo.clear();
            InvalidatePageSteps();
            return ov::kErrNotFound;
        }

        // The list defines the positions 1..n exactly; entries of a longer list read
        // before would otherwise stay findable by page ID.
        m_cMapPageInfo.clear();
        InvalidatePageSteps();
        for (std::size_t i = 0; i < aList.size(); ++i) {
            CPageInfo cPageInfo;
            cPageInfo.m_iPageID = ToPageID(aList[i]);
            cPageInfo.m_iPageFlag = -1;
            m_cMapPageInfo[static_cast<int>(i) + 1] = cPageInfo;
        }

        const int iCount = static_cast<int>(aList.size());
        if (static_cast<long long>(m_iPageTotal) + m_iIndexTotal != iCount || m_iPageTotal < 0 ||
            m_iIndexTotal < 0) {
            RecountPageTotals(iCount);
        }
        return 0;
    });
}

BOOL COrmaViewDoc::ReadPageIDListFromDocInfo(std::string strFilePath, std::vector<unsigned>& aList) {
    std::string strList;
    if (!GetPrivateProfileLongString(kDocInfo, "PageIDList", "", &strList, strFilePath)) {
        OV_TRACE("GetPrivateProfileLongString() Error!\n");
        return FALSE;
    }
    aList.clear();
    if (!GetListIDFromString(strList.c_str(), &aList)) {
        OV_TRACE("GetListIDFromString() Error!\n");
        return FALSE;
    }
    return TRUE;
}

void COrmaViewDoc::RecountPageTotals(int iCount) {
    if (iCount < 0)
        iCount = 0;
    // Every position is valid for the flag lookup while counting.
    m_iPageTotal = iCount;
    m_iIndexTotal = 0;
    int iIndex = 0;
    for (int p = 1; p <= iCount; ++p) {
        if (GetPageFlag(p) == 2)
            ++iIndex;
    }
    m_iIndexTotal = iIndex;
    m_iPageTotal = iCount - iIndex;
}
