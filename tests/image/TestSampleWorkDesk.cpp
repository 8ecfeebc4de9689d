// SPDX-License-Identifier: AGPL-3.0-or-later
// The sample work desk is what the viewer's run command opens: its files must
// be where and what the work desk would write.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "SampleWorkDesk.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"
#include "win32/PrivateProfile.h"

namespace {

// A key of an INI file of the desk, as UTF-8.
std::string Ini(const std::string& path, const char* key, const char* section = "PageInfo") {
    char buf[1024] = {};
    GetPrivateProfileStringA(section, key, "", buf, sizeof buf, path.c_str());
    return ov::Cp932ToUtf8(buf).value_or("");
}

}  // namespace

TEST(SampleWorkDesk, DocumentsPagesAndPostcardsAreComplete) {
    ovtest::TempDir dir;
    ovsample::SampleInfo info;
    ASSERT_TRUE(ovsample::WriteSampleWorkDesk(dir / "desk", 0, &info));
    const std::string desk = info.folder, doc1 = desk + "/Doc000001", data1 = doc1 + "/Data/Data";
    EXPECT_EQ(Ini(doc1 + "/Doc.dat", "PageIDList", "DocInfo"), "5,2,9,3,1,7,4,12,6,10,8,11");
    EXPECT_EQ(Ini(data1 + "9.dat", "Page1Flag") + Ini(data1 + "3.dat", "Page1Flag"), "22");  // index sheets
    // Every page of document 1 renders, with its annotations where it has them.
    for (int id = 1; id <= 12; ++id) {
        const std::string base = data1 + std::to_string(id);
        ovtest::TraceCapture trace;
        EXPECT_EQ(imgtest::Thumb(base + ".pdf", 1, dir / "t.thm", 1, base + ".dat", 100, 100), 0) << id;
        EXPECT_FALSE(trace.Contains("EditInfo item skipped!")) << trace.Text();
    }
    // Undo folder: full paths of existing side PDFs; the shown PDF has the card on page 2.
    const std::string undo = desk + "/UndoFolder/UndoData.ini";
    for (const char* key : {"Page1HagakiFile1", "Page1HagakiFile2", "Page1FilePageName"})
        EXPECT_TRUE(ovtest::Exists(Ini(undo, key))) << key;
    EXPECT_EQ(Ini(undo, "Page1FilePageNumber"), "2");
    EXPECT_EQ(imgtest::Rotations(Ini(undo, "Page1FilePageName")).size(), 2u);
    // Document 3: postcard records with bare side names in Data/Standard.
    const std::string doc3 = desk + "/Doc000003/Data/";
    for (int id = 1; id <= 3; ++id) {
        const std::string data = doc3 + "Data" + std::to_string(id),
                          back = Ini(data + ".dat", "Page1HagakiFile2");
        EXPECT_TRUE(ovtest::Exists(doc3 + "Standard/" + Ini(data + ".dat", "Page1HagakiFile1"))) << id;
        EXPECT_TRUE(back.empty() || ovtest::Exists(doc3 + "Standard/" + back)) << id;
        EXPECT_EQ(imgtest::Rotations(data + ".pdf").size(), back.empty() ? 1u : 2u);
    }
}
