// SPDX-License-Identifier: AGPL-3.0-or-later
// What the benchmarks share: the clock, the median and the index-run document.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace ovbench {

// Milliseconds on the monotonic clock.
inline double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The median of the samples (the mean of the middle two for an even count); 0
// for none.
inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// A document folder of page 1, a run of n index sheets (IDs 2..n+1, flag 2 in
// their data files) and page n + 2; the two normal pages are copies of a sample
// page.
inline bool WriteIndexRunDocument(const std::string& folder, int n, const std::string& samplePdf) {
    std::filesystem::create_directories(folder + "/Data");
    std::string list = "1";
    for (int id = 2; id <= n + 2; ++id) list += "," + std::to_string(id);
    for (int id = 2; id <= n + 1; ++id) {
        FILE* f = std::fopen((folder + "/Data/Data" + std::to_string(id) + ".dat").c_str(), "wb");
        if (f == nullptr)
            return false;
        std::fputs("[PageInfo]\r\nPage1Flag=2\r\n", f);
        std::fclose(f);
    }
    std::error_code ec;
    for (int id : {1, n + 2})
        std::filesystem::copy_file(samplePdf, folder + "/Data/Data" + std::to_string(id) + ".pdf",
                                   std::filesystem::copy_options::overwrite_existing, ec);
    FILE* f = std::fopen((folder + "/Doc.dat").c_str(), "wb");
    if (f == nullptr)
        return false;
    std::fprintf(f,
                 "[DocInfo]\r\nPageTotal=2\r\nIndexTotal=%d\r\nDocName=Index run\r\nMaxPageID=%d\r\n"
                 "PageIDList=%s\r\n",
                 n, n + 2, list.c_str());
    std::fclose(f);
    return !ec;
}

}  // namespace ovbench
