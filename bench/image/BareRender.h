// SPDX-License-Identifier: AGPL-3.0-or-later
// The reference of the page-image benches: MuPDF alone drawing a page.
#pragma once

struct fz_context;

namespace ovbench {

// MuPDF alone opening the document and rendering its first page to an RGB
// pixmap of w x h pixels, or, when w is 0, of the page image's size (150 DPI,
// sides rounded to whole pixels). ctx is the caller's own context.
bool BareRender(fz_context* ctx, const char* path, int w = 0, int h = 0);

}  // namespace ovbench
