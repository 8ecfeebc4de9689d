// SPDX-License-Identifier: AGPL-3.0-or-later
// Page extraction, turning, merging and the image I/O of the zoom view, checked
// by reading the results back.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageTestUtil.h"
#include "image/MuPdf.h"
#include "image/OrmaCnv.h"
#include "image/OrmaImage.h"
#include "image/Ravelin.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"

using imgtest::Rotations;

namespace {

IMAGE_REQUEST Request(const std::string& path, int page) {
    IMAGE_REQUEST r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.szPath, sizeof r.szPath, "%s", path.c_str());
    r.iPage = page;
    return r;
}

// Turns source by 90 degrees into destination the way the postcard commands do.
bool Turn(const std::string& source, const std::string& destination) {
    DWORD info = 0;
    if (ImageIO_GetSaveFuncInfo(50, &info) == 0)
        return false;
    IMAGE_REQUEST r = Request(source, 1);
    r.iRotation = 90;
    return ImageIO_SaveFileName(destination.c_str(), info, 1, &r, 0, 0) != 0;
}

HAGAKI_MERGE_PARAM MergeParam(const std::string& front, const std::string& back, const std::string& out) {
    HAGAKI_MERGE_PARAM p;
    std::memset(&p, 0, sizeof p);
    p.iCount = 3;
    std::snprintf(p.szFront, sizeof p.szFront, "%s", front.c_str());
    p.iFrontPage = 1;
    std::snprintf(p.szBack, sizeof p.szBack, "%s", back.c_str());
    p.iBackPage = 1;
    std::snprintf(p.szOutput, sizeof p.szOutput, "%s", out.c_str());
    return p;
}

}  // namespace

TEST(ExtractPdf, CopiesThePageObjectUnchanged) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "three.pdf", {imgtest::RectPage(200, 100, 0, 0, 50, 50, 1, 0, 0),
                                     imgtest::RectPage(150, 300, 10, 10, 50, 50, 0, 0, 1, 180),
                                     imgtest::RectPage(200, 100, 0, 0, 50, 50, 0, 1, 0)});
    ASSERT_EQ(WorkDesk_ExtractPDF((dir / "three.pdf").c_str(), 2, (dir / "two.pdf").c_str()), 0);
    EXPECT_EQ(Rotations(dir / "two.pdf"), std::vector<int>{180});
    // Same picture as page 2 of the source.
    ASSERT_EQ(
        WorkDesk_CreateThumbFile((dir / "three.pdf").c_str(), 2, (dir / "a.thm").c_str(), 1000, 1000, 0, ""),
        0);
    ASSERT_EQ(
        WorkDesk_CreateThumbFile((dir / "two.pdf").c_str(), 1, (dir / "b.thm").c_str(), 1000, 1000, 0, ""),
        0);
    EXPECT_EQ(ovtest::ReadFile(dir / "a.thm"), ovtest::ReadFile(dir / "b.thm"));
}

TEST(ExtractPdf, WorksOnJapanesePaths) {
    ovtest::TempDir dir;
    ovtest::MakeDirs(dir / "受信");
    imgtest::Pdf(dir / "受信/元.pdf", {imgtest::RectPage(100, 100, 0, 0, 5, 5, 0, 0, 0)});
    const std::string src = ov::Utf8ToCp932(dir / "受信/元.pdf").value();
    const std::string out = ov::Utf8ToCp932(dir / "受信/出力.pdf").value();
    ASSERT_EQ(WorkDesk_ExtractPDF(src.c_str(), 1, out.c_str()), 0);
    EXPECT_EQ(Rotations(dir / "受信/出力.pdf").size(), 1u);
}

TEST(TurnPdf, FourTurnsComeBackToTheStart) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "side.pdf", {imgtest::RectPage(283, 419, 0, 0, 50, 50, 0, 0, 0)});
    const std::string before = ovtest::ReadFile(dir / "side.pdf");
    ASSERT_TRUE(Turn(dir / "side.pdf", dir / "t1.pdf"));
    EXPECT_EQ(Rotations(dir / "t1.pdf"), std::vector<int>{90});
    EXPECT_EQ(ovtest::ReadFile(dir / "side.pdf"), before);  // the source is left alone
    // Later turns rewrite the copy in place.
    const std::vector<int> expect[3] = {{180}, {270}, {0}};
    for (const auto& e : expect) {
        ASSERT_TRUE(Turn(dir / "t1.pdf", dir / "t1.pdf"));
        EXPECT_EQ(Rotations(dir / "t1.pdf"), e);
    }
    EXPECT_EQ(imgtest::ListFolder(dir.Path()), (std::vector<std::string>{"side.pdf", "t1.pdf"}));
}

TEST(TurnPdf, AddsToAnInheritedOrOddRotation) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "r.pdf", {imgtest::RectPage(100, 100, 0, 0, 5, 5, 0, 0, 0, 270)});
    ASSERT_TRUE(Turn(dir / "r.pdf", dir / "out.pdf"));
    EXPECT_EQ(Rotations(dir / "out.pdf"), std::vector<int>{0});

    DWORD info = 0;
    EXPECT_EQ(ImageIO_GetSaveFuncInfo(49, &info), 0);
    ASSERT_NE(ImageIO_GetSaveFuncInfo(50, &info), 0);
    IMAGE_REQUEST r = Request(dir / "r.pdf", 1);
    r.iRotation = 45;
    ovtest::TraceCapture trace;
    EXPECT_EQ(ImageIO_SaveFileName((dir / "bad.pdf").c_str(), info, 1, &r, 0, 0), 0);
    EXPECT_TRUE(trace.Contains("Rotation is no multiple of 90!"));
    EXPECT_EQ(ImageIO_SaveFileName((dir / "bad.pdf").c_str(), info + 1, 1, &r, 0, 0), 0);
    EXPECT_FALSE(ovtest::Exists(dir / "bad.pdf"));
}

TEST(MergeTwoPage, FrontThenBackEitherSideMayBeAbsent) {
    ovtest::TempDir dir;
    // Sides are told apart by their /Rotate.
    imgtest::Pdf(dir / "f.pdf", {imgtest::RectPage(283, 419, 0, 0, 5, 5, 0, 0, 0, 90)});
    imgtest::Pdf(dir / "b.pdf", {imgtest::RectPage(419, 283, 0, 0, 5, 5, 0, 0, 0, 180)});
    HAGAKI_MERGE_PARAM p = MergeParam(dir / "f.pdf", dir / "b.pdf", dir / "m.pdf");
    ASSERT_EQ(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_EQ(Rotations(dir / "m.pdf"), (std::vector<int>{90, 180}));

    p = MergeParam(dir / "b.pdf", dir / "f.pdf", dir / "m.pdf");  // exchanged sides, target replaced
    ASSERT_EQ(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_EQ(Rotations(dir / "m.pdf"), (std::vector<int>{180, 90}));

    p = MergeParam("", dir / "b.pdf", dir / "back.pdf");
    ASSERT_EQ(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_EQ(Rotations(dir / "back.pdf"), std::vector<int>{180});

    p = MergeParam(dir / "f.pdf", "", dir / "front.pdf");
    ASSERT_EQ(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_EQ(Rotations(dir / "front.pdf"), std::vector<int>{90});

    // A named side whose file is gone is left out while the other one exists.
    ovtest::TraceCapture trace;
    p = MergeParam(dir / "gone.pdf", dir / "b.pdf", dir / "one.pdf");
    ASSERT_EQ(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_EQ(Rotations(dir / "one.pdf"), std::vector<int>{180});
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() Side missing! [front]"));

    p = MergeParam("", "", dir / "none.pdf");
    EXPECT_NE(ImageIO_MergeTwoPage(&p), 0);
    p = MergeParam(dir / "gone.pdf", dir / "gone2.pdf", dir / "none.pdf");
    EXPECT_NE(ImageIO_MergeTwoPage(&p), 0);
    EXPECT_FALSE(ovtest::Exists(dir / "none.pdf"));
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() No side to merge!"));
}

TEST(ImageInfo, FullSizeIsTheScanResolutionOrThreeHundredDpi) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "scan.pdf", {imgtest::ImagePage(300, 200, 144, 96)});
    imgtest::Pdf(dir / "vec.pdf", {imgtest::RectPage(144, 72, 0, 0, 5, 5, 0, 0, 0),
                                   imgtest::RectPage(144, 72, 0, 0, 5, 5, 0, 0, 0, 90)});
    IMAGE_REQUEST r = Request(dir / "scan.pdf", 1);
    ASSERT_NE(ImageIO_GetImageInfo(&r), 0);
    EXPECT_EQ(r.iWidth, 300);
    EXPECT_EQ(r.iHeight, 200);
    r = Request(dir / "vec.pdf", 1);
    ASSERT_NE(ImageIO_GetImageInfo(&r), 0);
    EXPECT_EQ(r.iWidth, 600);
    EXPECT_EQ(r.iHeight, 300);
    r = Request(dir / "vec.pdf", 2);  // shown turned
    ASSERT_NE(ImageIO_GetImageInfo(&r), 0);
    EXPECT_EQ(r.iWidth, 300);
    EXPECT_EQ(r.iHeight, 600);
}

TEST(LoadImage, PackedBottomUpDibAtTheRequestedScale) {
    ovtest::TempDir dir;
    // 144 x 72 pt; the top-left quarter is red, the rest white.
    imgtest::Pdf(dir / "p.pdf", {imgtest::RectPage(144, 72, 0, 36, 72, 36, 1, 0, 0)});
    IMAGE_REQUEST r = Request(dir / "p.pdf", 1);
    r.iScaleSet = 1;
    r.iScale = 250;  // 600 x 300 at full size -> 150 x 75
    HGLOBAL dib = nullptr;
    ASSERT_NE(ImageIO_LoadImage(&r, &dib), 0);
    ASSERT_NE(dib, nullptr);
    const auto* base = static_cast<const std::uint8_t*>(GlobalLock(dib));
    BITMAPINFOHEADER h;
    std::memcpy(&h, base, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 150);
    EXPECT_EQ(h.biHeight, 75);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biClrUsed, 0u);
    const std::size_t stride = 452;  // 450 padded to a multiple of 4
    EXPECT_EQ(h.biSizeImage, stride * 75);
    EXPECT_EQ(GlobalSize(dib), 40 + stride * 75);
    // Bits start after the header; the first row in memory is the bottom of the page.
    const std::uint8_t* bits = base + h.biSize + 4 * h.biClrUsed;
    auto bgr = [&](int x, int rowFromBottom) {
        const std::uint8_t* p = bits + stride * rowFromBottom + x * 3;
        return (p[0] << 16) | (p[1] << 8) | p[2];
    };
    EXPECT_EQ(bgr(10, 74), 0x0000FF);  // top-left: red, stored B, G, R
    EXPECT_EQ(bgr(10, 0), 0xFFFFFF);   // bottom-left: white
    EXPECT_EQ(bgr(140, 74), 0xFFFFFF);
    // The zoom view reads a band by its offset from the bottom row.
    const int srcY = 5, srcH = 10;
    EXPECT_EQ(bgr(10, h.biHeight - srcY - srcH), 0x0000FF);
    GlobalUnlock(dib);
    GlobalFree(dib);

    r.iScale = 1000;
    ASSERT_NE(ImageIO_LoadImage(&r, &dib), 0);
    std::memcpy(&h, GlobalLock(dib), sizeof h);
    EXPECT_EQ(h.biWidth, 600);
    EXPECT_EQ(h.biHeight, 300);
    GlobalUnlock(dib);
    GlobalFree(dib);

    ovtest::TraceCapture trace;
    r.iScale = -5;
    dib = nullptr;
    EXPECT_EQ(ImageIO_LoadImage(&r, &dib), 0);
    EXPECT_EQ(dib, nullptr);
    EXPECT_TRUE(trace.Contains("ImageIO_LoadImage() Scale Error!"));
}

TEST(ImageIoInit, NestedInitialisationsOneRelease) {
    EXPECT_NE(ImageIO_Initialize(0, "Quilm-WorkArea", 0), 0);
    EXPECT_NE(ImageIO_Initialize(0, "Quilm-WorkArea", 0), 0);
    EXPECT_NE(ImageIO_Initialize(0, "Quilm-WorkArea", 0), 0);
    EXPECT_NE(ImageIO_UnInitialize(), 0);
    ovtest::TraceCapture trace;
    EXPECT_EQ(ImageIO_UnInitialize(), 0);
    EXPECT_TRUE(trace.Contains("ImageIO_UnInitialize() without ImageIO_Initialize!"));
}
