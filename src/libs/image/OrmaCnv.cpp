// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/OrmaCnv.h"

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"

using namespace ov::image;

int WorkDesk_ExtractPDF(const char* sourcePdf, int page, const char* outputPdf) {
    return OV_GUARDED([&]() -> int {
        std::string src, out;
        int r = CheckSourceAndOutput(sourcePdf, outputPdf, &src, &out);
        if (r != kOk)
            return r;
        if (page < 1) {
            OV_TRACE("WorkDesk_ExtractPDF() Parameter Error! [Page] %d\n", page);
            return kErrNoPage;
        }
        return WriteReplacing(out, [&](const std::string& tmp) { return ExtractPage(src, page, tmp); });
    });
}
