// SPDX-License-Identifier: AGPL-3.0-or-later
// Work-desk builders shared by the document and postcard tests: Doc.dat and page
// data files in CP932, and tiny valid PDFs.
#pragma once

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace ovdoc {

// A one-page PDF of the given media box with a filled rectangle (its folder made).
void WritePdf(const std::string& path, int width = 144, int height = 216);

std::string DocDat(const std::string& pageTotal, const std::string& indexTotal, const std::string& docName,
                   const std::string& maxPageID, const std::string& pageIDList);

// Page IDs are 100 + 7 * position, so that IDs and positions never coincide.
inline int IdOfPos(int pos) {
    return 100 + 7 * pos;
}

// folder/Doc.dat with consistent totals, one page per flag character: 'N' no data
// file, '0'..'9' a data file with that flag ('2' = index); with pdf, Data%d.pdf too.
void WriteDocument(const std::string& folder, const std::string& flags, bool pdf,
                   const std::string& docName = "Doc");

}  // namespace ovdoc
