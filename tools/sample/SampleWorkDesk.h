// SPDX-License-Identifier: AGPL-3.0-or-later
// The sample work desk: documents, page data files, postcard material.
#pragma once

#include <string>
#include <vector>

namespace ovsample {

struct SampleInfo {
    std::string folder;  // the work-desk folder as written (file-system path)
    int firstDocId = 1;
    int firstPageId = 0;                  // page ID of position 1 of document 1
    std::vector<std::string> scanPdfs;    // pages that are one JPEG image
    std::vector<std::string> vectorPdfs;  // vector pages with Japanese text
    std::vector<std::string>
        annotated;  // Data%d.dat files with edit information, one per vectorPdfs/scanPdfs
    std::string landscapePdf;
    std::string postcardFront, postcardBack;  // postcard sides (undo folder)
};

// Writes the sample into dir (created if missing). longPages > 0 adds document 9
// with that many pages. false on failure (message on stderr).
bool WriteSampleWorkDesk(const std::string& dir, int longPages, SampleInfo* info);

}  // namespace ovsample
