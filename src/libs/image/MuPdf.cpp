// SPDX-License-Identifier: AGPL-3.0-or-later
// MuPDF boundary. Rules kept throughout this file:
// - every fz_try/fz_catch sits in a small static function whose frame holds only
//   plain pointers and numbers (no object with a destructor lives across a
//   longjmp); the owning RAII handles live in the callers' frames;
// - every MuPDF error is caught here and becomes a negative result with a trace
//   line; MuPDF's own warnings and errors go to the trace log.
#include "image/MuPdf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "base/Trace.h"
#include "image/Resample.h"

namespace ov::image {
namespace {

// MuPDF's own reason for the last error of this thread.
thread_local std::string t_lastReason;

void OnMuPdfWarning(void*, const char* message) {
    OV_TRACE_TEXT("MuPDF warning: %s\n", message);
}
void OnMuPdfError(void*, const char* message) {
    OV_TRACE_TEXT("MuPDF error: %s\n", message);
    t_lastReason = message != nullptr ? message : "";
}

// MuPDF across threads: one base context made once with a lock set, and a
// clone of it for every thread that uses the library (the clones share the base
// context's store of decoded images and glyphs under its locks). No MuPDF object
// is ever handed from one thread to another. The base context is kept until the
// process ends (the clones of threads still running need it).
std::mutex g_locks[FZ_LOCK_MAX];
void LockMuPdf(void*, int lock) {
    g_locks[lock].lock();
}
void UnlockMuPdf(void*, int lock) {
    g_locks[lock].unlock();
}
fz_locks_context g_lockContext = {nullptr, LockMuPdf, UnlockMuPdf};

// MuPDF's cache of decoded images and glyphs, shared by the threads: a page is
// rendered once and then kept as a page image, so a modest cache does.
constexpr std::size_t kStoreBytes = 64u << 20;

fz_context* BaseContext() {
    static fz_context* s_base = []() -> fz_context* {
        fz_context* ctx = fz_new_context(nullptr, &g_lockContext, kStoreBytes);
        if (ctx == nullptr) {
            OV_TRACE("fz_new_context() Error!\n");
            return nullptr;
        }
        fz_set_warning_callback(ctx, OnMuPdfWarning, nullptr);
        fz_set_error_callback(ctx, OnMuPdfError, nullptr);
        return ctx;
    }();
    return s_base;
}

struct ContextHolder {
    fz_context* ctx = nullptr;
    fz_font* font = nullptr;  // the built-in Japanese font, loaded on first use
    bool fontTried = false;
    fz_cookie* cookie = nullptr;  // the cancel of the thread's current render (not owned)
    ~ContextHolder() {
        if (ctx != nullptr) {
            fz_drop_font(ctx, font);
            fz_drop_context(ctx);
        }
    }
};
thread_local ContextHolder t_mu;

fz_context* Ctx() {
    if (t_mu.ctx == nullptr) {
        fz_context* base = BaseContext();
        if (base == nullptr)
            return nullptr;
        fz_context* ctx = fz_clone_context(base);
        if (ctx == nullptr) {
            OV_TRACE("fz_clone_context() Error!\n");
            return nullptr;
        }
        fz_set_warning_callback(ctx, OnMuPdfWarning, nullptr);
        fz_set_error_callback(ctx, OnMuPdfError, nullptr);
        t_mu.ctx = ctx;
    }
    return t_mu.ctx;
}

// Whether the thread's current render was cancelled.
bool Cancelled() {
    return t_mu.cookie != nullptr && t_mu.cookie->abort != 0;
}

int CaughtCode(fz_context* ctx, int otherwise) {
    return fz_caught(ctx) == FZ_ERROR_MEMORY ? kErrMemory : otherwise;
}

// ---- RAII handles (used outside fz_try regions only) -------------------------

struct DocDrop {
    void operator()(pdf_document* d) const { pdf_drop_document(Ctx(), d); }
};
struct PageDrop {
    void operator()(pdf_page* p) const { fz_drop_page(Ctx(), &p->super); }
};
struct PixDrop {
    void operator()(fz_pixmap* p) const { fz_drop_pixmap(Ctx(), p); }
};
using DocPtr = std::unique_ptr<pdf_document, DocDrop>;
using PagePtr = std::unique_ptr<pdf_page, PageDrop>;
using PixPtr = std::unique_ptr<fz_pixmap, PixDrop>;

// ---- Steps, each with its own fz_try ----------------------------------------

int TryOpen(fz_context* ctx, const char* path, pdf_document** out) {
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        OV_TRACE("PDF file missing! [Path] %s\n", path);
        return kErrNoFile;
    }
    if (st.st_size == 0) {
        OV_TRACE("PDF file empty! [Path] %s\n", path);
        t_lastReason = "the file is empty";
        return kErrNotPdf;
    }
    pdf_document* doc = nullptr;
    int pages = 0;
    int code = kOk;
    fz_var(doc);
    fz_var(pages);
    fz_var(code);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path);
        if (pdf_needs_password(ctx, doc)) {
            code = kErrEncrypted;
        } else {
            pages = pdf_count_pages(ctx, doc);
        }
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_open_document() Error! [Path] %s [MuPDF] %s\n", path, fz_caught_message(ctx));
        pdf_drop_document(ctx, doc);
        return CaughtCode(ctx, kErrNotPdf);
    }
    if (code == kErrEncrypted) {
        OV_TRACE("PDF is encrypted! [Path] %s\n", path);
        t_lastReason = "the file needs a password";
        pdf_drop_document(ctx, doc);
        return code;
    }
    if (pages < 1) {
        OV_TRACE("PDF has no page! [Path] %s\n", path);
        t_lastReason = "the file has no page";
        pdf_drop_document(ctx, doc);
        return kErrNotPdf;
    }
    *out = doc;
    return kOk;
}

int Open(const std::string& path, DocPtr* out) {
    fz_context* ctx = Ctx();
    if (ctx == nullptr)
        return kErrMemory;
    pdf_document* doc = nullptr;
    int r = TryOpen(ctx, path.c_str(), &doc);
    if (r == kOk)
        out->reset(doc);
    return r;
}

// Whether page (from 1) is in doc; a trace line when it is not.
int TryPageInRange(fz_context* ctx, pdf_document* doc, int page) {
    int count = 0;
    fz_var(count);
    fz_try(ctx) {
        count = pdf_count_pages(ctx, doc);
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_count_pages() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrNotPdf);
    }
    if (page < 1 || page > count) {
        OV_TRACE("Page out of range! [Page] %d [PageCount] %d\n", page, count);
        return kErrNoPage;
    }
    return kOk;
}

int TryLoadPage(fz_context* ctx, pdf_document* doc, int page, pdf_page** out) {
    int r = TryPageInRange(ctx, doc, page);
    if (r != kOk)
        return r;
    fz_try(ctx) {
        *out = pdf_load_page(ctx, doc, page - 1);
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_load_page() Error! [Page] %d [MuPDF] %s\n", page, fz_caught_message(ctx));
        return CaughtCode(ctx, kErrNotPdf);
    }
    return kOk;
}

int LoadPage(pdf_document* doc, int page, PagePtr* out) {
    pdf_page* p = nullptr;
    int r = TryLoadPage(Ctx(), doc, page, &p);
    if (r == kOk)
        out->reset(p);
    return r;
}

// ---- Drawing the edit information -------------------------------------------

fz_font* JapaneseFont(fz_context* ctx) {
    if (!t_mu.fontTried) {
        t_mu.fontTried = true;
        fz_try(ctx) {
            t_mu.font = fz_new_cjk_font(ctx, FZ_ADOBE_JAPAN);
        }
        fz_catch(ctx) {
            OV_TRACE("fz_new_cjk_font() Error! [MuPDF] %s\n", fz_caught_message(ctx));
            t_mu.font = nullptr;
        }
    }
    return t_mu.font;
}

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

// Draws a text note as filled glyph outlines, so that the raster and the PDF
// form are the same shapes and no font has to be embedded. May throw (MuPDF).
void DrawText(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItem& item, const float color[3]) {
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
        fz_matrix trm = fz_make_matrix(size, 0, 0, -size, x, baseline);
        fz_path* glyph = fz_outline_glyph(ctx, used, gid, trm);
        if (glyph != nullptr) {
            fz_try(ctx) {
                fz_fill_path(ctx, dev, glyph, 0, ctm, fz_device_rgb(ctx), color, 1.0f,
                             fz_default_color_params);
            }
            fz_always(ctx) {
                fz_drop_path(ctx, glyph);
            }
            fz_catch(ctx) {
                fz_rethrow(ctx);
            }
        }
        x += fz_advance_glyph(ctx, used, gid, 0) * size;
    }
}

// Fills a highlight or strokes any other shape item. May throw (MuPDF).
void DrawShape(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItem& item, const float* color) {
    fz_path* path = ItemPath(ctx, item);
    fz_stroke_state* stroke = nullptr;
    fz_var(stroke);
    fz_try(ctx) {
        if (item.kind == EditItem::Kind::Highlight) {
            fz_fill_path(ctx, dev, path, 0, ctm, fz_device_rgb(ctx), color, item.opacity,
                         fz_default_color_params);
        } else {
            stroke = fz_new_stroke_state(ctx);
            stroke->linewidth = item.width;
            stroke->start_cap = stroke->end_cap = stroke->dash_cap = FZ_LINECAP_ROUND;
            stroke->linejoin = FZ_LINEJOIN_ROUND;
            fz_stroke_path(ctx, dev, path, stroke, ctm, fz_device_rgb(ctx), color, 1.0f,
                           fz_default_color_params);
        }
    }
    fz_always(ctx) {
        fz_drop_stroke_state(ctx, stroke);
        fz_drop_path(ctx, path);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

// The one drawing routine of the edit information, for the raster device and
// the PDF device alike. ctm maps page points (top-left origin) to the device.
// May throw (MuPDF).
void DrawItems(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItems& items) {
    for (const EditItem& item : items) {
        float color[3];
        SetColor(item.rgb, color);
        if (item.kind == EditItem::Kind::Text)
            DrawText(ctx, dev, ctm, item, color);
        else
            DrawShape(ctx, dev, ctm, item, color);
    }
}

// ---- Rendering ---------------------------------------------------------------

int TryRender(fz_context* ctx, pdf_page* page, fz_matrix ctm, const EditItems* items, fz_pixmap* pix) {
    fz_device* dev = nullptr;
    fz_var(dev);
    fz_try(ctx) {
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, ctm, pix);
        fz_run_page(ctx, &page->super, dev, fz_identity, t_mu.cookie);
        if (Cancelled())
            fz_throw(ctx, FZ_ERROR_ABORT, "render cancelled");
        if (items != nullptr)
            DrawItems(ctx, dev, fz_identity, *items);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx) {
        if (Cancelled())
            return kErrCancelled;
        OV_TRACE("fz_run_page() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    return kOk;
}

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

// A page opened for drawing, with its box.
class LoadedPage {
public:
    int Load(const std::string& fsPath, int page) {
        int r = Open(fsPath, &m_doc);
        if (r == kOk)
            r = LoadPage(m_doc.get(), page, &m_page);
        if (r == kOk)
            r = TryPageBounds(Ctx(), m_page.get(), &m_bounds);
        return r;
    }
    double Width() const { return m_bounds.x1 - m_bounds.x0; }
    double Height() const { return m_bounds.y1 - m_bounds.y0; }
    pdf_page* Page() const { return m_page.get(); }
    const fz_rect& Bounds() const { return m_bounds; }
    // Draws the page scaled to exactly width x height into caller memory.
    int DrawInto(int width, int height, std::uint8_t* samples, int stride, bool bgr, const EditItems* items,
                 bool bottomUp = false) {
        fz_context* ctx = Ctx();
        fz_pixmap* pix = nullptr;
        int r = TryWrapSamples(ctx, width, height, samples, stride, bgr, &pix);
        if (r != kOk)
            return r;
        PixPtr holder(pix);
        fz_matrix ctm = fz_pre_translate(
            fz_scale(static_cast<float>(width / Width()), static_cast<float>(height / Height())),
            -m_bounds.x0, -m_bounds.y0);
        if (bottomUp)
            ctm = fz_concat(ctm, fz_make_matrix(1, 0, 0, -1, 0, static_cast<float>(height)));
        return TryRender(ctx, m_page.get(), ctm, items, pix);
    }

private:
    DocPtr m_doc;
    PagePtr m_page;
    fz_rect m_bounds = fz_empty_rect;
};

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

// ---- Scaled loads of scanned pages ---------------------------------------------
//
// A page that is one scanned image is not drawn through MuPDF's draw device when
// a packed bitmap of it is asked for: the device decodes such an image at full
// size whenever the output is more than half of it and then shrinks it with its
// filter, so a smaller image cost more than a full-size one. Here the image is
// decoded at the largest power-of-two reduction that still covers the output
// (the JPEG decoder does this while decoding), area-averaged to the exact size
// and written as B, G, R rows in the order asked for.

struct ScanDevice {
    fz_device super;
    int images;
    int others;  // anything else drawn or clipping
    fz_matrix ctm;
    fz_image* image;  // kept reference of the one image
    float alpha;
};

void ScanOther(fz_device* dev) {
    reinterpret_cast<ScanDevice*>(dev)->others++;
}
void ScanFillPath(fz_context*, fz_device* dev, const fz_path*, int, fz_matrix, fz_colorspace*, const float*,
                  float, fz_color_params) {
    ScanOther(dev);
}
void ScanStrokePath(fz_context*, fz_device* dev, const fz_path*, const fz_stroke_state*, fz_matrix,
                    fz_colorspace*, const float*, float, fz_color_params) {
    ScanOther(dev);
}
void ScanClipPath(fz_context*, fz_device* dev, const fz_path*, int, fz_matrix, fz_rect) {
    ScanOther(dev);
}
void ScanClipStrokePath(fz_context*, fz_device* dev, const fz_path*, const fz_stroke_state*, fz_matrix,
                        fz_rect) {
    ScanOther(dev);
}
void ScanFillText(fz_context*, fz_device* dev, const fz_text*, fz_matrix, fz_colorspace*, const float*, float,
                  fz_color_params) {
    ScanOther(dev);
}
void ScanStrokeText(fz_context*, fz_device* dev, const fz_text*, const fz_stroke_state*, fz_matrix,
                    fz_colorspace*, const float*, float, fz_color_params) {
    ScanOther(dev);
}
void ScanClipText(fz_context*, fz_device* dev, const fz_text*, fz_matrix, fz_rect) {
    ScanOther(dev);
}
void ScanClipStrokeText(fz_context*, fz_device* dev, const fz_text*, const fz_stroke_state*, fz_matrix,
                        fz_rect) {
    ScanOther(dev);
}
void ScanFillShade(fz_context*, fz_device* dev, fz_shade*, fz_matrix, float, fz_color_params) {
    ScanOther(dev);
}
void ScanFillImageMask(fz_context*, fz_device* dev, fz_image*, fz_matrix, fz_colorspace*, const float*, float,
                       fz_color_params) {
    ScanOther(dev);
}
void ScanClipImageMask(fz_context*, fz_device* dev, fz_image*, fz_matrix, fz_rect) {
    ScanOther(dev);
}
void ScanBeginMask(fz_context*, fz_device* dev, fz_rect, int, fz_colorspace*, const float*, fz_color_params) {
    ScanOther(dev);
}
void ScanBeginGroup(fz_context*, fz_device* dev, fz_rect, fz_colorspace*, int, int, int, float) {
    ScanOther(dev);
}
int ScanBeginTile(fz_context*, fz_device* dev, fz_rect, fz_rect, float, float, fz_matrix, int) {
    ScanOther(dev);
    return 1;
}
void ScanFillImage(fz_context* ctx, fz_device* dev, fz_image* img, fz_matrix ctm, float alpha,
                   fz_color_params) {
    auto* d = reinterpret_cast<ScanDevice*>(dev);
    if (++d->images == 1) {
        d->image = fz_keep_image(ctx, img);
        d->ctm = ctm;
        d->alpha = alpha;
    }
}
void ScanDrop(fz_context* ctx, fz_device* dev) {
    auto* d = reinterpret_cast<ScanDevice*>(dev);
    fz_drop_image(ctx, d->image);
    d->image = nullptr;
}

// The page's one image and its transform in page space, when the page draws
// nothing else; *image stays null otherwise. The caller drops the image.
int TryFindScan(fz_context* ctx, pdf_page* page, fz_image** image, fz_matrix* ctm) {
    ScanDevice* d = nullptr;
    fz_var(d);
    *image = nullptr;
    fz_try(ctx) {
        d = fz_new_derived_device(ctx, ScanDevice);
        d->super.drop_device = ScanDrop;
        d->super.fill_path = ScanFillPath;
        d->super.stroke_path = ScanStrokePath;
        d->super.clip_path = ScanClipPath;
        d->super.clip_stroke_path = ScanClipStrokePath;
        d->super.fill_text = ScanFillText;
        d->super.stroke_text = ScanStrokeText;
        d->super.clip_text = ScanClipText;
        d->super.clip_stroke_text = ScanClipStrokeText;
        d->super.fill_shade = ScanFillShade;
        d->super.fill_image = ScanFillImage;
        d->super.fill_image_mask = ScanFillImageMask;
        d->super.clip_image_mask = ScanClipImageMask;
        d->super.begin_mask = ScanBeginMask;
        d->super.begin_group = ScanBeginGroup;
        d->super.begin_tile = ScanBeginTile;
        fz_run_page(ctx, &page->super, &d->super, fz_identity, nullptr);
        fz_close_device(ctx, &d->super);
        if (d->images == 1 && d->others == 0 && d->alpha >= 1.0f) {
            *image = fz_keep_image(ctx, d->image);
            *ctm = d->ctm;
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, d ? &d->super : nullptr);
    }
    fz_catch(ctx) {
        OV_TRACE("fz_run_page() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    return kOk;
}

// The image decoded with its size divided by 2^l2 (rounded up), in RGB without
// alpha (gray and other colour spaces converted).
int TryDecodeReduced(fz_context* ctx, fz_image* image, int l2, fz_pixmap** out) {
    fz_pixmap* pix = nullptr;
    fz_pixmap* rgb = nullptr;
    fz_var(pix);
    fz_var(rgb);
    fz_try(ctx) {
        // MuPDF picks the reduction from the size asked for, keeping a margin
        // of two pixels: ask for just under the reduced size to get exactly it.
        fz_matrix want = fz_scale(static_cast<float>(std::max(1, (image->w >> l2) - 2)),
                                  static_cast<float>(std::max(1, (image->h >> l2) - 2)));
        if (l2 == 0)
            want = fz_scale(static_cast<float>(image->w), static_cast<float>(image->h));
        pix = fz_get_pixmap_from_image(ctx, image, nullptr, &want, nullptr, nullptr);
        if (pix->alpha || fz_colorspace_type(ctx, pix->colorspace) != FZ_COLORSPACE_RGB || pix->n != 3) {
            rgb =
                fz_convert_pixmap(ctx, pix, fz_device_rgb(ctx), nullptr, nullptr, fz_default_color_params, 0);
            fz_drop_pixmap(ctx, pix);
            pix = rgb;
            rgb = nullptr;
        }
    }
    fz_catch(ctx) {
        fz_drop_pixmap(ctx, pix);
        OV_TRACE("fz_get_pixmap_from_image() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    *out = pix;
    return kOk;
}

// A scan stored as a plain JPEG is decoded by libjpeg itself, at the halving
// scale nearest above the output (1/8, 1/4, 1/2 or full size), straight to
// R, G, B rows: MuPDF's own decoding of the same stream costs about a quarter
// more at full size.

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void OnJpegMessage(j_common_ptr) {}

struct FreeDrop {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using MallocPtr = std::unique_ptr<std::uint8_t, FreeDrop>;

// Decodes JPEG data of `components` colour components to R, G, B rows at
// scale num/8 into malloc'd memory. The frame holds only plain data (libjpeg
// reports errors by longjmp). false on any error.
bool TryJpegDecode(const unsigned char* data, std::size_t len, int components, int colorTransform, int num,
                   bool averaged, std::uint8_t** pixels, int* outW, int* outH) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    std::uint8_t* volatile buf = nullptr;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    err.mgr.output_message = OnJpegMessage;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        std::free(buf);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(len));
    jpeg_read_header(&cinfo, TRUE);
    bool ok = cinfo.num_components == components;
    if (ok) {
        if (components == 3 && colorTransform == 0)
            cinfo.jpeg_color_space = JCS_RGB;
        else if (components == 3 && colorTransform == 1)
            cinfo.jpeg_color_space = JCS_YCbCr;
        cinfo.out_color_space = JCS_RGB;
        cinfo.scale_num = static_cast<unsigned>(num);
        cinfo.scale_denom = 8;
        // Rows that are averaged down afterwards hide the small differences of
        // the faster inverse DCT and of the plain chroma upsampling.
        if (averaged) {
            cinfo.dct_method = JDCT_IFAST;
            cinfo.do_fancy_upsampling = FALSE;
        }
        jpeg_start_decompress(&cinfo);
        ok = cinfo.output_components == 3;
    }
    if (ok) {
        const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 3;
        buf = static_cast<std::uint8_t*>(std::malloc(stride * cinfo.output_height));
        ok = buf != nullptr;
        while (ok && cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = buf + stride * cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        if (ok)
            jpeg_finish_decompress(&cinfo);
    }
    *outW = static_cast<int>(cinfo.output_width);
    *outH = static_cast<int>(cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        std::free(buf);
        return false;
    }
    *pixels = buf;
    return true;
}

// Decodes JPEG data like TryJpegDecode, as B, G, R rows handed one by one to
// the scaler, which averages them down to its output as they come: no
// full-size copy of the scan is made. The decoded size must lie within
// minW x minH and maxW x maxH. false on any error (the output rows are then
// partly written).
bool TryJpegDecodeScaled(const unsigned char* data, std::size_t len, int components, int colorTransform,
                         int num, int minW, int minH, int maxW, int maxH, RowStreamScaler* scaler,
                         std::uint8_t* out, std::ptrdiff_t outStride) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    err.mgr.output_message = OnJpegMessage;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(len));
    jpeg_read_header(&cinfo, TRUE);
    bool ok = cinfo.num_components == components;
    if (ok) {
        if (components == 3 && colorTransform == 0)
            cinfo.jpeg_color_space = JCS_RGB;
        else if (components == 3 && colorTransform == 1)
            cinfo.jpeg_color_space = JCS_YCbCr;
        // Averaging keeps the channel order, so B, G, R come straight from the decoder.
        cinfo.out_color_space = JCS_EXT_BGR;
        cinfo.scale_num = static_cast<unsigned>(num);
        cinfo.scale_denom = 8;
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
        jpeg_start_decompress(&cinfo);
        const int w = static_cast<int>(cinfo.output_width), h = static_cast<int>(cinfo.output_height);
        ok = cinfo.output_components == 3 && w >= minW && h >= minH && w <= maxW && h <= maxH &&
             scaler->Start(w, h, minW, minH, out, outStride);
    }
    while (ok && cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = scaler->InputRow();
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            ok = false;
        else
            scaler->RowDone();
    }
    if (ok)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return ok && scaler->RowsOut() == minH;
}

// The libjpeg decoding of a scan: whether it applies, and at which scale.
struct JpegPlan {
    const unsigned char* data = nullptr;
    std::size_t len = 0;
    int components = 0;
    int colorTransform = 0;
    int num = 8;
    bool averaged = false;  // the decoded size is larger than the output
};

// The plan for decoding the scan by libjpeg to at least alongW x alongH pixels,
// when it is a plain 8-bit gray or RGB JPEG; false leaves it to MuPDF.
bool PlanScanJpeg(fz_context* ctx, fz_image* image, int alongW, int alongH, JpegPlan* plan) {
    fz_compressed_buffer* cbuf = fz_compressed_image_buffer(ctx, image);
    if (cbuf == nullptr || cbuf->buffer == nullptr || cbuf->params.type != FZ_IMAGE_JPEG || image->bpc != 8 ||
        image->use_decode || image->invert_cmyk_jpeg || image->colorspace == nullptr)
        return false;
    const enum fz_colorspace_type type = fz_colorspace_type(ctx, image->colorspace);
    const int components = type == FZ_COLORSPACE_RGB ? 3 : type == FZ_COLORSPACE_GRAY ? 1 : 0;
    if (components == 0 || image->n != components)
        return false;
    // Only the halving scales: libjpeg-turbo has vector code for those, and its
    // other reduced scales decode slower than the full size does.
    int num = 1;
    while (num < 8 && ((static_cast<long long>(image->w) * num + 7) / 8 < alongW ||
                       (static_cast<long long>(image->h) * num + 7) / 8 < alongH))
        num *= 2;
    plan->data = cbuf->buffer->data;
    plan->len = cbuf->buffer->len;
    plan->components = components;
    plan->colorTransform = cbuf->params.u.jpeg.color_transform;
    plan->num = num;
    plan->averaged = (static_cast<long long>(image->w) * num + 7) / 8 > alongW ||
                     (static_cast<long long>(image->h) * num + 7) / 8 > alongH;
    return true;
}

// The scan decoded by libjpeg to at least alongW x alongH pixels, when it is a
// plain 8-bit gray or RGB JPEG; false leaves it to MuPDF.
bool DecodeScanJpeg(fz_context* ctx, fz_image* image, int alongW, int alongH, MallocPtr* pixels, int* w,
                    int* h) {
    JpegPlan plan;
    if (!PlanScanJpeg(ctx, image, alongW, alongH, &plan))
        return false;
    std::uint8_t* out = nullptr;
    if (!TryJpegDecode(plan.data, plan.len, plan.components, plan.colorTransform, plan.num, plan.averaged,
                       &out, w, h))
        return false;
    pixels->reset(out);
    // The data must be the image it claims to be.
    if (*w < alongW || *h < alongH || *w > image->w || *h > image->h) {
        pixels->reset();
        return false;
    }
    return true;
}

struct ImageDrop {
    void operator()(fz_image* p) const { fz_drop_image(Ctx(), p); }
};
using ImagePtr = std::unique_ptr<fz_image, ImageDrop>;

// Draws the scan into width x height B, G, R pixels. kErrArgument (and no
// trace line) when the page is not one upright or quarter-turned image that
// covers the output exactly: the caller then draws the page as usual.
int DrawScanInto(pdf_page* page, const fz_rect& bounds, int width, int height, std::uint8_t* samples,
                 int stride, bool bottomUp) {
    fz_context* ctx = Ctx();
    fz_image* found = nullptr;
    fz_matrix imageCtm = fz_identity;
    int r = TryFindScan(ctx, page, &found, &imageCtm);
    if (r != kOk)
        return r;
    ImagePtr image(found);
    if (!image || image->mask != nullptr || image->use_colorkey || image->imagemask || image->w < 1 ||
        image->h < 1)
        return kErrArgument;
    // The image's place in output pixels.
    const fz_matrix toPixels =
        fz_pre_translate(fz_scale(static_cast<float>(width / (bounds.x1 - bounds.x0)),
                                  static_cast<float>(height / (bounds.y1 - bounds.y0))),
                         -bounds.x0, -bounds.y0);
    const fz_matrix m = fz_concat(imageCtm, toPixels);
    const bool swapped = std::fabs(m.a) < 1e-3f && std::fabs(m.d) < 1e-3f;
    const bool straight = std::fabs(m.b) < 1e-3f && std::fabs(m.c) < 1e-3f;
    if (!swapped && !straight)
        return kErrArgument;
    const fz_rect placed = fz_transform_rect(fz_unit_rect, m);
    if (std::fabs(placed.x0) > 0.5f || std::fabs(placed.y0) > 0.5f || std::fabs(placed.x1 - width) > 0.5f ||
        std::fabs(placed.y1 - height) > 0.5f)
        return kErrArgument;
    // Output pixels along the image's own width and height.
    const int alongW = swapped ? height : width;
    const int alongH = swapped ? width : height;
    // Enlarging is left to the draw device.
    if (alongW > image->w || alongH > image->h)
        return kErrArgument;
    auto outRow = [&](int y) {
        return samples +
               static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * static_cast<std::size_t>(stride);
    };
    // An upright scan that is shrunk is averaged while libjpeg decodes it, row
    // by row into the output (upside-down images by walking the output backwards).
    JpegPlan plan;
    if (straight && m.a > 0 && PlanScanJpeg(ctx, image.get(), alongW, alongH, &plan) && plan.averaged) {
        const bool down = (m.d < 0) != bottomUp;
        RowStreamScaler scaler;
        if (TryJpegDecodeScaled(plan.data, plan.len, plan.components, plan.colorTransform, plan.num, width,
                                height, image->w, image->h, &scaler, outRow(m.d > 0 ? 0 : height - 1),
                                down ? -static_cast<std::ptrdiff_t>(stride) : stride))
            return kOk;
        // Anything else (damaged data) is left to the usual decoding below, which writes every row again.
    }
    int pw = 0, ph = 0;
    const std::uint8_t* src = nullptr;
    std::size_t srcStride = 0;
    MallocPtr jpegPixels;
    PixPtr pix;
    if (DecodeScanJpeg(ctx, image.get(), alongW, alongH, &jpegPixels, &pw, &ph)) {
        src = jpegPixels.get();
        srcStride = static_cast<std::size_t>(pw) * 3;
    } else {
        int l2 = 0;
        while (l2 < 3 && (image->w >> (l2 + 1)) >= alongW && (image->h >> (l2 + 1)) >= alongH) ++l2;
        fz_pixmap* decoded = nullptr;
        r = TryDecodeReduced(ctx, image.get(), l2, &decoded);
        if (r != kOk)
            return r;
        pix.reset(decoded);
        pw = pix->w;
        ph = pix->h;
        src = pix->samples;
        srcStride = static_cast<std::size_t>(pix->stride);
    }

    // Turned or mirrored images are first put upright: image x along output x.
    std::vector<std::uint8_t> upright;
    int uw = pw, uh = ph;
    if (swapped || m.a < 0 || m.d < 0) {
        uw = swapped ? ph : pw;
        uh = swapped ? pw : ph;
        try {
            upright.resize(static_cast<std::size_t>(uw) * uh * 3);
        } catch (const std::bad_alloc&) {
            OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", uw, uh);
            return kErrMemory;
        }
        for (int y = 0; y < uh; ++y) {
            std::uint8_t* d = upright.data() + static_cast<std::size_t>(y) * uw * 3;
            for (int x = 0; x < uw; ++x, d += 3) {
                int u, v;
                if (swapped) {
                    u = m.b > 0 ? y : pw - 1 - y;
                    v = m.c > 0 ? x : ph - 1 - x;
                } else {
                    u = m.a > 0 ? x : pw - 1 - x;
                    v = m.d > 0 ? y : ph - 1 - y;
                }
                const std::uint8_t* s =
                    src + static_cast<std::size_t>(v) * srcStride + static_cast<std::size_t>(u) * 3;
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        }
        src = upright.data();
    }
    const std::size_t uStride = upright.empty() ? srcStride : static_cast<std::size_t>(uw) * 3;
    if (uw == width && uh == height) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* s = src + static_cast<std::size_t>(y) * uStride;
            std::uint8_t* d = outRow(y);
            for (int x = 0; x < width; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        return kOk;
    }
    // Not zero-filled: the scaler writes every pixel.
    std::unique_ptr<std::uint32_t[]> scaled(new (std::nothrow)
                                                std::uint32_t[static_cast<std::size_t>(width) * height]);
    if (!scaled) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", width, height);
        return kErrMemory;
    }
    ResampleRgbToXrgb(src, uw, uh, static_cast<int>(uStride), scaled.get(), width, height, width);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* s = scaled.get() + static_cast<std::size_t>(y) * width;
        std::uint8_t* d = outRow(y);
        for (int x = 0; x < width; ++x, d += 3) {
            const std::uint32_t p = s[x];
            d[0] = static_cast<std::uint8_t>(p);
            d[1] = static_cast<std::uint8_t>(p >> 8);
            d[2] = static_cast<std::uint8_t>(p >> 16);
        }
    }
    return kOk;
}

// ---- Writing -----------------------------------------------------------------

int TrySave(fz_context* ctx, pdf_document* doc, const char* outPath, bool compress) {
    pdf_write_options opts = pdf_default_write_options;
    opts.do_compress = compress ? 1 : 0;
    fz_try(ctx) {
        pdf_save_document(ctx, doc, outPath, &opts);
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_save_document() Error! [Path] %s [MuPDF] %s\n", outPath, fz_caught_message(ctx));
        return CaughtCode(ctx, kErrWrite);
    }
    return kOk;
}

int TryCreate(fz_context* ctx, pdf_document** out) {
    fz_try(ctx) {
        *out = pdf_create_document(ctx);
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_create_document() Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrMemory);
    }
    return kOk;
}

int TryGraft(fz_context* ctx, pdf_document* dst, pdf_document* src, int page) {
    int r = TryPageInRange(ctx, src, page);
    if (r != kOk)
        return r;
    fz_try(ctx) {
        pdf_graft_page(ctx, dst, -1, src, page - 1);
    }
    fz_catch(ctx) {
        OV_TRACE("pdf_graft_page() Error! [Page] %d [MuPDF] %s\n", page, fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    return kOk;
}

int TryRotate(fz_context* ctx, pdf_document* doc, int page, int degrees) {
    int r = TryPageInRange(ctx, doc, page);
    if (r != kOk)
        return r;
    fz_try(ctx) {
        pdf_obj* obj = pdf_lookup_page_obj(ctx, doc, page - 1);
        int rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Rotate)));
        // Reduced before adding, so that any stored value (even INT_MAX) cannot overflow.
        rotate = ((rotate % 360) / 90 * 90 + degrees % 360) % 360;
        if (rotate < 0)
            rotate += 360;
        pdf_dict_put_int(ctx, obj, PDF_NAME(Rotate), rotate);
    }
    fz_catch(ctx) {
        OV_TRACE("Rotate Error! [Page] %d [MuPDF] %s\n", page, fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    return kOk;
}

// Appends the items to page 1 of doc as a form XObject drawn after the page's own
// content, which is wrapped in q/Q so that its graphics state cannot leak.
int TryOverlay(fz_context* ctx, pdf_document* doc, const EditItems& items) {
    pdf_page* page = nullptr;
    pdf_obj* res = nullptr;
    fz_buffer* buf = nullptr;
    fz_buffer* pre = nullptr;
    fz_buffer* post = nullptr;
    fz_device* dev = nullptr;
    pdf_obj* xobj = nullptr;
    pdf_obj* contents = nullptr;
    fz_var(page);
    fz_var(res);
    fz_var(buf);
    fz_var(pre);
    fz_var(post);
    fz_var(dev);
    fz_var(xobj);
    fz_var(contents);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, 0);
        fz_rect mediabox;
        fz_matrix pageCtm;
        pdf_page_transform(ctx, page, &mediabox, &pageCtm);

        res = pdf_new_dict(ctx, doc, 4);
        buf = fz_new_buffer(ctx, 1024);
        dev = pdf_new_pdf_device(ctx, doc, fz_invert_matrix(pageCtm), res, buf);
        DrawItems(ctx, dev, fz_identity, items);
        fz_close_device(ctx, dev);
        xobj = pdf_new_xobject(ctx, doc, mediabox, fz_identity, res, buf);

        pdf_obj* pageObj = page->obj;
        pdf_obj* pageRes = pdf_dict_get(ctx, pageObj, PDF_NAME(Resources));
        if (pageRes == nullptr) {
            pdf_obj* inherited = pdf_dict_get_inheritable(ctx, pageObj, PDF_NAME(Resources));
            if (inherited != nullptr)
                pdf_dict_put_drop(ctx, pageObj, PDF_NAME(Resources), pdf_copy_dict(ctx, inherited));
            else
                pdf_dict_put_dict(ctx, pageObj, PDF_NAME(Resources), 2);
            pageRes = pdf_dict_get(ctx, pageObj, PDF_NAME(Resources));
        }
        pdf_obj* xdict = pdf_dict_get(ctx, pageRes, PDF_NAME(XObject));
        if (xdict == nullptr)
            xdict = pdf_dict_put_dict(ctx, pageRes, PDF_NAME(XObject), 1);
        char name[32];
        fz_strlcpy(name, "OvEditInfo", sizeof name);
        for (int i = 1; pdf_dict_gets(ctx, xdict, name) != nullptr; ++i)
            fz_snprintf(name, sizeof name, "OvEditInfo%d", i);
        pdf_dict_puts(ctx, xdict, name, xobj);

        pre = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>("q\n"), 2);
        post = fz_new_buffer(ctx, 64);
        fz_append_printf(ctx, post, "\nQ\nq /%s Do Q\n", name);
        contents = pdf_new_array(ctx, doc, 4);
        pdf_array_push_drop(ctx, contents, pdf_add_stream(ctx, doc, pre, nullptr, 0));
        pdf_obj* old = pdf_dict_get(ctx, pageObj, PDF_NAME(Contents));
        if (pdf_is_array(ctx, old)) {
            int n = pdf_array_len(ctx, old);
            for (int i = 0; i < n; ++i) pdf_array_push(ctx, contents, pdf_array_get(ctx, old, i));
        } else if (old != nullptr) {
            pdf_array_push(ctx, contents, old);
        }
        pdf_array_push_drop(ctx, contents, pdf_add_stream(ctx, doc, post, nullptr, 0));
        pdf_dict_put(ctx, pageObj, PDF_NAME(Contents), contents);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        pdf_drop_obj(ctx, contents);
        pdf_drop_obj(ctx, xobj);
        fz_drop_buffer(ctx, post);
        fz_drop_buffer(ctx, pre);
        fz_drop_buffer(ctx, buf);
        pdf_drop_obj(ctx, res);
        fz_drop_page(ctx, page ? &page->super : nullptr);
    }
    fz_catch(ctx) {
        OV_TRACE("Edit information PDF Error! [MuPDF] %s\n", fz_caught_message(ctx));
        return CaughtCode(ctx, kErrRender);
    }
    return kOk;
}

// A new, empty document.
int CreateDoc(DocPtr* out) {
    fz_context* ctx = Ctx();
    if (ctx == nullptr)
        return kErrMemory;
    pdf_document* d = nullptr;
    int r = TryCreate(ctx, &d);
    if (r == kOk)
        out->reset(d);
    return r;
}

// Appends page (from 1) of the PDF at srcPath to dst.
int GraftFrom(const std::string& srcPath, int page, pdf_document* dst) {
    DocPtr src;
    int r = Open(srcPath, &src);
    return r == kOk ? TryGraft(Ctx(), dst, src.get(), page) : r;
}

}  // namespace

// ---- Operations ----------------------------------------------------------------

int QueryPage(const std::string& fsPath, int page, PageFacts* facts) {
    DocPtr doc;
    int r = Open(fsPath, &doc);
    if (r != kOk)
        return r;
    PagePtr p;
    r = LoadPage(doc.get(), page, &p);
    return r == kOk ? TryFacts(Ctx(), p.get(), facts) : r;
}

int RenderPage(const std::string& fsPath, int page, float zoomX, float zoomY, const EditItems* items,
               const PixelSink& sink) {
    if (!(zoomX > 0) || !(zoomY > 0))
        return kErrArgument;
    if (Cancelled())
        return kErrCancelled;
    LoadedPage p;
    int r = p.Load(fsPath, page);
    if (r != kOk)
        return r;
    // Whole pixels on each side; the zoom follows that rounding (at most half a
    // pixel). A page scanned at the page-image resolution is then drawn 1:1,
    // which keeps MuPDF on its fast unscaled image path.
    const double w = std::max(1.0, std::round(p.Width() * zoomX));
    const double h = std::max(1.0, std::round(p.Height() * zoomY));
    if (w * h > 400.0e6) {
        OV_TRACE("Page image too large! [Width] %.0f [Height] %.0f\n", w, h);
        return kErrArgument;
    }
    const int iw = static_cast<int>(w), ih = static_cast<int>(h);
    std::uint8_t* samples = sink(iw, ih);
    if (samples == nullptr) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", iw, ih);
        return kErrMemory;
    }
    return p.DrawInto(iw, ih, samples, iw * 3, false, items);
}

int RenderPageInto(const std::string& fsPath, int page, int width, int height, std::uint8_t* samples,
                   int stride) {
    if (width < 1 || height < 1 || samples == nullptr || stride < width * 3)
        return kErrArgument;
    LoadedPage p;
    int r = p.Load(fsPath, page);
    return r == kOk ? p.DrawInto(width, height, samples, stride, true, nullptr) : r;
}

int RenderPageDib(const std::string& fsPath, int page, int width, int height, std::uint8_t* samples,
                  int stride, bool scanned) {
    if (width < 1 || height < 1 || samples == nullptr || stride < width * 3)
        return kErrArgument;
    LoadedPage p;
    int r = p.Load(fsPath, page);
    if (r != kOk)
        return r;
    if (scanned) {
        r = DrawScanInto(p.Page(), p.Bounds(), width, height, samples, stride, true);
        if (r != kErrArgument)
            return r;
    }
    // Drawn upside down, so that the rows come out bottom-up without a second pass.
    return p.DrawInto(width, height, samples, stride, true, nullptr, true);
}

int ExtractPage(const std::string& srcPath, int page, const std::string& outPath) {
    DocPtr dst;
    int r = CreateDoc(&dst);
    if (r == kOk)
        r = GraftFrom(srcPath, page, dst.get());
    return r == kOk ? TrySave(Ctx(), dst.get(), outPath.c_str(), false) : r;
}

int RotatePage(const std::string& srcPath, int page, int degrees, const std::string& outPath) {
    if (degrees % 90 != 0) {
        OV_TRACE("Rotation is no multiple of 90! [Degrees] %d\n", degrees);
        return kErrArgument;
    }
    DocPtr doc;
    int r = Open(srcPath, &doc);
    if (r == kOk)
        r = TryRotate(Ctx(), doc.get(), page, degrees);
    return r == kOk ? TrySave(Ctx(), doc.get(), outPath.c_str(), false) : r;
}

int MergePages(const std::vector<MergeInput>& inputs, const std::string& outPath) {
    if (inputs.empty())
        return kErrArgument;
    DocPtr dst;
    int r = CreateDoc(&dst);
    for (std::size_t i = 0; r == kOk && i < inputs.size(); ++i)
        r = GraftFrom(inputs[i].fsPath, inputs[i].page, dst.get());
    return r == kOk ? TrySave(Ctx(), dst.get(), outPath.c_str(), false) : r;
}

int AddEditInfoToPdf(const std::string& srcPath, const EditItems& items, const std::string& outPath) {
    DocPtr dst;
    int r = CreateDoc(&dst);
    if (r == kOk)
        r = GraftFrom(srcPath, 1, dst.get());
    if (r == kOk)
        r = TryOverlay(Ctx(), dst.get(), items);
    return r == kOk ? TrySave(Ctx(), dst.get(), outPath.c_str(), true) : r;
}

struct RenderCancel::Impl {
    fz_cookie cookie{};
};

RenderCancel::RenderCancel() : m_impl(std::make_unique<Impl>()) {}
RenderCancel::~RenderCancel() = default;

void RenderCancel::Cancel() {
    // MuPDF polls the cookie's abort flag while it draws; this is its way of
    // being stopped from another thread.
    __atomic_store_n(&m_impl->cookie.abort, 1, __ATOMIC_RELAXED);
}

bool RenderCancel::IsCancelled() const {
    return __atomic_load_n(&m_impl->cookie.abort, __ATOMIC_RELAXED) != 0;
}

ScopedRenderCancel::ScopedRenderCancel(RenderCancel* cancel) : m_previous(t_mu.cookie) {
    t_mu.cookie = cancel != nullptr ? &cancel->m_impl->cookie : nullptr;
}

ScopedRenderCancel::~ScopedRenderCancel() {
    t_mu.cookie = static_cast<fz_cookie*>(m_previous);
}

std::string LastErrorReason() {
    return t_lastReason;
}

void ClearLastErrorReason() {
    t_lastReason.clear();
}

void EmptyCaches() {
    if (t_mu.ctx != nullptr)
        fz_empty_store(t_mu.ctx);
}

}  // namespace ov::image
