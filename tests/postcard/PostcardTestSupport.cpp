// SPDX-License-Identifier: AGPL-3.0-or-later
#include "PostcardTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "postcard/HagakiManage.h"
#include "win32/CodePage.h"

namespace pctest {

std::string StandardCp932() {
    return ov::Utf8ToCp932(kStandardUtf8).value();
}

CHagakiManage* NewManager(int mode, const std::string& workDeskFolder) {
    auto* manage = new CHagakiManage();
    manage->m_pInfo = static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
    manage->m_pInfo->iMode = mode;
    std::strncpy(manage->m_pInfo->szWorkDeskFolder, workDeskFolder.c_str(),
                 sizeof manage->m_pInfo->szWorkDeskFolder - 1);
    manage->m_pInfo->iDocID = 12;
    manage->m_pInfo->iPageID = 1;
    manage->m_pInfo->bEditable = 1;
    return manage;
}

namespace {

std::unique_ptr<DocSetup> NewSetup(int mode, const char* docFolder, int pageID) {
    auto s = std::make_unique<DocSetup>();
    s->workDesk = s->dir / "desk";
    s->doc.m_strDocFolder = s->workDesk + "/" + docFolder;
    ovtest::MakeDirs(s->doc.m_strDocFolder);
    s->doc.m_iDocID = 12;
    s->doc.m_iPageTotal = 1;
    s->doc.m_iCurPagePos = 1;
    s->doc.m_cMapPageInfo[1] = CPageInfo{pageID, 0};
    s->doc.m_pHagakiManage = NewManager(mode, s->workDesk);
    s->doc.m_strEditInfoOnFolder = s->dir / "temp/EditInfo_On";
    s->doc.m_strEditInfoOffFolder = s->dir / "temp/EditInfo_Off";
    ovtest::MakeDirs(s->doc.m_strEditInfoOnFolder);
    ovtest::MakeDirs(s->doc.m_strEditInfoOffFolder);
    return s;
}

}  // namespace

std::unique_ptr<DocSetup> DocSetup::DocumentMode(int pageID) {
    auto s = NewSetup(0, "Doc000012", pageID);
    ovtest::MakeDirs(s->StandardDir());
    return s;
}

std::unique_ptr<DocSetup> DocSetup::UndoFolderMode() {
    return NewSetup(1, "UndoFolder", 1);
}

std::string OnePagePdf(int width, int height) {
    const std::string content =
        "0 0 1 rg 10 10 " + std::to_string(width / 2) + " " + std::to_string(height / 3) + " re f\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
            std::to_string(height) + "] /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void WriteOnePagePdf(const std::string& path, int width, int height) {
    ovtest::WriteFile(path, OnePagePdf(width, height));
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
        const int count = pdf_count_pages(ctx, doc);
        for (int i = 0; i < count; ++i) {
            pdf_obj* page = pdf_lookup_page_obj(ctx, doc, i);
            fz_rect box = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
            int rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
            rotate = ((rotate % 360) + 360) % 360;
            pages.push_back(PdfPage{static_cast<int>(box.x1 - box.x0 + 0.5f),
                                    static_cast<int>(box.y1 - box.y0 + 0.5f), rotate});
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

unsigned long long FileHash(const std::string& path) {
    if (!ovtest::Exists(path))
        return 0;
    unsigned long long h = 1469598103934665603ull;
    for (unsigned char c : ovtest::ReadFile(path)) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(path, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace pctest
