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

extern "C" {
#include <jpeglib.h>
}

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
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"r.pdf", "side.pdf", "t1.pdf"}));
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
    // The block is not zero-filled first: the padding at each row's end is cleared.
    int iPadding = 0;
    for (int y = 0; y < h.biHeight; ++y) iPadding += bits[stride * y + 450] + bits[stride * y + 451];
    EXPECT_EQ(iPadding, 0);
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

// A gray scan as a one-component JPEG: text-like stripes and a gradient.
static std::vector<std::uint8_t> GrayJpeg(int w, int h) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            row[static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>((y / 9) % 3 == 0 && x % 11 < 6 ? 20 : 120 + x * 100 / w);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> data(out, out + size);
    std::free(out);
    return data;
}

// A page that is one scan is decoded at a reduced size instead of being drawn;
// what comes out must be the page as MuPDF draws it, whatever the scale, the
// page's turn or the image's own mirroring.
TEST(LoadImage, ScannedPagesComeOutAsDrawnAtEveryScaleAndTurn) {
    ovtest::TempDir dir;
    const std::vector<std::uint8_t> jpeg = ovsample::MakeScanJpeg(480, 360, 11);
    auto scan = [&](const char* content, int rotate) {
        return ovsample::PdfPage{192, 144, rotate, content, jpeg};
    };
    struct Case {
        const char* what;
        ovsample::PdfPage page;
    };
    const Case cases[] = {
        {"upright", scan("q 192 0 0 144 0 0 cm /Im0 Do Q\n", 0)},
        {"page turned 90", scan("q 192 0 0 144 0 0 cm /Im0 Do Q\n", 90)},
        {"page turned 180", scan("q 192 0 0 144 0 0 cm /Im0 Do Q\n", 180)},
        {"page turned 270", scan("q 192 0 0 144 0 0 cm /Im0 Do Q\n", 270)},
        {"image mirrored", scan("q -192 0 0 144 192 0 cm /Im0 Do Q\n", 0)},
        {"image upside down", scan("q 192 0 0 -144 0 144 cm /Im0 Do Q\n", 0)},
        {"image turned in the content",
         ovsample::PdfPage{144, 192, 0, "q 0 192 -144 0 144 0 cm /Im0 Do Q\n", jpeg}},
        {"gray scan", ovsample::PdfPage{192, 144, 0, "q 192 0 0 144 0 0 cm /Im0 Do Q\n", GrayJpeg(480, 360)}},
        {"gray scan upside down",
         ovsample::PdfPage{192, 144, 0, "q 192 0 0 -144 0 144 cm /Im0 Do Q\n", GrayJpeg(480, 360)}},
        {"scan with a mark (drawn as usual)",
         scan("q 192 0 0 144 0 0 cm /Im0 Do Q 1 0 0 rg 10 10 20 20 re f\n", 0)},
    };
    for (const Case& c : cases) {
        const std::string pdf = dir / "scan.pdf";
        Pdf(pdf, {c.page});
        for (int scale : {1000, 990, 950, 875, 750, 600, 500, 333, 250, 100}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(scale));
            IMAGE_REQUEST r = Request(pdf, 1);
            ASSERT_NE(ImageIO_GetImageInfo(&r), 0);
            r.iScaleSet = 1;
            r.iScale = scale;
            HGLOBAL dib = nullptr;
            ASSERT_TRUE(ImageIO_LoadImage(&r, &dib) != 0 && dib != nullptr);
            const auto* base = static_cast<const std::uint8_t*>(GlobalLock(dib));
            BITMAPINFOHEADER h;
            std::memcpy(&h, base, sizeof h);
            EXPECT_EQ(h.biWidth, static_cast<int>(std::lround(r.iWidth * scale / 1000.0)));
            EXPECT_EQ(h.biHeight, static_cast<int>(std::lround(r.iHeight * scale / 1000.0)));
            // The reference: MuPDF's draw device at the same size.
            std::vector<std::uint8_t> ref;
            int rw = 0, rh = 0;
            const float pageW = c.page.rotate % 180 ? c.page.height : c.page.width;
            const float pageH = c.page.rotate % 180 ? c.page.width : c.page.height;
            ASSERT_EQ(ov::image::RenderPage(pdf, 1, h.biWidth / pageW, h.biHeight / pageH, nullptr,
                                            [&](int w, int hh) {
                                                rw = w;
                                                rh = hh;
                                                ref.resize(static_cast<std::size_t>(w) * hh * 3);
                                                return ref.data();
                                            }),
                      0);
            ASSERT_EQ(std::make_pair(rw, rh), std::make_pair(h.biWidth, h.biHeight));
            const std::size_t stride = (static_cast<std::size_t>(h.biWidth) * 3 + 3) & ~std::size_t{3};
            const std::uint8_t* bits = base + h.biSize;
            double diff = 0;
            for (int y = 0; y < rh; ++y) {
                const std::uint8_t* d =
                    bits + stride * static_cast<std::size_t>(rh - 1 - y);  // bottom-up, B G R
                const std::uint8_t* s = ref.data() + static_cast<std::size_t>(y) * rw * 3;  // top-down, R G B
                for (int x = 0; x < rw; ++x)
                    for (int k = 0; k < 3; ++k) diff += std::abs(int{d[x * 3 + 2 - k]} - int{s[x * 3 + k]});
            }
            // Filters differ a little; a wrong turn or mirror differs a lot.
            EXPECT_LT(diff / (static_cast<double>(rw) * rh * 3), 6.0);
            GlobalUnlock(dib);
            GlobalFree(dib);
        }
    }
}
