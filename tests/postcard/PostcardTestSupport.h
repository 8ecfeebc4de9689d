// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared set-up of the postcard tests: a document in document mode or undo-folder
// mode with its postcard manager, small generated PDFs and their read-back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/OrmaViewDoc.h"
#include "support/TestSupport.h"

namespace pctest {

// "標準" as CP932 bytes and as the UTF-8 name on disk.
std::string StandardCp932();
constexpr const char* kStandardUtf8 = "\xE6\xA8\x99\xE6\xBA\x96";

// A manager holding a private block (no viewer library involved), as the
// document would own it: mode and work-desk folder set.
CHagakiManage* NewManager(int mode, const std::string& workDeskFolder);

// A document on one page of a work desk in a fresh temporary folder.
class DocSetup {
public:
    // Document mode: <work desk>/Doc000012 with Data and Data/Standard, the
    // current page has the given page ID.
    static std::unique_ptr<DocSetup> DocumentMode(int pageID = 5);
    // Undo-folder mode: <work desk>/UndoFolder, page ID 1.
    static std::unique_ptr<DocSetup> UndoFolderMode();

    ovtest::TempDir dir;
    std::string workDesk;  // no trailing separator
    COrmaViewDoc doc;

    std::string DataDir() const { return doc.m_strDocFolder + "/Data"; }
    std::string StandardDir() const { return doc.m_strDocFolder + "/Data/Standard"; }
    std::string UndoData() const { return doc.m_strDocFolder + "/UndoData.ini"; }
};

// One-page PDF of the given media box; the content draws a filled rectangle.
std::string OnePagePdf(int width, int height);
void WriteOnePagePdf(const std::string& path, int width, int height);

struct PdfPage {
    int width = 0;  // media box
    int height = 0;
    int rotate = 0;  // /Rotate normalised to 0, 90, 180 or 270
};
// The pages of a PDF; empty when it cannot be opened.
std::vector<PdfPage> ReadPdf(const std::string& path);

// FNV-1a of the file's bytes (0 for a missing file).
unsigned long long FileHash(const std::string& path);

// Entries of a folder (names only), sorted.
std::vector<std::string> ListDir(const std::string& path);

}  // namespace pctest
