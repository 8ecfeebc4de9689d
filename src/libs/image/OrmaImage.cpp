// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/OrmaImage.h"

#include <optional>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "image/EditInfo.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"
#include "image/PageBitmap.h"
#include "image/Resample.h"
#include "image/ThmFile.h"

using namespace ov::image;

namespace {

// 1000 per-mille of the base resolution is 150 DPI.
constexpr float kBaseDpi = 150.0f;
constexpr int kMaxScale = 10000;
constexpr int kMaxBitmapSide = 32767;

// The edit information of an INI file (none for a null or empty path). A file
// that cannot be read leaves the list empty: the page still shows.
int LoadEditItems(const char* editInfoIni, EditItems* items) {
    if (editInfoIni == nullptr || *editInfoIni == '\0')
        return kOk;
    std::string ini;
    int r = CheckPath(editInfoIni, "edit information", &ini);
    if (r == kOk && !ReadEditInfo(editInfoIni, items))
        items->clear();
    return r;
}

}  // namespace

int WorkDesk_CreateThumbFile(const char* sourcePdf, int page, const char* thmPath, int scaleX, int scaleY,
                             int drawEditInfo, const char* editInfoIni) {
    return CreateThumbFileChecked(sourcePdf, page, thmPath, scaleX, scaleY, drawEditInfo, editInfoIni, {});
}

namespace {

// The checks of a render's arguments, and the edit information it draws.
int CheckRender(int page, int scaleX, int scaleY, int drawEditInfo, const char* editInfoIni,
                EditItems* items) {
    if (page < 1 || scaleX < 1 || scaleY < 1 || scaleX > kMaxScale || scaleY > kMaxScale) {
        OV_TRACE("WorkDesk_CreateThumbFile() Parameter Error! [Page] %d [Scale] %d %d\n", page, scaleX,
                 scaleY);
        return kErrArgument;
    }
    return drawEditInfo != 0 ? LoadEditItems(editInfoIni, items) : kOk;
}

// MuPDF draws straight into the page image's memory; each band of rows drawn
// (page and edit information) is handed to onRows while it is in the cache, and
// drawn is called with the whole page drawn, before the file is closed.
int DrawInto(const std::string& src, int page, int scaleX, int scaleY, const EditItems* items, ThmImage* img,
             const std::function<bool()>& begin, const std::function<void(int)>& onRows,
             const std::function<void()>& drawn = {}, const FittedFirst* first = nullptr) {
    const float zx = kBaseDpi / 72.0f * static_cast<float>(scaleX) / 1000.0f;
    const float zy = kBaseDpi / 72.0f * static_cast<float>(scaleY) / 1000.0f;
    return RenderPage(
        src, page, zx, zy, items,
        [&](int w, int h) { return img->Allocate(w, h) && begin() ? img->Pixels() : nullptr; }, onRows, drawn,
        first);
}

}  // namespace

int ov::image::CreateThumbFileChecked(const char* sourcePdf, int page, const char* thmPath, int scaleX,
                                      int scaleY, int drawEditInfo, const char* editInfoIni,
                                      const std::function<int(const std::string& fsTemp)>& beforePlace,
                                      const OnDrawn& onDrawn, ThmImage* drawn, FittedBitmap* fitted) {
    return OV_GUARDED([&]() -> int {
        std::string src, thm;
        int r = CheckSourceAndOutput(sourcePdf, thmPath, &src, &thm);
        if (r != kOk)
            return r;
        EditItems items;
        if ((r = CheckRender(page, scaleX, scaleY, drawEditInfo, editInfoIni, &items)) != kOk)
            return r;
        // One pass over the pixels: each band is encoded, hashed and written by
        // the writer's thread right after it is drawn, while the next band is
        // drawn here. The written image is then kept for the first draw of the file.
        // A fitted bitmap is scaled there too, each band before it is encoded.
        MakeRoomForThm();
        ThmImage img;
        ThmWriter writer;
        if ((r = writer.Open(thm)) != kOk)
            return r;
        const bool bDrawnAlready = drawn != nullptr && drawn->width > 0;
        std::function<void(int)> follow;
        if (fitted != nullptr)
            follow = [fitted, &img](int yEnd) { fitted->Rows(img, yEnd); };
        // The whole page drawn, or the bitmap drawn first: the bitmap finished
        // and the pixels handed on, once.
        std::optional<int> handed;
        const auto handOn = [&] {
            if (handed)
                return;
            if (follow && !fitted->DrawnFirst())
                writer.FollowAll();  // a bitmap left short is made whole by the caller
            handed = onDrawn ? onDrawn(img) : kOk;
        };
        std::optional<FittedFirst> first;
        if (fitted != nullptr && fitted->DrawsFirst() && !bDrawnAlready)
            first = fitted->First([&] {
                handOn();
                return *handed;
            });
        if (bDrawnAlready) {
            // Drawn already (the start's first page): the writer's thread encodes
            // and writes it while the bitmap is scaled and handed on.
            img = std::move(*drawn);
            if ((r = writer.Begin(img, true, follow)) != kOk)
                return r;
            writer.Rows(img.height);
        } else {
            int begun = kOk;
            r = DrawInto(
                src, page, scaleX, scaleY, drawEditInfo != 0 ? &items : nullptr, &img,
                [&] { return (begun = writer.Begin(img, true, follow)) == kOk; },
                [&writer](int yEnd) { writer.Rows(yEnd); }, handOn, first ? &*first : nullptr);
            if (begun != kOk)
                return begun;
            if (r != kOk)
                return r;
        }
        if (!handed)
            handOn();
        if (*handed != kOk)
            return *handed;
        return writer.Write(std::move(img), beforePlace);
    });
}

int ov::image::DrawThumbImage(const char* sourcePdf, int page, int scaleX, int scaleY, int drawEditInfo,
                              const char* editInfoIni, ThmImage* out) {
    return OV_GUARDED([&]() -> int {
        std::string src;
        int r = CheckPath(sourcePdf, "source", &src);
        if (r != kOk)
            return r;
        EditItems items;
        if ((r = CheckRender(page, scaleX, scaleY, drawEditInfo, editInfoIni, &items)) != kOk)
            return r;
        return DrawInto(
            src, page, scaleX, scaleY, drawEditInfo != 0 ? &items : nullptr, out, [] { return true; },
            [](int) {});
    });
}

int WorkDesk_GetThumbnail(void* /*pDC*/, const char* thmPath, int width, int height, CPageBitmap* bitmap) {
    return OV_GUARDED([&]() -> int {
        std::string thm;
        int r = CheckPath(thmPath, "page image", &thm);
        if (r != kOk)
            return r;
        if (bitmap == nullptr || width < 1 || height < 1 || width > kMaxBitmapSide ||
            height > kMaxBitmapSide) {
            OV_TRACE("WorkDesk_GetThumbnail() Parameter Error! [Width] %d [Height] %d\n", width, height);
            return kErrArgument;
        }
        const ThmImage* img = nullptr;
        r = ReadThmCached(thm, &img);
        return r == kOk ? BitmapOfThm(*img, width, height, bitmap) : r;
    });
}

void ov::image::FittedBitmap::Rows(const ThmImage& image, int yEnd) {
    // A bitmap that may be drawn first is not made ready ahead of the rows (the
    // page-image writer's helper does that while the drawing starts): the
    // first rows come only once it is known not to be drawn first.
    if (m_bDrawnFirst.load() || (m_bFirst && yEnd == 0) || m_out == nullptr || m_boxW < 1 || m_boxH < 1 ||
        m_boxW > kMaxBitmapSide || m_boxH > kMaxBitmapSide)
        return;
    if (m_image != &image) {
        FitSize(image.width, image.height, m_boxW, m_boxH, &m_w, &m_h);
        m_out->Create(m_w, m_h);
        m_image = &image;
        m_next = 0;
    }
    m_next = ResampleRowsToXrgbFrom(image.rows.data(), image.width, image.height, yEnd, m_out->Row(0), m_w,
                                    m_h, m_w, m_next);
}

bool ov::image::FittedBitmap::Whole(const ThmImage& image) const {
    return m_bDrawnFirst || (m_image == &image && m_h > 0 && m_next == m_h);
}

FittedFirst ov::image::FittedBitmap::First(std::function<int()> done) {
    FittedFirst first;
    first.boxWidth = m_boxW;
    first.boxHeight = m_boxH;
    first.pixels = [this](int w, int h) -> std::uint32_t* {
        if (w > kMaxBitmapSide || h > kMaxBitmapSide)
            return nullptr;
        try {
            m_out->Create(w, h);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return m_out->Row(0);
    };
    first.done = [this, done = std::move(done)] {
        m_bDrawnFirst = true;
        return done();
    };
    return first;
}

int ov::image::BitmapOfThm(const ThmImage& image, int width, int height, CPageBitmap* bitmap) {
    if (bitmap == nullptr || width < 1 || height < 1 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        return kErrArgument;
    int w = 0, h = 0;
    FitSize(image.width, image.height, width, height, &w, &h);
    bitmap->Create(w, h);
    ResampleRowsToXrgb(image.rows.data(), image.width, image.height, bitmap->Row(0), w, h, w);
    return kOk;
}

int WorkDesk_CreateEditInfoPdfFile(const char* sourcePdf, const char* outputPdf, const char* editInfoIni,
                                   int* /*pReserved*/, void* /*pBlock48*/) {
    return OV_GUARDED([&]() -> int {
        std::string src, out;
        int r = CheckSourceAndOutput(sourcePdf, outputPdf, &src, &out);
        if (r != kOk)
            return r;
        EditItems items;
        if ((r = LoadEditItems(editInfoIni, &items)) != kOk)
            return r;
        return WriteReplacing(out, [&](const std::string& tmp) { return AddEditInfoToPdf(src, items, tmp); });
    });
}
