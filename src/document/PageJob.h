// SPDX-License-Identifier: AGPL-3.0-or-later
// Making a page's bitmap away from the document: the document copies what the
// page needs into a CPageJob on the UI thread (paths, page, annotation state,
// bitmap size), and MakePageJobBitmap, which may run on any thread, makes the
// page image (from the per-run folder, the page store, or a render) and the
// bitmap from it. The document itself is never touched by another thread.
#pragma once

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
};

// The page's bitmap fitted into the job's size: from this run's page image, else
// straight from the page store's entry, else the page is rendered into this
// run's folder and then stored. A page image that fails its check is made again
// once. 0, -811 when cancelled (nothing written), or the page's error code with
// the usual trace lines. pstrReason (may be null): the image library's own
// reason of a failure (UTF-8), which the UI thread puts into the error box
// (COrmaViewDoc::NotePageFailure).
int MakePageJobBitmap(const CPageJob& job, const ov::image::CPageStore* store,
                      ov::image::RenderCancel* cancel, CPageBitmap* pBitmap,
                      std::string* pstrReason = nullptr);
