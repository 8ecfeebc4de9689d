// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard records (change states, load and save in both modes, the title and
// page-number rules, failed and over-long records) and the paths of the sides.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <tuple>

#include "PostcardTestSupport.h"
#include "base/ErrorCodes.h"
#include "editpane/HagakiText.h"
#include "win32/PrivateProfile.h"

using namespace pctest;

namespace {

// Values of "Key" (in PageInfo) or "Section/Key", "<none>" when missing, joined by '|'.
std::string Keys(const std::string& path, std::initializer_list<std::string> keys) {
    std::string out;
    for (const std::string& k : keys) {
        const auto slash = k.find('/');
        char buf[4096] = {};
        GetPrivateProfileStringA(slash == std::string::npos ? "PageInfo" : k.substr(0, slash).c_str(),
                                 k.substr(slash + 1).c_str(), "<none>", buf, sizeof buf, path.c_str());
        out += "|" + std::string(buf);
    }
    return out.substr(1);
}

Names Fields(const CHagakiInfo& i) {
    return {i.GetFrom(), i.GetFromkana(), i.GetNumber(), i.GetYear(),        i.GetType(),
            i.GetMemo(), i.GetFile1(),    i.GetFile2(),  i.GetFilePageName()};
}

// CP932 text whose second bytes include 0x5C ("ソ表" and a half-width kana).
const std::string kName = "\x83\x5C\x95\x5C\xB1";

}  // namespace

TEST(HagakiRecord, DocumentModeLoadAndSaveTouchOnlyRecordKeys) {
    DocSetup s(0, 5);
    const std::string dat = s.DataDir() + "/Data5.dat";
    s.doc.m_iHagakiChange = 3;
    ASSERT_EQ(0, s.doc.LoadHagakiInfo());  // no data file: an empty record
    EXPECT_EQ(Fields(s.doc.m_cHagakiInfo), (Names{"", "", "", "", "", "", "", "", "Data5.pdf"}));
    EXPECT_EQ(0, s.doc.m_iHagakiChange);
    const std::string head = "; data\r\n[PageInfo]\r\nPageFlag=2\r\nPage5HagakiFrom=no\r\n",
                      edit = "[EditInfo]\r\nLine1=1,2\r\n";
    ovtest::WriteFile(
        dat, head + "Page1HagakiMemo=memo\r\nPage1FilePageName=/x.pdf\r\nPage1FilePageNumber=4\r\n" + edit);
    s.doc.m_cHagakiInfo.m_bMerged = 1;
    ASSERT_EQ(0, s.doc.LoadHagakiInfo());
    CHagakiInfo& i = s.doc.m_cHagakiInfo;
    // Document mode neither reads nor writes the shown-file keys, nor another page's.
    EXPECT_EQ(Fields(i), (Names{"", "", "", "", "", "memo", "", "", "Data5.pdf"}));
    EXPECT_EQ(std::make_pair(1, 0), std::make_pair(i.m_iFilePageNumber, i.m_bMerged));
    i.SetFrom("new");
    i.SetMemo("");
    ASSERT_EQ(0, s.doc.SaveHagakiInfo());
    EXPECT_EQ("new||/x.pdf|4",
              Keys(dat, {"Page1HagakiFrom", "Page1HagakiMemo", "Page1FilePageName", "Page1FilePageNumber"}));
    EXPECT_EQ(0u, ovtest::ReadFile(dat).find(head));
    EXPECT_NE(std::string::npos, ovtest::ReadFile(dat).find(edit));
}

TEST(HagakiRecord, FailedSavesWriteNothing) {
    DocSetup s(0, 5);
    const std::string dat = s.DataDir() + "/Data5.dat", old = "[PageInfo]\nPage1HagakiFrom=old\n";
    ovtest::WriteFile(dat, old);
    ovtest::TraceCapture trace;
    s.doc.m_cHagakiInfo.SetMemo("line\n[EditInfo]\nInjected=1");  // a line break would inject keys
    EXPECT_EQ(ov::kErrBadParameter, s.doc.SaveHagakiInfo());
    EXPECT_TRUE(trace.Contains("Page1HagakiMemo"));
    s.doc.m_cHagakiInfo.SetMemo("kept");
    s.doc.m_cMapPageInfo[1].m_iPageID = 0;  // a position without a page ID
    EXPECT_EQ(ov::kErrFramework, s.doc.SaveHagakiInfo());
    EXPECT_EQ(ov::kErrFramework, s.doc.LoadHagakiInfo());
    EXPECT_EQ("kept", s.doc.m_cHagakiInfo.GetMemo());
    EXPECT_EQ(old, ovtest::ReadFile(dat));
    EXPECT_EQ(ovtest::ListFolder(s.DataDir()), (Names{"Data5.dat", "Standard"}));
    s.doc.m_cMapPageInfo[1].m_iPageID = 5;
    s.doc.m_strDocFolder = s.workDesk + "/Doc000099";  // the page's Data folder is gone
    EXPECT_EQ(ov::kErrNotReplaced, s.doc.SaveHagakiInfo());
    EXPECT_TRUE(trace.Contains("WritePrivateProfileString() Error!"));
    EXPECT_FALSE(ovtest::Exists(s.doc.m_strDocFolder));
}

TEST(HagakiRecord, ReadLimitAndUneditedLongValuesSurviveASave) {
    DocSetup s(0, 5);
    const std::string dat = s.DataDir() + "/Data5.dat", longAscii(1100, 'n');
    // 1022 bytes, then a two-byte character that the limit would split.
    const std::string longCp932 = std::string(1022, 'k') + "\x82\xA0" + "tail";
    ovtest::WriteFile(dat, "[PageInfo]\nPage1HagakiFrom=" + longAscii + "\nPage1HagakiFromkana=" + longCp932 +
                               "\nPage1HagakiNumber=" + std::string(1023, '7') + "\n");
    ASSERT_EQ(0, s.doc.LoadHagakiInfo());
    CHagakiInfo& i = s.doc.m_cHagakiInfo;
    EXPECT_EQ(Fields(i)[0] + Fields(i)[1] + Fields(i)[2],
              longAscii.substr(0, 1023) + std::string(1022, 'k') + std::string(1023, '7'));
    i.SetNumber("0001");
    ASSERT_EQ(0, s.doc.SaveHagakiInfo());
    EXPECT_EQ(longAscii + "|" + longCp932 + "|0001",
              Keys(dat, {"Page1HagakiFrom", "Page1HagakiFromkana", "Page1HagakiNumber"}));
    i.SetFrom("short");  // an edited long value is what the user wants stored
    ASSERT_EQ(0, s.doc.SaveHagakiInfo());
    EXPECT_EQ("short", Keys(dat, {"Page1HagakiFrom"}));
}

// The pane's round trip (load, show, hand back), then the frame's step: save
// only when the change state says so.
int PaneRoundTrip(COrmaViewDoc& doc, const std::function<void(HagakiTexts&)>& edit) {
    CHagakiInfo info;
    doc.GetHagakiInfo(info, 0);
    const CHagakiFields loaded = LoadHagakiFields(info);
    HagakiTexts now = loaded.Shown();
    edit(now);
    doc.GetHagakiInfo(info, 0);
    EXPECT_EQ(0, SaveHagakiFields(loaded, now, &info));
    doc.SetHagakiInfo(info);
    return doc.m_iHagakiChange != 0 ? doc.SaveHagakiInfo() : 0;
}

TEST(HagakiRecord, StoredBytesSurviveTheEditPaneUnlessTheUserChangesThem) {
    const std::string memo = [] {  // 2000 bytes; the read buffer ends inside a character
        std::string m;
        for (int i = 0; i < 1000; ++i) m += "\x82\xA0";
        return m;
    }();
    const std::string lines[] = {
        "Page1HagakiFrom=\xff\xfe\x80\xa0"
        "abc\xfd",                                             // bytes outside CP932
        "Page1HagakiFromkana=\x8E\x52\x93\x63\x82",            // a lone lead byte at the end
        "Page1HagakiNumber=\x82\x50\x82\x51\x91\x67\x82\x60",  // full-width
        "Page1HagakiYear=2024",
        "Page1HagakiType=\xED\x40\x87\x90",  // NEC-selected codes
        "Page1HagakiMemo=" + memo,
    };
    std::string file = "[BinderInfo]\r\nTitle=T\r\n[PageInfo]\r\n";
    for (const std::string& line : lines) file += line + "\r\n";
    file += "Page1HagakiFile1=/f.pdf\r\nPage1FilePageName=/s.pdf\r\nPage1FilePageNumber=3\r\n";
    DocSetup s(1);
    ovtest::WriteFile(s.UndoData(), file);
    ASSERT_EQ(0, s.doc.LoadHagakiInfo());
    ASSERT_EQ(0, PaneRoundTrip(s.doc, [](HagakiTexts&) {}));
    EXPECT_EQ(0, s.doc.m_iHagakiChange);
    EXPECT_TRUE(file == ovtest::ReadFile(s.UndoData())) << "the file was rewritten";

    ASSERT_EQ(0, PaneRoundTrip(s.doc, [](HagakiTexts& t) { t[kHagakiYear] = "2025"; }));
    EXPECT_EQ(1, s.doc.m_iHagakiChange);
    const std::string saved = ovtest::ReadFile(s.UndoData());
    for (const std::string& line : lines) {
        if (line != lines[kHagakiYear]) {
            EXPECT_NE(std::string::npos, saved.find(line + "\r\n")) << line.substr(0, 20);
        }
    }
    EXPECT_NE(std::string::npos, saved.find("Page1HagakiYear=2025\r\n"));
}

TEST(HagakiRecord, UndoFolderPageNumberIsReadAndResetOnSave) {
    // stored (nullptr: no key), loaded, saved
    const std::tuple<const char*, int, const char*> cases[] = {
        {nullptr, 1, "<none>"}, {"-2", 1, "-2"}, {"3", 3, "1"}, {"abc", 1, "abc"}};
    for (const auto& [stored, loaded, saved] : cases) {
        DocSetup s(1);
        const std::string number = stored ? std::string("Page1FilePageNumber=") + stored + "\n" : "";
        ovtest::WriteFile(
            s.UndoData(),
            "[BinderInfo]\nTitle=T\n[PageInfo]\nPage1HagakiFrom=Sato\nPage1FilePageName=/s.pdf\n" + number +
                "[EditInfo]\nMark=1\n");
        ASSERT_EQ(0, s.doc.LoadHagakiInfo());
        CHagakiInfo& i = s.doc.m_cHagakiInfo;
        EXPECT_EQ(loaded, i.m_iFilePageNumber) << number;
        EXPECT_EQ("Sato /s.pdf", i.GetFrom() + " " + i.GetFilePageName());
        i.SetMemo("m");
        i.m_iFilePageNumber = 7;  // never written itself
        i.SetFilePageName("/d/~s-3.pdf");
        ASSERT_EQ(0, s.doc.SaveHagakiInfo());
        EXPECT_EQ(std::string(saved) + "|/d/~s-3.pdf|m|T|1",
                  Keys(s.UndoData(), {"Page1FilePageNumber", "Page1FilePageName", "Page1HagakiMemo",
                                      "BinderInfo/Title", "EditInfo/Mark"}));
    }
}

TEST(HagakiRecord, ReadUndoDataFileTitleRuleAndSinglePage) {
    const std::pair<std::string, std::string> cases[] = {
        {"A\030\031B", "A B"},
        {kName + "\030\031" + kName, kName + " " + kName},
        {std::string(300, 't'), std::string(259, 't')},
        {"", ""},  // no UndoData.ini
    };
    for (const auto& [stored, shown] : cases) {
        DocSetup s(1);
        s.doc.m_cMapPageInfo[1] = CPageInfo{42, 0};
        s.doc.m_iPageTotal = 0;
        s.doc.m_iIndexTotal = 3;
        if (!stored.empty())
            ovtest::WriteFile(s.UndoData(), "[BinderInfo]\nTitle=" + stored + "\n");
        ASSERT_EQ(0, s.doc.ReadUndoDataFile());
        EXPECT_EQ(shown, s.doc.m_strDocName);
        EXPECT_EQ(std::make_tuple(1, 0, 1, 1, -1),
                  std::make_tuple(s.doc.m_iPageTotal, s.doc.m_iIndexTotal, s.doc.m_iMaxPageID,
                                  s.doc.GetPageID(1), s.doc.m_cMapPageInfo[1].m_iPageFlag));
    }
}

namespace {

// Front source, back source, shown source, and their targets.
Names Resolve(COrmaViewDoc& doc, int expected = 1) {
    char b[6][MAX_PATH] = {};
    EXPECT_EQ(expected, doc.GetHagakiFilePaths(b[0], b[1], b[2], b[3], b[4], b[5]));
    return Names(std::begin(b), std::end(b));
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

}  // namespace

TEST(HagakiPaths, UndoFolderTargetsKeepTheWorkDesksFilesUntouched) {
    const struct {
        const char *file1, *shown;
        int rotated, page, merged;
        const char *frontDst, *viewDst;
    } cases[] = {
        {"/scan/front.pdf", "/scan/scan.pdf", 0, 2, 0, "$Sfront.pdf", "$W~scan-2.pdf"},   // first visit
        {"$Wx/front.pdf", "/scan/scan.pdf", 1, 2, 1, "$Wx/front.pdf", "/scan/scan.pdf"},  // turned, merged
        {"", "$W~scan-2.pdf", 0, 2, 0, "", "$W~~scan-2-2.pdf"},       // same name at page 2
        {"", "/other/~scan-2.pdf", 0, 1, 0, "", "$W~~scan-2-1.pdf"},  // same name elsewhere
        {"", "$U~scan-2.pdf", 0, 1, 0, "", "$U~scan-2.pdf"},          // folder in capitals
        {"/scan/f.pdf", "", 0, 1, 0, "$Sf.pdf", ""},                  // no shown PDF
    };
    for (const auto& c : cases) {
        DocSetup s(1);
        const std::string w = s.workDesk + "/";
        // "$W" is the work desk with its separator, "$U" the same in capitals, "$S" the turned sides' folder.
        auto expand = [&](std::string t) {
            for (const auto& [name, value] : {std::pair<std::string, std::string>{"$W", w},
                                              {"$U", Upper(w)},
                                              {"$S", w + ovtest::Sj(kStandardUtf8) + "/"}})
                for (std::size_t at; (at = t.find(name)) != std::string::npos;) t.replace(at, 2, value);
            return t;
        };
        CHagakiInfo& i = s.doc.m_cHagakiInfo;
        i.SetFile1(expand(c.file1));
        i.SetFilePageName(expand(c.shown));
        i.m_bFile1Rotated = c.rotated;
        i.m_iFilePageNumber = c.page;
        i.m_bMerged = c.merged;
        EXPECT_EQ(Resolve(s.doc),
                  (Names{i.GetFile1(), "", i.GetFilePageName(), expand(c.frontDst), "", expand(c.viewDst)}))
            << c.file1 << " " << c.shown;
        EXPECT_TRUE(ovtest::Exists(w + kStandardUtf8));  // the turned sides' folder, by its UTF-8 name
    }
}

TEST(HagakiPaths, CaseFoldingNeverTouchesTrailBytes) {
    DocSetup s(1);
    // "ア" (0x83 0x41) and "ツ" (0x83 0x61) differ only in the case of their trail bytes.
    const std::string deskA = s.dir / "desk\x83\x41";
    std::strncpy(s.doc.m_pHagakiManage->m_pInfo->szWorkDeskFolder, deskA.c_str(), MAX_PATH - 1);
    s.doc.m_cHagakiInfo.SetFilePageName(s.dir / "desk\x83\x61/~scan-2.pdf");
    EXPECT_EQ(deskA + "/~~scan-2-1.pdf", Resolve(s.doc)[5]);
    s.doc.m_cHagakiInfo.SetFilePageName(Upper(s.dir.Path()) + "/DESK\x83\x41/~scan-2.pdf");
    EXPECT_EQ(s.doc.m_cHagakiInfo.GetFilePageName(), Resolve(s.doc)[5]);
    EXPECT_TRUE(ovtest::Exists(s.dir / "desk\xE3\x82\xA2/" + kStandardUtf8));
}

TEST(HagakiPaths, PathsOver259BytesAreRefusedWithoutOverflow) {
    DocSetup s(1);
    const std::string fits = "/" + std::string(254, 'a') + ".pdf";  // 259 bytes
    std::vector<char> front(300, 'Z'), view(300, 'Z');
    s.doc.m_cHagakiInfo.SetFile1(fits);
    EXPECT_EQ(1, s.doc.GetHagakiFilePaths(front.data(), nullptr, view.data(), nullptr, nullptr, nullptr));
    EXPECT_EQ(fits + '\0' + 'Z', std::string(front.data(), 261));
    std::fill(front.begin(), front.end(), 'Z');
    s.doc.m_cHagakiInfo.SetFile1(fits + "x");
    ovtest::TraceCapture trace;
    EXPECT_EQ(0, s.doc.GetHagakiFilePaths(front.data(), nullptr, view.data(), nullptr, nullptr, nullptr));
    EXPECT_TRUE(trace.Contains("Path too long"));
    EXPECT_EQ(std::make_pair('\0', '\0'), std::make_pair(front[0], view[0]));
    EXPECT_TRUE(std::all_of(front.begin() + 1, front.end(), [](char c) { return c == 'Z'; }));
    // A path not asked for does not matter; the operations that need it fail.
    EXPECT_EQ(1, s.doc.GetHagakiFilePaths(nullptr, nullptr, view.data(), nullptr, nullptr, nullptr));
    EXPECT_EQ(ov::kErrBadParameter, s.doc.RotateHagakiPdf(1));
    EXPECT_EQ(0, s.doc.m_cHagakiInfo.m_bFile1Rotated);
}

TEST(HagakiPaths, ThumbnailCleanUpKeepsTheWorkDesksOwnImage) {
    DocSetup s(0, 5), u(1);
    const std::string on = s.doc.m_strEditInfoOnFolder + "/OrmaView5.thm",
                      uOn = u.doc.m_strEditInfoOnFolder + "/OrmaView1.thm";
    const std::string off = s.doc.m_strEditInfoOffFolder + "/OrmaView5.thm",
                      thm = s.doc.m_strDocFolder + "/Page5.thm";
    for (const auto& f : {on, off, thm, uOn, u.doc.m_strDocFolder + "/Page1.thm"}) ovtest::WriteFile(f, "x");
    EXPECT_EQ(0, s.doc.DeleteThumbFileCurrent());
    EXPECT_EQ(0, u.doc.DeleteThumbFileCurrent());
    EXPECT_EQ(std::make_tuple(false, true, false, false, true),
              std::make_tuple(ovtest::Exists(on), ovtest::Exists(off), ovtest::Exists(thm),
                              ovtest::Exists(uOn), ovtest::Exists(u.doc.m_strDocFolder + "/Page1.thm")));
    s.doc.m_iCurPagePos = 4;  // a position without a page ID still succeeds
    EXPECT_EQ(0, s.doc.DeleteThumbFileCurrent());
}

// kill -9 at random points of SaveHagakiInfo, in a loop of real processes: the
// record file afterwards always holds one whole record, and the temporary files
// of killed savers are gone after the next save.
TEST(HagakiRecord, SavesKilledAtRandomLeaveAWholeRecord) {
    DocSetup s(1);
    const std::string dat = s.UndoData();
    const std::string head = "[BinderInfo]\nTitle=t\n", edit = "[EditInfo]\nPen1=1,2\n";
    ovtest::WriteFile(dat, head + "[PageInfo]\nPage1FilePageNumber=3\n" + edit);
    const char* const keys[] = {"Page1HagakiFrom",  "Page1HagakiFromkana", "Page1HagakiNumber",
                                "Page1HagakiYear",  "Page1HagakiType",     "Page1HagakiMemo",
                                "Page1HagakiFile1", "Page1HagakiFile2",    "Page1FilePageName"};
    auto save = [&](int g) {
        const std::string v = "g" + std::to_string(g);
        CHagakiInfo& i = s.doc.m_cHagakiInfo;
        i.SetFrom(v), i.SetFromkana(v), i.SetNumber(v), i.SetYear(v), i.SetType(v), i.SetMemo(v);
        i.SetFile1(v), i.SetFile2(v), i.SetFilePageName(v);
        s.doc.SaveHagakiInfo();
    };
    auto generation = [&](int* gen) {
        std::set<std::string> seen;
        for (const char* k : keys) seen.insert(Keys(dat, {k}));
        const std::string text = ovtest::ReadFile(dat);
        *gen = seen.size() == 1 && seen.begin()->size() > 1 ? std::atoi(seen.begin()->c_str() + 1) : -1;
        return seen.size() == 1 && text.find(head) == 0 && text.find(edit) != std::string::npos;
    };
    const int kills = 250, temps = ovtest::KillLoop(kills, 4101, s.doc.m_strDocFolder, save, generation);
    std::printf("records: %d kills, %d left a temp file, none torn\n", kills, temps);
}
