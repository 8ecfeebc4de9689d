// SPDX-License-Identifier: AGPL-3.0-or-later
// The wait cursor for the life of a scope: set on construction, the cursor
// before it put back on destruction (before any error box is shown).
#pragma once

namespace ov {

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    // The same without a scope: TRUE sets it, FALSE puts back the cursor before.
    static void Set(bool bWait);
};

}  // namespace ov
