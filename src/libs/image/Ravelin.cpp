// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/Ravelin.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"
#include "image/Resample.h"
#include "image/ThmFile.h"

using namespace ov::image;

namespace {

// Nesting count of ImageIO_Initialize; one ImageIO_UnInitialize releases all.
int g_iInitCount = 0;

constexpr int kPdfFormat = 50;
constexpr DWORD kPdfWriterInfo = 0x4F565044;  // "DPVO": the turned-PDF writer
constexpr float kFullDpi = 300.0f;

// A path field of a record: NUL-terminated within its 260 bytes.
int RecordPath(const char* field, const char* what, std::string* fs) {
    if (std::memchr(field, '\0', MAX_PATH) == nullptr) {
        OV_TRACE("Path is not terminated! [%s]\n", what);
        return kErrPathTooLong;
    }
    return CheckPath(field, what, fs);
}

// The facts of the last page asked for: the zoom view asks for the size and then
// loads the same page, so the page is examined once. Keyed by the file's identity.
struct FactsCache {
    std::string path;
    int page = 0;
    FileStamp stamp;
    PageFacts facts;
    bool valid = false;
};
thread_local FactsCache t_facts;

int Facts(const std::string& fs, int page, PageFacts* facts) {
    FileStamp stamp;
    const bool known = StampOfPath(fs, &stamp);
    if (known && t_facts.valid && t_facts.page == page && t_facts.path == fs && stamp == t_facts.stamp) {
        *facts = t_facts.facts;
        return kOk;
    }
    t_facts.valid = false;
    int r = QueryPage(fs, page, facts);
    if (r == kOk && known) {
        t_facts.path = fs;
        t_facts.page = page;
        t_facts.stamp = stamp;
        t_facts.facts = *facts;
        t_facts.valid = true;
    }
    return r;
}

// The full size of a page: the native pixel size of a page that is one scanned
// image, else the page at 300 DPI.
// The path and page of a request record (null: a bad argument), checked. 0 or a
// negative code.
int RequestSource(const IMAGE_REQUEST* request, const char* op, std::string* fs) {
    if (request == nullptr) {
        OV_TRACE("%s() Parameter Error!\n", op);
        return kErrArgument;
    }
    int r = RecordPath(request->szPath, "image", fs);
    if (r == kOk && request->iPage < 1) {
        OV_TRACE("%s() Page Error! [Page] %d\n", op, request->iPage);
        r = kErrNoPage;
    }
    return r;
}

int FullSize(const std::string& fs, int page, int* w, int* h, bool* scanned = nullptr) {
    PageFacts facts;
    int r = Facts(fs, page, &facts);
    if (r != kOk)
        return r;
    if (scanned != nullptr)
        *scanned = facts.singleImage;
    if (facts.singleImage) {
        *w = facts.imageWidth;
        *h = facts.imageHeight;
    } else {
        *w = std::max(1, static_cast<int>(std::lround(facts.widthPt * kFullDpi / 72.0f)));
        *h = std::max(1, static_cast<int>(std::lround(facts.heightPt * kFullDpi / 72.0f)));
    }
    return kOk;
}

}  // namespace

int ImageIO_Initialize(HWND /*hwnd*/, const char* /*appTitle*/, int /*reserved*/) {
    ++g_iInitCount;
    return 1;
}

int ImageIO_UnInitialize() {
    if (g_iInitCount == 0) {
        OV_TRACE("ImageIO_UnInitialize() without ImageIO_Initialize!\n");
        return 0;
    }
    g_iInitCount = 0;
    t_facts = FactsCache{};
    EmptyCaches();
    ReleaseThmCache();
    return 1;
}

int ImageIO_GetImageInfo(IMAGE_REQUEST* request) {
    int r = OV_GUARDED([&]() -> int {
        std::string fs;
        int rc = RequestSource(request, "ImageIO_GetImageInfo", &fs);
        if (rc != kOk)
            return rc;
        int w = 0, h = 0;
        rc = FullSize(fs, request->iPage, &w, &h);
        if (rc != kOk)
            return rc;
        request->iWidth = w;
        request->iHeight = h;
        return kOk;
    });
    return r == kOk ? 1 : 0;
}

int ImageIO_LoadImage(IMAGE_REQUEST* request, HGLOBAL* dib) {
    int r = OV_GUARDED([&]() -> int {
        std::string fs;
        int rc = RequestSource(dib != nullptr ? request : nullptr, "ImageIO_LoadImage", &fs);
        if (rc != kOk)
            return rc;
        const int scale = (request->iScaleSet == 0 && request->iScale == 0) ? 1000 : request->iScale;
        if (scale < 1 || scale > 16000) {
            OV_TRACE("ImageIO_LoadImage() Scale Error! [Scale] %d\n", scale);
            return kErrArgument;
        }
        int fullW = 0, fullH = 0;
        bool scanned = false;
        rc = FullSize(fs, request->iPage, &fullW, &fullH, &scanned);
        if (rc != kOk)
            return rc;
        double sized = scale / 1000.0;
        int w = std::max(1, static_cast<int>(std::lround(fullW * sized)));
        int h = std::max(1, static_cast<int>(std::lround(fullH * sized)));
        // A load over the pixel budget comes at the scale that fits it.
        if (const double f = PixelBudgetFactor(w, h); f < 1.0) {
            OV_TRACE(
                "ImageIO_LoadImage() Scaled down to the pixel budget! [Width] %d [Height] %d [Factor] %.4f\n",
                w, h, f);
            sized *= f;
            w = std::max(1, static_cast<int>(std::lround(w * f)));
            h = std::max(1, static_cast<int>(std::lround(h * f)));
        }
        const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~static_cast<std::size_t>(3);
        const std::size_t bits = stride * static_cast<std::size_t>(h);
        // Not zero-filled: the render writes every pixel, the padding is cleared below.
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + bits);
        if (block == nullptr) {
            OV_TRACE("GlobalAlloc() Error! [Bytes] %zu\n", sizeof(BITMAPINFOHEADER) + bits);
            return kErrMemory;
        }
        auto* base = static_cast<std::uint8_t*>(GlobalLock(block));
        BITMAPINFOHEADER bih{};
        bih.biSize = sizeof(BITMAPINFOHEADER);
        bih.biWidth = w;
        bih.biHeight = h;  // bottom-up
        bih.biPlanes = 1;
        bih.biBitCount = 24;
        bih.biCompression = 0;  // BI_RGB
        bih.biSizeImage = static_cast<std::uint32_t>(bits);
        const double dpi = kFullDpi * sized;
        bih.biXPelsPerMeter = bih.biYPelsPerMeter = static_cast<std::int32_t>(std::lround(dpi / 0.0254));
        std::memcpy(base, &bih, sizeof bih);
        std::uint8_t* px = base + sizeof bih;
        if (stride > static_cast<std::size_t>(w) * 3) {
            for (int y = 0; y < h; ++y)
                std::memset(px + stride * static_cast<std::size_t>(y) + static_cast<std::size_t>(w) * 3, 0,
                            stride - static_cast<std::size_t>(w) * 3);
        }
        rc = RenderPageDib(fs, request->iPage, w, h, px, static_cast<int>(stride), scanned);
        if (rc != kOk) {
            GlobalUnlock(block);
            GlobalFree(block);
            return rc;
        }
        GlobalUnlock(block);
        *dib = block;
        return kOk;
    });
    return r == kOk ? 1 : 0;
}

int ImageIO_GetSaveFuncInfo(int format, DWORD* info) {
    if (info == nullptr || format != kPdfFormat) {
        OV_TRACE("ImageIO_GetSaveFuncInfo() Parameter Error! [Format] %d\n", format);
        return 0;
    }
    *info = kPdfWriterInfo;
    return 1;
}

int ImageIO_SaveFileName(const char* destination, DWORD info, int count, IMAGE_REQUEST* request, int /*r1*/,
                         int /*r2*/) {
    int r = OV_GUARDED([&]() -> int {
        if (info != kPdfWriterInfo || count != 1 || request == nullptr) {
            OV_TRACE("ImageIO_SaveFileName() Parameter Error! [Info] %u [Count] %d\n", info, count);
            return kErrArgument;
        }
        std::string src, dst;
        int rc = RecordPath(request->szPath, "source", &src);
        if (rc == kOk)
            rc = CheckPath(destination, "destination", &dst);
        if (rc != kOk)
            return rc;
        if (request->iPage < 1) {
            OV_TRACE("ImageIO_SaveFileName() Page Error! [Page] %d\n", request->iPage);
            return kErrNoPage;
        }
        return WriteReplacing(dst, [&](const std::string& tmp) {
            return RotatePage(src, request->iPage, request->iRotation, tmp);
        });
    });
    return r == kOk ? 1 : 0;
}

int ImageIO_MergeTwoPage(HAGAKI_MERGE_PARAM* param) {
    return OV_GUARDED([&]() -> int {
        if (param == nullptr) {
            OV_TRACE("ImageIO_MergeTwoPage() Parameter Error!\n");
            return kErrArgument;
        }
        std::string out;
        int rc = RecordPath(param->szOutput, "output", &out);
        if (rc != kOk)
            return rc;
        // Front then back. An empty path means that side is absent; a named file
        // that does not exist is left out too, as long as the other side is there.
        std::vector<MergeInput> inputs;
        int missing = 0;
        const struct {
            const char* path;
            int page;
            const char* what;
        } sides[2] = {{param->szFront, param->iFrontPage, "front"},
                      {param->szBack, param->iBackPage, "back"}};
        for (const auto& side : sides) {
            if (side.path[0] == '\0')
                continue;
            MergeInput in;
            rc = RecordPath(side.path, side.what, &in.fsPath);
            if (rc != kOk)
                return rc;
            struct stat st;
            if (::stat(in.fsPath.c_str(), &st) != 0) {
                OV_TRACE("ImageIO_MergeTwoPage() Side missing! [%s] %s\n", side.what, side.path);
                ++missing;
                continue;
            }
            if (side.page < 1) {
                OV_TRACE("ImageIO_MergeTwoPage() Page Error! [%s] %d\n", side.what, side.page);
                return kErrNoPage;
            }
            in.page = side.page;
            inputs.push_back(std::move(in));
        }
        if (inputs.empty()) {
            OV_TRACE("ImageIO_MergeTwoPage() No side to merge!\n");
            return missing > 0 ? kErrNoFile : kErrArgument;
        }
        return WriteReplacing(out, [&](const std::string& tmp) { return MergePages(inputs, tmp); });
    });
}
