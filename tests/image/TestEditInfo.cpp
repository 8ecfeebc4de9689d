// SPDX-License-Identifier: AGPL-3.0-or-later
// The edit-information format and its two drawings (page image and PDF).
#include <gtest/gtest.h>

#include <cstdlib>

#include "ImageTestUtil.h"
#include "image/EditInfo.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/ThmFile.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"

using namespace ov::image;

namespace {

std::string Cp932(const char* utf8) {
    return ov::Utf8ToCp932(utf8).value();
}

// The 0xRRGGBB of pixel (x, y) of a page-image file.
std::uint32_t Pixel(const ThmImage& img, int x, int y) {
    const std::uint8_t* p = img.Pixels() + static_cast<std::size_t>(y) * img.stride + x * 3;
    return (static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
}

ThmImage Render(const std::string& pdf, const std::string& thm, int flag, const std::string& ini) {
    EXPECT_EQ(imgtest::Thumb(pdf, 1, thm, flag, ini), 0);
    ThmImage img;
    EXPECT_EQ(ReadThm(thm, &img), 0);
    return img;
}

}  // namespace

TEST(EditInfoFormat, ParsesEveryKind) {
    EditItem it;
    std::string why;
    ASSERT_TRUE(ParseEditItem("line,#FF0000,2.5,10,20,30,40", &it, &why)) << why;
    EXPECT_TRUE(it.kind == EditItem::Kind::Line && it.rgb == 0xFF0000u && it.width == 2.5f);
    EXPECT_EQ(it.pts, (std::vector<float>{10, 20, 30, 40}));

    ASSERT_TRUE(ParseEditItem(" RECT , #00ff00 , 1 , 50 , 60 , -20 , -10 ", &it, &why)) << why;
    EXPECT_EQ(it.kind, EditItem::Kind::Rect);
    EXPECT_EQ(it.pts, (std::vector<float>{30, 50, 20, 10}));  // normalised

    ASSERT_TRUE(ParseEditItem("highlight,#FFE000,40,1,2,3,4", &it, &why)) << why;
    EXPECT_FLOAT_EQ(it.opacity, 0.4f);

    ASSERT_TRUE(ParseEditItem("pen,#000000,3,0,0,10,10,20,0", &it, &why)) << why;
    EXPECT_EQ(it.pts.size(), 6u);

    ASSERT_TRUE(ParseEditItem("text,#0000FF,12,5,6," + Cp932("確認, 済み"), &it, &why)) << why;
    EXPECT_TRUE(it.kind == EditItem::Kind::Text && it.rgb == 0xFFu && it.width == 12);
    EXPECT_EQ(it.pts, (std::vector<float>{5, 6}));
    EXPECT_EQ(it.textUtf8, "確認, 済み");  // commas belong to the text
}

TEST(EditInfoFormat, MalformedItemsAreSkippedWithATraceLine) {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"Item1", "circle,#FF0000,1,0,0,5"},         // unknown kind
        {"Item2", "line,red,1,0,0,5,5"},             // colour not #RRGGBB
        {"Item3", "line,#FF0000,1,0,0,5"},           // too few numbers
        {"Item4", "rect,#FF0000,1,0,0,5,5,9"},       // too many numbers
        {"Item5", "pen,#FF0000,1,0,0"},              // one point
        {"Item6", "highlight,#FFFF00,150,0,0,5,5"},  // opacity over 100
        {"Item7", "line,#FF0000,0,0,0,5,5"},         // zero width
        {"Item8", "line,#FF0000,1,0,x,5,5"},         // not a number
        {"Item9", "text,#000000,12,0,0,"},           // no text
        {"Item10", "text,#000000,12,0,0,\x81"},      // broken CP932
        {"Item11", "line,#FF0000,1,0,0,1e9,5"},      // off any page
        {"Item12", ""},
        {"Good", "line,#123456,1,0,0,5,5"},
    };
    ovtest::TraceCapture trace;
    EditItems items = ParseEditInfo(keys);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rgb, 0x123456u);
    for (std::size_t i = 0; i + 1 < keys.size(); ++i)  // all but "Good"
        EXPECT_TRUE(trace.Contains("EditInfo item skipped! [Key] " + keys[i].first + " ")) << keys[i].first;
}

TEST(EditInfoFormat, PageLimitsSkipWhatIsOverWithATraceLine) {
    auto pen = [](int points, const char* width) {
        std::string v = std::string("pen,#000000,") + width;
        for (int i = 0; i < points; ++i) v += "," + std::to_string(i % 300) + "," + std::to_string(i % 400);
        return v;
    };
    const std::string jp = Cp932("あ");  // one character, two CP932 bytes
    std::string text1000 = "text,#000000,12,0,0,";
    for (int i = 0; i < 1000; ++i) text1000 += jp;
    struct Case {
        std::string key, value;
        bool kept;
        const char* reason;
    };
    const Case cases[] = {
        {"Wide", pen(10, "200"), false, "pen wider than 50 points"},
        {"Pen1", pen(1500, "40"), true, ""},  // 60 000 of the 100 000 points x width
        {"Pen2", pen(1100, "40"), false, "over the page's limit of pen strokes"},
        {"Pen3", pen(800, "40"), true, ""},  // still fits: later smaller items count
        {"Text1", text1000, true, ""},
        {"TooLong", text1000 + "x", false, "text longer than 1000 characters"},
        {"Text2", text1000, true, ""},
        {"Text3", text1000, true, ""},
        {"Text4", text1000, true, ""},
        {"Text5", text1000, true, ""},
        {"Text6", "text,#000000,12,0,0,x", false, "over the page's limit of 5000 text characters"},
        {"Thin1", pen(10000, "0.1"), true, ""},
        {"Thin2", pen(7695, "0.1"), true, ""},  // 1500 + 800 + 5 + 10000 + 7695 = 20 000 points
        {"Line", "line,#000000,1,0,0,5,5", false, "over the page's limit of 20000 points"},
    };
    std::vector<std::pair<std::string, std::string>> keys;
    for (const Case& c : cases) keys.emplace_back(c.key, c.value);
    ovtest::TraceCapture trace;
    const EditItems items = ParseEditInfo(keys);
    std::vector<std::string> kept;
    for (const Case& c : cases) {
        if (c.kept)
            kept.push_back(c.key);
        else
            EXPECT_TRUE(trace.Contains("EditInfo item skipped! [Key] " + c.key + " [Reason] " + c.reason))
                << c.key << "\n"
                << trace.Text();
    }
    EXPECT_EQ(items.size(), kept.size());
    EXPECT_EQ(items.back().pts.size(), 2u * 7695);
}

TEST(EditInfoDrawing, RasterAndPdfShowTheSameAnnotations) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "p.pdf", {imgtest::RectPage(200, 100, 0, 0, 1, 1, 1, 1, 1)});
    ovtest::WriteFile(dir / "p.dat",
                      "[PageInfo]\r\nPage1Flag=0\r\n[EditInfo]\r\n"
                      "Item1=rect,#FF0000,4,20,20,60,40\r\n"
                      "Item2=highlight,#0000FF,50,120,20,60,40\r\n"
                      "Item3=bogus\r\n"
                      "Item4=text,#000000,20,100,70," +
                          Cp932("注釈") + "\r\n");
    ovtest::TraceCapture trace;
    // Top-left origin: the rectangle's top edge is 20 pt below the page top.
    ThmImage off = Render(dir / "p.pdf", dir / "off.thm", 0, dir / "p.dat");
    ThmImage on = Render(dir / "p.pdf", dir / "on.thm", 1, dir / "p.dat");
    const int edgeY = 20 * 150 / 72, midX = 50 * 150 / 72;
    EXPECT_EQ(Pixel(off, midX, edgeY), 0xFFFFFFu);
    EXPECT_EQ(Pixel(on, midX, edgeY), 0xFF0000u);
    EXPECT_EQ(Pixel(on, midX, 40 * 150 / 72), 0xFFFFFFu);  // inside the frame
    const std::uint32_t blue = Pixel(on, 150 * 150 / 72, 40 * 150 / 72);
    EXPECT_NEAR(static_cast<int>(blue & 0xFF), 255, 2);  // half blue over white
    EXPECT_NEAR(static_cast<int>(blue >> 16), 128, 3);
    int dark = 0;  // the text note
    for (int y = 70 * 150 / 72; y < 90 * 150 / 72; ++y)
        for (int x = 100 * 150 / 72; x < 140 * 150 / 72; ++x) dark += Pixel(on, x, y) == 0 ? 1 : 0;
    EXPECT_GT(dark, 50);
    EXPECT_TRUE(trace.Contains("EditInfo item skipped! [Key] Item3"));
    // Missing or empty edit information still shows the page, as without the flag.
    ovtest::WriteFile(dir / "e.dat", "[PageInfo]\r\nPage1Flag=2\r\n");
    for (const char* ini : {"none.dat", "e.dat"}) {
        ASSERT_EQ(imgtest::Thumb(dir / "p.pdf", 1, dir / "x.thm", 1, dir / ini), 0);
        EXPECT_EQ(ovtest::ReadFile(dir / "x.thm"), ovtest::ReadFile(dir / "off.thm")) << ini;
    }

    // The PDF form, rendered plainly, matches the raster form.
    ASSERT_EQ(imgtest::EditInfoPdf(dir / "p.pdf", dir / "out.pdf", dir / "p.dat"), 0);
    EXPECT_EQ(imgtest::Rotations(dir / "out.pdf").size(), 1u);
    ThmImage vec = Render(dir / "out.pdf", dir / "vec.thm", 0, "");
    ASSERT_EQ(std::make_pair(vec.width, vec.height), std::make_pair(on.width, on.height));
    long long diff = 0;
    for (int y = 0; y < on.height; ++y)
        for (int x = 0; x < on.width * 3; ++x)
            diff += std::abs(on.Pixels()[static_cast<std::size_t>(y) * on.stride + x] -
                             vec.Pixels()[static_cast<std::size_t>(y) * vec.stride + x]);
    EXPECT_LT(static_cast<double>(diff) / (on.height * on.width * 3), 1.0);
}

TEST(EditInfoDrawing, RotatedPageUsesTheShownTopLeft) {
    ovtest::TempDir dir;
    // A 100 x 200 page shown turned by 90 degrees: 200 x 100 on screen.
    imgtest::Pdf(dir / "r.pdf", {imgtest::RectPage(100, 200, 0, 0, 1, 1, 1, 1, 1, 90)});
    ovtest::WriteFile(dir / "r.dat", "[EditInfo]\r\nA=highlight,#000000,100,0,0,20,20\r\n");
    ThmImage on = Render(dir / "r.pdf", dir / "on.thm", 1, dir / "r.dat");
    EXPECT_GT(on.width, on.height);
    EXPECT_EQ(Pixel(on, 5, 5), 0u);
    EXPECT_EQ(Pixel(on, on.width - 5, on.height - 5), 0xFFFFFFu);
    ASSERT_EQ(imgtest::EditInfoPdf(dir / "r.pdf", dir / "out.pdf", dir / "r.dat"), 0);
    ThmImage vec = Render(dir / "out.pdf", dir / "vec.thm", 0, "");
    EXPECT_EQ(Pixel(vec, 5, 5), 0u);
    EXPECT_EQ(Pixel(vec, vec.width - 5, vec.height - 5), 0xFFFFFFu);
}
