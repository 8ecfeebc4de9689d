// SPDX-License-Identifier: AGPL-3.0-or-later
// The annotation parser: each input line "key=value" is one item of the section.
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "image/EditInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (const std::string& line : ovfuzz::Split(ovfuzz::Text(data, size), '\n')) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        else
            keys.emplace_back("Item", line);
    }
    ov::image::EditItem item;
    std::string why;
    for (const auto& kv : keys) ov::image::ParseEditItem(kv.second, &item, &why);
    ov::image::ParseEditInfo(keys);
    return 0;
}
