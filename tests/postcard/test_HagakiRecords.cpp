// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard records: change states, load and save in both modes, the title and
// page-number rules, and the record files that are missing, unwritable or hold
// values longer than the read buffer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "PostcardTestSupport.h"
#include "postcard/HagakiManage.h"
#include "win32/PrivateProfile.h"

using pctest::DocSetup;

namespace {

std::string ReadKey(const std::string& path, const char* section, const char* key,
                    const char* def = "<none>") {
    char buf[4096] = {};
    GetPrivateProfileStringA(section, key, def, buf, sizeof buf, path.c_str());
    return buf;
}

// CP932 text whose second bytes include 0x5C ("ソ表" and a half-width kana).
const std::string kCp932Name = "\x83\x5C\x95\x5C\xB1";

}  // namespace

TEST(HagakiChangeState, FollowsTheFieldsThatDiffer) {
    struct Case {
        const char* name;
        std::function<void(CHagakiInfo&)> change;
        int expected;
    };
    const Case cases[] = {
        {"unchanged copy", [](CHagakiInfo&) {}, 0},
        {"memo", [](CHagakiInfo& i) { i.SetMemo("new memo"); }, 1},
        {"name in other letter case", [](CHagakiInfo& i) { i.SetFrom("YAMADA"); }, 1},
        {"kana", [](CHagakiInfo& i) { i.SetFromkana(kCp932Name + "x"); }, 1},
        {"type", [](CHagakiInfo& i) { i.SetType("B"); }, 1},
        {"front turned", [](CHagakiInfo& i) { i.m_bFile1Rotated = 1; }, 2},
        {"back turned", [](CHagakiInfo& i) { i.m_bFile2Rotated = 1; }, 2},
        {"merged", [](CHagakiInfo& i) { i.m_bMerged = 1; }, 2},
        {"shown file", [](CHagakiInfo& i) { i.SetFilePageName("/x/~a-1.pdf"); }, 2},
        {"back file", [](CHagakiInfo& i) { i.SetFile2("other.pdf"); }, 2},
        {"page number only", [](CHagakiInfo& i) { i.m_iFilePageNumber = 4; }, 0},
        {"front turned and name edited",
         [](CHagakiInfo& i) {
             i.m_bFile1Rotated = 1;
             i.SetFrom("Suzuki");
         },
         3},
    };
    auto s = DocSetup::DocumentMode();
    CHagakiInfo loaded;
    loaded.SetFrom("Yamada");
    loaded.SetFromkana(kCp932Name);
    loaded.SetFile1("f.pdf");
    loaded.SetFile2("b.pdf");
    loaded.SetFilePageName("Data5.pdf");
    s->doc.m_cHagakiInfoOrg = loaded;
    for (const Case& c : cases) {
        CHagakiInfo work;
        ASSERT_EQ(0, s->doc.GetHagakiInfo(work, 1));
        c.change(work);
        ASSERT_EQ(0, s->doc.SetHagakiInfo(work));
        EXPECT_EQ(c.expected, s->doc.m_iHagakiChange) << c.name;
        CHagakiInfo back;
        s->doc.GetHagakiInfo(back, 0);
        EXPECT_EQ(0, back.IsDiffUserFields(work) + back.IsDiffFileFields(work)) << c.name;
        EXPECT_EQ(work.m_iFilePageNumber, back.m_iFilePageNumber) << c.name;
    }
}

TEST(HagakiRecordDocumentMode, LoadsKeysFormedWithOneAndKeepsBytes) {
    auto s = DocSetup::DocumentMode(5);
    const std::string dat = s->DataDir() + "/Data5.dat";
    ovtest::WriteFile(dat, "[PageInfo]\nPageFlag=0\nPage1HagakiFrom=" + kCp932Name +
                               "\nPage5HagakiFrom=wrong\nPage1HagakiFromkana=kana\nPage1HagakiNumber=0012\n"
                               "Page1HagakiYear=2024\nPage1HagakiType=A\nPage1HagakiMemo=memo text\n"
                               "Page1HagakiFile1=front.pdf\nPage1HagakiFile2=back.pdf\n"
                               "Page1FilePageName=/elsewhere/x.pdf\nPage1FilePageNumber=4\n");
    s->doc.m_iHagakiChange = 3;
    s->doc.m_cHagakiInfo.m_bMerged = 1;
    ASSERT_EQ(0, s->doc.LoadHagakiInfo());
    CHagakiInfo info;
    s->doc.GetHagakiInfo(info, 0);
    EXPECT_EQ(kCp932Name, info.GetFrom());
    EXPECT_EQ("kana", info.GetFromkana());
    EXPECT_EQ("0012", info.GetNumber());
    EXPECT_EQ("2024", info.GetYear());
    EXPECT_EQ("A", info.GetType());
    EXPECT_EQ("memo text", info.GetMemo());
    EXPECT_EQ("front.pdf", info.GetFile1());
    EXPECT_EQ("back.pdf", info.GetFile2());
    // Document mode never reads the shown-file keys.
    EXPECT_EQ("Data5.pdf", info.GetFilePageName());
    EXPECT_EQ(1, info.m_iFilePageNumber);
    EXPECT_EQ(0, info.m_bMerged);
    EXPECT_EQ(0, s->doc.m_iHagakiChange);
    CHagakiInfo org;
    s->doc.GetHagakiInfo(org, 1);
    EXPECT_EQ(0, org.IsDiffUserFields(info) + org.IsDiffFileFields(info));
}

TEST(HagakiRecordDocumentMode, MissingFileLoadsEmptyRecord) {
    auto s = DocSetup::DocumentMode(9);
    ASSERT_EQ(0, s->doc.LoadHagakiInfo());
    CHagakiInfo info;
    s->doc.GetHagakiInfo(info, 0);
    EXPECT_EQ("", info.GetFrom());
    EXPECT_EQ("", info.GetFile1());
    EXPECT_EQ("Data9.pdf", info.GetFilePageName());
    EXPECT_EQ(1, info.m_iFilePageNumber);
    EXPECT_EQ(0, s->doc.m_iHagakiChange);
}

TEST(HagakiRecordDocumentMode, SaveWritesOnlyRecordKeysAndKeepsTheRest) {
    auto s = DocSetup::DocumentMode(5);
    const std::string dat = s->DataDir() + "/Data5.dat";
    const std::string before =
        "; page data\r\n[PageInfo]\r\nPageFlag=2\r\nPage1HagakiFrom=old\r\n[EditInfo]\r\nLine1=10,20,30\r\n";
    ovtest::WriteFile(dat, before);
    ASSERT_EQ(0, s->doc.LoadHagakiInfo());
    CHagakiInfo info;
    s->doc.GetHagakiInfo(info, 0);
    info.SetFrom(kCp932Name);
    info.SetMemo("");
    ASSERT_EQ(0, s->doc.SetHagakiInfo(info));
    ASSERT_EQ(1, s->doc.m_iHagakiChange);
    ASSERT_EQ(0, s->doc.SaveHagakiInfo());

    EXPECT_EQ(kCp932Name, ReadKey(dat, "PageInfo", "Page1HagakiFrom"));
    EXPECT_EQ("", ReadKey(dat, "PageInfo", "Page1HagakiMemo"));
    EXPECT_EQ("2", ReadKey(dat, "PageInfo", "PageFlag"));
    EXPECT_EQ("10,20,30", ReadKey(dat, "EditInfo", "Line1"));
    EXPECT_EQ("<none>", ReadKey(dat, "PageInfo", "Page1FilePageName"));
    EXPECT_EQ("<none>", ReadKey(dat, "PageInfo", "Page1FilePageNumber"));
    const std::string after = ovtest::ReadFile(dat);
    EXPECT_EQ(0u, after.find("; page data\r\n[PageInfo]\r\nPageFlag=2\r\n"));
    EXPECT_NE(std::string::npos, after.find("[EditInfo]\r\nLine1=10,20,30\r\n"));
}

TEST(HagakiRecordFailures, PositionWithoutPageIDChangesNothing) {
    auto s = DocSetup::DocumentMode(5);
    s->doc.m_cMapPageInfo[1].m_iPageID = 0;
    s->doc.m_cHagakiInfo.SetFrom("kept");
    s->doc.m_cHagakiInfoOrg.SetFrom("kept too");
    ovtest::TraceCapture trace;
    EXPECT_EQ(-4, s->doc.LoadHagakiInfo());
    EXPECT_EQ(-4, s->doc.SaveHagakiInfo());
    EXPECT_TRUE(trace.Contains("COrmaViewDoc::GetPageID() Error!"));
    EXPECT_EQ("kept", s->doc.m_cHagakiInfo.GetFrom());
    EXPECT_EQ("kept too", s->doc.m_cHagakiInfoOrg.GetFrom());
    EXPECT_TRUE(pctest::ListDir(s->DataDir()) == std::vector<std::string>{"Standard"});
}

TEST(HagakiRecordFailures, UnwritableRecordFileIsReportedAndLeftWhole) {
    auto s = DocSetup::DocumentMode(5);
    s->doc.m_cHagakiInfo.SetFrom("new");
    s->doc.m_iHagakiChange = 1;
    ovtest::TraceCapture trace;
    // The page's Data folder is gone: the record cannot be written.
    s->doc.m_strDocFolder = s->workDesk + "/Doc000099";
    EXPECT_EQ(-707, s->doc.SaveHagakiInfo());
    EXPECT_TRUE(trace.Contains("WritePrivateProfileString() Error!"));
    EXPECT_FALSE(ovtest::Exists(s->doc.m_strDocFolder));
}

TEST(HagakiRecordFailures, ReadOnlyRecordFileIsReportedAndLeftWhole) {
    if (geteuid() == 0)
        GTEST_SKIP() << "file modes do not stop root";
    auto s = DocSetup::DocumentMode(5);
    s->doc.m_cHagakiInfo.SetFrom("new");
    const std::string dat = s->DataDir() + "/Data5.dat";
    ovtest::WriteFile(dat, "[PageInfo]\nPage1HagakiFrom=old\n");
    chmod(s->DataDir().c_str(), 0555);
    chmod(dat.c_str(), 0444);
    EXPECT_EQ(-707, s->doc.SaveHagakiInfo());
    chmod(s->DataDir().c_str(), 0755);
    EXPECT_EQ("[PageInfo]\nPage1HagakiFrom=old\n", ovtest::ReadFile(dat));
}

TEST(HagakiRecordFailures, LineBreakInAFieldIsRefusedBeforeAnyWrite) {
    auto s = DocSetup::DocumentMode(5);
    const std::string dat = s->DataDir() + "/Data5.dat";
    ovtest::WriteFile(dat, "[PageInfo]\nPage1HagakiFrom=old\n");
    s->doc.m_cHagakiInfo.SetFrom("new");
    s->doc.m_cHagakiInfo.SetMemo("line\n[EditInfo]\nInjected=1");
    ovtest::TraceCapture trace;
    EXPECT_EQ(-705, s->doc.SaveHagakiInfo());
    EXPECT_TRUE(trace.Contains("Page1HagakiMemo"));
    EXPECT_EQ("[PageInfo]\nPage1HagakiFrom=old\n", ovtest::ReadFile(dat));
}

TEST(HagakiRecordLongValues, ReadLimitAndUneditedLongValuesSurviveASave) {
    auto s = DocSetup::DocumentMode(5);
    const std::string dat = s->DataDir() + "/Data5.dat";
    const std::string longAscii(1100, 'n');
    // 1022 bytes, then a two-byte character that would be split by the limit.
    const std::string longCp932 = std::string(1022, 'k') + "\x82\xA0" + "tail";
    ovtest::WriteFile(dat, "[PageInfo]\nPage1HagakiFrom=" + longAscii + "\nPage1HagakiFromkana=" + longCp932 +
                               "\nPage1HagakiNumber=" + std::string(1023, '7') + "\n");
    ASSERT_EQ(0, s->doc.LoadHagakiInfo());
    EXPECT_EQ(longAscii.substr(0, 1023), s->doc.m_cHagakiInfo.GetFrom());
    EXPECT_EQ(std::string(1022, 'k'), s->doc.m_cHagakiInfo.GetFromkana());
    EXPECT_EQ(std::string(1023, '7'), s->doc.m_cHagakiInfo.GetNumber());

    CHagakiInfo info;
    s->doc.GetHagakiInfo(info, 0);
    info.SetMemo("edited");
    info.SetNumber("0001");
    s->doc.SetHagakiInfo(info);
    ASSERT_EQ(0, s->doc.SaveHagakiInfo());
    EXPECT_EQ(longAscii, ReadKey(dat, "PageInfo", "Page1HagakiFrom"));
    EXPECT_EQ(longCp932, ReadKey(dat, "PageInfo", "Page1HagakiFromkana"));
    EXPECT_EQ("0001", ReadKey(dat, "PageInfo", "Page1HagakiNumber"));
    EXPECT_EQ("edited", ReadKey(dat, "PageInfo", "Page1HagakiMemo"));

    // An edited long value is what the user wants stored.
    info.SetFrom("short");
    s->doc.SetHagakiInfo(info);
    ASSERT_EQ(0, s->doc.SaveHagakiInfo());
    EXPECT_EQ("short", ReadKey(dat, "PageInfo", "Page1HagakiFrom"));
}

TEST(HagakiRecordUndoFolder, PageNumberAndShownFileAreReadInUndoFolderMode) {
    struct Case {
        const char* stored;  // nullptr: key missing
        int expected;
    };
    const Case cases[] = {{nullptr, 1}, {"0", 1}, {"-2", 1}, {"1", 1}, {"3", 3}, {"abc", 1}};
    for (const Case& c : cases) {
        auto s = DocSetup::UndoFolderMode();
        s->doc.m_iCurPagePos = 1;
        std::string ini =
            "[BinderInfo]\nTitle=T\n[PageInfo]\nPage1HagakiFrom=Sato\nPage1FilePageName=/scan/s.pdf\n";
        if (c.stored)
            ini += std::string("Page1FilePageNumber=") + c.stored + "\n";
        ovtest::WriteFile(s->UndoData(), ini);
        ASSERT_EQ(0, s->doc.LoadHagakiInfo());
        EXPECT_EQ(c.expected, s->doc.m_cHagakiInfo.m_iFilePageNumber) << (c.stored ? c.stored : "missing");
        EXPECT_EQ("/scan/s.pdf", s->doc.m_cHagakiInfo.GetFilePageName());
        EXPECT_EQ("Sato", s->doc.m_cHagakiInfo.GetFrom());
    }
}

TEST(HagakiRecordUndoFolder, SaveResetsAStoredPageNumberAboveOne) {
    struct Case {
        const char* stored;
        const char* after;
    };
    const Case cases[] = {{"3", "1"}, {"1", "1"}, {"0", "0"}, {nullptr, "<none>"}};
    for (const Case& c : cases) {
        auto s = DocSetup::UndoFolderMode();
        std::string ini = "[BinderInfo]\nTitle=T\n[PageInfo]\nPage1FilePageName=/scan/s.pdf\n";
        if (c.stored)
            ini += std::string("Page1FilePageNumber=") + c.stored + "\n";
        ini += "[EditInfo]\nMark=1\n";
        ovtest::WriteFile(s->UndoData(), ini);
        ASSERT_EQ(0, s->doc.LoadHagakiInfo());
        s->doc.m_cHagakiInfo.SetMemo("m");
        s->doc.m_cHagakiInfo.m_iFilePageNumber = 7;  // never written itself
        s->doc.m_cHagakiInfo.SetFilePageName(s->workDesk + "/~s-3.pdf");
        ASSERT_EQ(0, s->doc.SaveHagakiInfo());
        EXPECT_EQ(c.after, ReadKey(s->UndoData(), "PageInfo", "Page1FilePageNumber"))
            << (c.stored ? c.stored : "-");
        EXPECT_EQ(s->workDesk + "/~s-3.pdf", ReadKey(s->UndoData(), "PageInfo", "Page1FilePageName"));
        EXPECT_EQ("m", ReadKey(s->UndoData(), "PageInfo", "Page1HagakiMemo"));
        EXPECT_EQ("T", ReadKey(s->UndoData(), "BinderInfo", "Title"));
        EXPECT_EQ("1", ReadKey(s->UndoData(), "EditInfo", "Mark"));
    }
}

TEST(HagakiRecordUndoFolder, ReadUndoDataFileTitleRuleAndSinglePage) {
    struct Case {
        std::string stored;
        std::string shown;
    };
    const Case cases[] = {
        {"A\x18\x19"
         "B",
         "A B"},
        {"A\x18"
         "B\x19"
         "C",
         "A\x18"
         "B\x19"
         "C"},
        {"\x18\x18\x19\x19", "\x18 \x19"},
        {"\x18\x19\x18\x19", "  "},
        {kCp932Name + "\x18\x19" + kCp932Name, kCp932Name + " " + kCp932Name},
        {std::string(300, 't'), std::string(259, 't')},
    };
    for (const Case& c : cases) {
        auto s = DocSetup::UndoFolderMode();
        s->doc.m_cMapPageInfo[1] = CPageInfo{42, 0};
        s->doc.m_iPageTotal = 0;
        s->doc.m_iIndexTotal = 3;
        ovtest::WriteFile(s->UndoData(), "[BinderInfo]\nTitle=" + c.stored + "\n");
        ASSERT_EQ(0, s->doc.ReadUndoDataFile());
        EXPECT_EQ(c.shown, s->doc.m_strDocName);
        EXPECT_EQ(1, s->doc.m_iPageTotal);
        EXPECT_EQ(0, s->doc.m_iIndexTotal);
        EXPECT_EQ(1, s->doc.m_iMaxPageID);
        EXPECT_EQ(1, s->doc.m_cMapPageInfo[1].m_iPageID);
        EXPECT_EQ(-1, s->doc.m_cMapPageInfo[1].m_iPageFlag);
        EXPECT_EQ(1, s->doc.GetPageID(1));
    }
    auto s = DocSetup::UndoFolderMode();
    ASSERT_EQ(0, s->doc.ReadUndoDataFile());  // no UndoData.ini
    EXPECT_EQ("", s->doc.m_strDocName);
}
