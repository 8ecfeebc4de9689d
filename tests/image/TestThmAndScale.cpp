// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image file, its hand-off in memory and the scaler behind WorkDesk_GetThumbnail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ImageTestUtil.h"
#include "image/EditInfo.h"
#include "image/MuPdf.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/Resample.h"
#include "image/ThmFile.h"
#include "support/BitmapGap.h"
#include "support/TestSupport.h"

using namespace ov::image;

namespace {

// An R, G, B image whose pixel (x, y) has all three channels set to v(x, y).
std::vector<std::uint8_t> Gray(const std::vector<int>& v) {
    std::vector<std::uint8_t> rgb;
    for (int x : v) rgb.insert(rgb.end(), 3, static_cast<std::uint8_t>(x));
    return rgb;
}

// Writes a 40 x 20 page image of one grey value; where its pixels are in memory.
const std::uint8_t* WriteGray(const std::string& path, int value) {
    ThmImage img;
    EXPECT_TRUE(img.Allocate(40, 20));
    std::memset(img.Pixels(), value, img.PixelBytes());
    const std::uint8_t* pixels = img.Pixels();
    EXPECT_EQ(WriteThm(path, std::move(img)), 0);
    return pixels;
}

// A page-image file of w x h pixels holding the encoded bytes enc, with valid checksums.
std::string Crafted(int w, int h, const std::string& enc, std::uint32_t version = 2) {
    std::string f(kThmHeaderSize, '\0');
    auto put = [&f](int at, std::uint64_t v, int n) { std::memcpy(&f[at], &v, n); };
    f.replace(0, 8, "OVTHM\r\n\x1a");
    put(8, version, 4), put(12, kThmHeaderSize, 4), put(16, w, 4), put(20, h, 4), put(24, w * 3, 4);
    put(28, 1, 4), put(32, enc.size(), 8), put(40, Hash64(enc.data(), enc.size()), 8), put(48, 1, 4);
    put(60, Hash64(f.data(), 60), 4);
    return f + enc;
}
std::string Rec(char tag, int n) {
    return {tag, static_cast<char>(n), static_cast<char>(n >> 8)};
}

}  // namespace

TEST(ThmFile, RoundTripKeepsEveryPixel) {
    EXPECT_EQ(Hash64("", 0), 0xEF46DB3751D8E999ULL);  // XXH64 reference values
    EXPECT_EQ(Hash64("abc", 3), 0x44BC2CF5AD770999ULL);
    ovtest::TempDir dir;
    std::uint32_t seed = 1;
    const struct {
        const char* what;
        int w, h;
        std::function<int(int x, int y, int c)> px;
        std::size_t maxBytes;  // of the file; 0: not checked
    } cases[] = {
        {"all white", 1240, 40, [](int, int, int) { return 255; }, 64 + 6 + 3},
        // Literal rows left in place, more of them than one writev takes.
        {"noise", 201, 1100, [&seed](int, int, int) { return (seed = seed * 1103515245 + 12345) >> 24; },
         64 + 1100 * (603 + 3)},
        {"runs of 7 to 9 at the ends of odd rows", 31, 3,
         [](int x, int y, int c) { return x < 7 + y || x >= 23 ? 10 * c : 8 * x; }, 0},
        {"widest row", 65535, 2, [](int x, int, int) { return x == 65534 ? 0 : 255; }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int stride = c.w * 3 + 2;  // a padded source
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(stride) * c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w * 3; ++x)
                rgb[y * stride + x] = static_cast<std::uint8_t>(c.px(x / 3, y, x % 3));
        ASSERT_EQ(WriteThm(dir / "a.thm", c.w, c.h, stride, rgb.data()), 0);
        ThmImage img;
        ASSERT_EQ(ReadThm(dir / "a.thm", &img), 0);
        EXPECT_EQ(std::make_tuple(img.width, img.height, img.stride), std::make_tuple(c.w, c.h, c.w * 3));
        for (int y = 0; y < c.h; ++y)
            ASSERT_EQ(std::memcmp(img.Pixels() + y * img.stride, rgb.data() + y * stride, img.stride), 0)
                << y;
        EXPECT_LE(std::filesystem::file_size(dir / "a.thm"), c.maxBytes > 0 ? c.maxBytes : SIZE_MAX);
    }
    EXPECT_EQ(ovtest::ListFolder(dir.Path()), std::vector<std::string>{"a.thm"});  // no temporary left
    ReleaseThmCache();
}

TEST(ThmFile, DamageIsDetectedNeverShown) {
    ovtest::TempDir dir;
    std::vector<std::uint8_t> rgb(400 * 300 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    ASSERT_EQ(WriteThm(dir / "good.thm", 400, 300, 1200, rgb.data()), 0);
    const std::string good = ovtest::ReadFile(dir / "good.thm");
    std::string flippedFirst = good, widerHeader = good;
    flippedFirst[kThmHeaderSize + 1000] ^= 0x01;
    widerHeader[16] = 41;  // another width: header check fails
    const std::string valid = Rec('L', 2) + "abcdef" + Rec('R', 2) + "ghi" + Rec('C', 1);
    ovtest::WriteFile(dir / "crafted.thm", Crafted(4, 2, valid));
    ThmImage img;
    ASSERT_EQ(ReadThm(dir / "crafted.thm", &img), 0);  // the damaged ones below fail for their damage
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.Pixels()), 24), "abcdefghighiabcdefghighi");
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", good.substr(0, good.size() - 3)},
        {"empty", ""},
        {"foreign", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, 'x')},
        {"flipped pixel", flippedFirst},
        {"header changed", widerHeader},
        {"longer", good + "zz"},
        {"version 1", Crafted(4, 2, valid, 1)},
        {"run past the row end", Crafted(4, 2, Rec('R', 5) + "abc" + Rec('C', 1))},
        {"truncated literal", Crafted(4, 2, Rec('R', 4) + "abc" + Rec('L', 4) + "abcdefghi")},
        {"row copy on the first row", Crafted(4, 2, Rec('C', 2))},
        {"copies past the last row", Crafted(4, 2, Rec('R', 4) + "abc" + Rec('C', 2))},
        {"unknown record", Crafted(4, 2, Rec('X', 4) + "abc" + Rec('C', 1))},
        {"rows missing", Crafted(4, 2, Rec('R', 4) + "abc")},
        {"bytes after the last row", Crafted(4, 2, valid + "z")},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ovtest::WriteFile(dir / "bad.thm", bytes);
        ovtest::TraceCapture trace;
        CPageBitmap bm;
        EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / "bad.thm").c_str(), 100, 100, &bm), kErrThmFormat);
        EXPECT_TRUE(bm.IsNull());
        EXPECT_TRUE(trace.Contains("Page image file")) << trace.Text();
    }
    ovtest::TraceCapture trace;
    CPageBitmap bm;
    EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / "missing.thm").c_str(), 100, 100, &bm), kErrNoFile);
    EXPECT_TRUE(trace.Contains("Page image file missing!"));

    // A FIFO or a device in a page image's place is refused at once (the alarm
    // ends a test that would wait).
    ASSERT_EQ(::mkfifo((dir / "fifo.thm").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.thm").c_str()), 0);
    ::alarm(20);
    for (const char* name : {"fifo.thm", "zero.thm"}) {
        EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, (dir / name).c_str(), 100, 100, &bm), kErrThmFormat) << name;
        EXPECT_TRUE(trace.Contains("Not a regular file [Path] " + dir / name)) << trace.Text();
    }
    ::alarm(0);
}

TEST(ThmFile, WrittenPixelsAreHandedOnUntilTheFileChanges) {
    ovtest::TempDir dir;
    const std::string a = dir / "a.thm";
    const std::uint8_t* written = WriteGray(a, 10);
    const ThmImage* got = nullptr;
    ASSERT_EQ(ReadThmCached(a, &got), 0);
    EXPECT_EQ(got->Pixels(), written);  // the written pixels themselves, not read back

    // Replaced by another file (a new inode): the new contents.
    WriteGray(dir / "b.thm", 20);
    std::filesystem::rename(dir / "b.thm", a);
    ASSERT_EQ(ReadThmCached(a, &got), 0);
    EXPECT_EQ(got->Row(0)[0], 20);

    // Changed in place (same inode and size, another time): read and checked from disk.
    WriteGray(a, 30);
    {
        std::fstream f(a, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(kThmHeaderSize + 5);
        f.put('\x7f');
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
    ovtest::TraceCapture trace;
    CPageBitmap bm;
    EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, a.c_str(), 10, 10, &bm), kErrThmFormat);
    EXPECT_TRUE(trace.Contains("Page image file checksum Error!"));
    ReleaseThmCache();
}

// A page image is encoded and written by the writer's thread while the page is
// drawn in bands (a scan too, its image decoded once), and the view's bitmap
// scaled there: the file holds what one draw in a piece shows, the bitmap what
// the file gives, and a disk that fills up meanwhile leaves nothing.
TEST(ThmFile, PagesWrittenWhileDrawnMatchOneDrawAndAFullDiskLeavesNothing) {
    ovtest::TempDir dir;
    // The same bytes however the rows arrive: runs of copied rows cross the steps.
    auto image = [] {
        ThmImage img;
        EXPECT_TRUE(img.Allocate(300, 500));
        std::memset(img.Pixels(), 255, img.PixelBytes());
        for (int y : {0, 37, 38, 260, 499}) std::memset(img.Pixels() + y * img.stride + 30, 0, 90);
        return img;
    };
    ASSERT_EQ(WriteThm(dir / "whole.thm", image()), 0);
    for (bool onHelper : {false, true}) {
        for (int step : {1, 7, 100, 499}) {
            ThmImage img = image();
            ThmWriter writer;
            ASSERT_EQ(writer.Open(dir / "steps.thm"), 0);
            ASSERT_EQ(writer.Begin(img, onHelper), 0);
            for (int y = step; y < img.height; y += step) writer.Rows(y);
            ASSERT_EQ(writer.Write(std::move(img)), 0);
            EXPECT_EQ(ovtest::ReadFile(dir / "steps.thm"), ovtest::ReadFile(dir / "whole.thm")) << step;
        }
    }
    // The view's rows never wait for the file: while a follower takes the rows,
    // the helper hands each band on as it is drawn and encodes nothing before
    // the last row is drawn.
    {
        std::atomic<int> drawn{0}, drawnAtFirstEncoding{-1}, followedTo{0};
        SetThmWriterTestHook([&](int) {
            int none = -1;
            drawnAtFirstEncoding.compare_exchange_strong(none, drawn.load());
        });
        ThmImage img = image();
        const int height = img.height;
        ThmWriter writer;
        ASSERT_EQ(writer.Open(dir / "followed.thm"), 0);
        ASSERT_EQ(writer.Begin(img, true, [&](int yEnd) { followedTo = yEnd; }), 0);
        for (int y = 100; y < height; y += 100) {
            drawn = y;
            writer.Rows(y);
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (followedTo.load() < y && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_EQ(followedTo.load(), y);
        }
        drawn = height;
        writer.Rows(height);
        EXPECT_TRUE(writer.FollowAll());
        EXPECT_EQ(followedTo.load(), height);
        ASSERT_EQ(writer.Write(std::move(img)), 0);
        SetThmWriterTestHook({});
        EXPECT_EQ(drawnAtFirstEncoding.load(), height);
        EXPECT_EQ(ovtest::ReadFile(dir / "followed.thm"), ovtest::ReadFile(dir / "whole.thm"));
        std::filesystem::remove(dir / "followed.thm");
    }
    std::filesystem::remove(dir / "steps.thm");
    std::filesystem::remove(dir / "whole.thm");
    // Scans at 218 DPI (drawn in bands), at exactly the page image's 150 DPI
    // (decoded by libjpeg straight into the rows; also one whose data is cut
    // short, which both ways draw alike) and at 109 DPI (enlarged: drawn in
    // one piece).
    for (int w : {1800, 1240, 900}) {
        ovsample::PdfPage scan;
        scan.jpeg = ovsample::MakeScanJpeg(w, w == 1240 ? 1754 : w * 1270 / 900, 7);
        scan.content = "q 595.28 0 0 841.89 0 0 cm /Im0 Do Q";
        imgtest::Pdf(dir / ("scan" + std::to_string(w) + ".pdf"), {scan});
        if (w == 1240) {
            scan.jpeg.resize(scan.jpeg.size() / 2);  // a scan cut short
            imgtest::Pdf(dir / "cut1240.pdf", {scan});
        }
    }
    imgtest::Pdf(dir / "vector.pdf",
                 {imgtest::RectPage(595.28f, 841.89f, 50, 60, 400, 700, 0.2f, 0.4f, 0.9f)});
    // Notes over the page: a translucent highlight across band edges, a pen line and text.
    const std::string notes = dir / "notes.dat";
    ovtest::WriteFile(notes,
                      "[EditInfo]\r\nA=highlight,#FFE000,40,60,90,300,260\r\n"
                      "B=pen,#D01010,3,50,100,500,700,80,800\r\nC=text,#1010D0,14,310,40,確認\r\n");
    EditItems items;
    ASSERT_TRUE(ReadEditInfo(notes.c_str(), &items));
    for (const std::string name :
         {"scan1800", "scan1240", "scan1240+notes", "cut1240", "scan900", "vector", "vector+notes"}) {
        SCOPED_TRACE(name);
        const bool withNotes = name.find("+notes") != std::string::npos;
        const std::string pdf = dir / (name.substr(0, name.find('+')) + ".pdf"), thm = dir / "page.thm";
        // The view's bitmap, scaled band by band while the page is drawn.
        CPageBitmap early, late;
        FittedBitmap fitted(400, 300, &early);
        ASSERT_EQ(CreateThumbFileChecked(pdf.c_str(), 1, thm.c_str(), 1000, 1000, withNotes ? 1 : 0,
                                         notes.c_str(), {}, {}, nullptr, &fitted),
                  0);
        const ThmImage banded = imgtest::ReadBack(thm);
        ASSERT_EQ(BitmapOfThm(banded, 400, 300, &late), 0);
        ASSERT_EQ(std::make_pair(early.Width(), early.Height()), std::make_pair(late.Width(), late.Height()));
        EXPECT_EQ(
            std::memcmp(early.Bits(), late.Bits(), static_cast<std::size_t>(late.Stride()) * late.Height()),
            0);
        // Drawn first, straight at its own size, before the page image: only a
        // page without images; its page image is the same.
        CPageBitmap first;
        FittedBitmap drawnFirst(400, 300, &first, true);
        int handedAt = -1;
        const OnDrawn handed = [&](const ThmImage&) {
            handedAt = drawnFirst.DrawnFirst() ? 0 : 1;
            return 0;
        };
        ASSERT_EQ(CreateThumbFileChecked(pdf.c_str(), 1, thm.c_str(), 1000, 1000, withNotes ? 1 : 0,
                                         notes.c_str(), {}, handed, nullptr, &drawnFirst),
                  0);
        EXPECT_EQ(imgtest::MeanDiff(imgtest::ReadBack(thm), banded), 0.0);
        const ovtest::BitmapGap gap = ovtest::GapOf(first, late);
        if (name.rfind("vector", 0) == 0) {
            EXPECT_EQ(handedAt, 0);
            EXPECT_GT(gap.mean, 0.0);  // drawn apart, not scaled
            EXPECT_LT(gap.mean, 0.5);
            EXPECT_EQ(gap.far, 0.0);
            // A box that enlarges the page: scaled from the page image all the same.
            CPageBitmap large, largeLate;
            FittedBitmap drawnLarge(2000, 3000, &large, true);
            ASSERT_EQ(CreateThumbFileChecked(pdf.c_str(), 1, thm.c_str(), 1000, 1000, withNotes ? 1 : 0,
                                             notes.c_str(), {}, {}, nullptr, &drawnLarge),
                      0);
            ASSERT_EQ(BitmapOfThm(banded, 2000, 3000, &largeLate), 0);
            EXPECT_FALSE(drawnLarge.DrawnFirst());
            EXPECT_EQ(ovtest::GapOf(large, largeLate).mean, 0.0);
        } else {
            EXPECT_EQ(handedAt, 1);
            EXPECT_EQ(gap.mean, 0.0);
        }
        // The same page drawn by MuPDF in one piece.
        ThmImage whole;
        ASSERT_EQ(
            RenderPage(pdf, 1, 150.0f / 72, 150.0f / 72, withNotes ? &items : nullptr,
                       [&](int w, int h) { return whole.Allocate(w, h) ? whole.Pixels() : nullptr; }, {}),
            0);
        for (int y = 0; y < whole.height; ++y) whole.rows.push_back(whole.Pixels() + y * whole.stride);
        // Notes are drawn over each band apart: their edges where bands meet
        // may differ a little from one piece, and nothing else may.
        if (withNotes)
            EXPECT_LT(imgtest::MeanDiff(banded, whole), 0.01);
        else
            EXPECT_EQ(imgtest::MeanDiff(banded, whole), 0.0);
        std::filesystem::remove(thm);
        if (withNotes || name == "vector" || name == "cut1240")
            continue;  // the vector page's file is too small to meet the limit below

        ovtest::WriteFile(thm, "old contents");
        ovtest::TraceCapture trace;
        const int rc = ovtest::InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit lim{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            return imgtest::Thumb(pdf, 1, thm) == kErrWrite ? 0 : 1;
        });
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(ovtest::ReadFile(thm), "old contents");
        EXPECT_EQ(ovtest::ListFolder(dir.Path()).size(), 7u);  // no temporary file left
        EXPECT_TRUE(trace.Contains("write() Error! [Path] " + dir.Path() + "/")) << trace.Text();
        EXPECT_TRUE(trace.Contains(" [errno] 27")) << trace.Text();
        std::filesystem::remove(thm);
    }
    ReleaseThmCache();
}

TEST(Resample, AreaAveragingWhenShrinkingInterpolationWhenGrowing) {
    const struct {
        const char* what;
        int w, h, outW, outH;
        std::vector<int> in, want;  // want -1: 128 +- 1
    } cases[] = {
        {"3 -> 2: partial pixels weigh", 3, 1, 2, 1, {0, 90, 180}, {30, 150}},
        {"checkerboard -> flat grey", 2, 2, 1, 1, {0, 255, 255, 0}, {-1}},
        {"2x2 blocks stay exact", 4, 2, 2, 1, {10, 20, 100, 100, 30, 40, 0, 200}, {25, 100}},
        {"enlarged", 2, 1, 4, 1, {0, 255}, {0, 64, 191, 255}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> rgb = Gray(c.in);
        std::vector<std::uint32_t> out(c.want.size());
        ResampleRgbToXrgb(rgb.data(), c.w, c.h, c.w * 3, out.data(), c.outW, c.outH, c.outW);
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i] >> 24, 0xFFu) << c.what;
            EXPECT_NEAR(static_cast<int>(out[i] & 0xFF), c.want[i] < 0 ? 128 : c.want[i], 1) << c.what << i;
        }
    }
    // Channels stay in place: R in bits 16-23, B in bits 0-7.
    std::uint8_t red[3] = {255, 0, 10};
    std::uint32_t px;
    ResampleRgbToXrgb(red, 1, 1, 3, &px, 1, 1, 1);
    EXPECT_EQ(px, 0xFFFF000Au);
    // Fitting keeps the aspect ratio (GetThumbnail's sizes), never below one pixel.
    int w = 0, h = 0;
    FitSize(1000, 1, 10, 10, &w, &h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(10, 1));
}

// Random pixels against a plain double-precision model of the same filters
// (area averaging where an axis shrinks, interpolation between the two nearest
// centres where it grows), per channel: each kind of horizontal pass (two,
// four and more taps, an odd last pixel), the channel order and the white
// rows' short cut are checked.
double ModelAxis(const std::vector<double>& in, int out, int j) {
    const int n = static_cast<int>(in.size());
    const double scale = static_cast<double>(n) / out;
    if (out < n) {
        const double a = j * scale, b = (j + 1) * scale;
        double sum = 0;
        for (int i = static_cast<int>(a); i < n && i < b; ++i)
            sum += in[static_cast<std::size_t>(i)] *
                   (std::min(b, i + 1.0) - std::max(a, static_cast<double>(i)));
        return sum / scale;
    }
    const double c = std::max(0.0, (j + 0.5) * scale - 0.5);
    const int i = std::min(static_cast<int>(c), n - 1);
    const double f = i == n - 1 ? 0 : c - i;
    return in[static_cast<std::size_t>(i)] * (1 - f) + (f > 0 ? in[static_cast<std::size_t>(i) + 1] * f : 0);
}

TEST(Resample, EveryPassMatchesTheFilterModelOnRandomPixels) {
    const struct {
        int w, h, outW, outH;
    } cases[] = {{40, 30, 83, 61}, {90, 60, 61, 41}, {1275, 40, 583, 18}, {301, 90, 81, 25}, {3, 9, 1, 4}};
    std::uint32_t seed = 12345;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " -> " + std::to_string(c.outW) + "x" +
                     std::to_string(c.outH));
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(c.w) * c.h * 3);
        for (std::uint8_t& v : rgb) v = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
        // White runs of rows (their output rows take a short cut), and white
        // rows but for one dark pixel near their end (which must not).
        for (int y = 0; y < c.h; ++y) {
            std::uint8_t* row = rgb.data() + static_cast<std::size_t>(y) * c.w * 3;
            if (y % 9 < 5 || y % 9 == 7)
                std::fill(row, row + c.w * 3, 0xFF);
            if (y % 9 == 7)
                row[(c.w - 1 - y % c.w) * 3 + 1] = 0;
        }
        std::vector<std::uint32_t> out(static_cast<std::size_t>(c.outW) * c.outH);
        ResampleRgbToXrgb(rgb.data(), c.w, c.h, c.w * 3, out.data(), c.outW, c.outH, c.outW);
        int worst = 0;
        for (int ch = 0; ch < 3; ++ch) {
            // Rows first, then columns: the model is separable.
            std::vector<std::vector<double>> rows(static_cast<std::size_t>(c.h));
            for (int y = 0; y < c.h; ++y) {
                std::vector<double> line(static_cast<std::size_t>(c.w));
                for (int x = 0; x < c.w; ++x)
                    line[static_cast<std::size_t>(x)] = rgb[(static_cast<std::size_t>(y) * c.w + x) * 3 + ch];
                for (int x = 0; x < c.outW; ++x)
                    rows[static_cast<std::size_t>(y)].push_back(ModelAxis(line, c.outW, x));
            }
            for (int x = 0; x < c.outW; ++x) {
                std::vector<double> column;
                for (int y = 0; y < c.h; ++y)
                    column.push_back(rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
                for (int y = 0; y < c.outH; ++y) {
                    const std::uint32_t px = out[static_cast<std::size_t>(y) * c.outW + x];
                    ASSERT_EQ(px >> 24, 0xFFu);
                    const int got = static_cast<int>((px >> (16 - 8 * ch)) & 0xFF);
                    worst = std::max(
                        worst, std::abs(got - static_cast<int>(std::lround(ModelAxis(column, c.outH, y)))));
                }
            }
        }
        EXPECT_LE(worst, 2);  // fixed-point weights
    }
}

// The scaler fed row by row (as a decoder delivers them): every output row is
// written once, in the order and direction asked for, nothing beside the rows;
// below half size it averages exactly as the page view's scaler does, above
// half size it interpolates (close to it on smooth waves).
TEST(Resample, RowStreamWritesEveryRowAndNothingElse) {
    const struct {
        const char* what;
        int w, h, outW, outH;
        bool upward;  // output row 0 at the bottom (negative stride)
    } cases[] = {
        {"to a third, upward", 61, 47, 20, 15, true},
        {"to 0.95", 100, 80, 95, 76, false},
        {"width only", 50, 10, 37, 10, false},
        {"to one pixel", 9, 7, 1, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> in(static_cast<std::size_t>(c.w) * c.h * 3);
        // Smooth waves, different per channel: two filters agree on them closely,
        // while a row taken from one place off shifts them visibly.
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                for (int k = 0; k < 3; ++k)
                    in[(static_cast<std::size_t>(y) * c.w + x) * 3 + k] = static_cast<std::uint8_t>(
                        std::lround(128 + 100 * std::sin(x * 0.3 + k) * std::cos(y * 0.25 - k)));
        const int stride = c.outW * 3 + 5;  // a gap after each row that must stay untouched
        std::vector<std::uint8_t> out(static_cast<std::size_t>(stride) * c.outH + 5, 0xA5);
        RowStreamScaler s;
        std::uint8_t* first = out.data() + (c.upward ? static_cast<std::size_t>(stride) * (c.outH - 1) : 0);
        ASSERT_TRUE(s.Start(c.w, c.h, c.outW, c.outH, first, c.upward ? -stride : stride));
        for (int y = 0; y < c.h; ++y) {
            std::memcpy(s.InputRow(), in.data() + static_cast<std::size_t>(y) * c.w * 3,
                        static_cast<std::size_t>(c.w) * 3);
            s.RowDone();
        }
        EXPECT_EQ(s.RowsOut(), c.outH);
        EXPECT_EQ(s.InputRow(), nullptr);
        for (int y = 0; y < c.outH; ++y)
            for (int k = c.outW * 3; k < stride; ++k)
                ASSERT_EQ(out[static_cast<std::size_t>(y) * stride + k], 0xA5)
                    << "row " << y << " byte " << k;
        // Against the page view's scaler, channel order kept (its 0xFFRRGGBB read as R, G, B).
        std::vector<std::uint32_t> ref(static_cast<std::size_t>(c.outW) * c.outH);
        ResampleRgbToXrgb(in.data(), c.w, c.h, c.w * 3, ref.data(), c.outW, c.outH, c.outW);
        const bool exact = c.w >= 2 * c.outW && c.h >= 2 * c.outH;
        double diff = 0;
        for (int y = 0; y < c.outH; ++y) {
            const std::uint8_t* row = first + static_cast<std::ptrdiff_t>(y) * (c.upward ? -stride : stride);
            for (int x = 0; x < c.outW; ++x) {
                const std::uint32_t p = ref[static_cast<std::size_t>(y) * c.outW + x];
                const int want[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
                for (int k = 0; k < 3; ++k) {
                    if (exact) {
                        ASSERT_EQ(row[x * 3 + k], want[k]) << x << "," << y;
                    }
                    diff += std::abs(row[x * 3 + k] - want[k]);
                }
            }
        }
        // Two filters of the same image: close on average, and each output row
        // comes from the right input rows (a shifted or flipped row would differ a lot).
        EXPECT_LT(diff / (static_cast<double>(c.outW) * c.outH * 3), 2.0);
    }
    // Growing is not this scaler's job.
    RowStreamScaler s;
    std::uint8_t px[3];
    EXPECT_FALSE(s.Start(2, 2, 3, 2, px, 9));
    EXPECT_EQ(s.InputRow(), nullptr);
}

TEST(GetThumbnail, FitsTheCachedPageIntoTheBox) {
    ovtest::TempDir dir;
    // Left half black, right half white.
    imgtest::Pdf(dir / "p.pdf", {imgtest::RectPage(200, 100, 0, 0, 100, 100, 0, 0, 0)});
    const std::string pdf = dir / "p.pdf", p = dir / "p.thm";
    ASSERT_EQ(imgtest::Thumb(pdf, 1, p), 0);
    CPageBitmap bm;
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, p.c_str(), 100, 100, &bm), 0);
    EXPECT_EQ(std::make_tuple(bm.Width(), bm.Height(), bm.Stride()), std::make_tuple(100, 50, 400));
    EXPECT_EQ(std::make_pair(bm.Row(25)[10], bm.Row(25)[90]), std::make_pair(0xFF000000u, 0xFFFFFFFFu));
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, p.c_str(), 1000, 1000, &bm), 0);  // enlarged
    EXPECT_EQ(std::make_pair(bm.Width(), bm.Height()), std::make_pair(1000, 499));

    // Scale per mille of 150 DPI on each axis; each side rounded (208.3 -> 208).
    const int scales[][4] = {{1000, 1000, 417, 208}, {500, 2000, 208, 417}};
    for (const auto& s : scales) {
        ASSERT_EQ(imgtest::Thumb(pdf, 1, dir / "q.thm", 0, "", s[0], s[1]), 0);
        ThmImage img;
        ASSERT_EQ(ReadThm(dir / "q.thm", &img), 0);
        EXPECT_EQ(std::make_pair(img.width, img.height), std::make_pair(s[2], s[3]));
    }
}

TEST(PixelBudget, HugePagesAreMadeAndLoadedAtAScaleThatFits) {
    ovtest::TempDir dir;
    struct Case {
        float w, h;      // points; the left half of the page is black
        int thmW, thmH;  // 0: within the budget, aspect ratio kept
        int dibW, dibH;  // the same for the load at full size (300 DPI)
    };
    const Case cases[] = {
        {595, 842, 1240, 1754, 2479, 3508},  // a normal page keeps its scale
        {9500, 9500, 0, 0, 0, 0},
        {2400, 3200, 5000, 6667, 0, 0},  // 33 Mpx at 150 DPI fits; 133 Mpx at 300 DPI does not
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        ovtest::TraceCapture trace;
        const std::string pdf = dir / "p.pdf", thm = dir / "p.thm";
        imgtest::Pdf(pdf, {imgtest::RectPage(c.w, c.h, 0, 0, c.w / 2, c.h, 0, 0, 0)});
        ASSERT_EQ(imgtest::Thumb(pdf, 1, thm), 0);
        ThmImage img;
        ASSERT_EQ(ReadThm(thm, &img), 0);
        IMAGE_REQUEST req = imgtest::Request(pdf, 1);
        req.iScaleSet = 1;
        req.iScale = 1000;
        HGLOBAL dib = nullptr;
        ASSERT_NE(ImageIO_LoadImage(&req, &dib), 0);
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, GlobalLock(dib), sizeof bih);
        GlobalUnlock(dib);
        GlobalFree(dib);
        const std::pair<int, int> made[] = {{img.width, img.height}, {bih.biWidth, bih.biHeight}};
        const std::pair<int, int> expected[] = {{c.thmW, c.thmH}, {c.dibW, c.dibH}};
        for (int i = 0; i < 2; ++i) {
            const auto [w, h] = made[i];
            if (expected[i].first != 0) {
                EXPECT_EQ(made[i], expected[i]);
                continue;
            }
            // As large as the budget allows, the shape kept, and traced.
            EXPECT_LE(static_cast<double>(w) * h, kPagePixelBudget);
            EXPECT_GT(static_cast<double>(w) * h, kPagePixelBudget * 0.99);
            EXPECT_NEAR(static_cast<double>(w) / h, c.w / c.h, 1.0 / h + 1.0 / w);
            EXPECT_TRUE(trace.Contains(i == 0 ? "Page image scaled down to the pixel budget!"
                                              : "ImageIO_LoadImage() Scaled down to the pixel budget!"));
        }
        EXPECT_EQ(trace.Contains("pixel budget"), c.thmW == 0 || c.dibW == 0);
        // The whole page is drawn at the lower scale: the left half black, the right white.
        const std::uint8_t* row = img.Row(img.height / 2);
        EXPECT_EQ(std::make_pair(int{row[img.width / 4 * 3]}, int{row[img.width * 3 / 4 * 3]}),
                  std::make_pair(0, 255));
    }
}
