// SPDX-License-Identifier: AGPL-3.0-or-later
#include "PdfWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <jpeglib.h>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace ovsample {
namespace {

void Quiet(void*, const char*) {}

// A context for the writer; MuPDF's messages are not wanted on the terminal.
fz_context* NewContext() {
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (ctx != nullptr) {
        fz_set_warning_callback(ctx, Quiet, nullptr);
        fz_set_error_callback(ctx, Quiet, nullptr);
    }
    return ctx;
}

// Adds one page; everything created here is dropped before returning or throwing.
void AddPage(fz_context* ctx, pdf_document* doc, const PdfPage& page, fz_font* font) {
    pdf_obj* res = nullptr;
    pdf_obj* fontRef = nullptr;
    pdf_obj* imageRef = nullptr;
    pdf_obj* pageObj = nullptr;
    fz_buffer* contents = nullptr;
    fz_buffer* jpeg = nullptr;
    fz_image* image = nullptr;
    fz_var(res);
    fz_var(fontRef);
    fz_var(imageRef);
    fz_var(pageObj);
    fz_var(contents);
    fz_var(jpeg);
    fz_var(image);
    fz_try(ctx) {
        res = pdf_new_dict(ctx, doc, 2);
        if (page.content.find("/F1") != std::string::npos) {
            fontRef = pdf_add_cjk_font(ctx, doc, font, FZ_ADOBE_JAPAN, 0, 0);
            pdf_obj* fonts = pdf_dict_put_dict(ctx, res, PDF_NAME(Font), 1);
            pdf_dict_puts(ctx, fonts, "F1", fontRef);
        }
        if (!page.jpeg.empty()) {
            jpeg = fz_new_buffer_from_copied_data(ctx, page.jpeg.data(), page.jpeg.size());
            image = fz_new_image_from_buffer(ctx, jpeg);
            imageRef = pdf_add_image(ctx, doc, image);
            pdf_obj* xobjects = pdf_dict_put_dict(ctx, res, PDF_NAME(XObject), 1);
            pdf_dict_puts(ctx, xobjects, "Im0", imageRef);
        }
        contents = fz_new_buffer_from_copied_data(
            ctx, reinterpret_cast<const unsigned char*>(page.content.data()), page.content.size());
        pageObj =
            pdf_add_page(ctx, doc, fz_make_rect(0, 0, page.width, page.height), page.rotate, res, contents);
        pdf_insert_page(ctx, doc, -1, pageObj);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, pageObj);
        fz_drop_buffer(ctx, contents);
        pdf_drop_obj(ctx, imageRef);
        fz_drop_image(ctx, image);
        fz_drop_buffer(ctx, jpeg);
        pdf_drop_obj(ctx, fontRef);
        pdf_drop_obj(ctx, res);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

bool WriteWith(fz_context* ctx, const char* path, const std::vector<PdfPage>& pages,
               const PdfWriteOptions& o) {
    pdf_document* doc = nullptr;
    fz_font* font = nullptr;
    bool ok = true;
    pdf_write_options opts = pdf_default_write_options;
    opts.do_compress = 1;
    opts.dont_regenerate_id = 1;
    if (!o.userPassword.empty()) {
        opts.do_encrypt = PDF_ENCRYPT_AES_128;
        opts.permissions = -1;
        std::snprintf(opts.upwd_utf8, sizeof opts.upwd_utf8, "%s", o.userPassword.c_str());
        std::snprintf(opts.opwd_utf8, sizeof opts.opwd_utf8, "%s-owner", o.userPassword.c_str());
    }
    fz_var(doc);
    fz_var(font);
    fz_var(ok);
    fz_try(ctx) {
        doc = pdf_create_document(ctx);
        font = fz_new_cjk_font(ctx, FZ_ADOBE_JAPAN);
        for (const PdfPage& p : pages) AddPage(ctx, doc, p, font);
        pdf_save_document(ctx, doc, path, &opts);
    }
    fz_always(ctx) {
        fz_drop_font(ctx, font);
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx) {
        std::fprintf(stderr, "PDF not written: %s: %s\n", path, fz_caught_message(ctx));
        ok = false;
    }
    return ok;
}

bool ReadWith(fz_context* ctx, const char* path, std::vector<int>* rotations) {
    pdf_document* doc = nullptr;
    bool ok = true;
    fz_var(doc);
    fz_var(ok);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path);
        int n = pdf_count_pages(ctx, doc);
        for (int i = 0; i < n; ++i) {
            pdf_obj* obj = pdf_lookup_page_obj(ctx, doc, i);
            rotations->push_back(pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Rotate))));
        }
    }
    fz_always(ctx) {
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx) {
        ok = false;
    }
    return ok;
}

}  // namespace

bool WritePdf(const std::string& fsPath, const std::vector<PdfPage>& pages, const PdfWriteOptions& opts) {
    fz_context* ctx = NewContext();
    if (ctx == nullptr)
        return false;
    bool ok = WriteWith(ctx, fsPath.c_str(), pages, opts);
    fz_drop_context(ctx);
    return ok;
}

bool ReadPdfPages(const std::string& fsPath, std::vector<int>* rotations) {
    rotations->clear();
    fz_context* ctx = NewContext();
    if (ctx == nullptr)
        return false;
    bool ok = ReadWith(ctx, fsPath.c_str(), rotations);
    fz_drop_context(ctx);
    return ok;
}

std::vector<std::uint8_t> MakeScanJpeg(int width, int height, unsigned seed, bool picture) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    unsigned state = seed * 2654435761u + 12345u;
    auto rnd = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    auto put = [&](int x, int y, int r, int g, int b) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
        p[1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
        p[2] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
    };
    // Paper: warm white, darker towards the edges, with grain.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int edge = std::min(std::min(x, width - 1 - x), std::min(y, height - 1 - y));
            int shade = edge < 40 ? (40 - edge) / 3 : 0;
            int n = static_cast<int>(rnd() % 9) - 4;
            put(x, y, 246 - shade + n, 243 - shade + n, 232 - shade + n);
        }
    }
    const int unit = std::max(4, std::max(width, height) / 88);  // one "character" cell
    if (picture) {
        // A picture side: a sun over hills.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int hill = height * 2 / 3 + static_cast<int>(30.0 * std::sin(x / 60.0));
                if (y > hill)
                    put(x, y, 70 + (x % 17), 140, 60);
            }
        const int cx = width * 3 / 4, cy = height / 4, r = height / 8;
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                    put(x, y, 230, 60, 40);
    } else {
        // A heading bar, then lines of "text" of ragged length.
        for (int y = height / 12; y < height / 12 + unit * 2; ++y)
            for (int x = width / 4; x < width * 3 / 4; ++x) put(x, y, 40, 40, 45);
        int y = height / 6;
        while (y < height - height / 6) {
            int len = width * 3 / 4 - static_cast<int>(rnd() % (width / 3));
            for (int x = width / 8; x < width / 8 + len; x += unit) {
                if (rnd() % 7 == 0)
                    continue;  // a space
                for (int yy = y; yy < y + unit; ++yy)
                    for (int xx = x + 1; xx < x + unit - 1; ++xx)
                        if (rnd() % 3 != 0)
                            put(xx, yy, 60, 60, 70);
            }
            y += unit * 2 + static_cast<int>(rnd() % 3);
            if (rnd() % 9 == 0)
                y += unit * 2;  // a paragraph
        }
        // A red seal near the bottom right.
        const int cx = width * 4 / 5, cy = height * 7 / 8, r = unit * 3;
        for (int yy = cy - r; yy <= cy + r; ++yy)
            for (int xx = cx - r; xx <= cx + r; ++xx) {
                int d = (xx - cx) * (xx - cx) + (yy - cy) * (yy - cy);
                if (d <= r * r && d >= (r - unit / 2) * (r - unit / 2))
                    put(xx, yy, 200, 40, 40);
            }
    }

    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 80, TRUE);
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = cinfo.Y_density = 150;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + outSize);
    std::free(out);
    return bytes;
}

std::string Utf16Hex(const std::string& utf8) {
    std::string hex = "<";
    char buf[8];
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        unsigned cp;
        int len;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F, len = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F, len = 3;
        } else {
            cp = c & 0x07, len = 4;
        }
        for (int k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += len;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            std::snprintf(buf, sizeof buf, "%04X", 0xD800 + (cp >> 10));
            hex += buf;
            cp = 0xDC00 + (cp & 0x3FF);
        }
        std::snprintf(buf, sizeof buf, "%04X", cp);
        hex += buf;
    }
    return hex + ">";
}

std::string TextOp(float x, float y, float size, const std::string& utf8) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "BT /F1 %.1f Tf %.2f %.2f Td ", size, x, y);
    return std::string(buf) + Utf16Hex(utf8) + " Tj ET\n";
}

}  // namespace ovsample
