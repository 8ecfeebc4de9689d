// SPDX-License-Identifier: AGPL-3.0-or-later
// The document most viewer tests run on.
#pragma once

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "PdfWriter.h"
#include "support/TestSupport.h"

namespace ovtestdoc {

// Work-desk folder / Doc000012 with Doc.dat and five one-colour pages: red (ID 1,
// with a blue frame as its annotation), green (2), two index sheets (3, 4), blue (5).
inline void WriteIndexedDocument(const std::string& workDesk) {
    const std::pair<int, const char*> pages[] = {
        {0, "1 0 0"}, {0, "0 1 0"}, {2, ".5 .5 .5"}, {2, ".5 .5 .5"}, {0, "0 0 1"}};  // 2: index sheet
    const std::string doc = workDesk + "/Doc000012";
    ovtest::MakeDirs(doc + "/Data");
    for (int id = 1; id <= 5; ++id) {
        const std::string base = doc + "/Data/Data" + std::to_string(id);
        ASSERT_TRUE(ovsample::WritePdf(
            base + ".pdf",
            {{200, 280, 0, std::string(pages[id - 1].second) + " rg 20 20 160 240 re f", {}}}));
        ovtest::WriteFile(base + ".dat",
                          "[PageInfo]\r\nPage1Flag=" + std::to_string(pages[id - 1].first) +
                              (id == 1 ? "\r\n[EditInfo]\r\nItem1=rect,#0000FF,12,30,30,140,60" : "") +
                              "\r\n");
    }
    ovtest::WriteFile(doc + "/Doc.dat",
                      "[DocInfo]\r\nPageTotal=3\r\nIndexTotal=2\r\nDocName=Test doc\r\nMaxPageID=5\r\n"
                      "PageIDList=1,2,3,4,5\r\n");
}

}  // namespace ovtestdoc
