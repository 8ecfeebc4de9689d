// SPDX-License-Identifier: AGPL-3.0-or-later
// Scaled loads of scanned pages: finding the page's one image, decoding it at a
// reduced size (libjpeg for plain JPEG scans, MuPDF for the rest) and scaling it
// to the exact size asked for.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "base/Trace.h"
#include "image/MuPdfInternal.h"
#include "image/Resample.h"

namespace ov::image::detail {
namespace {

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

// The page's one image and its transform in page space, when the page (or
// the display list recorded from it, when list is not null) draws nothing
// else; *image stays null otherwise. The caller drops the image.
int TryFindScan(fz_context* ctx, pdf_page* page, fz_image** image, fz_matrix* ctm,
                fz_display_list* list = nullptr) {
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
        if (list != nullptr)
            fz_run_display_list(ctx, list, &d->super, fz_identity, fz_infinite_rect, nullptr);
        else
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

// Sets up a decoder whose header has been read: the stored colour space, the
// output colour space and the scale num/8. Rows that are averaged down
// afterwards (fast) hide the small differences of the faster inverse DCT and of
// the plain chroma upsampling. false when the data has another number of
// components than the image says.
bool SetUpJpegDecode(jpeg_decompress_struct* cinfo, int components, int colorTransform, int num,
                     J_COLOR_SPACE outSpace, bool fast) {
    if (cinfo->num_components != components)
        return false;
    if (components == 3 && colorTransform == 0)
        cinfo->jpeg_color_space = JCS_RGB;
    else if (components == 3 && colorTransform == 1)
        cinfo->jpeg_color_space = JCS_YCbCr;
    cinfo->out_color_space = outSpace;
    cinfo->scale_num = static_cast<unsigned>(num);
    cinfo->scale_denom = 8;
    if (fast) {
        cinfo->dct_method = JDCT_IFAST;
        cinfo->do_fancy_upsampling = FALSE;
    }
    return true;
}

// Where decoded rows go: Start is told the decoded size (false refuses it),
// Row gives the memory of row y (3 bytes a pixel), Done is told that row y is
// written (false stops the decoding).
class JpegRows {
public:
    virtual bool Start(int w, int h) = 0;
    virtual std::uint8_t* Row(int y) = 0;
    virtual bool Done(int y) = 0;

protected:
    ~JpegRows() = default;
};

// Decodes JPEG data of `components` colour components at scale num/8 in
// outSpace into rows. The frame holds only plain data (libjpeg reports
// errors by longjmp). false on any error, a refused size or a stop.
bool TryJpegDecodeRows(const unsigned char* data, std::size_t len, int components, int colorTransform,
                       int num, J_COLOR_SPACE outSpace, bool fast, JpegRows* rows) {
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
    bool ok = SetUpJpegDecode(&cinfo, components, colorTransform, num, outSpace, fast);
    if (ok) {
        jpeg_start_decompress(&cinfo);
        ok = cinfo.output_components == 3 &&
             rows->Start(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    }
    while (ok && cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row = rows->Row(y);
        ok = jpeg_read_scanlines(&cinfo, &row, 1) == 1 && rows->Done(y);
    }
    if (ok)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

// Decodes JPEG data of `components` colour components to R, G, B rows at
// scale num/8 into malloc'd memory. false on any error.
bool TryJpegDecode(const unsigned char* data, std::size_t len, int components, int colorTransform, int num,
                   bool averaged, MallocPtr* pixels, int* outW, int* outH) {
    struct Whole final : JpegRows {
        MallocPtr buf;
        int w = 0, h = 0;
        std::size_t stride = 0;
        bool Start(int width, int height) override {
            w = width;
            h = height;
            stride = static_cast<std::size_t>(width) * 3;
            buf.reset(static_cast<std::uint8_t*>(std::malloc(stride * static_cast<std::size_t>(height))));
            return buf != nullptr;
        }
        std::uint8_t* Row(int y) override { return buf.get() + stride * static_cast<std::size_t>(y); }
        bool Done(int) override { return true; }
    } whole;
    if (!TryJpegDecodeRows(data, len, components, colorTransform, num, JCS_RGB, averaged, &whole))
        return false;
    *outW = whole.w;
    *outH = whole.h;
    *pixels = std::move(whole.buf);
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
    struct Scaled final : JpegRows {
        RowStreamScaler* scaler;
        int minW, minH, maxW, maxH;
        std::uint8_t* out;
        std::ptrdiff_t outStride;
        bool Start(int w, int h) override {
            return w >= minW && h >= minH && w <= maxW && h <= maxH &&
                   scaler->Start(w, h, minW, minH, out, outStride);
        }
        std::uint8_t* Row(int) override { return scaler->InputRow(); }
        bool Done(int) override {
            scaler->RowDone();
            return true;
        }
    } scaled;
    scaled.scaler = scaler;
    scaled.minW = minW, scaled.minH = minH, scaled.maxW = maxW, scaled.maxH = maxH;
    scaled.out = out;
    scaled.outStride = outStride;
    // Averaging keeps the channel order, so B, G, R come straight from the decoder.
    return TryJpegDecodeRows(data, len, components, colorTransform, num, JCS_EXT_BGR, true, &scaled) &&
           scaler->RowsOut() == minH;
}

// Decodes JPEG data of 3 components at full size as R, G, B rows straight
// into out (width * 3 bytes a row), which must be exactly the decoded size;
// onRows(yEnd) is called every `every` rows and at the end, and stops the
// decoding by returning anything but kOk (kept in *stopped). *rows: the rows
// written (all of them, or those before a failure or a stop). false on any
// error or a stop.
bool TryJpegDecodeInto(const unsigned char* data, std::size_t len, int colorTransform, std::uint8_t* out,
                       int width, int height, int every, const std::function<int(int yEnd)>& onRows,
                       int* stopped, int* rows) {
    struct Into final : JpegRows {
        std::uint8_t* out;
        int width, height, every;
        const std::function<int(int)>* onRows;
        int* stopped;
        int* rows;
        bool Start(int w, int h) override { return w == width && h == height; }
        std::uint8_t* Row(int y) override { return out + static_cast<std::size_t>(y) * width * 3; }
        bool Done(int y) override {
            *rows = y + 1;
            if (*rows % every != 0 && *rows != height)
                return true;
            *stopped = (*onRows)(*rows);
            return *stopped == kOk;
        }
    } into;
    into.out = out;
    into.width = width, into.height = height, into.every = every;
    into.onRows = &onRows;
    into.stopped = stopped;
    into.rows = rows;
    *stopped = kOk;
    *rows = 0;
    return TryJpegDecodeRows(data, len, 3, colorTransform, 8, JCS_RGB, false, &into);
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
    if (!TryJpegDecode(plan.data, plan.len, plan.components, plan.colorTransform, plan.num, plan.averaged,
                       pixels, w, h))
        return false;
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

// The image's place in output pixels (*m: the unit square to the output),
// and whether it covers the width x height output exactly (within half a pixel).
bool CoversOutput(const fz_matrix& imageCtm, const fz_rect& bounds, int width, int height, fz_matrix* m) {
    const fz_matrix toPixels =
        fz_pre_translate(fz_scale(static_cast<float>(width / (bounds.x1 - bounds.x0)),
                                  static_cast<float>(height / (bounds.y1 - bounds.y0))),
                         -bounds.x0, -bounds.y0);
    *m = fz_concat(imageCtm, toPixels);
    const fz_rect placed = fz_transform_rect(fz_unit_rect, *m);
    return std::fabs(placed.x0) <= 0.5f && std::fabs(placed.y0) <= 0.5f &&
           std::fabs(placed.x1 - width) <= 0.5f && std::fabs(placed.y1 - height) <= 0.5f;
}

}  // namespace

int DrawScanRows(fz_display_list* list, const fz_rect& bounds, int width, int height, std::uint8_t* samples,
                 int every, const std::function<int(int yEnd)>& onRows) {
    fz_context* ctx = Ctx();
    fz_image* found = nullptr;
    fz_matrix imageCtm = fz_identity;
    int r = TryFindScan(ctx, nullptr, &found, &imageCtm, list);
    if (r != kOk)
        return r;
    ImagePtr image(found);
    // Only an image that MuPDF would copy pixel for pixel onto the page: no
    // mask, no colour conversion (device RGB), upright, exactly the page's
    // size in pixels.
    if (!image || image->mask != nullptr || image->use_colorkey || image->imagemask ||
        image->colorspace != fz_device_rgb(ctx) || image->w != width || image->h != height)
        return kErrArgument;
    fz_matrix m;
    if (!CoversOutput(imageCtm, bounds, width, height, &m) || std::fabs(m.b) > 1e-3f ||
        std::fabs(m.c) > 1e-3f || m.a <= 0 || m.d <= 0)
        return kErrArgument;
    JpegPlan plan;
    if (!PlanScanJpeg(ctx, image.get(), width, height, &plan) || plan.num != 8 || plan.averaged ||
        plan.components != 3)
        return kErrArgument;
    int stopped = kOk, rows = 0;
    if (TryJpegDecodeInto(plan.data, plan.len, plan.colorTransform, samples, width, height, every, onRows,
                          &stopped, &rows))
        return kOk;
    if (stopped != kOk)
        return stopped;  // stopped by the caller (a cancel, the edit information's failure)
    if (rows == 0)
        return kErrArgument;  // nothing written: drawn as usual
    // Rows handed on already stay as they are; the rest of a scan that breaks
    // off is left white, as a damaged image is.
    OV_TRACE("Scan decoding Error! [Row] %d [Height] %d\n", rows, height);
    std::memset(samples + static_cast<std::size_t>(rows) * width * 3, 255,
                static_cast<std::size_t>(height - rows) * width * 3);
    return onRows(height);
}

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
    fz_matrix m;
    const bool covers = CoversOutput(imageCtm, bounds, width, height, &m);
    const bool swapped = std::fabs(m.a) < 1e-3f && std::fabs(m.d) < 1e-3f;
    const bool straight = std::fabs(m.b) < 1e-3f && std::fabs(m.c) < 1e-3f;
    if (!covers || (!swapped && !straight))
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

}  // namespace ov::image::detail
