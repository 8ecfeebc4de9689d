// SPDX-License-Identifier: AGPL-3.0-or-later
// Page extraction, turning, merging and the image I/O of the zoom view, checked
// by reading the results back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "ImageTestUtil.h"
#include "image/MuPdf.h"
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

TEST(TurnPdf, TurnsAddUpComeBackToTheStartAndNeverOverflow) {
    ovtest::TempDir dir;
    Pdf(dir / "side.pdf", {RectPage(283, 419, 0, 0, 50, 50, 0, 0, 0)});
    const std::string before = ovtest::ReadFile(dir / "side.pdf");
    ASSERT_TRUE(Turn(dir / "side.pdf", dir / "t1.pdf"));
    EXPECT_EQ(Rotations(dir / "t1.pdf"), std::vector<int>{90});
    EXPECT_EQ(ovtest::ReadFile(dir / "side.pdf"), before);  // the source is left alone
    // Later turns rewrite the copy in place.
    for (int want : {180, 270, 0}) {
        ASSERT_TRUE(Turn(dir / "t1.pdf", dir / "t1.pdf"));
        EXPECT_EQ(Rotations(dir / "t1.pdf"), std::vector<int>{want});
    }
    // Any stored /Rotate (also far outside 0..270) is reduced first, never added as it stands.
    const std::pair<int, int> stored[] = {
        {270, 0}, {2147483647, 180}, {-2147483647 - 1, 0}, {-90, 0}, {450, 180}};
    for (auto [rotate, want] : stored) {
        Pdf(dir / "r.pdf", {RectPage(100, 100, 0, 0, 5, 5, 0, 0, 0, rotate)});
        ASSERT_TRUE(Turn(dir / "r.pdf", dir / "r.pdf"));
        EXPECT_EQ(Rotations(dir / "r.pdf"), std::vector<int>{want}) << rotate;
    }
    ovtest::TraceCapture trace;
    EXPECT_FALSE(Turn(dir / "r.pdf", dir / "bad.pdf", 45));
    EXPECT_TRUE(trace.Contains("Rotation is no multiple of 90!"));
    EXPECT_FALSE(Turn(dir / "r.pdf", dir / "bad.pdf", 90, 1, 1));  // not the PDF writer
    EXPECT_EQ(ovtest::ListFolder(dir.Path()), (std::vector<std::string>{"r.pdf", "side.pdf", "t1.pdf"}));
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

// The zoom view's image: a packed bottom-up 24-bit DIB (B, G, R; rows padded to
// four bytes with zeros, the block not zero-filled first) at the requested scale
// of the full size, which is a single scan's own pixel size or the page at
// 300 DPI. A page that is one scan is decoded at a reduced size instead of being
// drawn; what comes out must be the page as MuPDF draws it, whatever the scale,
// the page's turn or the image's own mirroring.
TEST(LoadImage, PagesComeOutAsDrawnAtEveryScaleAndTurn) {
    ovtest::TempDir dir;
    const std::vector<std::uint8_t> jpeg = ovsample::MakeScanJpeg(480, 360, 11);
    const char* upright = "q 192 0 0 144 0 0 cm /Im0 Do Q\n";
    auto scan = [&](const char* content, int rotate) {
        return ovsample::PdfPage{192, 144, rotate, content, jpeg};
    };
    const struct {
        const char* what;
        ovsample::PdfPage page;
        float pxPerPt;  // of the full size
    } cases[] = {
        {"upright", scan(upright, 0), 2.5f},
        {"page turned 90", scan(upright, 90), 2.5f},
        {"image mirrored", scan("q -192 0 0 144 192 0 cm /Im0 Do Q\n", 0), 2.5f},
        {"image turned in the content", {144, 192, 0, "q 0 192 -144 0 144 0 cm /Im0 Do Q\n", jpeg}, 2.5f},
        {"scan with a mark, turned (drawn)",
         scan("q 192 0 0 144 0 0 cm /Im0 Do Q 1 0 0 rg 10 10 20 20 re f\n", 90), 300 / 72.0f},
        {"no scan", RectPage(144, 72, 0, 36, 72, 36, 1, 0, 0), 300 / 72.0f},
    };
    for (const auto& c : cases) {
        const std::string pdf = dir / "scan.pdf";
        Pdf(pdf, {c.page});
        const float pageW = c.page.rotate % 180 ? c.page.height : c.page.width;
        const float pageH = c.page.rotate % 180 ? c.page.width : c.page.height;
        IMAGE_REQUEST r = Request(pdf, 1);
        ASSERT_NE(ImageIO_GetImageInfo(&r), 0) << c.what;
        const int fullW = static_cast<int>(std::lround(pageW * c.pxPerPt));
        EXPECT_EQ(std::make_pair(r.iWidth, r.iHeight),
                  std::make_pair(fullW, static_cast<int>(std::lround(pageH * c.pxPerPt))))
            << c.what;
        for (int scale : {1000, 990, 875, 500, 333, 100}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(scale));
            r.iScaleSet = 1;
            r.iScale = scale;
            HGLOBAL dib = nullptr;
            ASSERT_TRUE(ImageIO_LoadImage(&r, &dib) != 0 && dib != nullptr);
            const auto* base = static_cast<const std::uint8_t*>(GlobalLock(dib));
            BITMAPINFOHEADER h;
            std::memcpy(&h, base, sizeof h);
            const int w = static_cast<int>(std::lround(r.iWidth * scale / 1000.0));
            const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
            const int hh = static_cast<int>(std::lround(r.iHeight * scale / 1000.0));
            // Size, width, height, planes, bits, compression, image bytes, colours used.
            EXPECT_EQ(std::make_tuple(h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount,
                                      h.biCompression, h.biSizeImage, h.biClrUsed),
                      std::make_tuple(40u, w, hh, 1, 24, 0u, static_cast<std::uint32_t>(stride * hh), 0u));
            ASSERT_EQ(GlobalSize(dib), 40 + stride * hh);
            // The reference: MuPDF's draw device at the same size.
            std::vector<std::uint8_t> ref;
            auto into = [&ref](int fw, int fh) { return ref.resize(std::size_t{3} * fw * fh), ref.data(); };
            ASSERT_EQ(ov::image::RenderPage(pdf, 1, w / pageW, hh / pageH, nullptr, into), 0);
            ASSERT_EQ(ref.size(), std::size_t{3} * w * hh);
            double diff = 0;
            int padding = 0;
            for (int y = 0; y < hh; ++y) {
                const std::uint8_t* d =
                    base + 40 + stride * static_cast<std::size_t>(hh - 1 - y);             // bottom-up, BGR
                const std::uint8_t* s = ref.data() + static_cast<std::size_t>(y) * w * 3;  // top-down, RGB
                for (int x = 0; x < w; ++x)
                    for (int k = 0; k < 3; ++k) diff += std::abs(int{d[x * 3 + 2 - k]} - int{s[x * 3 + k]});
                for (std::size_t x = static_cast<std::size_t>(w) * 3; x < stride; ++x) padding += d[x];
            }
            // Filters differ a little; a wrong turn or mirror differs a lot.
            EXPECT_LT(diff / (3.0 * w * hh), 6.0);
            EXPECT_EQ(padding, 0);
            GlobalUnlock(dib);
            GlobalFree(dib);
        }
    }
}
