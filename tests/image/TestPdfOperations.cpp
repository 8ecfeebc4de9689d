// SPDX-License-Identifier: AGPL-3.0-or-later
// Page extraction, turning, merging and the image I/O of the zoom view, checked
// by reading the results back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "ImageTestUtil.h"
#include "image/OrmaCnv.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"

using namespace imgtest;

TEST(ExtractPdf, CopiesThePageObjectUnchanged) {
    ovtest::TempDir dir;
    ovtest::MakeDirs(dir / "受信");
    Pdf(dir / "受信/元.pdf",
        {RectPage(200, 100, 0, 0, 50, 50, 1, 0, 0), RectPage(150, 300, 10, 10, 50, 50, 0, 0, 1, 180),
         RectPage(200, 100, 0, 0, 50, 50, 0, 1, 0)});
    // CP932 paths, as the callers give them.
    const std::string src = ov::Utf8ToCp932(dir / "受信/元.pdf").value();
    const std::string out = ov::Utf8ToCp932(dir / "受信/出力.pdf").value();
    ASSERT_EQ(WorkDesk_ExtractPDF(src.c_str(), 2, out.c_str()), 0);
    EXPECT_EQ(Rotations(dir / "受信/出力.pdf"), std::vector<int>{180});
    // Same picture as page 2 of the source.
    ASSERT_EQ(Thumb(src, 2, dir / "a.thm"), 0);
    ASSERT_EQ(Thumb(out, 1, dir / "b.thm"), 0);
    EXPECT_EQ(ovtest::ReadFile(dir / "a.thm"), ovtest::ReadFile(dir / "b.thm"));
}

TEST(TurnPdf, TurnsAddUpAndComeBackToTheStart) {
    ovtest::TempDir dir;
    Pdf(dir / "side.pdf", {RectPage(283, 419, 0, 0, 50, 50, 0, 0, 0)});
    Pdf(dir / "r.pdf", {RectPage(100, 100, 0, 0, 5, 5, 0, 0, 0, 270)});
    const std::string before = ovtest::ReadFile(dir / "side.pdf");
    ASSERT_TRUE(Turn(dir / "side.pdf", dir / "t1.pdf"));
    EXPECT_EQ(Rotations(dir / "t1.pdf"), std::vector<int>{90});
    EXPECT_EQ(ovtest::ReadFile(dir / "side.pdf"), before);  // the source is left alone
    // Later turns rewrite the copy in place.
    for (int want : {180, 270, 0}) {
        ASSERT_TRUE(Turn(dir / "t1.pdf", dir / "t1.pdf"));
        EXPECT_EQ(Rotations(dir / "t1.pdf"), std::vector<int>{want});
    }
    ASSERT_TRUE(Turn(dir / "r.pdf", dir / "r.pdf"));  // 270 + 90
    EXPECT_EQ(Rotations(dir / "r.pdf"), std::vector<int>{0});
    ovtest::TraceCapture trace;
    EXPECT_FALSE(Turn(dir / "r.pdf", dir / "bad.pdf", 45));
    EXPECT_TRUE(trace.Contains("Rotation is no multiple of 90!"));
    EXPECT_FALSE(Turn(dir / "r.pdf", dir / "bad.pdf", 90, 1, 1));  // not the PDF writer
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"r.pdf", "side.pdf", "t1.pdf"}));
}

TEST(TurnPdf, AnyStoredRotateTurnsWithoutOverflow) {
    ovtest::TempDir dir;
    // Stored values far outside 0..270: reduced first, never added as they stand.
    const std::pair<int, int> cases[] = {{2147483647, 180}, {-2147483647 - 1, 0}, {-90, 0}, {450, 180}};
    for (auto [stored, want] : cases) {
        SCOPED_TRACE(stored);
        Pdf(dir / "odd.pdf", {RectPage(100, 100, 0, 0, 5, 5, 0, 0, 0, stored)});
        ASSERT_TRUE(Turn(dir / "odd.pdf", dir / "odd-t.pdf"));
        EXPECT_EQ(Rotations(dir / "odd-t.pdf"), std::vector<int>{want});
    }
}

TEST(MergeTwoPage, FrontThenBackEitherSideMayBeAbsent) {
    ovtest::TempDir dir;
    // Sides are told apart by their /Rotate.
    Pdf(dir / "f.pdf", {RectPage(283, 419, 0, 0, 5, 5, 0, 0, 0, 90)});
    Pdf(dir / "b.pdf", {RectPage(419, 283, 0, 0, 5, 5, 0, 0, 0, 180)});
    const std::string f = dir / "f.pdf", b = dir / "b.pdf", gone = dir / "gone.pdf", m = dir / "m.pdf";
    const struct {
        std::string front, back;
        std::vector<int> pages;  // empty: refused
    } cases[] = {
        {f, b, {90, 180}}, {b, f, {180, 90}},  // exchanged sides, target replaced
        {"", b, {180}},    {f, "", {90}},
        {gone, b, {180}},  // a named side whose file is gone is left out while the other exists
        {"", "", {}},      {gone, dir / "gone2.pdf", {}},
    };
    ovtest::TraceCapture trace;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.front + " + " + c.back);
        std::error_code ec;
        std::filesystem::remove(m, ec);
        HAGAKI_MERGE_PARAM p = MergeParam(c.front, c.back, m);
        EXPECT_EQ(ImageIO_MergeTwoPage(&p) == 0, !c.pages.empty());
        EXPECT_EQ(Rotations(m), c.pages);
    }
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() Side missing! [front]"));
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() No side to merge!"));
}

TEST(ImageInfo, FullSizeIsTheScanResolutionOrThreeHundredDpi) {
    ovtest::TempDir dir;
    Pdf(dir / "scan.pdf", {ImagePage(300, 200, 144, 96)});
    Pdf(dir / "vec.pdf",
        {RectPage(144, 72, 0, 0, 5, 5, 0, 0, 0), RectPage(144, 72, 0, 0, 5, 5, 0, 0, 0, 90)});
    const struct {
        std::string pdf;
        int page, width, height;
    } cases[] = {
        {dir / "scan.pdf", 1, 300, 200}, {dir / "vec.pdf", 1, 600, 300}, {dir / "vec.pdf", 2, 300, 600}};
    for (const auto& c : cases) {  // page 2 of vec.pdf is shown turned
        IMAGE_REQUEST r = Request(c.pdf, c.page);
        ASSERT_NE(ImageIO_GetImageInfo(&r), 0);
        EXPECT_EQ(std::make_pair(r.iWidth, r.iHeight), std::make_pair(c.width, c.height)) << c.pdf << c.page;
    }
}

TEST(LoadImage, PackedBottomUpDibAtTheRequestedScale) {
    ovtest::TempDir dir;
    // 144 x 72 pt; the top-left quarter is red, the rest white.
    Pdf(dir / "p.pdf", {RectPage(144, 72, 0, 36, 72, 36, 1, 0, 0)});
    IMAGE_REQUEST r = Request(dir / "p.pdf", 1);
    r.iScaleSet = 1;
    r.iScale = 250;  // 600 x 300 at full size -> 150 x 75
    HGLOBAL dib = nullptr;
    ASSERT_TRUE(ImageIO_LoadImage(&r, &dib) != 0 && dib != nullptr);
    const auto* base = static_cast<const std::uint8_t*>(GlobalLock(dib));
    BITMAPINFOHEADER h;
    std::memcpy(&h, base, sizeof h);
    const std::size_t stride = 452;  // 450 padded to a multiple of 4
    // Size, width, height, planes, bits, compression, image bytes, colours used.
    EXPECT_EQ(std::make_tuple(h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount, h.biCompression,
                              h.biSizeImage, h.biClrUsed),
              std::make_tuple(40u, 150, 75, 1, 24, 0u, static_cast<std::uint32_t>(stride * 75), 0u));
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
}

TEST(ImageIoInit, NestedInitialisationsOneRelease) {
    for (int i = 0; i < 3; ++i) EXPECT_NE(ImageIO_Initialize(0, "Quilm-WorkArea", 0), 0);
    EXPECT_NE(ImageIO_UnInitialize(), 0);
    ovtest::TraceCapture trace;
    EXPECT_EQ(ImageIO_UnInitialize(), 0);
    EXPECT_TRUE(trace.Contains("ImageIO_UnInitialize() without ImageIO_Initialize!"));
}
