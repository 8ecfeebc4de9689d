// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-bench [--sample DIR] [--runs N] [--loads [--scales S,...]] [--thumbs]: medians of
// the image operations on the sample work desk, as a table and as JSON lines. --loads times
// only the scaled loads of the scanned pages against their full-size load; --thumbs only
// WorkDesk_CreateThumbFile of the five pages against the bare render.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <mupdf/fitz.h>
}

#include "BareRender.h"
#include "BenchSupport.h"
#include "SampleWorkDesk.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/Ravelin.h"

namespace fs = std::filesystem;

namespace {

using ovbench::BareRender;
using ovbench::Median;
using ovbench::NowMs;

// CPU time of this thread (user and system): what the operation itself costs,
// whatever else the machine is doing.
double CpuMs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// cpu: this thread; all: every thread of the process (a page image's writer
// encodes on a thread of its own).
struct Sample {
    std::vector<double> wall, cpu, all;
};

void Time(Sample& s, const std::function<void()>& f) {
    double w = NowMs(), c = CpuMs(), a = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    f();
    s.cpu.push_back(CpuMs() - c);
    s.all.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - a);
    s.wall.push_back(NowMs() - w);
}

struct Row {
    std::string what, page;
    double ms = 0, refMs = 0, target = 0;  // CPU medians; target: ms or ratio (0 = none)
    bool ratio = false;
    double wallMs = 0, refWallMs = 0;
    double allMs = 0;     // CPU time of all threads
    bool onWall = false;  // judged on the wall clock (work on more than one thread)
};

Row MakeRow(const std::string& what, const std::string& page, const Sample& s, const Sample* ref,
            double target, bool ratio) {
    Row r{what,   page,  Median(s.cpu),  ref ? Median(ref->cpu) : 0,
          target, ratio, Median(s.wall), ref ? Median(ref->wall) : 0};
    r.allMs = Median(s.all);
    return r;
}

void Print(const std::vector<Row>& rows, long peakKb) {
    std::printf(
        "\nMedians of thread CPU time (wall clock in brackets); targets are judged on CPU time,\n"
        "except rows marked (wall): their work runs on two threads, so they are judged on the\n"
        "wall clock, and the CPU time of all threads is given after the target.\n");
    std::printf("%-34s %-22s %18s %18s %8s %s\n", "operation", "page", "median ms", "bare MuPDF ms", "ratio",
                "target");
    for (const Row& r : rows) {
        char ref[48] = "", ratio[32] = "", target[48] = "", own[48];
        std::snprintf(own, sizeof own, "%.2f [%.2f]", r.ms, r.wallMs);
        const double judged = r.onWall ? r.wallMs / r.refWallMs : r.ms / r.refMs;
        if (r.refMs > 0) {
            std::snprintf(ref, sizeof ref, "%.2f [%.2f]", r.refMs, r.refWallMs);
            std::snprintf(ratio, sizeof ratio, "%.3f%s", judged, r.onWall ? " (wall)" : "");
        }
        if (r.target > 0) {
            const double value = r.ratio ? judged : r.ms;
            std::snprintf(target, sizeof target, "%s %.2f%s %s", r.ratio ? "ratio <=" : "<=", r.target,
                          r.ratio ? "" : " ms", value <= r.target ? "met" : "MISSED");
            if (r.onWall)
                std::snprintf(target + std::strlen(target), sizeof target - std::strlen(target),
                              "; all threads %.2f ms", r.allMs);
        }
        std::printf("%-34s %-22s %18s %18s %8s %s\n", r.what.c_str(), r.page.c_str(), own, ref, ratio,
                    target);
    }
    std::printf("peak resident memory: %.1f MB\n\n", peakKb / 1024.0);
    for (const Row& r : rows) {
        std::printf("{\"bench\":\"%s\",\"page\":\"%s\",\"median_cpu_ms\":%.3f,\"median_wall_ms\":%.3f",
                    r.what.c_str(), r.page.c_str(), r.ms, r.wallMs);
        if (r.refMs > 0)
            std::printf(",\"bare_cpu_ms\":%.3f,\"bare_wall_ms\":%.3f,\"ratio\":%.3f", r.refMs, r.refWallMs,
                        r.onWall ? r.wallMs / r.refWallMs : r.ms / r.refMs);
        if (r.onWall)
            std::printf(",\"ratio_on\":\"wall\",\"all_threads_cpu_ms\":%.3f", r.allMs);
        if (r.target > 0)
            std::printf(",\"target\":%.2f", r.target);
        std::printf("}\n");
    }
    std::printf("{\"bench\":\"peak_rss\",\"kb\":%ld}\n", peakKb);
}

}  // namespace

int main(int argc, char** argv) {
    std::string sample;
    int runs = 15;
    bool loadsOnly = false;
    bool thumbsOnly = false;
    std::vector<int> scales = {1000, 990, 950, 880, 750, 600, 500, 333, 250};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sample") == 0 && i + 1 < argc)
            sample = argv[++i];
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(3, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--loads") == 0)
            loadsOnly = true;
        else if (std::strcmp(argv[i], "--thumbs") == 0)
            thumbsOnly = true;
        else if (std::strcmp(argv[i], "--scales") == 0 && i + 1 < argc) {
            // The scales of --loads, comma-separated; the full size is always the first.
            scales = {1000};
            for (char* p = argv[++i]; *p != '\0';) {
                const int v = static_cast<int>(std::strtol(p, &p, 10));
                if (v > 0 && v < 1000)
                    scales.push_back(v);
                while (*p == ',') ++p;
            }
        } else {
            std::fprintf(stderr,
                         "usage: ormaview-bench [--sample DIR] [--runs N] [--loads [--scales S,S,...]] "
                         "[--thumbs]\n");
            return 2;
        }
    }
    // Trace lines of the libraries go to a file of this run, not the user's log.
    const fs::path work = fs::temp_directory_path() / ("ormaview-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    ::setenv("ORMAVIEW_TRACE_FILE", (work / "trace.log").c_str(), 1);
    if (sample.empty()) {
        sample = (work / "sample").string();
        ovsample::SampleInfo info;
        std::printf("writing a sample work desk to %s ...\n", sample.c_str());
        if (!ovsample::WriteSampleWorkDesk(sample, 0, &info))
            return 1;
    }
    const fs::path doc1 = fs::path(sample) / "Doc000001" / "Data";
    struct Page {
        const char* name;
        fs::path pdf;
        fs::path dat;
    } pages[] = {
        {"scan (JPEG A4)", doc1 / "Data2.pdf", ""},
        {"scan + annotations", doc1 / "Data1.pdf", doc1 / "Data1.dat"},
        {"vector (Japanese text)", doc1 / "Data4.pdf", ""},
        {"vector + annotations", doc1 / "Data5.pdf", doc1 / "Data5.dat"},
        {"landscape vector", doc1 / "Data7.pdf", ""},
    };
    for (const Page& p : pages) {
        if (!fs::exists(p.pdf)) {
            std::fprintf(stderr, "sample page missing: %s (make one with ormaview-sample)\n", p.pdf.c_str());
            return 1;
        }
    }
    fz_context* ctx = fz_new_context(nullptr, nullptr, 64u << 20);  // as the library's context
    fz_register_document_handlers(ctx);

    std::vector<Row> rows;
    if (loadsOnly) {
        // A smaller load must not cost more than the full-size one: every round
        // loads the page once at each scale, so the machine's drift meets all
        // scales alike.
        ImageIO_Initialize(0, "Quilm-WorkArea", 0);
        for (int k : {0, 1}) {
            const Page& p = pages[k];
            std::vector<Sample> t(scales.size());
            std::vector<std::pair<int, int>> size(scales.size());
            for (int i = 0; i < runs + 1; ++i) {
                for (std::size_t j = 0; j < scales.size(); ++j) {
                    const std::size_t at = (j + static_cast<std::size_t>(i)) % scales.size();
                    IMAGE_REQUEST r;
                    std::memset(&r, 0, sizeof r);
                    std::snprintf(r.szPath, sizeof r.szPath, "%s", p.pdf.c_str());
                    r.iPage = 1;
                    HGLOBAL dib = nullptr;
                    Sample warm;
                    Time(i == 0 ? warm : t[at], [&] {
                        ImageIO_GetImageInfo(&r);
                        r.iScaleSet = 1;
                        r.iScale = scales[at];
                        ImageIO_LoadImage(&r, &dib);
                    });
                    if (dib != nullptr) {
                        BITMAPINFOHEADER bih;
                        std::memcpy(&bih, GlobalLock(dib), sizeof bih);
                        GlobalUnlock(dib);
                        size[at] = {bih.biWidth, bih.biHeight};
                    }
                    GlobalFree(dib);
                }
            }
            for (std::size_t j = 0; j < scales.size(); ++j)
                rows.push_back(MakeRow("ImageIO_LoadImage " + std::to_string(scales[j]) + " (" +
                                           std::to_string(size[j].first) + "x" +
                                           std::to_string(size[j].second) + ") / 1000",
                                       p.name, t[j], &t[0], j == 0 ? 0 : 1.0, true));
        }
        ImageIO_UnInitialize();
        fz_drop_context(ctx);
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        Print(rows, ru.ru_maxrss);
        std::error_code ec;
        fs::remove_all(work, ec);
        return 0;
    }
    const std::string thm = (work / "page.thm").string();
    for (const Page& p : pages) {
        Sample lib, bare, warm;
        for (int i = 0; i < runs + 1; ++i) {
            fs::remove(thm);
            Sample& b = i == 0 ? warm : bare;  // the first round warms up
            Sample& l = i == 0 ? warm : lib;
            Time(b, [&] { BareRender(ctx, p.pdf.c_str()); });
            Time(l, [&] {
                WorkDesk_CreateThumbFile(p.pdf.c_str(), 1, thm.c_str(), 1000, 1000, p.dat.empty() ? 0 : 1,
                                         p.dat.c_str());
            });
        }
        rows.push_back(MakeRow("WorkDesk_CreateThumbFile", p.name, lib, &bare, 1.15, true));
        rows.back().onWall = true;
    }
    if (thumbsOnly) {
        fz_drop_context(ctx);
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        Print(rows, ru.ru_maxrss);
        std::error_code ec;
        fs::remove_all(work, ec);
        return 0;
    }

    // A page drawn for a 1920 x 1080 window: right after its page image was
    // written (the pixels are handed over in memory), again (kept), and from a
    // copy of the file that the library has not seen (read and checked).
    const std::string copy = (work / "copy.thm").string();
    for (int k : {0, 2}) {
        const Page& p = pages[k];
        Sample first, again_, fromFile, warm;
        for (int i = 0; i < runs + 1; ++i) {
            fs::remove(thm);
            WorkDesk_CreateThumbFile(p.pdf.c_str(), 1, thm.c_str(), 1000, 1000, 0, "");
            CPageBitmap bm;
            Time(i == 0 ? warm : first,
                 [&] { WorkDesk_GetThumbnail(nullptr, thm.c_str(), 1856, 1044, &bm); });
            for (int n = 0; n < 3 && i > 0; ++n) {
                CPageBitmap again;
                Time(again_, [&] { WorkDesk_GetThumbnail(nullptr, thm.c_str(), 1856, 1044, &again); });
            }
            fs::remove(copy);
            fs::copy_file(thm, copy);
            CPageBitmap read;
            if (i > 0)
                Time(fromFile, [&] { WorkDesk_GetThumbnail(nullptr, copy.c_str(), 1856, 1044, &read); });
        }
        rows.push_back(MakeRow("WorkDesk_GetThumbnail 1856x1044", p.name, again_, nullptr, 4.0, false));
        rows.push_back(MakeRow("  first draw after writing", p.name, first, nullptr, 0, false));
        rows.push_back(MakeRow("  from file (read + check)", p.name, fromFile, nullptr, 0, false));
        fs::remove(thm);
        fs::remove(copy);
    }

    // The zoom view's loads, against MuPDF alone drawing the same output size.
    ImageIO_Initialize(0, "Quilm-WorkArea", 0);
    for (int k : {0, 1, 2}) {
        const Page& p = pages[k];
        for (int scale : {1000, 880, 750, 500, 333, 250}) {
            Sample t, bare, warm;
            int w = 0, h = 0;
            for (int i = 0; i < runs + 1; ++i) {
                IMAGE_REQUEST r;
                std::memset(&r, 0, sizeof r);
                std::snprintf(r.szPath, sizeof r.szPath, "%s", p.pdf.c_str());
                r.iPage = 1;
                HGLOBAL dib = nullptr;
                Time(i == 0 ? warm : t, [&] {
                    ImageIO_GetImageInfo(&r);
                    r.iScaleSet = 1;
                    r.iScale = scale;
                    ImageIO_LoadImage(&r, &dib);
                });
                if (dib != nullptr) {
                    BITMAPINFOHEADER bih;
                    std::memcpy(&bih, GlobalLock(dib), sizeof bih);
                    GlobalUnlock(dib);
                    w = bih.biWidth;
                    h = bih.biHeight;
                }
                GlobalFree(dib);
                Time(i == 0 ? warm : bare, [&] { BareRender(ctx, p.pdf.c_str(), w, h); });
            }
            rows.push_back(MakeRow("ImageIO_LoadImage " + std::to_string(scale) + " (" + std::to_string(w) +
                                       "x" + std::to_string(h) + ")",
                                   p.name, t, &bare, 1.1, true));
        }
    }

    // Hostile edit information on one page: each section is drawn into the page
    // image; what is over the page's limits is skipped, the rest is drawn.
    {
        const std::string pen200 = [] {
            std::string v = "pen,#000000,200";
            for (int i = 0; i < 10000; ++i)
                v += "," + std::to_string(50 + i % 400) + "," + std::to_string(50 + (i * 7) % 700);
            return v;
        }();
        const std::string penAtLimit = [] {  // 2000 points at width 50: the page's pen budget
            std::string v = "pen,#000000,50";
            for (int i = 0; i < 2000; ++i)
                v += "," + std::to_string(50 + i % 400) + "," + std::to_string(50 + (i * 7) % 700);
            return v;
        }();
        const std::string longText = "text,#000000,12,10,10," + std::string(100000, 'W');
        const std::string textAtLimit = "text,#000000,12,10,10," + std::string(1000, 'W');
        const std::string manyPoints = [] {  // 20 000 points of thin lines
            std::string v = "pen,#000000,1";
            for (int i = 0; i < 10000; ++i)
                v += "," + std::to_string(50 + i % 400) + "," + std::to_string(50 + (i * 7) % 700);
            return v;
        }();
        struct Hostile {
            const char* name;
            std::vector<std::string> items;
        } hostile[] = {
            {"pen 10000 points width 200", {pen200}},
            {"20 such pens", std::vector<std::string>(20, pen200)},
            {"pen at the page's limit", {penAtLimit}},
            {"text 100000 characters", {longText}},
            {"20 such texts", std::vector<std::string>(20, longText)},
            {"5 texts of 1000 characters", std::vector<std::string>(5, textAtLimit)},
            {"2 thin pens of 10000 points", std::vector<std::string>(2, manyPoints)},
        };
        const std::string ini = (work / "hostile.dat").string();
        for (const Hostile& h : hostile) {
            std::string text = "[EditInfo]\r\n";
            for (std::size_t i = 0; i < h.items.size(); ++i)
                text += "Item" + std::to_string(i + 1) + "=" + h.items[i] + "\r\n";
            if (FILE* f = std::fopen(ini.c_str(), "wb")) {
                std::fwrite(text.data(), 1, text.size(), f);
                std::fclose(f);
            }
            Sample t;
            for (int i = 0; i < 3; ++i) {
                fs::remove(thm);
                Time(t, [&] {
                    WorkDesk_CreateThumbFile(pages[2].pdf.c_str(), 1, thm.c_str(), 1000, 1000, 1,
                                             ini.c_str());
                });
            }
            rows.push_back(MakeRow("annotations drawn (limits)", h.name, t, nullptr, 0, false));
        }
        fs::remove(thm);
    }

    // One turn of a postcard side plus one merge of both sides.
    const fs::path cards = fs::path(sample) / "Doc000003" / "Data" / "Standard";
    const fs::path front = work / "front.pdf", back = cards / "H0001_2.pdf", merged = work / "merged.pdf";
    fs::copy_file(cards / "H0001_1.pdf", front, fs::copy_options::overwrite_existing);
    Sample t;
    for (int i = 0; i < runs; ++i) {
        Time(t, [&] {
            DWORD info = 0;
            ImageIO_GetSaveFuncInfo(50, &info);
            IMAGE_REQUEST r;
            std::memset(&r, 0, sizeof r);
            std::snprintf(r.szPath, sizeof r.szPath, "%s", front.c_str());
            r.iPage = 1;
            r.iRotation = 90;
            ImageIO_SaveFileName(front.c_str(), info, 1, &r, 0, 0);
            HAGAKI_MERGE_PARAM m;
            std::memset(&m, 0, sizeof m);
            m.iCount = 3;
            std::snprintf(m.szFront, sizeof m.szFront, "%s", front.c_str());
            m.iFrontPage = 1;
            std::snprintf(m.szBack, sizeof m.szBack, "%s", back.c_str());
            m.iBackPage = 1;
            std::snprintf(m.szOutput, sizeof m.szOutput, "%s", merged.c_str());
            ImageIO_MergeTwoPage(&m);
        });
    }
    rows.push_back(MakeRow("turn + merge (postcard)", "H0001 front and back", t, nullptr, 30.0, false));
    ImageIO_UnInitialize();
    fz_drop_context(ctx);

    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    Print(rows, ru.ru_maxrss);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
