// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image file and the scaler behind WorkDesk_GetThumbnail.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "image/MuPdf.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/Resample.h"
#include "image/ThmFile.h"
#include "support/TestSupport.h"

using namespace ov::image;

namespace {

// An R, G, B image whose pixel (x, y) has all three channels set to v(x, y).
std::vector<std::uint8_t> Gray(int w, int h, const std::vector<int>& v) {
    std::vector<std::uint8_t> rgb;
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<std::uint8_t>(v[static_cast<std::size_t>(i)]));
    return rgb;
}

int Channel(std::uint32_t px) {
    return static_cast<int>(px & 0xFF);
}

}  // namespace

TEST(Hash64, MatchesXxh64ReferenceValues) {
    EXPECT_EQ(Hash64("", 0), 0xEF46DB3751D8E999ULL);
    EXPECT_EQ(Hash64("abc", 3), 0x44BC2CF5AD770999ULL);
}

TEST(ThmFile, RoundTripKeepsEveryPixel) {
    ovtest::TempDir dir;
    std::vector<std::uint8_t> rgb(5 * 3 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(WriteThm(dir / "a.thm", 5, 3, 15, rgb.data()), 0);
    ThmImage img;
    ASSERT_EQ(ReadThm(dir / "a.thm", &img), 0);
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(img.height, 3);
    EXPECT_EQ(img.stride, 15);
    EXPECT_EQ(std::memcmp(img.pixels.get(), rgb.data(), rgb.size()), 0);
    EXPECT_EQ(imgtest::ListFolder(dir.Path()), std::vector<std::string>{"a.thm"});  // no temporary left
}

TEST(ThmFile, DamageIsDetectedNeverShown) {
    ovtest::TempDir dir;
    std::vector<std::uint8_t> rgb(40 * 30 * 3, 200);
    ASSERT_EQ(WriteThm(dir / "good.thm", 40, 30, 120, rgb.data()), 0);
    const std::string good = ovtest::ReadFile(dir / "good.thm");

    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string flippedPixel = good;
    flippedPixel[kThmHeaderSize + 1000] ^= 0x01;
    std::string widerHeader = good;
    widerHeader[16] = 41;  // width 41: header check fails
    std::vector<Case> cases = {
        {"truncated", good.substr(0, good.size() - 3)},
        {"header only", good.substr(0, kThmHeaderSize)},
        {"short", good.substr(0, 10)},
        {"empty", ""},
        {"foreign", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, 'x')},
        {"flipped pixel", flippedPixel},
        {"header changed", widerHeader},
        {"longer", good + "zz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::WriteFile(dir / "bad.thm", c.bytes);
        ovtest::TraceCapture trace;
        ThmImage img;
        EXPECT_EQ(ReadThm(dir / "bad.thm", &img), kErrThmFormat);
        CPageBitmap bm;
        EXPECT_NE(WorkDesk_GetThumbnail(nullptr, (dir / "bad.thm").c_str(), 100, 100, &bm), 0);
        EXPECT_TRUE(bm.IsNull());
        EXPECT_TRUE(trace.Contains("Page image file")) << trace.Text();
    }
    ovtest::TraceCapture trace;
    CPageBitmap bm;
    EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / "missing.thm").c_str(), 100, 100, &bm), kErrNoFile);
    EXPECT_TRUE(trace.Contains("Page image file missing!"));
}

TEST(Resample, AreaAveragingWeighsPartialPixels) {
    // 3 -> 2: each output covers 1.5 inputs.
    auto rgb = Gray(3, 1, {0, 90, 180});
    std::uint32_t out[2];
    ResampleRgbToXrgb(rgb.data(), 3, 1, 9, out, 2, 1, 2);
    EXPECT_EQ(Channel(out[0]), 30);   // (0 + 90 / 2) / 1.5
    EXPECT_EQ(Channel(out[1]), 150);  // (90 / 2 + 180) / 1.5
    EXPECT_EQ(out[0] >> 24, 0xFFu);

    // A 4x4 checkerboard halves to flat mid-grey; a 2x2 block average stays exact.
    auto board = Gray(4, 4, {0, 255, 0, 255, 255, 0, 255, 0, 0, 255, 0, 255, 255, 0, 255, 0});
    std::uint32_t half[4];
    ResampleRgbToXrgb(board.data(), 4, 4, 12, half, 2, 2, 2);
    for (std::uint32_t px : half) EXPECT_NEAR(Channel(px), 128, 1);
    auto blocks = Gray(4, 2, {10, 20, 100, 100, 30, 40, 0, 200});
    std::uint32_t two[2];
    ResampleRgbToXrgb(blocks.data(), 4, 2, 12, two, 2, 1, 2);
    EXPECT_EQ(Channel(two[0]), 25);
    EXPECT_EQ(Channel(two[1]), 100);
}

TEST(Resample, EnlargingInterpolatesAndKeepsColours) {
    auto rgb = Gray(2, 1, {0, 255});
    std::uint32_t out[4];
    ResampleRgbToXrgb(rgb.data(), 2, 1, 6, out, 4, 1, 4);
    EXPECT_EQ(Channel(out[0]), 0);
    EXPECT_NEAR(Channel(out[1]), 64, 1);
    EXPECT_NEAR(Channel(out[2]), 191, 1);
    EXPECT_EQ(Channel(out[3]), 255);
    // Channels stay in place: R in bits 16-23, B in bits 0-7.
    std::uint8_t red[3] = {255, 0, 10};
    std::uint32_t px;
    ResampleRgbToXrgb(red, 1, 1, 3, &px, 1, 1, 1);
    EXPECT_EQ(px, 0xFFFF000Au);
}

TEST(Resample, FitKeepsAspectRatio) {
    int w = 0, h = 0;
    FitSize(1240, 1754, 1856, 1044, &w, &h);  // A4 portrait into a wide window
    EXPECT_EQ(h, 1044);
    EXPECT_EQ(w, 738);
    FitSize(1754, 1240, 1856, 1044, &w, &h);
    EXPECT_EQ(w, 1477);
    EXPECT_EQ(h, 1044);
    FitSize(1000, 1, 10, 10, &w, &h);  // never below one pixel
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 1);
}

TEST(GetThumbnail, FitsTheCachedPageIntoTheBox) {
    ovtest::TempDir dir;
    // A5-ish page: left half black, right half white.
    imgtest::Pdf(dir / "p.pdf", {imgtest::RectPage(200, 100, 0, 0, 100, 100, 0, 0, 0)});
    ASSERT_EQ(
        WorkDesk_CreateThumbFile((dir / "p.pdf").c_str(), 1, (dir / "p.thm").c_str(), 1000, 1000, 0, ""), 0);
    ThmImage img;
    ASSERT_EQ(ReadThm(dir / "p.thm", &img), 0);
    EXPECT_EQ(img.width, 417);   // 200 pt at 150 DPI
    EXPECT_EQ(img.height, 208);  // 208.3 rounded

    CPageBitmap bm;
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / "p.thm").c_str(), 100, 100, &bm), 0);
    EXPECT_EQ(bm.Width(), 100);
    EXPECT_EQ(bm.Height(), 50);
    EXPECT_EQ(bm.Stride(), 400);
    EXPECT_EQ(bm.Row(25)[10], 0xFF000000u);
    EXPECT_EQ(bm.Row(25)[90], 0xFFFFFFFFu);
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / "p.thm").c_str(), 1000, 1000, &bm), 0);  // enlarged
    EXPECT_EQ(bm.Width(), 1000);
    EXPECT_EQ(bm.Height(), 499);

    // Scale per mille of 150 DPI on each axis.
    ASSERT_EQ(WorkDesk_CreateThumbFile((dir / "p.pdf").c_str(), 1, (dir / "q.thm").c_str(), 500, 2000, 0, ""),
              0);
    ASSERT_EQ(ReadThm(dir / "q.thm", &img), 0);
    EXPECT_EQ(img.width, 208);
    EXPECT_EQ(img.height, 417);

    ovtest::TraceCapture trace;
    EXPECT_NE(WorkDesk_GetThumbnail(nullptr, (dir / "p.thm").c_str(), 0, 100, &bm), 0);
    EXPECT_NE(WorkDesk_GetThumbnail(nullptr, (dir / "p.thm").c_str(), 100, 100, nullptr), 0);
    EXPECT_TRUE(trace.Contains("WorkDesk_GetThumbnail() Parameter Error!"));
}
