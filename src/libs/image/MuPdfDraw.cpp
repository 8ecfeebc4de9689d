// SPDX-License-Identifier: AGPL-3.0-or-later
// Drawing with MuPDF: the edit information (for the raster device and the PDF
// device alike), rendering a page into caller memory, and the page facts (is
// the page one scanned image?).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Trace.h"
#include "image/MuPdfInternal.h"
#include "image/Resample.h"

namespace ov::image::detail {
namespace {

// ---- Drawing the edit information -------------------------------------------

void SetColor(std::uint32_t rgb, float out[3]) {
    out[0] = static_cast<float>((rgb >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((rgb >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(rgb & 0xFF) / 255.0f;
}

// Builds the path of one geometric item (not Text). May throw (MuPDF).
fz_path* ItemPath(fz_context* ctx, const EditItem& item) {
    fz_path* path = fz_new_path(ctx);
    fz_try(ctx) {
        const std::vector<float>& p = item.pts;
        switch (item.kind) {
            case EditItem::Kind::Rect:
            case EditItem::Kind::Highlight:
                fz_rectto(ctx, path, p[0], p[1], p[0] + p[2], p[1] + p[3]);
                break;
            default:
                fz_moveto(ctx, path, p[0], p[1]);
                for (std::size_t i = 2; i + 1 < p.size(); i += 2) fz_lineto(ctx, path, p[i], p[i + 1]);
                break;
        }
    }
    fz_catch(ctx) {
        fz_drop_path(ctx, path);
        fz_rethrow(ctx);
    }
    return path;
}

// Lays out a text note glyph by glyph (with the Japanese font and its
// fallbacks): each glyph's font, id and matrix in page points. May throw (MuPDF).
template <typename Each>
void LayOutText(fz_context* ctx, const EditItem& item, Each&& each) {
    fz_font* font = JapaneseFont(ctx);
    if (font == nullptr)
        return;
    const float size = item.width;
    float x = item.pts[0];
    const float baseline = item.pts[1] + size * fz_font_ascender(ctx, font);
    const char* s = item.textUtf8.c_str();
    while (*s != '\0') {
        int rune = 0;
        s += fz_chartorune(&rune, s);
        fz_font* used = nullptr;
        int gid = fz_encode_character_with_fallback(ctx, font, rune, 0, FZ_LANG_ja, &used);
        if (used == nullptr)
            used = font;
        each(used, gid, rune, fz_make_matrix(size, 0, 0, -size, x, baseline));
        x += fz_advance_glyph(ctx, used, gid, 0) * size;
    }
}

// Draws a text note as filled glyph outlines, so that no font has to be
// embedded in a PDF. May throw (MuPDF).
void DrawTextOutlines(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItem& item,
                      const float color[3]) {
    LayOutText(ctx, item, [&](fz_font* font, int gid, int, fz_matrix trm) {
        fz_path* glyph = fz_outline_glyph(ctx, font, gid, trm);
        if (glyph == nullptr)
            return;
        fz_try(ctx) {
            fz_fill_path(ctx, dev, glyph, 0, ctm, fz_device_rgb(ctx), color, 1.0f, fz_default_color_params);
        }
        fz_always(ctx) {
            fz_drop_path(ctx, glyph);
        }
        fz_catch(ctx) {
            fz_rethrow(ctx);
        }
    });
}

// Draws a text note as text of the same glyphs: a raster device draws them
// from MuPDF's glyph cache, which keeps them from one page to the next, where
// outlines would be filled afresh every time. May throw (MuPDF).
void DrawTextGlyphs(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItem& item,
                    const float color[3]) {
    fz_text* text = fz_new_text(ctx);
    fz_try(ctx) {
        LayOutText(ctx, item, [&](fz_font* font, int gid, int rune, fz_matrix trm) {
            fz_show_glyph(ctx, text, font, trm, gid, rune, 0, 0, FZ_BIDI_LTR, FZ_LANG_ja);
        });
        fz_fill_text(ctx, dev, text, ctm, fz_device_rgb(ctx), color, 1.0f, fz_default_color_params);
    }
    fz_always(ctx) {
        fz_drop_text(ctx, text);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

// Strokes path with the items' pen: round caps and joins. May throw (MuPDF).
void StrokeWithPen(fz_context* ctx, fz_device* dev, const fz_path* path, fz_matrix ctm, float width,
                   const float* color) {
    fz_stroke_state* stroke = fz_new_stroke_state(ctx);
    fz_try(ctx) {
        stroke->linewidth = width;
        stroke->start_cap = stroke->end_cap = stroke->dash_cap = FZ_LINECAP_ROUND;
        stroke->linejoin = FZ_LINEJOIN_ROUND;
        fz_stroke_path(ctx, dev, path, stroke, ctm, fz_device_rgb(ctx), color, 1.0f, fz_default_color_params);
    }
    fz_always(ctx) {
        fz_drop_stroke_state(ctx, stroke);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

// Fills a highlight or strokes any other shape item. May throw (MuPDF).
void DrawShape(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItem& item, const float* color) {
    fz_path* path = ItemPath(ctx, item);
    fz_try(ctx) {
        if (item.kind == EditItem::Kind::Highlight)
            fz_fill_path(ctx, dev, path, 0, ctm, fz_device_rgb(ctx), color, item.opacity,
                         fz_default_color_params);
        else
            StrokeWithPen(ctx, dev, path, ctm, item.width, color);
    }
    fz_always(ctx) {
        fz_drop_path(ctx, path);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

}  // namespace

// The one drawing routine of the edit information, for the raster device and
// the PDF device alike. ctm maps page points (top-left origin) to the device.
// May throw (MuPDF).
void DrawItems(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItems& items, TextAs textAs) {
    for (const EditItem& item : items) {
        float color[3];
        SetColor(item.rgb, color);
        if (item.kind == EditItem::Kind::Text && textAs == TextAs::Outlines)
            DrawTextOutlines(ctx, dev, ctm, item, color);
        else if (item.kind == EditItem::Kind::Text)
            DrawTextGlyphs(ctx, dev, ctm, item, color);
        else
            DrawShape(ctx, dev, ctm, item, color);
    }
}

namespace {

// ---- Rendering ---------------------------------------------------------------

// The result of a drawing that MuPDF ended with an error: a cancel, or the
// error (with its trace line). Called in fz_catch.
int DrawFailure(fz_context* ctx) {
    if (Cancelled())
        return kErrCancelled;
    OV_TRACE("fz_run_page() Error! [MuPDF] %s\n", fz_caught_message(ctx));
    return CaughtCode(ctx, kErrRender);
}

int TryRender(fz_context* ctx, pdf_page* page, fz_matrix ctm, const EditItems* items, fz_pixmap* pix) {
    fz_device* dev = nullptr;
    fz_var(dev);
    fz_try(ctx) {
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, ctm, pix);
        fz_run_page(ctx, &page->super, dev, fz_identity, CurrentCookie());
        if (Cancelled())
            fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        if (items != nullptr) {
            // The edit information can take as long as the page: asked again after it.
            DrawItems(ctx, dev, fz_identity, *items, TextAs::Glyphs);
            if (Cancelled())
                fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        }
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        return DrawFailure(ctx);
    }
    return kOk;
}

// Records the page (items null) or the edit information (page space; page is
// not used) into a display list over box, the page's box.
int TryRecord(fz_context* ctx, pdf_page* page, const EditItems* items, fz_rect box, fz_display_list** out) {
    fz_display_list* list = nullptr;
    fz_device* dev = nullptr;
    fz_var(list);
    fz_var(dev);
    fz_try(ctx) {
        list = fz_new_display_list(ctx, box);
        dev = fz_new_list_device(ctx, list);
        if (items != nullptr)
            DrawItems(ctx, dev, fz_identity, *items, TextAs::Glyphs);
        else
            fz_run_page(ctx, &page->super, dev, fz_identity, CurrentCookie());
        if (Cancelled())
            fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        fz_drop_display_list(ctx, list);
        return DrawFailure(ctx);
    }
    *out = list;
    return kOk;
}

// Draws the rows y0 .. y0 + height of the list (ctm: page to the whole image)
// into the band's memory: on white (the page's list), or over whatever the rows
// hold (the edit information's, made in NotesCtx()). The rows are R, G, B, or
// with words, 32-bit words 0xFFRRGGBB (little-endian: B, G, R and an opaque alpha).
int TryDrawBand(fz_context* ctx, fz_display_list* list, bool onWhite, fz_matrix ctm, int width, int y0,
                int height, std::uint8_t* samples, bool words = false) {
    fz_pixmap* pix = nullptr;
    fz_device* dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = words ? fz_new_pixmap_with_data(ctx, fz_device_bgr(ctx), width, height, nullptr, 1, width * 4,
                                              samples)
                    : fz_new_pixmap_with_data(ctx, fz_device_rgb(ctx), width, height, nullptr, 0, width * 3,
                                              samples);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        const fz_matrix bandCtm = fz_concat(ctm, fz_translate(0, static_cast<float>(-y0)));
        const fz_rect area = fz_make_rect(0, 0, static_cast<float>(width), static_cast<float>(height));
        if (onWhite)
            fz_clear_pixmap_with_value(ctx, pix, 255);
        fz_run_display_list(ctx, list, dev, bandCtm, area, CurrentCookie());
        if (Cancelled())
            fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) {
        return DrawFailure(ctx);
    }
    return kOk;
}

// How many images (and image masks) the list draws (counted by the facts device below).
int TryCountListImages(fz_context* ctx, fz_display_list* list, int* out);

// Holds the decoded pixels of each image that the list draws at ctm.
struct Decoded {
    fz_device super;
    std::vector<fz_pixmap*>* held;
    bool enlarged;
};
void DecodeImage(fz_context* ctx, fz_device* dev, fz_image* img, fz_matrix ctm, float, fz_color_params) {
    // An image drawn larger than its pixels is interpolated: MuPDF's result at
    // a band's edge then differs a little from the page drawn in one piece.
    const fz_rect area = fz_transform_rect(fz_unit_rect, ctm);
    if (area.x1 - area.x0 > static_cast<float>(img->w) + 0.5f ||
        area.y1 - area.y0 > static_cast<float>(img->h) + 0.5f)
        reinterpret_cast<Decoded*>(dev)->enlarged = true;
    int w = 0, h = 0;
    fz_matrix m = ctm;
    fz_pixmap* pix = fz_get_pixmap_from_image(ctx, img, nullptr, &m, &w, &h);
    auto* held = reinterpret_cast<Decoded*>(dev)->held;
    try {
        held->push_back(pix);
    } catch (...) {
        fz_drop_pixmap(ctx, pix);
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
    }
}

// Decodes the images of the list once, at the size the page is drawn at, and
// keeps them (in MuPDF's store and in held) until the bands are drawn: a band
// that crosses an image then finds it decoded instead of decoding it anew.
// *enlarged: some image is drawn larger than its pixels.
int TryDecodeImages(fz_context* ctx, fz_display_list* list, fz_matrix ctm, std::vector<fz_pixmap*>* held,
                    bool* enlarged) {
    fz_device* dev = nullptr;
    fz_var(dev);
    fz_try(ctx) {
        auto* d = fz_new_derived_device(ctx, Decoded);
        dev = &d->super;
        d->held = held;
        d->enlarged = false;
        d->super.fill_image = DecodeImage;
        fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, CurrentCookie());
        if (Cancelled())
            fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        fz_close_device(ctx, dev);
        *enlarged = d->enlarged;
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        return DrawFailure(ctx);
    }
    return kOk;
}

struct HeldPixmaps {
    std::vector<fz_pixmap*> pixmaps;
    ~HeldPixmaps() {
        for (fz_pixmap* p : pixmaps) fz_drop_pixmap(Ctx(), p);
    }
};

struct ListDrop {
    fz_context* ctx;
    void operator()(fz_display_list* l) const { fz_drop_display_list(ctx, l); }
};
using ListPtr = std::unique_ptr<fz_display_list, ListDrop>;

// Bytes of one band: small enough to stay in the core's cache until it is encoded.
constexpr int kBandBytes = 384 * 1024;

int TryPageBounds(fz_context* ctx, pdf_page* page, fz_rect* out) {
    fz_try(ctx) {
        *out = fz_bound_page(ctx, &page->super);
    }
    fz_catch(ctx) {
        OV_TRACE("fz_bound_page() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    if (out->x1 - out->x0 < 1 || out->y1 - out->y0 < 1) {
        OV_TRACE("Empty page box!\n");
        return kErrRender;
    }
    return kOk;
}

int TryWrapSamples(fz_context* ctx, int width, int height, std::uint8_t* samples, int stride, bool bgr,
                   fz_pixmap** out) {
    fz_try(ctx) {
        *out = fz_new_pixmap_with_data(ctx, bgr ? fz_device_bgr(ctx) : fz_device_rgb(ctx), width, height,
                                       nullptr, 0, stride, samples);
    }
    fz_catch(ctx) {
        OV_TRACE("fz_new_pixmap_with_data() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrMemory);
    }
    return kOk;
}

}  // namespace

int LoadedPage::DrawFittedFirst(fz_context* ctx, fz_context* nctx, fz_display_list* list,
                                fz_display_list* over, int width, int height,
                                const FittedFirst& first) const {
    if constexpr (std::endian::native != std::endian::little)
        return kOk;  // not drawn (the words would be A, R, G, B): the page image is scaled instead
    int w = 0, h = 0;
    FitSize(width, height, first.boxWidth, first.boxHeight, &w, &h);
    if (w >= width || h >= height)
        return kOk;  // not smaller than the page image: that is scaled instead
    auto* pixels = reinterpret_cast<std::uint8_t*>(first.pixels(w, h));
    if (pixels == nullptr) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", w, h);
        return kErrMemory;
    }
    const fz_matrix ctm =
        fz_pre_translate(fz_scale(static_cast<float>(w / Width()), static_cast<float>(h / Height())),
                         -m_bounds.x0, -m_bounds.y0);
    int r = TryDrawBand(ctx, list, false, ctm, w, 0, h, pixels, true);  // on the white it is given
    if (r == kOk && over != nullptr)
        r = TryDrawBand(nctx, over, false, ctm, w, 0, h, pixels, true);
    return r == kOk ? first.done() : r;
}

int LoadedPage::Load(const std::string& fsPath, int page) {
    int r = Open(fsPath, &m_doc);
    if (r == kOk)
        r = LoadPage(m_doc.get(), page, &m_page);
    if (r == kOk)
        r = TryPageBounds(Ctx(), m_page.get(), &m_bounds);
    return r;
}

int LoadedPage::DrawInto(int width, int height, std::uint8_t* samples, int stride, bool bgr,
                         const EditItems* items, bool bottomUp) {
    fz_context* ctx = Ctx();
    fz_pixmap* pix = nullptr;
    int r = TryWrapSamples(ctx, width, height, samples, stride, bgr, &pix);
    if (r != kOk)
        return r;
    PixPtr holder(pix);
    fz_matrix ctm =
        fz_pre_translate(fz_scale(static_cast<float>(width / Width()), static_cast<float>(height / Height())),
                         -m_bounds.x0, -m_bounds.y0);
    if (bottomUp)
        ctm = fz_concat(ctm, fz_make_matrix(1, 0, 0, -1, 0, static_cast<float>(height)));
    return TryRender(ctx, m_page.get(), ctm, items, pix);
}

int LoadedPage::DrawBands(int width, int height, std::uint8_t* samples, const EditItems* items,
                          const BandDone& onBand, const FittedFirst* first) {
    fz_context* ctx = Ctx();
    const bool bNotes = items != nullptr && !items->empty();
    fz_context* nctx = bNotes ? NotesCtx() : ctx;  // the notes' family only on threads that draw notes
    fz_display_list* raw = nullptr;
    int r = TryRecord(ctx, m_page.get(), nullptr, m_bounds, &raw);
    if (r != kOk)
        return r;
    ListPtr list(raw, ListDrop{ctx});
    ListPtr over(nullptr, ListDrop{nctx});
    if (bNotes) {
        raw = nullptr;
        if ((r = TryRecord(nctx, nullptr, items, m_bounds, &raw)) != kOk)
            return r;
        over.reset(raw);
    }
    const fz_matrix ctm =
        fz_pre_translate(fz_scale(static_cast<float>(width / Width()), static_cast<float>(height / Height())),
                         -m_bounds.x0, -m_bounds.y0);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    const auto drawOver = [&](int y0, int rows) {
        return over ? TryDrawBand(nctx, over.get(), false, ctm, width, y0, rows, samples + stride * y0) : kOk;
    };
    int band = std::max(16, static_cast<int>(kBandBytes / stride));
    // MuPDF decodes an image for each band that crosses it, unless it is
    // decoded already: a page with one image (a scan) has it decoded once up
    // front; a page with more images is drawn in one piece, so that their
    // decoded pixels need not all be held at once, and so is a page whose
    // image is enlarged, so that it looks exactly as drawn in one piece.
    int images = 0;
    if ((r = TryCountListImages(ctx, list.get(), &images)) != kOk)
        return r;
    if (first != nullptr && images == 0 &&
        (r = DrawFittedFirst(ctx, nctx, list.get(), over.get(), width, height, *first)) != kOk)
        return r;
    // A scan at exactly the image's size is decoded straight into the rows,
    // and the edit information drawn over each band as it comes.
    if (images == 1) {
        int y0 = 0;
        r = DrawScanRows(list.get(), m_bounds, width, height, samples, band, [&](int yEnd) {
            const int r2 = over ? drawOver(y0, yEnd - y0) : (Cancelled() ? kErrCancelled : kOk);
            if (r2 == kOk) {
                y0 = yEnd;
                onBand(yEnd);
            }
            return r2;
        });
        if (r != kErrArgument)
            return r;
    }
    HeldPixmaps held;
    bool enlarged = false;
    if (images == 1 && (r = TryDecodeImages(ctx, list.get(), ctm, &held.pixmaps, &enlarged)) != kOk)
        return r;
    if (images > 1 || enlarged)
        band = height;
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        r = TryDrawBand(ctx, list.get(), true, ctm, width, y, rows, samples + stride * y);
        if (r == kOk)
            r = drawOver(y, rows);
        if (r != kOk)
            return r;
        onBand(y + rows);
    }
    return kOk;
}

namespace {

// ---- Page facts (is the page one scanned image?) -----------------------------

struct FactsDevice {
    fz_device super;
    int images;
    int marks;
    fz_matrix imageCtm;
    int imageW;
    int imageH;
};

void FactsMark(fz_context*, fz_device* dev) {
    reinterpret_cast<FactsDevice*>(dev)->marks++;
}
void FactsFillPath(fz_context* ctx, fz_device* dev, const fz_path*, int, fz_matrix, fz_colorspace*,
                   const float*, float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsStrokePath(fz_context* ctx, fz_device* dev, const fz_path*, const fz_stroke_state*, fz_matrix,
                     fz_colorspace*, const float*, float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsFillText(fz_context* ctx, fz_device* dev, const fz_text*, fz_matrix, fz_colorspace*, const float*,
                   float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsStrokeText(fz_context* ctx, fz_device* dev, const fz_text*, const fz_stroke_state*, fz_matrix,
                     fz_colorspace*, const float*, float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsFillShade(fz_context* ctx, fz_device* dev, fz_shade*, fz_matrix, float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsFillImageMask(fz_context* ctx, fz_device* dev, fz_image*, fz_matrix, fz_colorspace*, const float*,
                        float, fz_color_params) {
    FactsMark(ctx, dev);
}
void FactsFillImage(fz_context*, fz_device* dev, fz_image* img, fz_matrix ctm, float, fz_color_params) {
    auto* d = reinterpret_cast<FactsDevice*>(dev);
    d->images++;
    d->imageCtm = ctm;
    d->imageW = img->w;
    d->imageH = img->h;
}

int TryCountListImages(fz_context* ctx, fz_display_list* list, int* out) {
    fz_device* dev = nullptr;
    fz_var(dev);
    FactsDevice result{};
    fz_try(ctx) {
        auto* d = fz_new_derived_device(ctx, FactsDevice);
        dev = &d->super;
        d->super.fill_image = FactsFillImage;
        d->super.fill_image_mask = FactsFillImageMask;
        fz_run_display_list(ctx, list, dev, fz_identity, fz_infinite_rect, nullptr);
        fz_close_device(ctx, dev);
        result = *d;
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        OV_TRACE("fz_run_display_list() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    *out = result.images + result.marks;
    return kOk;
}

}  // namespace

int TryFacts(fz_context* ctx, pdf_page* page, PageFacts* facts) {
    fz_device* dev = nullptr;
    fz_rect bounds = fz_empty_rect;
    fz_var(dev);
    FactsDevice result{};
    fz_try(ctx) {
        bounds = fz_bound_page(ctx, &page->super);
        auto* d = fz_new_derived_device(ctx, FactsDevice);
        dev = &d->super;
        d->super.fill_path = FactsFillPath;
        d->super.stroke_path = FactsStrokePath;
        d->super.fill_text = FactsFillText;
        d->super.stroke_text = FactsStrokeText;
        d->super.fill_shade = FactsFillShade;
        d->super.fill_image = FactsFillImage;
        d->super.fill_image_mask = FactsFillImageMask;
        fz_run_page(ctx, &page->super, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
        result = *d;
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        OV_TRACE("fz_run_page() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    facts->widthPt = bounds.x1 - bounds.x0;
    facts->heightPt = bounds.y1 - bounds.y0;
    if (facts->widthPt < 1 || facts->heightPt < 1) {
        OV_TRACE("Empty page box!\n");
        return kErrRender;
    }
    facts->singleImage = false;
    if (result.images == 1 && result.marks == 0 && result.imageW > 0 && result.imageH > 0) {
        fz_rect r = fz_transform_rect(fz_unit_rect, result.imageCtm);
        const float tolX = facts->widthPt * 0.01f + 1.0f;
        const float tolY = facts->heightPt * 0.01f + 1.0f;
        if (r.x0 <= bounds.x0 + tolX && r.y0 <= bounds.y0 + tolY && r.x1 >= bounds.x1 - tolX &&
            r.y1 >= bounds.y1 - tolY) {
            const fz_matrix& m = result.imageCtm;
            const bool swapped = std::fabs(m.a) + std::fabs(m.d) < std::fabs(m.b) + std::fabs(m.c);
            const int alongX = swapped ? result.imageH : result.imageW;
            const int alongY = swapped ? result.imageW : result.imageH;
            // Only the part of the image that lies on the page counts.
            facts->imageWidth = static_cast<int>(std::lround(alongX * facts->widthPt / (r.x1 - r.x0)));
            facts->imageHeight = static_cast<int>(std::lround(alongY * facts->heightPt / (r.y1 - r.y0)));
            facts->singleImage = facts->imageWidth > 0 && facts->imageHeight > 0;
        }
    }
    return kOk;
}

}  // namespace ov::image::detail
