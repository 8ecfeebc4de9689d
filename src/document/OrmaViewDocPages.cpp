// SPDX-License-Identifier: AGPL-3.0-or-later
// The page list: positions and page IDs, page flags read once per position, the
// previous/next rules that pass over index sheets, page numbers and the title.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "OrmaViewDoc.cpp"

#include <cstdio>
#include <string>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "ormamsg/StringTable.h"
#include "postcard/HagakiManage.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {

constexpr int kIndexPageFlag = 2;

// The number of page positions, without overflow for any totals read.
long long PagePosCount(const COrmaViewDoc& doc) {
    return static_cast<long long>(doc.m_iPageTotal) + doc.m_iIndexTotal;
}

bool IsValidPos(const COrmaViewDoc& doc, int iPagePos) {
    return iPagePos >= 1 && iPagePos <= PagePosCount(doc);
}

// Formats a title from a string resource: "%s" takes the name, each "%d" the next
// number, "%%" gives "%"; anything else is copied as it stands, so that a resource
// text can never read arguments that are not there.
std::string FormatTitle(const std::string& strFormat, const std::string& strName, const int* aNumbers,
                        int iNumbers) {
    std::string strOut;
    int iNext = 0;
    for (std::size_t i = 0; i < strFormat.size(); ++i) {
        char c = strFormat[i];
        if (c == '%' && i + 1 < strFormat.size()) {
            char d = strFormat[i + 1];
            if (d == 's') {
                strOut += strName;
                ++i;
                continue;
            }
            if (d == 'd' && iNext < iNumbers) {
                strOut += std::to_string(aNumbers[iNext++]);
                ++i;
                continue;
            }
            if (d == '%') {
                strOut += '%';
                ++i;
                continue;
            }
        }
        strOut += c;
    }
    return strOut;
}

}  // namespace

int COrmaViewDoc::GetPageID(int iPagePos) {
    if (!IsValidPos(*this, iPagePos))
        return -1;
    auto it = m_cMapPageInfo.find(iPagePos);
    if (it == m_cMapPageInfo.end())
        return -1;
    if (it->second.m_iPageID < 1)
        return -1;
    return it->second.m_iPageID;
}

int COrmaViewDoc::LookupPageID(int iPagePos) {
    if (!IsValidPos(*this, iPagePos)) {
        OV_TRACE("Parameter Error!\n");
        return 0;
    }
    auto it = m_cMapPageInfo.find(iPagePos);
    if (it == m_cMapPageInfo.end()) {
        OV_TRACE("CMap::Lookup() Error!\n");
        return 0;
    }
    if (it->second.m_iPageID < 1) {
        OV_TRACE("cPageInfo.m_iPageID < 1\n");
        return 0;
    }
    return it->second.m_iPageID;
}

int COrmaViewDoc::ConvertPageIDToPagePos(int iPageID) {
    // Walk in position order: with a repeated ID the first position holding it wins.
    // Only valid positions count, so that no entry outside the list is ever current.
    for (const auto& [iPos, cPageInfo] : m_cMapPageInfo) {
        if (cPageInfo.m_iPageID == iPageID && IsValidPos(*this, iPos))
            return iPos;
    }
    return 0;
}

int COrmaViewDoc::GetPageFlag(int iPagePos) {
    return OV_GUARDED(
        [&]() -> int {
            if (!IsValidPos(*this, iPagePos))
                return 0;
            auto it = m_cMapPageInfo.find(iPagePos);
            if (it == m_cMapPageInfo.end() || it->second.m_iPageID < 1)
                return 0;
            if (it->second.m_iPageFlag >= 0)
                return it->second.m_iPageFlag;

            char szName[32];
            std::snprintf(szName, sizeof(szName), "Data%d.dat", it->second.m_iPageID);
            const std::string strPath = ov::JoinPath(ov::JoinPath(m_strDocFolder, "Data"), szName);
            const int iFlag =
                static_cast<int>(GetPrivateProfileIntA("PageInfo", "Page1Flag", 0, strPath.c_str()));

            CPageInfo cPageInfo;
            cPageInfo.m_iPageID = it->second.m_iPageID;
            cPageInfo.m_iPageFlag = iFlag;
            it->second = cPageInfo;
            return iFlag;
        },
        ov::GuardCodes{0, 0, 0});
}

int COrmaViewDoc::GetIndexSheetSide(int iPagePos) {
    if (GetPageFlag(iPagePos) != kIndexPageFlag)
        return -1;
    int r = 0;
    for (int q = iPagePos; q >= 1 && GetPageFlag(q) == kIndexPageFlag; --q) ++r;
    return (r % 2 == 1) ? 1 : 0;
}

namespace {

// The index-sheet sides of positions met one after another while stepping: the
// run length below a position is counted once and then carried from position to
// position, so that crossing a run of index sheets costs one pass over it, not
// one pass per sheet. Gives what GetIndexSheetSide gives.
class CSideWalker {
public:
    explicit CSideWalker(COrmaViewDoc& doc) : m_doc(doc) {}

    int Side(int p) {
        const int r = Run(p);
        return r == 0 ? -1 : (r % 2 == 1 ? 1 : 0);
    }
    int Flag(int p) {
        const int f = m_doc.GetPageFlag(p);
        if (f < 0)
            m_bStable = false;  // read again on every call: the answer may change
        return f;
    }
    bool Stable() const { return m_bStable; }

private:
    // The number of index pages p, p - 1, ... down to the first that is not one.
    int Run(int p) {
        if (Flag(p) != kIndexPageFlag)
            return 0;
        int r = 0;
        if (m_iLastRun > 0 && p == m_iLastPos + 1) {
            r = m_iLastRun + 1;
        } else if (m_iLastRun > 0 && p == m_iLastPos + 2) {
            r = Flag(p - 1) == kIndexPageFlag ? m_iLastRun + 2 : 1;
        } else if (m_iLastRun > 0 && p < m_iLastPos && m_iLastPos - p < m_iLastRun) {
            r = m_iLastRun - (m_iLastPos - p);
        } else {
            for (int q = p; q >= 1 && Flag(q) == kIndexPageFlag; --q) ++r;
        }
        m_iLastPos = p;
        m_iLastRun = r;
        return r;
    }

    COrmaViewDoc& m_doc;
    int m_iLastPos = 0;
    int m_iLastRun = 0;
    bool m_bStable = true;
};

}  // namespace

void COrmaViewDoc::InvalidatePageSteps() {
    m_cSteps = CPageSteps();
}

bool COrmaViewDoc::CachedPageSteps(int* piPrev, int* piNext) const {
    if (m_cSteps.iPos == 0 || m_cSteps.iPos != m_iCurPagePos || m_cSteps.llTotal != PagePosCount(*this) ||
        m_cSteps.nEntries != m_cMapPageInfo.size())
        return false;
    if (piPrev != nullptr) {
        if (m_cSteps.iPrev < 0)
            return false;
        *piPrev = m_cSteps.iPrev;
    }
    if (piNext != nullptr) {
        if (m_cSteps.iNext < 0)
            return false;
        *piNext = m_cSteps.iNext;
    }
    return true;
}

void COrmaViewDoc::KeepPageStep(int c, int* piSlot, int iValue) {
    if (m_cSteps.iPos != c || m_cSteps.llTotal != PagePosCount(*this) ||
        m_cSteps.nEntries != m_cMapPageInfo.size()) {
        m_cSteps = CPageSteps();
        m_cSteps.iPos = c;
        m_cSteps.llTotal = PagePosCount(*this);
        m_cSteps.nEntries = m_cMapPageInfo.size();
    }
    *piSlot = iValue;
}

int COrmaViewDoc::GetPrevPagePos(int bMove) {
    const int c = m_iCurPagePos;
    if (c < 2)
        return 0;
    int p = 0;
    if (!CachedPageSteps(&p, nullptr)) {
        CSideWalker walker(*this);
        p = c - 1;
        for (;;) {
            const int s = walker.Side(p);
            if (s == -1)
                break;
            // A back side passes over its front too; a front side is one step.
            p -= (s == 0) ? 2 : 1;
            if (p < 1) {
                p = 0;
                break;
            }
        }
        if (walker.Stable())
            KeepPageStep(c, &m_cSteps.iPrev, p);
    }
    if (p == 0)
        return 0;
    if (bMove)
        m_iCurPagePos = p;
    return p;
}

int COrmaViewDoc::GetNextPagePos(int bMove) {
    const long long t = PagePosCount(*this);
    const int c = m_iCurPagePos;
    if (c >= t)
        return 0;
    int p = 0;
    if (!CachedPageSteps(nullptr, &p)) {
        CSideWalker walker(*this);
        p = c + 1;
        for (;;) {
            const int s = walker.Side(p);
            if (s == -1)
                break;
            // A front side passes over its back too. A front that ends a run of odd
            // length has no back: then only that one position is passed over, so that
            // the normal page after the run is not skipped.
            if (s == 1 && walker.Flag(p + 1) == kIndexPageFlag)
                p += 2;
            else
                p += 1;
            if (p > t) {
                p = 0;
                break;
            }
        }
        if (walker.Stable())
            KeepPageStep(c, &m_cSteps.iNext, p);
    }
    if (p == 0)
        return 0;
    if (bMove)
        m_iCurPagePos = p;
    return p;
}

int COrmaViewDoc::GetDisplayPageNo(int iPagePos) {
    if (iPagePos < 1)
        return 1;
    if (GetPageFlag(iPagePos) == kIndexPageFlag)
        return 0;
    const long long t = PagePosCount(*this);
    if (t < 1)
        return 1;
    int n = iPagePos;
    for (int i = 1;; ++i) {
        if (i > t)
            return 1;
        if (GetPageFlag(i) == kIndexPageFlag)
            --n;
        if (i == iPagePos)
            break;
    }
    return n < 1 ? 1 : n;
}

int COrmaViewDoc::GetFirstPagePos() {
    const long long t = PagePosCount(*this);
    for (long long p = 1; p <= t; ++p) {
        if (GetPageFlag(static_cast<int>(p)) != kIndexPageFlag)
            return static_cast<int>(p);
    }
    return 0;
}

int COrmaViewDoc::GetLastPagePos() {
    for (long long p = PagePosCount(*this); p >= 1; --p) {
        if (GetPageFlag(static_cast<int>(p)) != kIndexPageFlag)
            return static_cast<int>(p);
    }
    return 0;
}

int COrmaViewDoc::ConvertPageNoToPagePos(int iPageNo) {
    if (iPageNo < 1 || iPageNo > m_iPageTotal)
        return 0;
    const long long t = PagePosCount(*this);
    int n = 0;
    for (long long p = 1; p <= t; ++p) {
        if (GetPageFlag(static_cast<int>(p)) != kIndexPageFlag && ++n == iPageNo)
            return static_cast<int>(p);
    }
    return 0;
}

std::string COrmaViewDoc::GetFrameTitle() {
    const int n = GetDisplayPageNo(m_iCurPagePos);
    const int aNumbers[2] = {n, m_iPageTotal};
    if (m_pHagakiManage == nullptr) {
        if (n >= 1)
            return FormatTitle(LoadResString(IDS_TITLE_FORMAT), m_strDocName, aNumbers, 2);
        return LoadResString(IDS_APP_TITLE);
    }
    if (IsUndoFolderMode())
        return FormatTitle(LoadResString(IDS_POSTCARD_TITLE_NAME), m_strDocName, aNumbers, 0);
    if (n >= 1)
        return FormatTitle(LoadResString(IDS_POSTCARD_TITLE_FORMAT), m_strDocName, aNumbers, 2);
    return LoadResString(IDS_POSTCARD_TITLE);
}
