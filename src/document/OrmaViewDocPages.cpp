// SPDX-License-Identifier: AGPL-3.0-or-later
// The page list: positions and page IDs, page flags read once per position, the
// previous/next rules that pass over index sheets, page numbers and the title.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "OrmaViewDoc.cpp"

#include <algorithm>
#include <atomic>
#include <climits>
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

// The flag of a page from its data file "Data%d.dat" in the data folder: 0 when
// the file or the key is missing.
int ReadPageFlagFile(const std::string& strDataFolder, int iPageID) {
    char szName[32];
    std::snprintf(szName, sizeof(szName), "Data%d.dat", iPageID);
    const std::string strPath = ov::JoinPath(strDataFolder, szName);
    return static_cast<int>(GetPrivateProfileIntA("PageInfo", "Page1Flag", 0, strPath.c_str()));
}

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

            const int iFlag = ReadPageFlagFile(ov::JoinPath(m_strDocFolder, "Data"), it->second.m_iPageID);
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
// one pass per sheet. Gives what GetIndexSheetSide gives. Flags come from
// flags(p): the document's own, or a copy of the page list on a worker.
template <class Flags>
class CSideWalker {
public:
    explicit CSideWalker(Flags& flags) : m_flags(flags) {}

    int Side(int p) {
        const int r = Run(p);
        return r == 0 ? -1 : (r % 2 == 1 ? 1 : 0);
    }
    int Flag(int p) {
        const int f = m_flags(p);
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

    Flags& m_flags;
    int m_iLastPos = 0;
    int m_iLastRun = 0;
    bool m_bStable = true;
};

// The previous page from position c: its position, or 0 when there is none.
template <class Flags>
int WalkPrev(CSideWalker<Flags>& walker, int c) {
    if (c < 2)
        return 0;
    int p = c - 1;
    for (;;) {
        const int s = walker.Side(p);
        if (s == -1)
            return p;
        // A back side passes over its front too; a front side is one step.
        p -= (s == 0) ? 2 : 1;
        if (p < 1)
            return 0;
    }
}

// The next page from position c of t: its position, or 0 when there is none.
template <class Flags>
int WalkNext(CSideWalker<Flags>& walker, int c, long long t) {
    if (c >= t)
        return 0;
    int p = c + 1;
    for (;;) {
        const int s = walker.Side(p);
        if (s == -1)
            return p;
        // A front side passes over its back too. A front that ends a run of odd
        // length has no back: then only that one position is passed over, so that
        // the normal page after the run is not skipped.
        if (s == 1 && walker.Flag(p + 1) == kIndexPageFlag)
            p += 2;
        else
            p += 1;
        if (p > t)
            return 0;
    }
}

// The document's flags, with at most iMaxReads of them read from the files:
// past that the walk is stopped (every flag then reads as 0).
class CDocFlags {
public:
    CDocFlags(COrmaViewDoc& doc, int iMaxReads) : m_doc(doc), m_iMaxReads(iMaxReads) {}
    int operator()(int p) {
        if (m_bStopped)
            return 0;
        if (m_iMaxReads != INT_MAX) {
            const auto it = m_doc.m_cMapPageInfo.find(p);
            if (IsValidPos(m_doc, p) && it != m_doc.m_cMapPageInfo.end() && it->second.m_iPageID >= 1 &&
                it->second.m_iPageFlag < 0 && m_iReads++ >= m_iMaxReads) {
                m_bStopped = true;
                return 0;
            }
        }
        return m_doc.GetPageFlag(p);
    }
    bool Stopped() const { return m_bStopped; }

private:
    COrmaViewDoc& m_doc;
    const int m_iMaxReads;
    int m_iReads = 0;
    bool m_bStopped = false;
};

// The flags of a copied page list, read into the copy as GetPageFlag reads
// them into the document; stopped when cancelled.
class CCopyFlags {
public:
    CCopyFlags(CPageStepQuery& q, const std::atomic<bool>* pbCancel) : m_q(q), m_pbCancel(pbCancel) {}
    int operator()(int p) {
        if (m_bStopped || p < 1 || p > m_q.llTotal || p > static_cast<long long>(m_q.aPages.size()))
            return 0;
        CPageInfo& info = m_q.aPages[static_cast<std::size_t>(p) - 1];
        if (info.m_iPageID < 1)
            return 0;
        if (info.m_iPageFlag >= 0)
            return info.m_iPageFlag;
        if (m_pbCancel != nullptr && m_pbCancel->load(std::memory_order_relaxed)) {
            m_bStopped = true;
            return 0;
        }
        info.m_iPageFlag = ReadPageFlagFile(m_q.strDataFolder, info.m_iPageID);
        return info.m_iPageFlag;
    }
    bool Stopped() const { return m_bStopped; }

private:
    CPageStepQuery& m_q;
    const std::atomic<bool>* m_pbCancel;
    bool m_bStopped = false;
};

}  // namespace

void ReadPageStepFlags(CPageStepQuery& q, const std::atomic<bool>* pbCancel) {
    const int rc = OV_GUARDED([&]() -> int {
        CCopyFlags flags(q, pbCancel);
        CSideWalker<CCopyFlags> prev(flags);
        WalkPrev(prev, q.iPos);
        CSideWalker<CCopyFlags> next(flags);
        WalkNext(next, q.iPos, q.llTotal);
        return flags.Stopped() ? 1 : 0;
    });
    q.bComplete = rc == 0;
}

CPageStepQuery COrmaViewDoc::GetPageStepQuery() const {
    CPageStepQuery q;
    q.iPos = m_iCurPagePos;
    q.uListGen = m_uListGen;
    q.llTotal = PagePosCount(*this);
    q.strDataFolder = ov::JoinPath(m_strDocFolder, "Data");
    // Positions without an entry read as normal pages, in the copy as here.
    const long long llLast =
        m_cMapPageInfo.empty() ? 0 : std::min<long long>(q.llTotal, m_cMapPageInfo.rbegin()->first);
    if (llLast < 1)
        return q;
    q.aPages.resize(static_cast<std::size_t>(llLast));
    for (auto it = m_cMapPageInfo.lower_bound(1); it != m_cMapPageInfo.end() && it->first <= llLast; ++it)
        q.aPages[static_cast<std::size_t>(it->first) - 1] = it->second;
    return q;
}

void COrmaViewDoc::TakePageStepFlags(const CPageStepQuery& q) {
    if (q.uListGen != m_uListGen || q.llTotal != PagePosCount(*this))
        return;
    const long long llLast = static_cast<long long>(q.aPages.size());
    for (auto it = m_cMapPageInfo.lower_bound(1); it != m_cMapPageInfo.end() && it->first <= llLast; ++it) {
        const CPageInfo& read = q.aPages[static_cast<std::size_t>(it->first) - 1];
        // A flag read here meanwhile stays: each position's flag is read once.
        if (it->second.m_iPageFlag < 0 && read.m_iPageFlag >= 0 && read.m_iPageID == it->second.m_iPageID)
            it->second.m_iPageFlag = read.m_iPageFlag;
    }
}

void COrmaViewDoc::InvalidatePageSteps() {
    m_cSteps = CPageSteps();
    ++m_uListGen;
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

int COrmaViewDoc::StepPagePos(bool bNext, int bMove, int iMaxReads) {
    const int c = m_iCurPagePos;
    if (bNext ? c >= PagePosCount(*this) : c < 2)
        return 0;
    int p = 0;
    if (!CachedPageSteps(bNext ? nullptr : &p, bNext ? &p : nullptr)) {
        CDocFlags flags(*this, iMaxReads);
        CSideWalker<CDocFlags> walker(flags);
        p = bNext ? WalkNext(walker, c, PagePosCount(*this)) : WalkPrev(walker, c);
        if (flags.Stopped())
            return -1;
        if (walker.Stable())
            KeepPageStep(c, bNext ? &m_cSteps.iNext : &m_cSteps.iPrev, p);
    }
    if (p == 0)
        return 0;
    if (bMove)
        m_iCurPagePos = p;
    return p;
}

int COrmaViewDoc::GetPrevPagePos(int bMove) {
    return StepPagePos(false, bMove, INT_MAX);
}

int COrmaViewDoc::GetNextPagePos(int bMove) {
    return StepPagePos(true, bMove, INT_MAX);
}

int COrmaViewDoc::PeekPrevPagePos(int iMaxReads) {
    return StepPagePos(false, 0, iMaxReads);
}

int COrmaViewDoc::PeekNextPagePos(int iMaxReads) {
    return StepPagePos(true, 0, iMaxReads);
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
