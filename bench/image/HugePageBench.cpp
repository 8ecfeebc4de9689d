// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-huge-page-bench make|load SCALE|both SCALE [SIDE_PT]: peak resident
// memory of making the page image of one huge vector page (SIDE_PT points
// square, 9500 by default) at the base scale, of loading it for the zoom view at
// SCALE thousandths of full size, or of both in one process (the page image
// stays cached meanwhile, as in the viewer).
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "PdfWriter.h"
#include "base/GlobalMemory.h"
#include "image/OrmaImage.h"
#include "image/Ravelin.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const std::string step = argc > 1 ? argv[1] : "";
    if ((step != "make" && step != "load" && step != "both") || (step != "make" && argc < 3)) {
        std::fprintf(stderr, "usage: ormaview-huge-page-bench make|load SCALE|both SCALE [SIDE_PT]\n");
        return 2;
    }
    const bool make = step != "load", load = step != "make";
    const int scale = load ? std::atoi(argv[2]) : 1000;
    const int sideArg = load ? 3 : 2;
    const float side = argc > sideArg ? static_cast<float>(std::atof(argv[sideArg])) : 9500.0f;
    const fs::path work = fs::temp_directory_path() / ("ov-huge-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const std::string pdf = (work / "huge.pdf").string(), thm = (work / "huge.thm").string();
    ovsample::PdfPage page;
    page.width = page.height = side;
    page.content = "0 0 1 rg 100 100 2000 2000 re f 0 0 0 RG 20 w 0 0 m " + std::to_string(side) + " " +
                   std::to_string(side) + " l S\n";
    if (!ovsample::WritePdf(pdf, {page}))
        return 1;
    int w = 0, h = 0, ok = 1;
    if (make)
        ok = WorkDesk_CreateThumbFile(pdf.c_str(), 1, thm.c_str(), 1000, 1000, 0, "") == 0;
    if (load && ok) {
        ok = 0;
        ImageIO_Initialize(0, "Quilm-WorkArea", 0);
        IMAGE_REQUEST req{};
        std::snprintf(req.szPath, sizeof req.szPath, "%s", pdf.c_str());
        req.iPage = 1;
        HGLOBAL dib = nullptr;
        if (ImageIO_GetImageInfo(&req) != 0) {
            req.iScaleSet = 1;
            req.iScale = scale;
            ok = ImageIO_LoadImage(&req, &dib) != 0 && dib != nullptr;
        }
        if (ok) {
            const auto* bih = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
            w = bih->biWidth;
            h = bih->biHeight;
            GlobalUnlock(dib);
            GlobalFree(dib);
        }
        ImageIO_UnInitialize();
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf(
        "{\"step\":\"%s\",\"side_pt\":%.0f,\"scale\":%d,\"ok\":%d,\"width\":%d,\"height\":%d,"
        "\"peak_rss_mb\":%.1f}\n",
        argv[1], side, scale, ok, w, h, static_cast<double>(ru.ru_maxrss) / 1024.0);
    std::error_code ec;
    fs::remove_all(work, ec);
    return ok ? 0 : 1;
}
