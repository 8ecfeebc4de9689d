// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared set-up of the postcard tests: a one-page document in document or
// undo-folder mode with its postcard manager, and the read-back of PDFs.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "document/DocTestSupport.h"
#include "document/OrmaViewDoc.h"
#include "postcard/HagakiManage.h"

namespace pctest {

using Names = std::vector<std::string>;
constexpr const char* kStandardUtf8 = "\xE6\xA8\x99\xE6\xBA\x96";  // "標準" as named on disk

// Document mode: <desk>/Doc000012 with Data/Standard, current page ID pageID.
// Undo-folder mode: <desk>/UndoFolder, page ID 1. The document owns the manager.
struct DocSetup {
    explicit DocSetup(int mode, int pageID = 5);
    ovtest::TempDir dir;
    std::string workDesk;  // no trailing separator
    COrmaViewDoc doc;
    std::string DataDir() const { return doc.m_strDocFolder + "/Data"; }
    std::string StandardDir() const { return doc.m_strDocFolder + "/Data/Standard"; }
    std::string UndoData() const { return doc.m_strDocFolder + "/UndoData.ini"; }
};

using ovdoc::WritePdf;

struct PdfPage {
    int width = 0, height = 0, rotate = 0;  // media box; /Rotate as 0, 90, 180 or 270
    bool operator==(const PdfPage&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const PdfPage& p) {
    return os << p.width << "x" << p.height << "@" << p.rotate;
}
std::vector<PdfPage> ReadPdf(const std::string& path);  // empty when unreadable

std::size_t Hash(const std::string& path);  // of the content; 0 for a missing file

}  // namespace pctest
