// SPDX-License-Identifier: AGPL-3.0-or-later
#include "BareRender.h"

#include <mupdf/fitz.h>

#include <cmath>

namespace ovbench {

bool BareRender(fz_context* ctx, const char* path, int w, int h) {
    fz_document* doc = nullptr;
    fz_page* page = nullptr;
    fz_pixmap* pix = nullptr;
    bool ok = true;
    fz_var(doc);
    fz_var(page);
    fz_var(pix);
    fz_var(ok);
    fz_try(ctx) {
        doc = fz_open_document(ctx, path);
        page = fz_load_page(ctx, doc, 0);
        fz_rect b = fz_bound_page(ctx, page);
        const float bw = b.x1 - b.x0, bh = b.y1 - b.y0;
        const float pw = w > 0 ? w : std::round(bw * 150.0f / 72),
                    ph = h > 0 ? h : std::round(bh * 150.0f / 72);
        pix = fz_new_pixmap_from_page(ctx, page, fz_pre_translate(fz_scale(pw / bw, ph / bh), -b.x0, -b.y0),
                                      fz_device_rgb(ctx), 0);
    }
    fz_always(ctx) {
        fz_drop_pixmap(ctx, pix);
        fz_drop_page(ctx, page);
        fz_drop_document(ctx, doc);
    }
    fz_catch(ctx) {
        ok = false;
    }
    return ok;
}

}  // namespace ovbench
