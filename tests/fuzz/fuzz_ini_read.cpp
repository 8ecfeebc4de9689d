// SPDX-License-Identifier: AGPL-3.0-or-later
// The INI reader on any file: name lists and values at every small buffer size,
// integers and whole sections. The first byte picks the buffer size.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ormacomm/OrmaComm.h"
#include "win32/PrivateProfile.h"

namespace {

// The NUL-separated names of a list, checking its termination.
std::vector<std::string> Names(const char* list, DWORD n, DWORD size) {
    ovfuzz::Check(n <= size && (size < 2 || n + 1 < size + 1) && list[n] == '\0');
    std::vector<std::string> out;
    for (const char* p = list; *p != '\0' && p < list + n; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const DWORD small = 1 + data[0] % 24;
    const std::string path = ovfuzz::ScratchDir() + "/read.ini";
    ovfuzz::WriteAll(path, data + 1, size - 1);

    std::vector<char> buf(small);
    std::vector<char> big(4096);
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buf.data(), small, path.c_str());
    Names(buf.data(), n, small);
    n = GetPrivateProfileStringA(nullptr, nullptr, "", big.data(), 4096, path.c_str());
    // Every call reads the file again: a few sections and keys are enough, and
    // keep one input's time bounded.
    std::vector<std::string> sections = Names(big.data(), n, 4096);
    sections.resize(std::min<std::size_t>(sections.size(), 8));
    for (const std::string& section : sections) {
        std::vector<char> keys(4096);
        DWORD k = GetPrivateProfileStringA(section.c_str(), nullptr, "", keys.data(), 4096, path.c_str());
        std::vector<std::string> names = Names(keys.data(), k, 4096);
        names.resize(std::min<std::size_t>(names.size(), 8));
        for (const std::string& key : names) {
            DWORD v = GetPrivateProfileStringA(section.c_str(), key.c_str(), "def", buf.data(), small,
                                               path.c_str());
            ovfuzz::Check(v < small && buf[v] == '\0');
            GetPrivateProfileIntA(section.c_str(), key.c_str(), 0, path.c_str());
            std::string whole;
            GetPrivateProfileLongString(section, key, "", &whole, path);
        }
        std::vector<std::pair<std::string, std::string>> pairs;
        ov::ReadProfileSection(section.c_str(), path.c_str(), &pairs);
    }
    std::vector<unsigned> ids;
    std::string list;
    if (GetPrivateProfileLongString("DocInfo", "PageIDList", "", &list, path))
        GetListIDFromString(list.c_str(), &ids);
    return 0;
}
