// SPDX-License-Identifier: AGPL-3.0-or-later
// Page images of PDF pages. Paths are CP932. Results: 0 success, else a negative
// code (with a trace line); no partial output file is ever left behind.
#pragma once

#include <atomic>
#include <functional>
#include <string>

class CPageBitmap;

// Renders page (from 1) of the source once into the page-image file (.thm), with
// the edit information of editInfoIni (section "EditInfo") drawn in when
// drawEditInfo is 1. scaleX/scaleY: per-mille of the base resolution (1000 = the
// base, 150 DPI).
int WorkDesk_CreateThumbFile(const char* sourcePdf, int page, const char* thmPath, int scaleX, int scaleY,
                             int drawEditInfo, const char* editInfoIni);

// The page image of the .thm file fitted into width x height, aspect ratio kept,
// area-averaged when shrinking. pDC is unused (kept for the call's shape).
int WorkDesk_GetThumbnail(void* pDC, const char* thmPath, int width, int height, CPageBitmap* bitmap);

// Writes outputPdf: the one-page source with the edit information of
// editInfoIni drawn in as vector content. pReserved and pBlock48 are not read.
int WorkDesk_CreateEditInfoPdfFile(const char* sourcePdf, const char* outputPdf, const char* editInfoIni,
                                   int* pReserved, void* pBlock48);

namespace ov::image {

struct ThmImage;
struct FittedFirst;

// The page image as MuPDF has drawn it (the edit information included), before
// it is encoded and written; a nonzero result is the call's result and nothing
// is written.
using OnDrawn = std::function<int(const ThmImage& image)>;

// A bitmap fitted into a box (as BitmapOfThm makes it), scaled from a page
// image's rows as they are drawn, on the page-image writer's thread, so that it
// is ready as soon as the drawing is. With drawFirst, a page without images
// that is drawn (not taken as drawn before), in a box that shrinks it, is
// instead drawn straight into the bitmap at its own size, before the page
// image: ready in the time MuPDF takes to draw the smaller picture. Its edges
// may differ from the scaled page image's by a shade. (A scan would be decoded
// twice, and MuPDF's shrinking of it differs from the area-averaging by more;
// a picture as large as the page image or larger would cost more than the
// page image and look sharper than the page when it is shown again: both are
// scaled as they are drawn.)
class FittedBitmap {
public:
    FittedBitmap(int boxWidth, int boxHeight, CPageBitmap* out, bool drawFirst = false)
        : m_boxW(boxWidth), m_boxH(boxHeight), m_out(out), m_bFirst(drawFirst) {}
    // The rows of image above yEnd are final. May throw std::bad_alloc.
    void Rows(const ThmImage& image, int yEnd);
    // Whether the bitmap holds the whole of image (or the page, drawn first).
    bool Whole(const ThmImage& image) const;
    // The drawing first (RenderPage's FittedFirst); done is called once it is drawn.
    bool DrawsFirst() const { return m_bFirst && m_out != nullptr; }
    FittedFirst First(std::function<int()> done);
    bool DrawnFirst() const { return m_bDrawnFirst.load(); }

private:
    int m_boxW, m_boxH;
    CPageBitmap* m_out;
    bool m_bFirst;
    std::atomic<bool> m_bDrawnFirst{false};  // set before the rows are drawn, read by the helper
    const ThmImage* m_image = nullptr;
    int m_w = 0, m_h = 0, m_next = 0;
};

// WorkDesk_CreateThumbFile with a word after the render and a last word before
// the page-image file is put in place: onDrawn (when given) gets the pixels as
// soon as they are drawn; beforePlace gets the whole, closed temporary file after
// the encoding; a nonzero result of either is the call's result and nothing is
// put in place.
// drawn (when given and not empty): the page as DrawThumbImage drew it with the
// same arguments; its pixels are taken instead of drawing the page again.
// fitted (when given): made while the page is drawn, whole (unless memory ran
// short) by the time onDrawn is called.
int CreateThumbFileChecked(const char* sourcePdf, int page, const char* thmPath, int scaleX, int scaleY,
                           int drawEditInfo, const char* editInfoIni,
                           const std::function<int(const std::string& fsTemp)>& beforePlace,
                           const OnDrawn& onDrawn = {}, ThmImage* drawn = nullptr,
                           FittedBitmap* fitted = nullptr);

// Draws the page as CreateThumbFileChecked does, into memory only.
int DrawThumbImage(const char* sourcePdf, int page, int scaleX, int scaleY, int drawEditInfo,
                   const char* editInfoIni, ThmImage* out);

// A page image fitted into width x height, as WorkDesk_GetThumbnail makes it.
int BitmapOfThm(const ThmImage& image, int width, int height, CPageBitmap* bitmap);

}  // namespace ov::image
