// SPDX-License-Identifier: AGPL-3.0-or-later
// The one document of the viewer: the document folder and Doc.dat, the page list,
// the working folders and page images, and (postcard mode) the postcard records,
// PDF operations and the postcard manager. Strings are CP932 bytes.
#pragma once

#include <atomic>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "base/WinTypes.h"
#include "document/PageInfo.h"
#include "postcard/HagakiInfo.h"

class CHagakiManage;
class CPageBitmap;
struct CPageJob;

// The previous/next steps from one position worked out away from the document
// (on a worker): a copy of the page IDs and of the flags read so far, and the
// data folder. ReadPageStepFlags reads the flags the two steps need into the
// copy; COrmaViewDoc::TakePageStepFlags keeps them in the document.
struct CPageStepQuery {
    int iPos = 0;           // the current position the steps start from
    unsigned uListGen = 0;  // the page list the copy was taken from
    long long llTotal = 0;  // the number of positions
    std::string strDataFolder;
    std::vector<CPageInfo> aPages;  // positions 1..n
    bool bComplete = false;         // every flag the steps need was read
};

// Reads, from the data files, the flags that the previous and the next step
// from q.iPos need and are not in the copy yet; stops early (bComplete false)
// once *pbCancel is set. Touches nothing but q: safe on any thread.
void ReadPageStepFlags(CPageStepQuery& q, const std::atomic<bool>* pbCancel);

class COrmaViewDoc {
public:
    COrmaViewDoc() = default;
    COrmaViewDoc(const COrmaViewDoc&) = delete;
    COrmaViewDoc& operator=(const COrmaViewDoc&) = delete;
    virtual ~COrmaViewDoc();

    // --- Document folder and Doc.dat (OrmaViewDoc.cpp) ---
    int InitDoc(std::string strWorkDeskFolder, int iDocID, int iPageID);
    int ReadDocFile();
    BOOL ReadPageIDListFromDocInfo(std::string strFilePath, std::vector<unsigned>& aList);
    void RecountPageTotals(int iCount);

    // --- Page list (OrmaViewDocPages.cpp) ---
    int GetPageID(int iPagePos);
    int LookupPageID(int iPagePos);
    int ConvertPageIDToPagePos(int iPageID);
    int GetPageFlag(int iPagePos);
    int GetIndexSheetSide(int iPagePos);
    int GetPrevPagePos(int bMove);
    int GetNextPagePos(int bMove);
    int GetDisplayPageNo(int iPagePos);
    // The answers of GetPrevPagePos(0) / GetNextPagePos(0), or -1 when finding
    // them would read more than iMaxReads flags from the data files (the flags
    // read stay read). Never moves.
    int PeekPrevPagePos(int iMaxReads);
    int PeekNextPagePos(int iMaxReads);
    // A copy of the page list for ReadPageStepFlags, from the current position.
    CPageStepQuery GetPageStepQuery() const;
    // Keeps the flags that q read for the positions still unread, when q was
    // taken from this same page list.
    void TakePageStepFlags(const CPageStepQuery& q);
    // Changes whenever the page list is read again.
    unsigned GetPageListGeneration() const { return m_uListGen; }
    // Forgets the remembered previous/next answers; called whenever the page list
    // is read again.
    void InvalidatePageSteps();
    // The first and the last position that the steps reach: the steps never pass
    // over a page that is not an index sheet, so these are the first and last
    // such pages. 0 when every page is an index sheet.
    int GetFirstPagePos();
    int GetLastPagePos();
    // The position of page number iPageNo (1..m_iPageTotal, index sheets not
    // counted, as GetDisplayPageNo numbers them); 0 when there is none.
    int ConvertPageNoToPagePos(int iPageNo);
    std::string GetFrameTitle();
    // Totals kept from a Doc.dat whose list failed may be anything: no overflow.
    int GetPagePosTotal() const {
        const long long llTotal = static_cast<long long>(m_iPageTotal) + m_iIndexTotal;
        return llTotal > INT_MAX ? INT_MAX : llTotal < INT_MIN ? INT_MIN : static_cast<int>(llTotal);
    }

    // --- Working folders and page images (OrmaViewDocImage.cpp) ---
    std::string GetDataPdfPath(int iPagePos);
    std::string GetDataDatPath(int iPagePos);
    // The folder of document iDocID in a work desk, and a page's PDF (or its
    // record, ".dat") in a document's folder.
    static std::string DocFolderPath(const std::string& strWorkDeskFolder, int iDocID);
    static std::string DataFilePath(const std::string& strDocFolder, int iPageID, const char* pszExtension);
    std::string GetThumbFilePath(int iPagePos);
    int CreateThumbFile();
    // What CreateThumbFile would find before rendering: 0 when the page image is
    // there or its source is, else ov::kErrNotFound.
    int CheckPageSource();
    // InitDoc leaves the page image to be made later (by the page view's workers).
    BOOL m_bDeferPageImage = FALSE;
    int GetThumbnail(void* pDC, int iWidth, int iHeight, CPageBitmap* pBitmap);
    int CreateEditInfoPdf(std::string* pstrPath, int* pbCreated);
    // The inputs for making the page image of iPagePos as a bitmap of
    // iWidth x iHeight away from the document (see PageJob.h). 0 or ov::kErrNotFound.
    // Another position than the current one only in document mode.
    int GetPageJob(int iPagePos, int iWidth, int iHeight, CPageJob* pJob);
    // A page image was made or used away from the document: counted into the
    // bound of this run's page images like one made here.
    void NotePageImageMade(const std::string& strThumb);
    // Names the page file and the image library's reason (UTF-8) of a page that
    // failed away from the document in the next error box.
    void NotePageFailure(int iPagePos, int iResult, const std::string& strReasonUtf8);
    // The page images of this run are kept within m_nThumbCacheBytes: after a new
    // one is made the least recently used others are removed (made again when
    // their page is shown again). The current page's image always stays.
    static constexpr unsigned long long kThumbCacheBytes = 256ull * 1024 * 1024;
    unsigned long long m_nThumbCacheBytes = kThumbCacheBytes;

    // --- Postcard records (postcard/OrmaViewDocHagaki.cpp) ---
    int LoadHagakiInfo();
    int SaveHagakiInfo();
    int GetHagakiInfo(CHagakiInfo& cInfo, int iSelect);
    int SetHagakiInfo(const CHagakiInfo& cInfo);
    int ReadUndoDataFile();

    // --- Postcard PDF operations (postcard/OrmaViewDocHagakiPdf.cpp) ---
    int GetHagakiFilePaths(char* pszFrontSrc, char* pszBackSrc, char* pszViewSrc, char* pszFrontDst,
                           char* pszBackDst, char* pszViewDst);
    int RotateHagakiPdf(int bFront);
    int RotatePdf(const char* pszSource, const char* pszDestination);
    int UpSideDownHagakiPdf();
    int MergeTwoPageCurrentPape();
    std::string GetViewPdfPath(int* piPageNumber);
    int DeleteThumbFileCurrent();

    // --- Postcard manager (postcard/OrmaViewDocManage.cpp) ---
    int InitHagakiManage(HWND hOwner, int iKey);
    void ReleaseHagakiManage();
    int InitDocFromHagakiManage();

    // Postcard manager present and in mode 1.
    BOOL IsUndoFolderMode() const;

    int m_bShowEditInfo = 1;
    CHagakiManage* m_pHagakiManage = nullptr;
    CHagakiInfo m_cHagakiInfoOrg;
    CHagakiInfo m_cHagakiInfo;
    int m_iHagakiChange = 0;
    std::string m_strTempFolder;
    std::map<int, CPageInfo> m_cMapPageInfo;
    int m_iDocID = 0;
    std::string m_strDocFolder;
    std::string m_strDocName;
    int m_iPageTotal = 0;
    int m_iIndexTotal = 0;
    int m_iCurPagePos = 0;
    int m_iMaxPageID = 0;
    std::string m_strEditInfoOnFolder;
    std::string m_strEditInfoOffFolder;

private:
    // The previous/next answers for one current position, kept so that asking
    // again (the command state after every command) does not cross the index
    // sheets again. Only answers that no unread or negative flag went into.
    struct CPageSteps {
        int iPos = 0;
        long long llTotal = -1;
        std::size_t nEntries = 0;
        int iPrev = -1;
        int iNext = -1;
    };
    bool CachedPageSteps(int* piPrev, int* piNext) const;
    void KeepPageStep(int iPos, int* piSlot, int iValue);
    // A step from the current position reading at most iMaxReads flags from the
    // files: the position, 0 when there is none, -1 over the budget.
    int StepPagePos(bool bNext, int bMove, int iMaxReads);
    CPageSteps m_cSteps;
    unsigned m_uListGen = 0;

    struct ThumbUse {
        std::string strPath;
        unsigned long long nBytes = 0;
    };
    void NoteThumbUsed(const std::string& strThumb);
    void TrimThumbCache(const std::string& strKeep);
    std::vector<ThumbUse> m_aThumbUse;  // least recently used first
};
