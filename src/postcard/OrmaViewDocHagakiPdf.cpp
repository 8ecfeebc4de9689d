// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard PDF operations of the document: the paths of the front, back and shown
// PDFs, the 90-degree turn of one side, the exchange of the sides, the merge of
// both sides into the shown PDF, and the clean-up of the cached page images.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "OrmaViewDocHagaki.cpp"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "image/Ravelin.h"
#include "ormacomm/OrmaComm.h"
#include "postcard/HagakiManage.h"
#include "postcard/HagakiPdfHooks.h"
#include "win32/CodePage.h"
#include "win32/FileApi.h"
#include "win32/ShellPath.h"

namespace {

constexpr int kReplaceTries = 50;
constexpr DWORD kReplaceWaitMs = 100;
constexpr const char* kTempSuffix = ".tmp.pdf";
// Format number of the PDF writer of the image library.
constexpr int kPdfWriterFormat = 50;

void PlatformSleep(DWORD ms) {
    Sleep(ms);
}
BOOL PlatformMove(const char* from, const char* to, DWORD flags) {
    return MoveFileExA(from, to, flags);
}

ov::HagakiSleepFn g_pfnSleep = &PlatformSleep;
ov::HagakiMoveFn g_pfnMove = &PlatformMove;

// The folder of turned sides in the work-desk folder, "標準" in CP932.
const std::string& StandardFolderName() {
    static const std::string name = ov::Utf8ToCp932("標準").value_or("Standard");
    return name;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal ignoring the case of ASCII letters. The trail byte of a CP932 character
// is compared as it is, never folded.
bool EqualsIgnoreCaseCp932(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0, len; (len = ov::Cp932CharLength(a, i)) != 0; i += len) {
        if (len == 2 ? a.substr(i, 2) != b.substr(i, 2) : AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    return !path.empty() && PathFileExistsA(path.c_str());
}

void DeleteIfExists(const std::string& path) {
    if (FileExists(path))
        DeleteFileA(path.c_str());
}

// Moves the temporary file over the target: up to 50 tries, 100 ms after each
// failed one. The temporary file stays when every try failed.
int ReplaceTarget(const std::string& temp, const std::string& target) {
    int lastError = 0;
    for (int i = 0; i < kReplaceTries; ++i) {
        if (g_pfnMove(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 0;
        lastError = GetLastError();
        g_pfnSleep(kReplaceWaitMs);
    }
    OV_TRACE("::MoveFileEx Error! [ErrorCode] %d\n", lastError);
    return ov::kErrNotReplaced;
}

bool CopyPath(char* buffer, const std::string& path) {
    if (path.size() >= static_cast<std::size_t>(MAX_PATH))
        return false;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

namespace ov {

HagakiSleepFn SetHagakiReplaceSleep(HagakiSleepFn fn) {
    HagakiSleepFn old = g_pfnSleep;
    g_pfnSleep = fn ? fn : &PlatformSleep;
    return old;
}

HagakiMoveFn SetHagakiReplaceMove(HagakiMoveFn fn) {
    HagakiMoveFn old = g_pfnMove;
    g_pfnMove = fn ? fn : &PlatformMove;
    return old;
}

}  // namespace ov

namespace {

// A name of one file: not "." or "..", and no separator of either platform (a
// 0x5C that is the second byte of a CP932 character is no separator).
bool IsBareFileName(const std::string& cp932) {
    if (cp932 == "." || cp932 == "..")
        return false;
    for (std::size_t i = 0, len; (len = ov::Cp932CharLength(cp932, i)) != 0; i += len) {
        if (len == 1 && (cp932[i] == '/' || cp932[i] == '\\'))
            return false;
    }
    return true;
}

}  // namespace

int COrmaViewDoc::GetHagakiFilePaths(char* pszFrontSrc, char* pszBackSrc, char* pszViewSrc, char* pszFrontDst,
                                     char* pszBackDst, char* pszViewDst) {
    return OV_GUARDED(
        [&] {
            const CHagakiInfo& info = m_cHagakiInfo;
            std::string frontSrc, backSrc, viewSrc, frontDst, backDst, viewDst;
            const std::pair<char*, const std::string*> outputs[] = {
                {pszFrontSrc, &frontSrc}, {pszBackSrc, &backSrc}, {pszViewSrc, &viewSrc},
                {pszFrontDst, &frontDst}, {pszBackDst, &backDst}, {pszViewDst, &viewDst},
            };
            // On a failure every asked-for path is empty, so that the existence
            // test that follows fails.
            auto fail = [&] {
                for (const auto& [buffer, path] : outputs) {
                    (void)path;
                    if (buffer)
                        buffer[0] = '\0';
                }
                return 0;
            };

            if (!IsUndoFolderMode()) {
                // Document mode: the sides lie in Data/Standard and are turned in place.
                const std::string base =
                    ov::JoinPath(m_strDocFolder, "Data") + kPathSep + "Standard" + kPathSep;
                // The record names its sides inside that folder: a name that could
                // reach out of it is refused, so no turn ever writes elsewhere.
                for (const std::string* side : {&info.m_strFile1, &info.m_strFile2}) {
                    if (!side->empty() && !IsBareFileName(*side)) {
                        OV_TRACE("COrmaViewDoc::GetHagakiFilePaths() Error! Not a file name [File] %s\n",
                                 side->c_str());
                        return fail();
                    }
                }
                if (!info.m_strFile1.empty())
                    frontSrc = base + info.m_strFile1;
                if (!info.m_strFile2.empty())
                    backSrc = base + info.m_strFile2;
                if (!info.m_strFilePageName.empty())
                    viewSrc = GetDataPdfPath(m_iCurPagePos);
                frontDst = frontSrc;
                backDst = backSrc;
                viewDst = viewSrc;
            } else {
                // Undo-folder mode: the work desk's own files stay untouched; turned
                // sides go to W/標準 and the merged PDF to W/~name-N.pdf.
                frontSrc = info.m_strFile1;
                backSrc = info.m_strFile2;
                viewSrc = info.m_strFilePageName;

                std::string w = m_pHagakiManage->GetFolder();
                if (w.empty()) {
                    OV_TRACE("COrmaViewDoc::GetHagakiFilePaths() Error! WorkDeskFolder is Empty.\n");
                    return fail();
                }
                PathAddBackslash(w);
                std::string standard = w + StandardFolderName();
                MakeFolder(standard.c_str());
                PathAddBackslash(standard);

                if (!info.m_strFile1.empty())
                    frontDst = info.m_bFile1Rotated ? info.m_strFile1
                                                    : standard + PathFindFileNameA(info.m_strFile1.c_str());
                if (!info.m_strFile2.empty())
                    backDst = info.m_bFile2Rotated ? info.m_strFile2
                                                   : standard + PathFindFileNameA(info.m_strFile2.c_str());

                const std::string& shown = info.m_strFilePageName;
                if (!shown.empty()) {
                    const std::size_t slash = shown.rfind(kPathSep);
                    const std::string folder =
                        slash == std::string::npos ? std::string() : shown.substr(0, slash + 1);
                    const std::string name = slash == std::string::npos ? shown : shown.substr(slash + 1);
                    if (info.m_bMerged) {
                        viewDst = shown;
                    } else if (EqualsIgnoreCaseCp932(folder, w) && info.m_iFilePageNumber == 1 &&
                               !name.empty() && name[0] == '~') {
                        // Already a merged PDF of this work desk.
                        viewDst = shown;
                    } else {
                        const std::size_t dot = name.rfind('.');
                        const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
                        char number[16];
                        std::snprintf(number, sizeof number, "%d", info.m_iFilePageNumber);
                        viewDst = w + "~" + stem + "-" + number + ".pdf";
                    }
                }
            }

            // Every buffer holds 260 bytes: a longer path is refused, never cut.
            for (const auto& [buffer, path] : outputs) {
                if (buffer && path->size() >= static_cast<std::size_t>(MAX_PATH)) {
                    OV_TRACE("COrmaViewDoc::GetHagakiFilePaths() Error! Path too long [Path] %s\n",
                             path->c_str());
                    return fail();
                }
            }
            for (const auto& [buffer, path] : outputs) {
                if (buffer)
                    CopyPath(buffer, *path);
            }
            return 1;
        },
        ov::GuardCodes{0, 0, 0});
}

int COrmaViewDoc::RotateHagakiPdf(int bFront) {
    return OV_GUARDED([&] {
        char frontSrc[MAX_PATH] = {}, backSrc[MAX_PATH] = {}, frontDst[MAX_PATH] = {}, backDst[MAX_PATH] = {};
        if (!GetHagakiFilePaths(frontSrc, backSrc, nullptr, frontDst, backDst, nullptr)) {
            OV_TRACE("COrmaViewDoc::GetHagakiFilePaths() Error!\n");
            return ov::kErrBadParameter;
        }
        const std::string source = bFront ? frontSrc : backSrc;
        const std::string target = bFront ? frontDst : backDst;
        const std::string temp = target + kTempSuffix;

        if (!FileExists(source)) {
            OV_TRACE("PathFileExists Error! [path] %s\n", source.c_str());
            return ov::kErrNotFound;
        }
        if (int r = RotatePdf(source.c_str(), temp.c_str()); r != 0) {
            OV_TRACE("COrmaViewDoc::RotatePdf Error! [ErrorCode] %d\n", r);
            DeleteIfExists(temp);
            return r;
        }
        // The source is not deleted before the replace: when it is the target, the
        // replace swaps it atomically, and a failed replace leaves it whole.
        if (int r = ReplaceTarget(temp, target); r != 0)
            return r;

        const bool undoFolder = IsUndoFolderMode() != 0;
        if (bFront) {
            m_cHagakiInfo.m_bFile1Rotated = 1;
            if (undoFolder)
                m_cHagakiInfo.SetFile1(target);
        } else {
            m_cHagakiInfo.m_bFile2Rotated = 1;
            if (undoFolder)
                m_cHagakiInfo.SetFile2(target);
        }

        if (int r = MergeTwoPageCurrentPape(); r != 0) {
            OV_TRACE("COrmaViewDoc::MergeTwoPageCurrentPape Error! [ErrorCode] %d\n", r);
            return r;
        }
        return 0;
    });
}

int COrmaViewDoc::RotatePdf(const char* pszSource, const char* pszDestination) {
    return OV_GUARDED([&] {
        DWORD dwInfo = 0;
        if (!ImageIO_GetSaveFuncInfo(kPdfWriterFormat, &dwInfo)) {
            OV_TRACE("RotatePdf: ImageIO_GetSaveFuncInfo() Error!\n");
            return ov::kErrTurnFailed;
        }
        if (!pszSource || !pszDestination || std::strlen(pszSource) >= static_cast<std::size_t>(MAX_PATH)) {
            OV_TRACE("RotatePdf: Parameter Error! [Source] %s\n", pszSource ? pszSource : "(null)");
            return ov::kErrBadParameter;
        }
        IMAGE_REQUEST request{};
        std::memcpy(request.szPath, pszSource, std::strlen(pszSource) + 1);
        request.iPage = 1;
        request.iRotation = 90;
        if (!ImageIO_SaveFileName(pszDestination, dwInfo, 1, &request, 0, 0)) {
            OV_TRACE("RotatePdf: ImageIO_SaveFileName() Error!\n");
            return ov::kErrTurnFailed;
        }
        return 0;
    });
}

int COrmaViewDoc::UpSideDownHagakiPdf() {
    return OV_GUARDED([&] {
        CHagakiInfo& info = m_cHagakiInfo;
        if (info.m_strFile2.empty())
            return 0;
        std::swap(info.m_strFile1, info.m_strFile2);
        std::swap(info.m_bFile1Rotated, info.m_bFile2Rotated);
        if (int r = MergeTwoPageCurrentPape(); r != 0) {
            OV_TRACE("COrmaViewDoc::MergeTwoPageCurrentPape() Error!(%d)\n", r);
            return r;
        }
        return 0;
    });
}

int COrmaViewDoc::MergeTwoPageCurrentPape() {
    return OV_GUARDED([&] {
        char frontSrc[MAX_PATH] = {}, backSrc[MAX_PATH] = {}, viewDst[MAX_PATH] = {};
        if (!GetHagakiFilePaths(frontSrc, backSrc, nullptr, nullptr, nullptr, viewDst)) {
            OV_TRACE("COrmaViewDoc::GetHagakiFilePaths() Error!\n");
            return ov::kErrBadParameter;
        }
        if (!FileExists(frontSrc) && !FileExists(backSrc)) {
            OV_TRACE("PathFileExists Error! [ErrorCode] %d\n", GetLastError());
            return ov::kErrNotFound;
        }
        const std::string target = viewDst;
        if (target.empty()) {
            // No shown PDF is named: there is nothing to merge into.
            OV_TRACE("COrmaViewDoc::MergeTwoPageCurrentPape() Error! FilePageName is Empty.\n");
            return ov::kErrNotFound;
        }
        const std::string temp = target + kTempSuffix;
        HAGAKI_MERGE_PARAM param{};
        if (!CopyPath(param.szOutput, temp)) {
            OV_TRACE("COrmaViewDoc::MergeTwoPageCurrentPape() Error! Path too long [Path] %s\n",
                     temp.c_str());
            return ov::kErrBadParameter;
        }
        param.iCount = 3;
        CopyPath(param.szFront, frontSrc);
        param.iFrontPage = 1;
        CopyPath(param.szBack, backSrc);
        param.iBackPage = 1;

        if (int iRet = ImageIO_MergeTwoPage(&param); iRet != 0) {
            OV_TRACE("ImageIO_MergeTwoPage() Error! [iRet] %d\n", iRet);
            DeleteIfExists(temp);
            return ov::kErrMergeFailed;
        }
        // The target is not deleted first: the replace swaps it atomically, and a
        // failed replace leaves the shown PDF as it was.
        if (int r = ReplaceTarget(temp, target); r != 0)
            return r;

        m_cHagakiInfo.m_bMerged = 1;
        if (IsUndoFolderMode()) {
            m_cHagakiInfo.SetFilePageName(target);
            m_cHagakiInfo.m_iFilePageNumber = 1;
        }
        return 0;
    });
}

std::string COrmaViewDoc::GetViewPdfPath(int* piPageNumber) {
    int iPage = 1;
    std::string path;
    OV_GUARDED(
        [&] {
            if (IsUndoFolderMode()) {
                char viewSrc[MAX_PATH] = {}, viewDst[MAX_PATH] = {};
                GetHagakiFilePaths(nullptr, nullptr, viewSrc, nullptr, nullptr, viewDst);
                const std::string shown = m_cHagakiInfo.m_bMerged ? viewDst : viewSrc;
                iPage = m_cHagakiInfo.m_iFilePageNumber < 1 ? 1 : m_cHagakiInfo.m_iFilePageNumber;
                if (!FileExists(shown)) {
                    OV_TRACE("PathFileExists Error! [path] %s\n", shown.c_str());
                    return 0;
                }
                path = shown;
            } else {
                path = GetDataPdfPath(m_iCurPagePos);
            }
            return 0;
        },
        ov::GuardCodes{0, 0, 0});
    if (piPageNumber)
        *piPageNumber = iPage;
    return path;
}

int COrmaViewDoc::DeleteThumbFileCurrent() {
    return OV_GUARDED(
        [&] {
            auto it = m_cMapPageInfo.find(m_iCurPagePos);
            const int iPageID = it == m_cMapPageInfo.end() ? -1 : it->second.m_iPageID;
            if (iPageID < 1) {
                OV_TRACE("m_cMapPageInfo.Lookup() Error! [PageID] %d\n", iPageID);
                return 0;
            }
            DeleteIfExists(GetThumbFilePath(m_iCurPagePos));
            if (!IsUndoFolderMode()) {
                char name[32];
                std::snprintf(name, sizeof name, "Page%d.thm", iPageID);
                DeleteIfExists(ov::JoinPath(m_strDocFolder, name));
            }
            return 0;
        },
        ov::GuardCodes{0, 0, 0});
}
