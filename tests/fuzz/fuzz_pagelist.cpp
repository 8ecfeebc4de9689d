// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-ID list of Doc.dat: any text splits into IDs or is refused.
#include <string>
#include <vector>

#include "ormacomm/OrmaComm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<unsigned> ids;
    if (GetListIDFromString(text.c_str(), &ids)) {
        // Each ID takes at least one byte of the text.
        if (ids.size() > text.size())
            __builtin_trap();
    }
    return 0;
}
