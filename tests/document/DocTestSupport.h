// SPDX-License-Identifier: AGPL-3.0-or-later
// Builders of work-desk folders for the document tests: Doc.dat and the page data
// files in CP932, and tiny valid PDFs.
#pragma once

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace ovdoc {

// A PDF of n pages, each with a filled rectangle, with a correct xref table.
std::string MakePdf(int pages = 1);

// Doc.dat text (CP932 bytes pass through untouched).
std::string DocDat(const std::string& pageTotal, const std::string& indexTotal, const std::string& docName,
                   const std::string& maxPageID, const std::string& pageIDList);

// Page IDs are 100 + 7 * position, so that IDs and positions never coincide.
inline int IdOfPos(int pos) {
    return 100 + 7 * pos;
}

// Writes folder/Doc.dat with consistent totals and a page per character of flags:
// 'N' a page without a data file, '0'..'9' a data file with that flag ('2' =
// index). With pdf, every page gets its Data%d.pdf.
void WriteDocument(const std::string& folder, const std::string& flags, bool pdf,
                   const std::string& docName = "Doc");

// Inode and modification time of a file, to tell whether it was rewritten.
struct FileStamp {
    unsigned long long inode = 0;
    long long mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);

}  // namespace ovdoc
