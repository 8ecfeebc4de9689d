// SPDX-License-Identifier: AGPL-3.0-or-later
// The MuPDF documents: opening documents and pages, writing (saving, new
// documents, copying, turning and overlaying pages) and the operations of
// MuPdf.h. The context, drawing and scaled loads of scans are in the other
// MuPdf*.cpp files; the rules they all keep are in MuPdfInternal.h.
#include "image/MuPdf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/Trace.h"
#include "image/MuPdfInternal.h"
#include "image/Resample.h"

namespace ov::image::detail {

// ---- Steps, each with its own fz_try ----------------------------------------

namespace {

int TryOpen(fz_context* ctx, const char* path, pdf_document** out) {
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        OV_TRACE("PDF file missing! [Path] %s\n", path);
        return kErrNoFile;
    }
    if (st.st_size == 0) {
        OV_TRACE("PDF file empty! [Path] %s\n", path);
        SetLastReason("the file is empty");
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
        SetLastReason("the file needs a password");
        pdf_drop_document(ctx, doc);
        return code;
    }
    if (pages < 1) {
        OV_TRACE("PDF has no page! [Path] %s\n", path);
        SetLastReason("the file has no page");
        pdf_drop_document(ctx, doc);
        return kErrNotPdf;
    }
    *out = doc;
    return kOk;
}

}  // namespace

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

namespace {

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

}  // namespace

int LoadPage(pdf_document* doc, int page, PagePtr* out) {
    pdf_page* p = nullptr;
    int r = TryLoadPage(Ctx(), doc, page, &p);
    if (r == kOk)
        out->reset(p);
    return r;
}

}  // namespace ov::image::detail

namespace ov::image {

using namespace detail;

namespace {

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
        DrawItems(ctx, dev, fz_identity, items, TextAs::Outlines);
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
               const PixelSink& sink, const BandDone& onBand, const std::function<void()>& drawn,
               const FittedFirst* first) {
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
    double w = std::max(1.0, std::round(p.Width() * zoomX));
    double h = std::max(1.0, std::round(p.Height() * zoomY));
    // A page too large for the pixel budget is made at the scale that fits it.
    if (const double f = PixelBudgetFactor(w, h); f < 1.0) {
        OV_TRACE("Page image scaled down to the pixel budget! [Width] %.0f [Height] %.0f [Factor] %.4f\n", w,
                 h, f);
        w = std::max(1.0, std::round(w * f));
        h = std::max(1.0, std::round(h * f));
    }
    const int iw = static_cast<int>(w), ih = static_cast<int>(h);
    std::uint8_t* samples = sink(iw, ih);
    if (samples == nullptr) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", iw, ih);
        return kErrMemory;
    }
    r = onBand ? p.DrawBands(iw, ih, samples, items, onBand, first)
               : p.DrawInto(iw, ih, samples, iw * 3, false, items);
    if (r == kOk && drawn)
        drawn();
    return r;
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

}  // namespace ov::image
