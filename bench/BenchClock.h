// SPDX-License-Identifier: AGPL-3.0-or-later
// The clock and the median the benchmarks share.
#pragma once

#include <algorithm>
#include <chrono>
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

}  // namespace ovbench
