// SPDX-License-Identifier: AGPL-3.0-or-later
#include "PostcardTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <functional>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace pctest {

DocSetup::DocSetup(int mode, int pageID) : workDesk(dir / "desk") {
    doc.m_strDocFolder = workDesk + (mode ? "/UndoFolder" : "/Doc000012");
    ovtest::MakeDirs(mode ? doc.m_strDocFolder : StandardDir());
    doc.m_iDocID = 12;
    doc.m_iPageTotal = doc.m_iCurPagePos = 1;
    doc.m_cMapPageInfo[1] = CPageInfo{mode ? 1 : pageID, 0};
    auto* m = new CHagakiManage();
    m->m_pInfo = static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
    m->m_pInfo->iMode = mode;
    std::strncpy(m->m_pInfo->szWorkDeskFolder, workDesk.c_str(), MAX_PATH - 1);
    m->m_pInfo->iDocID = 12;
    m->m_pInfo->iPageID = m->m_pInfo->bEditable = 1;
    doc.m_pHagakiManage = m;
    doc.m_strEditInfoOnFolder = dir / "temp/EditInfo_On";
    doc.m_strEditInfoOffFolder = dir / "temp/EditInfo_Off";
    ovtest::MakeDirs(doc.m_strEditInfoOnFolder);
    ovtest::MakeDirs(doc.m_strEditInfoOffFolder);
}

std::vector<PdfPage> ReadPdf(const std::string& path) {
    std::vector<PdfPage> pages;
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_UNLIMITED);
    if (!ctx)
        return pages;
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path.c_str());
        for (int i = 0, n = pdf_count_pages(ctx, doc); i < n; ++i) {
            pdf_obj* page = pdf_lookup_page_obj(ctx, doc, i);
            fz_rect box = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
            int rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
            pages.push_back(PdfPage{static_cast<int>(box.x1 - box.x0 + 0.5f),
                                    static_cast<int>(box.y1 - box.y0 + 0.5f), ((rotate % 360) + 360) % 360});
        }
    }
    fz_always(ctx) {
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx) {
        pages.clear();
    }
    fz_drop_context(ctx);
    return pages;
}

std::size_t Hash(const std::string& path) {
    return ovtest::Exists(path) ? std::hash<std::string>{}(ovtest::ReadFile(path)) : 0;
}

}  // namespace pctest
