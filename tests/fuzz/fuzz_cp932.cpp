// SPDX-License-Identifier: AGPL-3.0-or-later
// CP932 conversion: to UTF-8 and back, the lossy form, and the width mapping at
// every destination size around the exact fit.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "win32/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = ovfuzz::Text(data, size);
    if (auto utf8 = ov::Cp932ToUtf8(text)) {
        if (auto back = ov::Utf8ToCp932(*utf8))
            ovfuzz::Check(ov::Cp932ToUtf8(*back).has_value());  // valid CP932 stays valid
    }
    ov::Utf8ToCp932(text);
    ov::Cp932ToUtf8Lossy(text);
    for (unsigned char c : text) IsDBCSLeadByte(c);

    const std::string src = text.substr(0, text.find('\0'));
    for (DWORD flags : {LCMAP_HALFWIDTH, LCMAP_FULLWIDTH}) {
        const int need = LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, src.c_str(), -1, nullptr, 0);
        if (need <= 0)
            continue;
        for (int room : {need - 1, need, need + 1}) {
            if (room <= 0)
                continue;
            std::vector<char> dest(static_cast<std::size_t>(room) + 8, '\x7f');
            const int n = LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, src.c_str(), -1, dest.data(), room);
            ovfuzz::Check(n <= room && (room < need || n == need));
            for (std::size_t i = static_cast<std::size_t>(room); i < dest.size(); ++i)
                ovfuzz::Check(dest[i] == '\x7f');  // nothing written past the buffer
        }
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, src.data(), static_cast<int>(src.size()), nullptr, 0);
    }
    return 0;
}
