// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard records of the document: loaded from and saved to UndoData.ini
// (undo-folder mode) or the page's data file (document mode), handed out to the
// edit pane and taken back with the change state.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "document/OrmaViewDoc.h"
#include "ormacomm/OrmaComm.h"
#include "postcard/HagakiManage.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {

constexpr const char* kSectionPageInfo = "PageInfo";
constexpr const char* kUndoDataFile = "UndoData.ini";
// Values are read into this many bytes; at most one byte less survives.
constexpr DWORD kValueBufferSize = 1024;

// The record file describes one page: its keys are always formed with 1.
std::string KeyName(const char* format) {
    char key[64];
    std::snprintf(key, sizeof key, format, 1);
    return key;
}

// The eight string keys read and written in both modes, in file order.
struct StringKey {
    const char* format;
    std::string CHagakiInfo::*field;
};
constexpr StringKey kStringKeys[] = {
    {"Page%dHagakiFrom", &CHagakiInfo::m_strFrom},     {"Page%dHagakiFromkana", &CHagakiInfo::m_strFromkana},
    {"Page%dHagakiNumber", &CHagakiInfo::m_strNumber}, {"Page%dHagakiYear", &CHagakiInfo::m_strYear},
    {"Page%dHagakiType", &CHagakiInfo::m_strType},     {"Page%dHagakiMemo", &CHagakiInfo::m_strMemo},
    {"Page%dHagakiFile1", &CHagakiInfo::m_strFile1},   {"Page%dHagakiFile2", &CHagakiInfo::m_strFile2},
};
constexpr const char* kFilePageNameKey = "Page%dFilePageName";
constexpr const char* kFilePageNumberKey = "Page%dFilePageNumber";

std::string ReadValue(const std::string& key, const std::string& path) {
    char buffer[kValueBufferSize] = {};
    GetPrivateProfileStringA(kSectionPageInfo, key.c_str(), "", buffer, kValueBufferSize, path.c_str());
    return buffer;
}

// A value longer than the read buffer was loaded cut. When the field was left as
// loaded, the stored whole value is kept rather than replaced by the cut copy.
bool KeepStoredLongValue(const std::string& key, const std::string& loaded, const std::string& working,
                         const std::string& path) {
    if (working != loaded || loaded.size() + 2 < kValueBufferSize)
        return false;
    std::string stored;
    if (!GetPrivateProfileLongString(kSectionPageInfo, key, "", &stored, path))
        return false;
    return stored.size() > loaded.size() && stored.compare(0, loaded.size(), loaded) == 0;
}

bool HasLineBreak(const std::string& value) {
    return value.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

// The record file of the current page: 0 and the path, or -4 when the current
// position has no page ID.
static int ChooseRecordFile(COrmaViewDoc& doc, std::string* path, int* pageID, bool* undoFolder) {
    const int iPageID = doc.GetPageID(doc.m_iCurPagePos);
    if (iPageID < 1) {
        OV_TRACE("COrmaViewDoc::GetPageID() Error!\n");
        return ov::kErrFramework;
    }
    *pageID = iPageID;
    *undoFolder = doc.IsUndoFolderMode() != 0;
    if (*undoFolder) {
        *path = ov::JoinPath(doc.m_strDocFolder, kUndoDataFile);
    } else {
        char name[32];
        std::snprintf(name, sizeof name, "Data%d.dat", iPageID);
        *path = ov::JoinPath(doc.m_strDocFolder, "Data") + kPathSep + name;
    }
    return 0;
}

int COrmaViewDoc::LoadHagakiInfo() {
    return OV_GUARDED([&] {
        std::string path;
        int iPageID = 0;
        bool undoFolder = false;
        if (int r = ChooseRecordFile(*this, &path, &iPageID, &undoFolder); r != 0)
            return r;

        for (const StringKey& k : kStringKeys) m_cHagakiInfoOrg.*k.field = ReadValue(KeyName(k.format), path);
        if (undoFolder) {
            m_cHagakiInfoOrg.SetFilePageName(ReadValue(KeyName(kFilePageNameKey), path));
            int iNumber = static_cast<int>(GetPrivateProfileIntA(
                kSectionPageInfo, KeyName(kFilePageNumberKey).c_str(), -1, path.c_str()));
            m_cHagakiInfoOrg.m_iFilePageNumber = iNumber < 1 ? 1 : iNumber;
        } else {
            char name[32];
            std::snprintf(name, sizeof name, "Data%d.pdf", iPageID);
            m_cHagakiInfoOrg.SetFilePageName(name);
            m_cHagakiInfoOrg.m_iFilePageNumber = 1;
        }
        // The loaded record never carries the per-visit flags.
        m_cHagakiInfoOrg.m_bFile1Rotated = 0;
        m_cHagakiInfoOrg.m_bFile2Rotated = 0;
        m_cHagakiInfoOrg.m_bMerged = 0;

        m_cHagakiInfo = m_cHagakiInfoOrg;
        m_iHagakiChange = 0;
        return 0;
    });
}

int COrmaViewDoc::SaveHagakiInfo() {
    return OV_GUARDED([&] {
        std::string path;
        int iPageID = 0;
        bool undoFolder = false;
        if (int r = ChooseRecordFile(*this, &path, &iPageID, &undoFolder); r != 0)
            return r;
        // A record that is still the loaded one, byte for byte, leaves the file
        // as it is.
        if (m_cHagakiInfoOrg.IsDiffUserFields(m_cHagakiInfo) == 0 &&
            m_cHagakiInfoOrg.IsDiffFileFields(m_cHagakiInfo) == 0)
            return 0;

        // A line break would end the INI line early and plant a foreign line in
        // the file: such a record is refused before anything is written.
        for (const StringKey& k : kStringKeys) {
            if (HasLineBreak(m_cHagakiInfo.*k.field)) {
                OV_TRACE("COrmaViewDoc::SaveHagakiInfo() Error! Line break in [Key] %s\n",
                         KeyName(k.format).c_str());
                return ov::kErrBadParameter;
            }
        }
        if (undoFolder && HasLineBreak(m_cHagakiInfo.m_strFilePageName)) {
            OV_TRACE("COrmaViewDoc::SaveHagakiInfo() Error! Line break in [Key] %s\n",
                     KeyName(kFilePageNameKey).c_str());
            return ov::kErrBadParameter;
        }

        // The record's keys go in one replace of the file: a crash leaves the old
        // record or the new one, never a mix.
        std::vector<std::pair<std::string, std::string>> values;
        for (const StringKey& k : kStringKeys) {
            std::string key = KeyName(k.format);
            const std::string& value = m_cHagakiInfo.*k.field;
            if (KeepStoredLongValue(key, m_cHagakiInfoOrg.*k.field, value, path))
                continue;
            values.emplace_back(std::move(key), value);
        }
        if (undoFolder) {
            values.emplace_back(KeyName(kFilePageNameKey), m_cHagakiInfo.m_strFilePageName);
            // The stored page number goes back to 1 when it is above 1; the working
            // record's number itself is never written.
            std::string key = KeyName(kFilePageNumberKey);
            int iStored =
                static_cast<int>(GetPrivateProfileIntA(kSectionPageInfo, key.c_str(), -1, path.c_str()));
            if (iStored > 1)
                values.emplace_back(std::move(key), "1");
        }
        std::vector<ov::ProfileWrite> writes;
        for (const auto& [key, value] : values)
            writes.push_back({kSectionPageInfo, key.c_str(), value.c_str()});
        if (!writes.empty() && !ov::WritePrivateProfileKeys(writes, path.c_str())) {
            OV_TRACE("WritePrivateProfileString() Error! [File] %s [Key] %s [ErrorCode] %d\n", path.c_str(),
                     writes.front().key, GetLastError());
            return ov::kErrNotReplaced;
        }
        return 0;
    });
}

int COrmaViewDoc::GetHagakiInfo(CHagakiInfo& cInfo, int iSelect) {
    return OV_GUARDED([&] {
        cInfo = iSelect == 0 ? m_cHagakiInfo : m_cHagakiInfoOrg;
        return 0;
    });
}

int COrmaViewDoc::SetHagakiInfo(const CHagakiInfo& cInfo) {
    return OV_GUARDED([&] {
        m_cHagakiInfo = cInfo;
        const int u = m_cHagakiInfoOrg.IsDiffUserFields(m_cHagakiInfo);
        const int f = m_cHagakiInfoOrg.IsDiffFileFields(m_cHagakiInfo);
        m_iHagakiChange = (u ? 1 : 0) + (f ? 2 : 0);
        return 0;
    });
}

int COrmaViewDoc::ReadUndoDataFile() {
    return OV_GUARDED([&] {
        const std::string path = ov::JoinPath(m_strDocFolder, kUndoDataFile);
        m_iPageTotal = 1;
        m_iIndexTotal = 0;
        m_iMaxPageID = 1;

        char title[MAX_PATH] = {};
        GetPrivateProfileStringA("BinderInfo", "Title", "", title, MAX_PATH, path.c_str());
        // The work desk stores a separator inside the title as the bytes 0x18 0x19;
        // it is shown as one space. Neither byte occurs inside a CP932 character.
        std::string name;
        for (const char* p = title; *p; ++p) {
            if (p[0] == '\x18' && p[1] == '\x19') {
                name += ' ';
                ++p;
            } else {
                name += *p;
            }
        }
        m_strDocName = name;

        CPageInfo info;
        info.m_iPageID = 1;
        info.m_iPageFlag = -1;
        m_cMapPageInfo[1] = info;
        InvalidatePageSteps();
        return 0;
    });
}
