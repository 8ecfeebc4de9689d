// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-ID list of Doc.dat: any text splits into IDs or is refused.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ormacomm/OrmaComm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = ovfuzz::Text(data, size);
    std::vector<unsigned> ids;
    if (GetListIDFromString(text.c_str(), &ids))
        ovfuzz::Check(ids.size() <= text.size());  // each ID takes at least one byte of the text
    return 0;
}
