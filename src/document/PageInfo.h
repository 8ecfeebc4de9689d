// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

// The page-info record kept per page position.
struct CPageInfo {
    int m_iPageID = -1;    // the page ID (valid IDs are 1 or more)
    int m_iPageFlag = -1;  // page flag from the page's data file; -1 while not read; 2 = index page
};
