// SPDX-License-Identifier: AGPL-3.0-or-later
// Every operation refuses bad input with a non-zero result and a trace line, and
// leaves no output file behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "ImageTestUtil.h"
#include "image/OrmaCnv.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/Ravelin.h"
#include "support/TestSupport.h"

namespace {

using Op = std::function<bool(const std::string& src, int page, const std::string& out)>;

struct NamedOp {
    const char* name;
    Op run;  // true on success
    bool hasPage;
    bool hasOutput;
};

IMAGE_REQUEST Request(const std::string& path, int page) {
    IMAGE_REQUEST r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.szPath, path.c_str(), sizeof r.szPath - 1);
    r.iPage = page;
    return r;
}

std::vector<NamedOp> Operations(const std::string& ini) {
    return {
        {"WorkDesk_ExtractPDF",
         [](const std::string& s, int p, const std::string& o) {
             return WorkDesk_ExtractPDF(s.c_str(), p, o.c_str()) == 0;
         },
         true, true},
        {"WorkDesk_CreateThumbFile",
         [ini](const std::string& s, int p, const std::string& o) {
             return WorkDesk_CreateThumbFile(s.c_str(), p, o.c_str(), 1000, 1000, 1, ini.c_str()) == 0;
         },
         true, true},
        {"WorkDesk_CreateEditInfoPdfFile",
         [ini](const std::string& s, int, const std::string& o) {
             int reserved = 0;
             unsigned char block[48] = {};
             return WorkDesk_CreateEditInfoPdfFile(s.c_str(), o.c_str(), ini.c_str(), &reserved, block) == 0;
         },
         false, true},
        {"ImageIO_SaveFileName",
         [](const std::string& s, int p, const std::string& o) {
             DWORD info = 0;
             ImageIO_GetSaveFuncInfo(50, &info);
             IMAGE_REQUEST r = Request(s, p);
             r.iRotation = 90;
             return ImageIO_SaveFileName(o.c_str(), info, 1, &r, 0, 0) != 0;
         },
         true, true},
        {"ImageIO_MergeTwoPage",
         [](const std::string& s, int p, const std::string& o) {
             HAGAKI_MERGE_PARAM m;
             std::memset(&m, 0, sizeof m);
             m.iCount = 3;
             std::strncpy(m.szFront, s.c_str(), sizeof m.szFront - 1);
             m.iFrontPage = p;
             std::strncpy(m.szOutput, o.c_str(), sizeof m.szOutput - 1);
             return ImageIO_MergeTwoPage(&m) == 0;
         },
         true, true},
        {"ImageIO_GetImageInfo",
         [](const std::string& s, int p, const std::string&) {
             IMAGE_REQUEST r = Request(s, p);
             return ImageIO_GetImageInfo(&r) != 0;
         },
         true, false},
        {"ImageIO_LoadImage",
         [](const std::string& s, int p, const std::string&) {
             IMAGE_REQUEST r = Request(s, p);
             r.iScaleSet = 1;
             r.iScale = 100;
             HGLOBAL dib = nullptr;
             int ok = ImageIO_LoadImage(&r, &dib);
             if (dib != nullptr)
                 GlobalFree(dib);
             return ok != 0;
         },
         true, false},
    };
}

}  // namespace

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        imgtest::Pdf(dir / "good.pdf", {imgtest::RectPage(100, 100, 0, 0, 10, 10, 0, 0, 0)});
        ovsample::PdfWriteOptions locked;
        locked.userPassword = "secret";
        ASSERT_TRUE(ovsample::WritePdf(dir / "locked.pdf",
                                       {imgtest::RectPage(100, 100, 0, 0, 10, 10, 0, 0, 0)}, locked));
        ovtest::WriteFile(dir / "empty.pdf", "");
        ovtest::WriteFile(dir / "truncated.pdf", ovtest::ReadFile(dir / "good.pdf").substr(0, 64));
        ovtest::WriteFile(dir / "text.pdf", "This is a letter, not a PDF.\n");
        ovtest::WriteFile(dir / "a.dat", "[EditInfo]\r\nItem1=line,#FF0000,1,0,0,50,50\r\n");
        ovtest::WriteFile(dir / "afile", "x");
        ovtest::MakeDirs(dir / "out");
    }

    // Runs op and checks the failure, the trace line and that the output folder stays empty.
    void ExpectFailure(const NamedOp& op, const std::string& src, int page, const std::string& out,
                       const std::string& what) {
        SCOPED_TRACE(std::string(op.name) + ": " + what);
        ovtest::TraceCapture trace;
        EXPECT_FALSE(op.run(src, page, out));
        EXPECT_FALSE(trace.Text().empty());
        EXPECT_TRUE(imgtest::ListFolder(dir / "out").empty());
    }

    ovtest::TempDir dir;
};

TEST_F(BadInput, BrokenSourcesFailCleanly) {
    const std::string longPath = dir.Path() + "/" + std::string(260, 'a') + ".pdf";
    struct Source {
        std::string path;
        const char* what;
    } sources[] = {
        {dir / "missing.pdf", "missing"},
        {dir / "empty.pdf", "empty"},
        {dir / "truncated.pdf", "truncated"},
        {dir / "text.pdf", "not a PDF"},
        {dir / "locked.pdf", "encrypted"},
        {longPath, "path over 259 bytes"},
        {"", "empty path"},
    };
    for (const NamedOp& op : Operations(dir / "a.dat")) {
        const std::string out = op.hasOutput ? dir / "out/result" : "";
        for (const Source& s : sources) ExpectFailure(op, s.path, 1, out, s.what);
        if (op.hasPage) {
            ExpectFailure(op, dir / "good.pdf", 2, out, "page beyond the document");
            ExpectFailure(op, dir / "good.pdf", 0, out, "page 0");
        }
        EXPECT_TRUE(op.run(dir / "good.pdf", 1, out)) << op.name;  // the good source works
        std::error_code ec;
        if (op.hasOutput)
            std::filesystem::remove(dir / "out/result", ec);
    }
}

TEST_F(BadInput, UnwritableOutputsFailCleanly) {
    const std::string longOut = dir.Path() + "/out/" + std::string(260, 'b');
    for (const NamedOp& op : Operations(dir / "a.dat")) {
        if (!op.hasOutput)
            continue;
        ExpectFailure(op, dir / "good.pdf", 1, dir / "no-such-folder/result", "missing output folder");
        ExpectFailure(op, dir / "good.pdf", 1, dir / "afile/result", "output folder is a file");
        // A record's 260-byte field cannot carry a longer output path.
        if (std::string(op.name) != "ImageIO_MergeTwoPage")
            ExpectFailure(op, dir / "good.pdf", 1, longOut, "output path over 259 bytes");
        ExpectFailure(op, dir / "good.pdf", 1, "", "empty output path");
    }
}

TEST_F(BadInput, AFailedRewriteKeepsTheOldTarget) {
    ovtest::WriteFile(dir / "out/keep.pdf", "old contents");
    ovtest::TraceCapture trace;
    EXPECT_NE(WorkDesk_ExtractPDF((dir / "text.pdf").c_str(), 1, (dir / "out/keep.pdf").c_str()), 0);
    EXPECT_EQ(ovtest::ReadFile(dir / "out/keep.pdf"), "old contents");
    EXPECT_EQ(imgtest::ListFolder(dir / "out"), std::vector<std::string>{"keep.pdf"});
}

TEST_F(BadInput, NullArgumentsAreRefused) {
    ovtest::TraceCapture trace;
    EXPECT_NE(WorkDesk_ExtractPDF(nullptr, 1, (dir / "out/x.pdf").c_str()), 0);
    EXPECT_NE(WorkDesk_CreateThumbFile((dir / "good.pdf").c_str(), 1, nullptr, 1000, 1000, 0, nullptr), 0);
    EXPECT_NE(WorkDesk_CreateThumbFile((dir / "good.pdf").c_str(), 1, (dir / "out/x.thm").c_str(), 0, 1000, 0,
                                       nullptr),
              0);
    CPageBitmap bm;
    EXPECT_NE(WorkDesk_GetThumbnail(nullptr, nullptr, 10, 10, &bm), 0);
    EXPECT_EQ(ImageIO_GetImageInfo(nullptr), 0);
    EXPECT_EQ(ImageIO_LoadImage(nullptr, nullptr), 0);
    EXPECT_NE(ImageIO_MergeTwoPage(nullptr), 0);
    DWORD info = 0;
    EXPECT_EQ(ImageIO_GetSaveFuncInfo(50, nullptr), 0);
    ImageIO_GetSaveFuncInfo(50, &info);
    EXPECT_EQ(ImageIO_SaveFileName((dir / "out/x.pdf").c_str(), info, 1, nullptr, 0, 0), 0);
    // A record path without its terminating NUL.
    IMAGE_REQUEST r;
    std::memset(&r, 'a', sizeof r.szPath);
    r.iPage = 1;
    EXPECT_EQ(ImageIO_GetImageInfo(&r), 0);
    // An edit-information path over 259 bytes is refused too.
    const std::string longIni = dir.Path() + "/" + std::string(260, 'c') + ".dat";
    EXPECT_EQ(WorkDesk_CreateThumbFile((dir / "good.pdf").c_str(), 1, (dir / "out/x.thm").c_str(), 1000, 1000,
                                       1, longIni.c_str()),
              -802);
    int reserved = 0;
    unsigned char block[48] = {};
    EXPECT_EQ(WorkDesk_CreateEditInfoPdfFile((dir / "good.pdf").c_str(), (dir / "out/x.pdf").c_str(),
                                             longIni.c_str(), &reserved, block),
              -802);
    EXPECT_TRUE(imgtest::ListFolder(dir / "out").empty());
    EXPECT_TRUE(trace.Contains("Path is not terminated!"));
    EXPECT_TRUE(trace.Contains("Path is too long! [edit information]"));
}
