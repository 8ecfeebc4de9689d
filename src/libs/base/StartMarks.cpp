// SPDX-License-Identifier: AGPL-3.0-or-later
#include "base/StartMarks.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

bool Enabled() {
    static const bool s_bOn = [] {
        const char* value = std::getenv("ORMAVIEW_REPORT_START");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return s_bOn;
}

}  // namespace

void ov::StartMark(const char* pszWhat) {
    if (!Enabled())
        return;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    static std::mutex s_mutex;
    static std::set<std::string> s_seen;
    std::lock_guard<std::mutex> lock(s_mutex);
    if (!s_seen.insert(pszWhat).second)
        return;
    std::fprintf(stderr, "ORMAVIEW_MARK %s %lld %lld\n", pszWhat,
                 static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec,
                 static_cast<long long>(cpu.tv_sec) * 1000000000LL + cpu.tv_nsec);
    std::fflush(stderr);
}
