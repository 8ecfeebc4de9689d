// SPDX-License-Identifier: AGPL-3.0-or-later
// Working folders and page images: the path builders, the page-image cache (one
// render per page and annotation state) and the one-page PDF with edit information.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "OrmaViewDoc.cpp"

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/FirstPageDraw.h"
#include "document/OrmaViewDoc.h"
#include "document/PageJob.h"
#include "image/MuPdf.h"
#include "image/OrmaCnv.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "image/ThmFile.h"
#include "ormacomm/OrmaComm.h"
#include "ormamsg/OrmaMsg.h"
#include "win32/CodePage.h"
#include "win32/FileApi.h"
#include "win32/ShellPath.h"

namespace {

std::string FormatName(const char* pszFormat, int iPageID) {
    char szName[48];
    std::snprintf(szName, sizeof(szName), pszFormat, iPageID);
    return szName;
}

// Source PDF, page inside it and edit-information file of the current page.
// 0, or ov::kErrNotFound when the page has no valid ID or its source PDF is missing.
// bNote: a missing source is named in the next error box (not for pages only
// asked for ahead).
int GetPageSource(COrmaViewDoc& doc, std::string* pstrSource, int* piPage, std::string* pstrEditInfo,
                  int iPagePos = -1, bool bNote = true) {
    if (iPagePos < 0)
        iPagePos = doc.m_iCurPagePos;
    if (!doc.IsUndoFolderMode()) {
        *pstrSource = doc.GetDataPdfPath(iPagePos);
        *pstrEditInfo = doc.GetDataDatPath(iPagePos);
        *piPage = 1;
        if (pstrSource->empty() || !PathFileExistsA(pstrSource->c_str())) {
            if (bNote)
                ov::NoteMessageDetail(ov::DetailKind::File, *pstrSource);
            return ov::kErrNotFound;
        }
        if (pstrEditInfo->empty())
            return ov::kErrNotFound;
        return 0;
    }
    if (iPagePos != doc.m_iCurPagePos)
        return ov::kErrNotFound;
    *pstrEditInfo = ov::JoinPath(doc.m_strDocFolder, "UndoData.ini");
    char szViewSrc[MAX_PATH] = {};
    char szViewDst[MAX_PATH] = {};
    doc.GetHagakiFilePaths(nullptr, nullptr, szViewSrc, nullptr, nullptr, szViewDst);
    *pstrSource = doc.m_cHagakiInfo.m_bMerged ? szViewDst : szViewSrc;
    *piPage = doc.m_cHagakiInfo.m_iFilePageNumber;
    if (!PathFileExistsA(pstrSource->c_str())) {
        if (bNote)
            ov::NoteMessageDetail(ov::DetailKind::File, *pstrSource);
        return ov::kErrNotFound;
    }
    return 0;
}

// What the box about a failed page image names: the page file and the image
// library's own reason.
void NoteImageFailure(const std::string& strSource, int iResult,
                      const std::string& strReasonUtf8 = ov::image::LastErrorReason()) {
    ov::NoteMessageDetail(ov::DetailKind::File, strSource);
    const std::string strReason = ov::Utf8ToCp932(strReasonUtf8).value_or(std::string());
    if (strReason.empty())
        return;
    if (iResult == ov::image::kErrNotPdf)
        ov::NoteMessageDetail(ov::DetailKind::DamagedPageFile, strReason);
    else
        ov::NoteMessageDetail(strReason);
}

// Deletes a file when it goes out of scope (the page cut out of a larger source).
class CFileRemover {
public:
    explicit CFileRemover(std::string strPath) : m_strPath(std::move(strPath)) {}
    ~CFileRemover() {
        if (!m_strPath.empty())
            DeleteFileA(m_strPath.c_str());
    }
    CFileRemover(const CFileRemover&) = delete;
    CFileRemover& operator=(const CFileRemover&) = delete;

private:
    std::string m_strPath;
};

std::mutex g_hookMutex;
std::function<void(const CPageJob&, PageJobStep)> g_hook;

void CallTestHook(const CPageJob& job, PageJobStep step) {
    std::function<void(const CPageJob&, PageJobStep)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook)
        hook(job, step);
}

ov::image::PageStoreKey StoreKey(const CPageJob& job) {
    ov::image::PageStoreKey key;
    key.source = ov::ToFsPath(job.strSource);
    key.page = job.iPage;
    key.drawEditInfo = job.bShowEditInfo;
    key.editInfo = ov::ToFsPath(job.strEditInfo);
    return key;
}

// Whether the source or annotation file is no longer the one whose identities
// key holds.
bool SourceChanged(const ov::image::PageStoreKey& key) {
    ov::image::PageStoreKey now = key;
    return !ov::image::TakeIdentities(&now) || !(now.sourceStamp == key.sourceStamp) ||
           !(now.editInfoStamp == key.editInfoStamp);
}

// A page job's bitmap, handed out as soon as MuPDF has drawn the page.
struct EarlyBitmap {
    CPageBitmap* pBitmap = nullptr;
    const std::function<void()>* pOnDrawn = nullptr;
    bool bDelivered = false;
};

// Makes the job's page-image file from the source as it is: its identities are
// taken first and read again once the image is written; the image is stored
// (under the identities taken first) and put in place only when they are
// unchanged and the job is still wanted. With early, the bitmap is made from the
// drawn pixels and handed out before the encoding, once the identities have been
// read again. 0, -811 when cancelled, -812 when the source changed, or the error
// code; neither -811 nor -812 leaves a file.
int MakeJobThumb(const CPageJob& job, const ov::image::CPageStore* store, ov::image::RenderCancel* cancel,
                 EarlyBitmap* early = nullptr) {
    if (!PathFileExistsA(job.strSource.c_str()))
        return ov::kErrNotFound;
    ov::image::PageStoreKey key = StoreKey(job);
    if (!ov::image::TakeIdentities(&key))
        return ov::kErrNotFound;
    CallTestHook(job, PageJobStep::IdentityTaken);
    // The last word before the written image is stored and put in place.
    auto beforePlace = [&](const std::string& fsTemp) -> int {
        CallTestHook(job, PageJobStep::Rendered);
        if (cancel != nullptr && cancel->IsCancelled())
            return ov::image::kErrCancelled;
        if (SourceChanged(key))
            return ov::image::kErrSourceChanged;
        if (store != nullptr)
            store->Store(key, fsTemp);
        return 0;
    };
    // The bitmap for the view is scaled from the rows as they are drawn, or
    // drawn first for the page waited for on screen.
    std::optional<ov::image::FittedBitmap> fitted;
    if (early != nullptr)
        fitted.emplace(job.iWidth, job.iHeight, early->pBitmap, job.bViewFirst != 0);
    // The pixels as drawn: shown at once when the source is still the one taken.
    auto onDrawn = [&](const ov::image::ThmImage& image) -> int {
        CallTestHook(job, PageJobStep::Drawn);
        if (early == nullptr)
            return 0;
        if (cancel != nullptr && cancel->IsCancelled())
            return ov::image::kErrCancelled;
        if (SourceChanged(key))
            return ov::image::kErrSourceChanged;
        if (!fitted->Whole(image)) {
            const int rb = ov::image::BitmapOfThm(image, job.iWidth, job.iHeight, early->pBitmap);
            if (rb != 0)
                return rb;
        }
        early->bDelivered = true;
        (*early->pOnDrawn)();
        return 0;
    };
    int r = 0;
    ov::image::ClearLastErrorReason();
    // The start's first page may have been drawn already, from these very files.
    ov::image::ThmImage drawn;
    CFirstPageDraw::Take(key, &drawn, cancel);
    {
        ov::image::ScopedRenderCancel scope(cancel);
        r = ov::image::CreateThumbFileChecked(job.strSource.c_str(), job.iPage, job.strThumb.c_str(), 1000,
                                              1000, job.bShowEditInfo, job.strEditInfo.c_str(), beforePlace,
                                              onDrawn, &drawn, fitted ? &*fitted : nullptr);
    }
    if (r == ov::image::kErrCancelled)
        return r;
    if (r == ov::image::kErrSourceChanged) {
        OV_TRACE("Page source changed while its image was made! [Path] %s\n", job.strSource.c_str());
        return r;
    }
    if (r != 0) {
        OV_TRACE("WorkDesk_CreateThumbFile() Error! [Return] %d\n", r);
        return r;
    }
    return 0;
}

// The bitmap straight from the page store's entry (read and checked whole);
// false when there is none or it failed its check (then dropped). The start's
// first page, drawn ahead from these very files already, is the same picture in
// memory and is taken instead: the entry would be read from the disk.
bool BitmapFromStore(const CPageJob& job, const ov::image::CPageStore* store, CPageBitmap* pBitmap) {
    if (store == nullptr || !store->IsOn())
        return false;
    ov::image::PageStoreKey key = StoreKey(job);
    ov::image::ThmImage image;
    return ov::image::TakeIdentities(&key) &&
           (CFirstPageDraw::TakeIfDrawn(key, &image) || store->Load(key, &image) == 0) &&
           ov::image::BitmapOfThm(image, job.iWidth, job.iHeight, pBitmap) == 0;
}

// The one way from a page to its bitmap (the document's page drawing and the
// page jobs alike): this run's page image, else the store's entry, else
// makeThumb(store) makes the page image. A page image that failed its check or
// was dropped from this run's folder meanwhile is made again once (makeThumb
// with no store); a second failure is the page's error. When makeThumb handed
// out the bitmap early (early set), its result is the job's.
int JobBitmap(const CPageJob& job, const ov::image::CPageStore* store, ov::image::RenderCancel* cancel,
              CPageBitmap* pBitmap, const std::function<int(const ov::image::CPageStore*)>& makeThumb,
              const EarlyBitmap* early = nullptr) {
    const auto delivered = [early] { return early != nullptr && early->bDelivered; };
    if (!PathFileExistsA(job.strThumb.c_str())) {
        if (BitmapFromStore(job, store, pBitmap))
            return 0;
        const int r = makeThumb(store);
        if (r < 0 || delivered())
            return r;
    }
    if (cancel != nullptr && cancel->IsCancelled())
        return ov::image::kErrCancelled;
    int r = WorkDesk_GetThumbnail(nullptr, job.strThumb.c_str(), job.iWidth, job.iHeight, pBitmap);
    if (r == ov::image::kErrThmFormat || r == ov::image::kErrNoFile) {
        if (r == ov::image::kErrThmFormat)
            OV_TRACE("WorkDesk_GetThumbnail() Error! [Return] %d (page image made again)\n", r);
        DeleteFileA(job.strThumb.c_str());
        r = makeThumb(nullptr);
        if (r < 0 || delivered())
            return r;
        r = WorkDesk_GetThumbnail(nullptr, job.strThumb.c_str(), job.iWidth, job.iHeight, pBitmap);
    }
    if (r != 0)
        OV_TRACE("WorkDesk_GetThumbnail() Error! [Return] %d\n", r);
    return r;
}

}  // namespace

void SetPageJobTestHook(std::function<void(const CPageJob&, PageJobStep)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

std::string COrmaViewDoc::DocFolderPath(const std::string& strWorkDeskFolder, int iDocID) {
    return ov::JoinPath(strWorkDeskFolder, FormatName("Doc%06d", iDocID));
}

std::string COrmaViewDoc::DataFilePath(const std::string& strDocFolder, int iPageID,
                                       const char* pszExtension) {
    return ov::JoinPath(ov::JoinPath(strDocFolder, "Data"), FormatName("Data%d.", iPageID) + pszExtension);
}

std::string COrmaViewDoc::GetDataPdfPath(int iPagePos) {
    const int iPageID = LookupPageID(iPagePos);
    return iPageID == 0 ? std::string() : DataFilePath(m_strDocFolder, iPageID, "pdf");
}

std::string COrmaViewDoc::GetDataDatPath(int iPagePos) {
    const int iPageID = LookupPageID(iPagePos);
    return iPageID == 0 ? std::string() : DataFilePath(m_strDocFolder, iPageID, "dat");
}

std::string COrmaViewDoc::GetThumbFilePath(int iPagePos) {
    const int iPageID = LookupPageID(iPagePos);
    if (iPageID == 0)
        return std::string();
    const std::string& strCacheFolder = m_bShowEditInfo ? m_strEditInfoOnFolder : m_strEditInfoOffFolder;
    // No working folder yet: never fall back to a path relative to the current folder.
    if (strCacheFolder.empty())
        return std::string();
    return ov::JoinPath(strCacheFolder, FormatName("OrmaView%d.thm", iPageID));
}

int COrmaViewDoc::CreateThumbFile() {
    return OV_GUARDED([&]() -> int {
        CPageJob job;
        int r = GetPageJob(m_iCurPagePos, 1, 1, &job);
        if (r != 0)
            return r;
        if (PathFileExistsA(job.strThumb.c_str())) {
            NoteThumbUsed(job.strThumb);
            return 0;
        }
        r = MakeJobThumb(job, nullptr, nullptr);
        if (r == ov::image::kErrSourceChanged)  // made again from the source as it is now
            r = MakeJobThumb(job, nullptr, nullptr);
        if (r == ov::kErrNotFound) {
            ov::NoteMessageDetail(ov::DetailKind::File, job.strSource);
            return r;
        }
        if (r != 0) {
            NoteImageFailure(job.strSource, r);
            return r;
        }
        NoteThumbUsed(job.strThumb);
        TrimThumbCache(job.strThumb);
        return 0;
    });
}

int COrmaViewDoc::CheckPageSource() {
    return OV_GUARDED([&]() -> int {
        const std::string strThumb = GetThumbFilePath(m_iCurPagePos);
        if (strThumb.empty())
            return ov::kErrNotFound;
        if (PathFileExistsA(strThumb.c_str()))
            return 0;
        std::string strSource;
        std::string strEditInfo;
        int iPage = 1;
        return GetPageSource(*this, &strSource, &iPage, &strEditInfo);
    });
}

void COrmaViewDoc::NoteThumbUsed(const std::string& strThumb) {
    ThumbUse use;
    for (auto it = m_aThumbUse.begin(); it != m_aThumbUse.end(); ++it) {
        if (it->strPath == strThumb) {
            use = std::move(*it);
            m_aThumbUse.erase(it);
            break;
        }
    }
    use.strPath = strThumb;
    struct stat st {};
    const std::string strFs = ov::ToFsPath(strThumb);
    use.nBytes =
        !strFs.empty() && ::stat(strFs.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
    m_aThumbUse.push_back(std::move(use));
}

void COrmaViewDoc::TrimThumbCache(const std::string& strKeep) {
    unsigned long long nTotal = 0;
    for (const ThumbUse& use : m_aThumbUse) nTotal += use.nBytes;
    auto it = m_aThumbUse.begin();
    while (nTotal > m_nThumbCacheBytes && it != m_aThumbUse.end()) {
        if (it->strPath == strKeep) {
            ++it;
            continue;
        }
        DeleteFileA(it->strPath.c_str());
        nTotal -= it->nBytes;
        it = m_aThumbUse.erase(it);
    }
}

int COrmaViewDoc::GetThumbnail(void* /*pDC*/, int iWidth, int iHeight, CPageBitmap* pBitmap) {
    return OV_GUARDED([&]() -> int {
        CPageJob job;
        int r = GetPageJob(m_iCurPagePos, 1, 1, &job);
        if (r != 0)
            return r;
        job.iWidth = iWidth;
        job.iHeight = iHeight;
        r = JobBitmap(job, nullptr, nullptr, pBitmap,
                      [this](const ov::image::CPageStore*) { return CreateThumbFile(); });
        NoteThumbUsed(job.strThumb);
        return r;
    });
}

int COrmaViewDoc::GetPageJob(int iPagePos, int iWidth, int iHeight, CPageJob* pJob) {
    return OV_GUARDED([&]() -> int {
        if (pJob == nullptr || iWidth < 1 || iHeight < 1)
            return ov::kErrBadParameter;
        CPageJob job;
        job.iPagePos = iPagePos;
        job.strThumb = GetThumbFilePath(iPagePos);
        if (job.strThumb.empty())
            return ov::kErrNotFound;
        // A missing source is the worker's finding (a page image made before may
        // still be there, as when the page is drawn here).
        const int r = GetPageSource(*this, &job.strSource, &job.iPage, &job.strEditInfo, iPagePos, false);
        if (r != 0 && (r != ov::kErrNotFound || job.strSource.empty()))
            return r;
        job.bShowEditInfo = m_bShowEditInfo ? 1 : 0;
        job.iWidth = iWidth;
        job.iHeight = iHeight;
        *pJob = std::move(job);
        return 0;
    });
}

void COrmaViewDoc::NotePageImageMade(const std::string& strThumb) {
    if (!PathFileExistsA(strThumb.c_str()))
        return;
    NoteThumbUsed(strThumb);
    TrimThumbCache(GetThumbFilePath(m_iCurPagePos));
}

namespace {

int MakePageJobBitmapGuarded(const CPageJob& job, const ov::image::CPageStore* store,
                             ov::image::RenderCancel* cancel, CPageBitmap* pBitmap,
                             const std::function<void()>& onDrawn) {
    return OV_GUARDED([&]() -> int {
        if (pBitmap == nullptr || job.strThumb.empty())
            return ov::kErrBadParameter;
        EarlyBitmap early;
        early.pBitmap = pBitmap;
        early.pOnDrawn = &onDrawn;
        EarlyBitmap* pEarly = onDrawn ? &early : nullptr;
        return JobBitmap(
            job, store, cancel, pBitmap,
            [&](const ov::image::CPageStore* pStore) { return MakeJobThumb(job, pStore, cancel, pEarly); },
            pEarly);
    });
}

}  // namespace

int MakePageJobBitmap(const CPageJob& job, const ov::image::CPageStore* store,
                      ov::image::RenderCancel* cancel, CPageBitmap* pBitmap, std::string* pstrReason,
                      const std::function<void()>& onDrawn) {
    const int iResult = MakePageJobBitmapGuarded(job, store, cancel, pBitmap, onDrawn);
    // The bitmap is what the job was for: the page image it read or made is not
    // kept on the worker, where no later draw of the page would find it, and
    // neither are the decoded images of its one-page PDF, which no other page
    // shares.
    ov::image::ReleaseThmCache();
    ov::image::EmptyCaches();
    if (pstrReason != nullptr)
        *pstrReason = iResult != 0 ? ov::image::LastErrorReason() : std::string();
    return iResult;
}

void COrmaViewDoc::NotePageFailure(int iPagePos, int iResult, const std::string& strReasonUtf8) {
    std::string strSource;
    std::string strEditInfo;
    int iPage = 1;
    GetPageSource(*this, &strSource, &iPage, &strEditInfo, iPagePos, false);
    if (iResult == ov::kErrNotFound) {
        ov::NoteMessageDetail(ov::DetailKind::File, strSource);
        return;
    }
    NoteImageFailure(strSource, iResult, strReasonUtf8);
}

int COrmaViewDoc::CreateEditInfoPdf(std::string* pstrPath, int* pbCreated) {
    return OV_GUARDED([&]() -> int {
        if (pstrPath == nullptr || pbCreated == nullptr) {
            OV_TRACE("Parameter Error!\n");
            return ov::kErrBadParameter;
        }
        const std::string strThumb = GetThumbFilePath(m_iCurPagePos);
        if (strThumb.empty())
            return ov::kErrNotFound;

        std::string strSource;
        std::string strEditInfo;
        int iPage = 1;
        int r = GetPageSource(*this, &strSource, &iPage, &strEditInfo);
        if (r != 0)
            return r;

        *pbCreated = 0;
        std::map<std::string, std::string> cMapEditInfo;
        if (!GetIniKeyMap(strEditInfo.c_str(), "EditInfo", &cMapEditInfo)) {
            OV_TRACE("GetIniKeyMap() Error!\n");
            return ov::kErrFramework;
        }
        if (cMapEditInfo.empty()) {
            *pstrPath = strSource;
            return 0;
        }

        // The edit information is always drawn into a one-page PDF: a page of a
        // larger source is cut out first, and that part is removed again whatever
        // happens next.
        std::string strInput = strSource;
        std::string strPart;
        if (iPage != 1) {
            strPart = strThumb + "_" + std::to_string(iPage) + ".pdf";
            r = WorkDesk_ExtractPDF(strSource.c_str(), iPage, strPart.c_str());
            if (r != 0) {
                OV_TRACE("WorkDesk_ExtractPDF() Error! [Return] %d\n", r);
                return r;
            }
            strInput = strPart;
        }
        const std::string strOut = strThumb + ".pdf";
        {
            CFileRemover cPartRemover(strPart);
            int iReserved = 0;
            unsigned char aBlock[48] = {};
            r = WorkDesk_CreateEditInfoPdfFile(strInput.c_str(), strOut.c_str(), strEditInfo.c_str(),
                                               &iReserved, aBlock);
        }
        if (r != 0) {
            OV_TRACE("WorkDesk_CreateEditInfoPdfFile() Error! [Return] %d\n", r);
            return r;
        }
        *pstrPath = strOut;
        *pbCreated = 1;
        return 0;
    });
}
