// SPDX-License-Identifier: AGPL-3.0-or-later
// Making a page's bitmap away from the document: the document copies what the
// page needs into a CPageJob on the UI thread (paths, page, annotation state,
// bitmap size), and MakePageJobBitmap, which may run on any thread, makes the
// page image (from the per-run folder, the page store, or a render) and the
// bitmap from it. The document itself is never touched by another thread.
#pragma once

#include <functional>
#include <string>

class CPageBitmap;

namespace ov::image {
class CPageStore;
class RenderCancel;
}  // namespace ov::image

struct CPageJob {
    int iPagePos = 0;
    std::string strSource;  // CP932 paths
    int iPage = 1;          // page inside the source
    std::string strThumb;   // the page image of this run
    std::string strEditInfo;
    int bShowEditInfo = 1;
    int iWidth = 0;  // the bitmap asked for
    int iHeight = 0;
    int bViewFirst = 0;  // a render draws the bitmap first, straight from the page (the page on screen)
};

// The page's bitmap fitted into the job's size: from this run's page image, else
// straight from the page store's entry, else the page is rendered into this
// run's folder and then stored. A page image that fails its check is made again
// once. A render takes the identity of the source (and of the annotation file
// when annotations are drawn) first and reads it again before its page image is
// put in place and stored, under the identity taken first. 0; -811 when
// cancelled, -812 when the source or annotation file changed meanwhile (neither
// writes a page image or a store entry); or the page's error code with the usual
// trace lines. pstrReason (may be null): the image library's own
// reason of a failure (UTF-8), which the UI thread puts into the error box
// (COrmaViewDoc::NotePageFailure).
//
// onDrawn (may be empty): when the page is rendered, *pBitmap is filled as soon
// as MuPDF has drawn it (the identities read again first: a changed source is
// never handed out) and onDrawn is called on the worker; the page image is then
// encoded, checked and written, and *pBitmap is not touched again. A result
// other than 0 after onDrawn (e.g. -812: the source changed while the page image
// was written) means that bitmap must not be kept; nothing was stored.
int MakePageJobBitmap(const CPageJob& job, const ov::image::CPageStore* store,
                      ov::image::RenderCancel* cancel, CPageBitmap* pBitmap,
                      std::string* pstrReason = nullptr, const std::function<void()>& onDrawn = {});

// Where a render of a page job stands when the test hook is called.
enum class PageJobStep {
    IdentityTaken,  // the identities are taken, the render not begun
    Drawn,          // MuPDF has drawn the page, not yet checked nor handed out
    Rendered,       // the page image is written, not yet checked, stored or put in place
};

// For race tests only: hook (empty: none) is called on the worker at each step of
// every render of a page job.
void SetPageJobTestHook(std::function<void(const CPageJob&, PageJobStep)> hook);
