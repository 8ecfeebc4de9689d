// SPDX-License-Identifier: AGPL-3.0-or-later
// What the MuPdf*.cpp files share, private to the image library: the thread's
// MuPDF context, the owning handles, opening documents and pages, and the steps
// one file calls in another. The rules of the MuPDF boundary (kept in all of
// these files):
// - every fz_try/fz_catch sits in a small static function whose frame holds only
//   plain pointers and numbers (no object with a destructor lives across a
//   longjmp); the owning RAII handles live in the callers' frames;
// - every MuPDF error is caught here and becomes a negative result with a trace
//   line; MuPDF's own warnings and errors go to the trace log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "image/EditInfo.h"
#include "image/MuPdf.h"

namespace ov::image::detail {

// ---- The thread's context (MuPdfContext.cpp) ---------------------------------

// The calling thread's MuPDF context (made on first use); nullptr when MuPDF
// cannot make one.
fz_context* Ctx();

// The calling thread's context for drawing the edit information into pixels:
// of a family of its own that opens no document, so that the glyphs of the
// notes' text stay cached from one page to the next. Objects made in it are
// never used with Ctx() nor the other way round. Ctx() when it cannot be made.
fz_context* NotesCtx();

// The cancel of the thread's current render (nullptr when none).
fz_cookie* CurrentCookie();

// Whether the thread's current render was cancelled.
bool Cancelled();

// Sets the reason LastErrorReason() reports for the thread's last error.
void SetLastReason(const char* reason);

int CaughtCode(fz_context* ctx, int otherwise);

// The built-in Japanese font of the thread in ctx's family (Ctx() or
// NotesCtx()), loaded on first use (nullptr when it cannot be loaded).
fz_font* JapaneseFont(fz_context* ctx);

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

// ---- Opening (MuPdf.cpp) -----------------------------------------------------

int Open(const std::string& path, DocPtr* out);
int LoadPage(pdf_document* doc, int page, PagePtr* out);

// ---- Drawing (MuPdfDraw.cpp) -------------------------------------------------

// How a text note is drawn: as text (raster devices, through MuPDF's glyph
// cache) or as filled glyph outlines (a PDF, with no font to embed). The
// shapes are the same glyphs either way.
enum class TextAs { Glyphs, Outlines };

// The one drawing routine of the edit information, for the raster device and
// the PDF device alike. ctm maps page points (top-left origin) to the device.
// May throw (MuPDF).
void DrawItems(fz_context* ctx, fz_device* dev, fz_matrix ctm, const EditItems& items, TextAs textAs);

int TryFacts(fz_context* ctx, pdf_page* page, PageFacts* facts);

// A page opened for drawing, with its box.
class LoadedPage {
public:
    int Load(const std::string& fsPath, int page);
    double Width() const { return m_bounds.x1 - m_bounds.x0; }
    double Height() const { return m_bounds.y1 - m_bounds.y0; }
    pdf_page* Page() const { return m_page.get(); }
    const fz_rect& Bounds() const { return m_bounds; }
    // Draws the page scaled to exactly width x height into caller memory.
    int DrawInto(int width, int height, std::uint8_t* samples, int stride, bool bgr, const EditItems* items,
                 bool bottomUp = false);
    // The same in R, G, B at a stride of width * 3, from one display list band by
    // band; onBand is called after each band. first (may be null): drawn from
    // the same lists before the first band.
    int DrawBands(int width, int height, std::uint8_t* samples, const EditItems* items,
                  const BandDone& onBand, const FittedFirst* first = nullptr);

private:
    int DrawFittedFirst(fz_context* ctx, fz_context* nctx, fz_display_list* list, fz_display_list* over,
                        int width, int height, const FittedFirst& first) const;
    DocPtr m_doc;
    PagePtr m_page;
    fz_rect m_bounds = fz_empty_rect;
};

// ---- Scaled loads of scanned pages (MuPdfScan.cpp) ---------------------------

// Draws the scan into width x height B, G, R pixels. kErrArgument (and no
// trace line) when the page is not one upright or quarter-turned image that
// covers the output exactly: the caller then draws the page as usual.
int DrawScanInto(pdf_page* page, const fz_rect& bounds, int width, int height, std::uint8_t* samples,
                 int stride, bool bottomUp);

// Draws a page whose display list is one upright scan stored as a plain RGB
// JPEG at exactly width x height pixels: libjpeg decodes its rows straight
// into samples (R, G, B, width * 3 bytes a row), and onRows(yEnd) is called
// every `every` rows and at the end; a result other than kOk stops the
// decoding and is returned. kErrArgument (and no trace line, nothing written)
// for any other page: the caller then draws it as usual.
int DrawScanRows(fz_display_list* list, const fz_rect& bounds, int width, int height, std::uint8_t* samples,
                 int every, const std::function<int(int yEnd)>& onRows);

}  // namespace ov::image::detail
