// SPDX-License-Identifier: AGPL-3.0-or-later
// The one interface to MuPDF (the MuPdf*.cpp files are the only code that talks
// to it). Every operation here catches MuPDF's errors and turns them into a
// negative result with a trace line; nothing throws out of it. Paths are
// file-system (UTF-8) paths; the callers convert from CP932.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/EditInfo.h"

namespace ov::image {

// Result codes of the image libraries (0 = success).
enum : int {
    kOk = 0,
    kErrArgument = -801,       // bad argument (null, empty, out of range)
    kErrPathTooLong = -802,    // a path over 259 bytes
    kErrNoFile = -803,         // the source file does not exist or cannot be read
    kErrNotPdf = -804,         // not a PDF, or damaged beyond repair
    kErrEncrypted = -805,      // the PDF needs a password
    kErrNoPage = -806,         // the page number is beyond the document
    kErrRender = -807,         // MuPDF failed while drawing or copying
    kErrWrite = -808,          // the output could not be written or put in place
    kErrThmFormat = -809,      // the page-image file is truncated, foreign or corrupt
    kErrMemory = -810,         // memory exhausted
    kErrCancelled = -811,      // the render was cancelled (no longer wanted); never shown
    kErrSourceChanged = -812,  // the source changed while its page was made: the result is
                               // neither stored nor shown (the page is asked for again)
};

// Stops a render that runs on another thread: Cancel may be called from any
// thread; the render then ends at MuPDF's next check with kErrCancelled and
// writes nothing.
class RenderCancel {
public:
    RenderCancel();
    ~RenderCancel();
    RenderCancel(const RenderCancel&) = delete;
    RenderCancel& operator=(const RenderCancel&) = delete;
    void Cancel();
    bool IsCancelled() const;

private:
    friend class ScopedRenderCancel;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Makes cancel the cancel of the renders of the calling thread while it lives.
class ScopedRenderCancel {
public:
    explicit ScopedRenderCancel(RenderCancel* cancel);
    ~ScopedRenderCancel();
    ScopedRenderCancel(const ScopedRenderCancel&) = delete;
    ScopedRenderCancel& operator=(const ScopedRenderCancel&) = delete;

private:
    void* m_previous;
};

// What the page is made of, as far as the full-size rule needs it.
struct PageFacts {
    float widthPt = 0;  // page size as shown (after /Rotate), in points
    float heightPt = 0;
    bool singleImage = false;  // exactly one image covering the page, nothing else drawn
    int imageWidth = 0;        // that image's pixel size along the page's x and y axes
    int imageHeight = 0;
};

// Opens page (from 1) of the PDF and reports its facts.
int QueryPage(const std::string& fsPath, int page, PageFacts* facts);

// Memory for a render of width x height pixels of 3 channels, rows packed
// (width * 3 bytes), top row first; nullptr when memory is exhausted.
using PixelSink = std::function<std::uint8_t*(int width, int height)>;

// Told that the rows above yEnd are drawn and final.
using BandDone = std::function<void(int yEnd)>;

// A picture of the page fitted into boxWidth x boxHeight (the size a page image
// of the render's size is fitted to), drawn by RenderPage straight from the page
// before the page image itself: width x height 32-bit pixels 0xFFRRGGBB, rows
// top to bottom, at a stride of width * 4. pixels gives the memory, all white
// (nullptr when there is none: the render fails with kErrMemory); done is called once
// the picture is drawn, and a result other than kOk stops the render with it.
struct FittedFirst {
    int boxWidth = 0;
    int boxHeight = 0;
    std::function<std::uint32_t*(int width, int height)> pixels;
    std::function<int()> done;
};

// Renders page (from 1) with about zoomX/zoomY pixels per point (each side
// rounded to whole pixels, the zoom adjusted to match), on white, R, G, B, into
// the memory that sink gives, with the edit information drawn over it when
// items is not null. With onBand, the page and the edit information are drawn
// band by band from one display list, and onBand is called after each band
// (while its pixels are still in the cache). drawn, when given, is called once
// the whole page is drawn and before MuPDF closes the file (closing takes a
// tenth of a millisecond that whoever waits for the pixels need not wait).
// first (with onBand only): a fitted picture drawn before the bands when the
// page has no images and the picture is smaller than the page image (else the
// caller scales the page image).
int RenderPage(const std::string& fsPath, int page, float zoomX, float zoomY, const EditItems* items,
               const PixelSink& sink, const BandDone& onBand = {}, const std::function<void()>& drawn = {},
               const FittedFirst* first = nullptr);

// Renders into caller memory: width x height pixels of 3 channels (BGR) at the
// given stride, top row first; the page is scaled to exactly that size.
int RenderPageInto(const std::string& fsPath, int page, int width, int height, std::uint8_t* samples,
                   int stride);

// The bitmap of a page as the image loads need it: width x height pixels of
// B, G, R at the given stride, bottom row first, the page scaled to exactly that
// size. A page that the caller found to be one scanned image (scanned) is
// decoded at a reduced size when the output is smaller (never decoded at full
// size only to be shrunk).
int RenderPageDib(const std::string& fsPath, int page, int width, int height, std::uint8_t* samples,
                  int stride, bool scanned);

// Writes a one-page PDF of page (from 1) of the source to outPath (page object copied).
int ExtractPage(const std::string& srcPath, int page, const std::string& outPath);

// Writes the source with the /Rotate of page (from 1) increased by degrees (a
// multiple of 90) to outPath; the other pages and all content are copied as they are.
int RotatePage(const std::string& srcPath, int page, int degrees, const std::string& outPath);

// One input page of a merge.
struct MergeInput {
    std::string fsPath;
    int page = 1;
};
// Writes the given pages, in order, as one PDF to outPath.
int MergePages(const std::vector<MergeInput>& inputs, const std::string& outPath);

// Writes page 1 of the source with the items appended as vector content to outPath.
int AddEditInfoToPdf(const std::string& srcPath, const EditItems& items, const std::string& outPath);

// MuPDF's own reason for the last failure of the calling thread (its error
// message, or why a file could not be opened), empty when there was none since
// ClearLastErrorReason.
std::string LastErrorReason();
void ClearLastErrorReason();

// Frees MuPDF's caches of the calling thread.
void EmptyCaches();

}  // namespace ov::image
