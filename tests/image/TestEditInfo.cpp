// SPDX-License-Identifier: AGPL-3.0-or-later
// The edit-information format and its two drawings (page image and PDF).
#include <gtest/gtest.h>

#include <sstream>

#include "ImageTestUtil.h"
#include "image/EditInfo.h"
#include "support/TestSupport.h"
#include "win32/CodePage.h"

using namespace ov::image;
using imgtest::Pixel;

namespace {

constexpr auto Cp932 = ovtest::Sj;

// An item as "kind rgb width opacity points... [text]".
std::string Shown(const EditItem& it) {
    std::ostringstream s;
    s << static_cast<int>(it.kind) << ' ' << std::hex << it.rgb << std::dec << ' ' << it.width << ' '
      << it.opacity;
    for (float p : it.pts) s << ' ' << p;
    return s.str() + (it.textUtf8.empty() ? "" : " " + it.textUtf8);
}

// The page of pdf drawn without and with the annotations of dat, and the annotated PDF drawn plainly.
struct Drawn {
    ThmImage off, on, vec;
};
Drawn Draw(const ovtest::TempDir& dir, const std::string& pdf, const std::string& dat) {
    EXPECT_EQ(imgtest::Thumb(pdf, 1, dir / "off.thm", 0, dat), 0);
    EXPECT_EQ(imgtest::Thumb(pdf, 1, dir / "on.thm", 1, dat), 0);
    EXPECT_EQ(imgtest::EditInfoPdf(pdf, dir / "out.pdf", dat), 0);
    EXPECT_EQ(imgtest::Rotations(dir / "out.pdf").size(), 1u);
    EXPECT_EQ(imgtest::Thumb(dir / "out.pdf", 1, dir / "vec.thm"), 0);
    return {imgtest::ReadBack(dir / "off.thm"), imgtest::ReadBack(dir / "on.thm"),
            imgtest::ReadBack(dir / "vec.thm")};
}

}  // namespace

// Kinds: 0 line, 1 rect, 2 highlight, 3 pen, 4 text.
TEST(EditInfoFormat, ParsesEveryKindAndSkipsMalformedItemsWithATraceLine) {
    const std::pair<std::string, std::string> good[] = {
        {"line,#FF0000,2.5,10,20,30,40", "0 ff0000 2.5 1 10 20 30 40"},
        {" RECT , #00ff00 , 1 , 50 , 60 , -20 , -10 ", "1 ff00 1 1 30 50 20 10"},  // normalised
        {"highlight,#FFE000,40,1,2,3,4", "2 ffe000 1 0.4 1 2 3 4"},
        {"pen,#000000,3,0,0,10,10,20,0", "3 0 3 1 0 0 10 10 20 0"},
        {"text,#0000FF,12,5,6," + Cp932("確認, 済み"), "4 ff 12 1 5 6 確認, 済み"},  // commas are text
    };
    // Unknown kind, colour not #RRGGBB, too few or too many numbers, one pen point, opacity over 100,
    // zero width, not a number, no text, broken CP932, off any page, nothing.
    const std::string bad[] = {
        "circle,#FF0000,1,0,0,5",   "line,red,1,0,0,5,5",       "line,#FF0000,1,0,0,5",
        "rect,#FF0000,1,0,0,5,5,9", "pen,#FF0000,1,0,0",        "highlight,#FFFF00,150,0,0,5,5",
        "line,#FF0000,0,0,0,5,5",   "line,#FF0000,1,0,x,5,5",   "text,#000000,12,0,0,",
        "text,#000000,12,0,0,\x81", "line,#FF0000,1,0,0,1e9,5", ""};
    std::vector<std::pair<std::string, std::string>> keys;
    std::vector<std::string> want, got;
    for (const auto& [value, shown] : good) {
        keys.emplace_back("Good" + std::to_string(keys.size()), value);
        want.push_back(shown);
    }
    for (const std::string& value : bad) keys.emplace_back("Bad" + std::to_string(keys.size()), value);
    ovtest::TraceCapture trace;
    for (const EditItem& it : ParseEditInfo(keys)) got.push_back(Shown(it));
    EXPECT_EQ(got, want);
    for (const auto& [key, value] : keys)
        EXPECT_EQ(trace.Contains("EditInfo item skipped! [Key] " + key + " "), key[0] == 'B') << key;
}

TEST(EditInfoFormat, PageLimitsSkipWhatIsOverWithATraceLine) {
    auto pen = [](int points, const char* width) {
        std::string v = std::string("pen,#000000,") + width;
        for (int i = 0; i < points; ++i) v += "," + std::to_string(i % 300) + "," + std::to_string(i % 400);
        return v;
    };
    std::string text1000 = "text,#000000,12,0,0,";
    for (int i = 0; i < 1000; ++i) text1000 += Cp932("あ");  // one character, two CP932 bytes
    const struct {
        std::string key, value;
        const char* reason;  // "": kept
    } cases[] = {
        {"Wide", pen(10, "200"), "pen wider than 50 points"},
        {"Pen1", pen(1500, "40"), ""},  // 60 000 of the 100 000 points x width
        {"Pen2", pen(1100, "40"), "over the page's limit of pen strokes"},
        {"Pen3", pen(800, "40"), ""},  // still fits: later smaller items count
        {"Text1", text1000, ""},
        {"TooLong", text1000 + "x", "text longer than 1000 characters"},
        {"Text2", text1000, ""},
        {"Text3", text1000, ""},
        {"Text4", text1000, ""},
        {"Text5", text1000, ""},
        {"Text6", "text,#000000,12,0,0,x", "over the page's limit of 5000 text characters"},
        {"Thin1", pen(10000, "0.1"), ""},
        {"Thin2", pen(7695, "0.1"), ""},  // 1500 + 800 + 5 + 10000 + 7695 = 20 000 points
        {"Line", "line,#000000,1,0,0,5,5", "over the page's limit of 20000 points"},
    };
    std::vector<std::pair<std::string, std::string>> keys;
    std::size_t nKept = 0;
    for (const auto& c : cases) {
        keys.emplace_back(c.key, c.value);
        nKept += *c.reason == '\0';
    }
    ovtest::TraceCapture trace;
    const EditItems items = ParseEditInfo(keys);
    for (const auto& c : cases)
        EXPECT_EQ(trace.Contains("EditInfo item skipped! [Key] " + c.key + " [Reason] " + c.reason),
                  *c.reason != 0)
            << c.key << "\n"
            << trace.Text();
    EXPECT_EQ(items.size(), nKept);
    EXPECT_EQ(items.back().pts.size(), 2u * 7695);
}

// Top-left origin of the page as shown; the PDF form, drawn plainly, matches the page image.
TEST(EditInfoDrawing, RasterAndPdfShowTheSameAnnotations) {
    ovtest::TempDir dir;
    imgtest::Pdf(dir / "p.pdf", {imgtest::RectPage(200, 100, 0, 0, 1, 1, 1, 1, 1)});
    ovtest::WriteFile(
        dir / "p.dat",
        "[PageInfo]\r\nPage1Flag=0\r\n[EditInfo]\r\nItem1=rect,#FF0000,4,20,20,60,40\r\n"
        "Item2=highlight,#0000FF,50,120,20,60,40\r\nItem3=bogus\r\nItem4=text,#000000,20,100,70," +
            Cp932("注釈") + "\r\n");
    ovtest::TraceCapture trace;
    const Drawn d = Draw(dir, dir / "p.pdf", dir / "p.dat");
    auto at = [](int pt) { return pt * 150 / 72; };
    EXPECT_EQ(Pixel(d.off, at(50), at(20)), 0xFFFFFFu);
    EXPECT_EQ(Pixel(d.on, at(50), at(20)), 0xFF0000u);  // the rectangle's top edge
    EXPECT_EQ(Pixel(d.on, at(50), at(40)), 0xFFFFFFu);  // inside the frame
    const std::uint32_t blue = Pixel(d.on, at(150), at(40));
    EXPECT_NEAR(static_cast<int>(blue & 0xFF), 255, 2);  // half blue over white
    EXPECT_NEAR(static_cast<int>(blue >> 16), 128, 3);
    int dark = 0;  // the text note
    for (int y = at(70); y < at(90); ++y)
        for (int x = at(100); x < at(140); ++x) dark += Pixel(d.on, x, y) == 0 ? 1 : 0;
    EXPECT_GT(dark, 50);
    EXPECT_TRUE(trace.Contains("EditInfo item skipped! [Key] Item3"));
    const double diff = imgtest::MeanDiff(d.on, d.vec);
    EXPECT_TRUE(diff >= 0 && diff < 1.0) << diff;
    // Missing or empty edit information still shows the page, as without the flag.
    ovtest::WriteFile(dir / "e.dat", "[PageInfo]\r\nPage1Flag=2\r\n");
    for (const char* ini : {"none.dat", "e.dat"}) {
        ASSERT_EQ(imgtest::Thumb(dir / "p.pdf", 1, dir / "x.thm", 1, dir / ini), 0);
        EXPECT_EQ(ovtest::ReadFile(dir / "x.thm"), ovtest::ReadFile(dir / "off.thm")) << ini;
    }
    // A 100 x 200 page shown turned by 90 degrees: 200 x 100 on screen, marked at its shown top left.
    imgtest::Pdf(dir / "r.pdf", {imgtest::RectPage(100, 200, 0, 0, 1, 1, 1, 1, 1, 90)});
    ovtest::WriteFile(dir / "r.dat", "[EditInfo]\r\nA=highlight,#000000,100,0,0,20,20\r\n");
    const Drawn r = Draw(dir, dir / "r.pdf", dir / "r.dat");
    EXPECT_GT(r.on.width, r.on.height);
    for (const ThmImage* img : {&r.on, &r.vec}) {
        EXPECT_EQ(Pixel(*img, 5, 5), 0u);
        EXPECT_EQ(Pixel(*img, img->width - 5, img->height - 5), 0xFFFFFFu);
    }
}
