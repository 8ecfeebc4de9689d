// SPDX-License-Identifier: AGPL-3.0-or-later
// The sample work desk is what the viewer's run command opens: its files must
// be where and what the work desk would write.
#include <gtest/gtest.h>

#include <filesystem>

#include "ImageTestUtil.h"
#include "SampleWorkDesk.h"
#include "image/OrmaImage.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"
#include "win32/PrivateProfile.h"

namespace {

std::string Ini(const std::string& path, const char* section, const char* key) {
    char buf[1024] = {};
    GetPrivateProfileStringA(section, key, "", buf, sizeof buf, path.c_str());
    return buf;
}

}  // namespace

TEST(SampleWorkDesk, DocumentsPagesAndPostcardsAreComplete) {
    ovtest::TempDir dir;
    ovsample::SampleInfo info;
    ASSERT_TRUE(ovsample::WriteSampleWorkDesk(dir / "desk", 0, &info));
    const std::string desk = info.folder;
    const std::string doc1 = desk + "/Doc000001";

    const std::string docDat = ovtest::ReadFile(doc1 + "/Doc.dat");
    EXPECT_NE(docDat.find("[DocInfo]\r\n"), std::string::npos);  // CRLF line ends
    EXPECT_EQ(Ini(doc1 + "/Doc.dat", "DocInfo", "PageIDList"), "5,2,9,3,1,7,4,12,6,10,8,11");
    EXPECT_EQ(Ini(doc1 + "/Doc.dat", "DocInfo", "PageTotal"), "10");
    EXPECT_EQ(Ini(doc1 + "/Doc.dat", "DocInfo", "IndexTotal"), "2");
    EXPECT_EQ(ov::Cp932ToUtf8(Ini(doc1 + "/Doc.dat", "DocInfo", "DocName")).value(),
              "サンプル文書（見積・請求）");
    EXPECT_EQ(Ini(doc1 + "/Data/Data9.dat", "PageInfo", "Page1Flag"), "2");
    EXPECT_EQ(Ini(doc1 + "/Data/Data3.dat", "PageInfo", "Page1Flag"), "2");
    EXPECT_EQ(info.firstPageId, 5);

    // Every page of document 1 renders, with its annotations where it has them.
    for (int id = 1; id <= 12; ++id) {
        const std::string pdf = doc1 + "/Data/Data" + std::to_string(id) + ".pdf";
        const std::string dat = doc1 + "/Data/Data" + std::to_string(id) + ".dat";
        ovtest::TraceCapture trace;
        EXPECT_EQ(WorkDesk_CreateThumbFile(pdf.c_str(), 1, (dir / "t.thm").c_str(), 100, 100, 1, dat.c_str()),
                  0)
            << id;
        EXPECT_FALSE(trace.Contains("EditInfo item skipped!")) << trace.Text();
    }

    // Undo folder: full CP932 paths of existing side PDFs; the shown PDF has the card on page 2.
    const std::string undo = desk + "/UndoFolder/UndoData.ini";
    for (const char* key : {"Page1HagakiFile1", "Page1HagakiFile2", "Page1FilePageName"}) {
        const std::string cp932 = Ini(undo, "PageInfo", key);
        ASSERT_FALSE(cp932.empty()) << key;
        EXPECT_TRUE(ovtest::Exists(ov::Cp932ToUtf8(cp932).value())) << key;
    }
    EXPECT_EQ(Ini(undo, "PageInfo", "Page1FilePageNumber"), "2");
    EXPECT_EQ(imgtest::Rotations(ov::Cp932ToUtf8(Ini(undo, "PageInfo", "Page1FilePageName")).value()).size(),
              2u);

    // Document 3: postcard records with bare side names in Data/Standard.
    const std::string doc3 = desk + "/Doc000003";
    for (int id = 1; id <= 3; ++id) {
        const std::string dat = doc3 + "/Data/Data" + std::to_string(id) + ".dat";
        const std::string front = Ini(dat, "PageInfo", "Page1HagakiFile1");
        const std::string back = Ini(dat, "PageInfo", "Page1HagakiFile2");
        EXPECT_TRUE(ovtest::Exists(doc3 + "/Data/Standard/" + front)) << id;
        if (!back.empty()) {
            EXPECT_TRUE(ovtest::Exists(doc3 + "/Data/Standard/" + back)) << id;
        }
        EXPECT_EQ(imgtest::Rotations(doc3 + "/Data/Data" + std::to_string(id) + ".pdf").size(),
                  back.empty() ? 1u : 2u);
    }
    EXPECT_TRUE(ovtest::Exists(desk + "/WorkDesk.dat"));
    EXPECT_TRUE(ovtest::Exists(desk + "/Doc000002/Doc.dat"));
}
