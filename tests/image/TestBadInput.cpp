// SPDX-License-Identifier: AGPL-3.0-or-later
// Every operation refuses bad input with a non-zero result and a trace line, and
// leaves no output file behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "ImageTestUtil.h"
#include "image/MuPdf.h"
#include "image/OrmaCnv.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "support/TestSupport.h"

namespace {

using S = const std::string&;

struct NamedOp {
    const char* name;
    bool hasPage;
    bool hasOutput;
    std::function<bool(S src, int page, S out)> run;  // true on success
};

std::vector<NamedOp> Operations(const std::string& ini) {
    return {
        {"WorkDesk_ExtractPDF", true, true,
         [](S s, int p, S o) { return WorkDesk_ExtractPDF(s.c_str(), p, o.c_str()) == 0; }},
        {"WorkDesk_CreateThumbFile", true, true,
         [ini](S s, int p, S o) { return imgtest::Thumb(s, p, o, 1, ini) == 0; }},
        {"WorkDesk_CreateEditInfoPdfFile", false, true,
         [ini](S s, int, S o) { return imgtest::EditInfoPdf(s, o, ini) == 0; }},
        {"ImageIO_SaveFileName", true, true, [](S s, int p, S o) { return imgtest::Turn(s, o, 90, p); }},
        {"ImageIO_MergeTwoPage", true, true,
         [](S s, int p, S o) {
             HAGAKI_MERGE_PARAM m = imgtest::MergeParam(s, "", o);
             m.iFrontPage = p;
             return ImageIO_MergeTwoPage(&m) == 0;
         }},
        {"ImageIO_GetImageInfo", true, false,
         [](S s, int p, S) {
             IMAGE_REQUEST r = imgtest::Request(s, p);
             return ImageIO_GetImageInfo(&r) != 0;
         }},
        {"ImageIO_LoadImage", true, false,
         [](S s, int p, S) {
             IMAGE_REQUEST r = imgtest::Request(s, p);  // full size
             HGLOBAL dib = nullptr;
             const int ok = ImageIO_LoadImage(&r, &dib);
             GlobalFree(dib);
             return ok != 0;
         }},
    };
}

}  // namespace

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        imgtest::Pdf(dir / "good.pdf", {imgtest::RectPage(100, 100, 0, 0, 10, 10, 0, 0, 0)});
        ASSERT_TRUE(ovsample::WritePdf(dir / "locked.pdf",
                                       {imgtest::RectPage(100, 100, 0, 0, 10, 10, 0, 0, 0)},
                                       ovsample::PdfWriteOptions{"secret"}));
        ovtest::MakeDirs(dir / "out");
    }

    ovtest::TempDir dir;
    const std::string good = dir / "good.pdf";
};

// An output that exists is kept as it was when the operation fails.
TEST_F(BadInput, BrokenSourcesAndOutputsFailCleanlyKeepingTheOldTarget) {
    ovtest::WriteFile(dir / "truncated.pdf", ovtest::ReadFile(good).substr(0, 64));
    ovtest::WriteFile(dir / "text.pdf", "This is a letter, not a PDF.\n");
    ovtest::WriteFile(dir / "a.dat", "[EditInfo]\r\nItem1=line,#FF0000,1,0,0,50,50\r\n");
    ovtest::WriteFile(dir / "afile", "x");
    const std::string out = dir / "out/result";
    enum Kind { kSource, kPage, kOutput };
    const struct {
        Kind kind;
        std::string src;
        int page;
        std::string out;
        const char* what;
    } cases[] = {
        {kSource, dir / "missing.pdf", 1, out, "missing"},
        {kSource, dir / "truncated.pdf", 1, out, "truncated"},
        {kSource, dir / "text.pdf", 1, out, "not a PDF"},
        {kSource, dir / "locked.pdf", 1, out, "encrypted"},
        {kSource, dir.Path() + "/" + std::string(260, 'a') + ".pdf", 1, out, "path over 259 bytes"},
        {kPage, good, 2, out, "page beyond the document"},
        {kOutput, good, 1, dir / "no-such-folder/result", "missing output folder"},
        {kOutput, good, 1, dir / "afile/result", "output folder is a file"},
        {kOutput, good, 1, dir.Path() + "/out/" + std::string(260, 'b'), "output path over 259 bytes"},
    };
    for (const NamedOp& op : Operations(dir / "a.dat")) {
        for (const auto& c : cases) {
            // A merge record's 260-byte field cannot carry a longer output path.
            if ((c.kind == kPage && !op.hasPage) || (c.kind == kOutput && !op.hasOutput) ||
                (c.out.size() > 259 && std::string(op.name) == "ImageIO_MergeTwoPage"))
                continue;
            SCOPED_TRACE(std::string(op.name) + ": " + c.what);
            ovtest::WriteFile(out, "old contents");
            ovtest::TraceCapture trace;
            EXPECT_FALSE(op.run(c.src, c.page, op.hasOutput ? c.out : ""));
            EXPECT_FALSE(trace.Text().empty());
            EXPECT_EQ(ovtest::ListFolder(dir / "out"), std::vector<std::string>{"result"});
            EXPECT_EQ(ovtest::ReadFile(out), "old contents");
        }
        EXPECT_TRUE(op.run(good, 1, op.hasOutput ? out : "")) << op.name;  // the good source works
        EXPECT_EQ(ovtest::ReadFile(out) == "old contents", !op.hasOutput) << op.name;
    }
}

TEST_F(BadInput, NullOrOutOfRangeArgumentsAreRefused) {
    const std::string thm = dir / "out/x.thm", pdf = dir / "out/x.pdf", made = dir / "x.thm";
    // An edit-information path over 259 bytes, and a record path without its NUL.
    const std::string longIni = dir.Path() + "/" + std::string(260, 'c') + ".dat";
    IMAGE_REQUEST unterminated;
    std::memset(&unterminated, 'a', sizeof unterminated.szPath);
    unterminated.iPage = 1;
    DWORD info = 0;
    ImageIO_GetSaveFuncInfo(50, &info);
    IMAGE_REQUEST badScale = imgtest::Request(good, 1);
    badScale.iScaleSet = 1;
    badScale.iScale = -5;
    HGLOBAL dib = nullptr;
    ASSERT_EQ(imgtest::Thumb(good, 1, made), 0);
    CPageBitmap bm;
    ovtest::TraceCapture trace;
    const std::pair<const char*, bool> refused[] = {
        {"extract", WorkDesk_ExtractPDF(nullptr, 1, pdf.c_str()) != 0},
        {"thm null", WorkDesk_CreateThumbFile(good.c_str(), 1, nullptr, 1000, 1000, 0, nullptr) != 0},
        {"scale 0", WorkDesk_CreateThumbFile(good.c_str(), 1, thm.c_str(), 0, 1000, 0, nullptr) != 0},
        {"thumbnail path", WorkDesk_GetThumbnail(nullptr, nullptr, 10, 10, &bm) != 0},
        {"thumbnail bitmap", WorkDesk_GetThumbnail(nullptr, made.c_str(), 10, 10, nullptr) != 0},
        {"load", ImageIO_LoadImage(nullptr, nullptr) == 0},
        {"load scale -5", ImageIO_LoadImage(&badScale, &dib) == 0 && dib == nullptr},
        {"merge", ImageIO_MergeTwoPage(nullptr) != 0},
        {"save format 49", ImageIO_GetSaveFuncInfo(49, &info) == 0},
        {"save", ImageIO_SaveFileName(pdf.c_str(), info, 1, nullptr, 0, 0) == 0},
        {"unterminated", ImageIO_GetImageInfo(&unterminated) == 0},
        {"long ini thm", imgtest::Thumb(good, 1, thm, 1, longIni) == -802},
        {"long ini pdf", imgtest::EditInfoPdf(good, pdf, longIni) == -802},
        {"thm folder missing", imgtest::Thumb(good, 1, dir / "none/x.thm") == -808},
    };
    for (const auto& [what, ok] : refused) EXPECT_TRUE(ok) << what;
    EXPECT_TRUE(ovtest::ListFolder(dir / "out").empty());
    for (const std::string& line : std::vector<std::string>{
             "Path is not terminated!", "Path is too long! [edit information]",
             "WorkDesk_GetThumbnail() Parameter Error!", "ImageIO_LoadImage() Scale Error!",
             "Temporary file not created! [Path] " + dir.Path() + "/none/x.thm"})
        EXPECT_TRUE(trace.Contains(line)) << line;
}
