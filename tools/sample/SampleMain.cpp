// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-sample DIR [--long N]: writes a sample work desk into DIR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SampleWorkDesk.h"

namespace {
constexpr const char* kUsage = "usage: ormaview-sample DIR [--long N]\n";
constexpr const char* kHelp =
    "Writes a sample work desk into DIR (created when missing) and prints the\n"
    "command that opens it in the viewer.\n"
    "\n"
    "  --long N    also write document 9 with N pages (1 to 100000), for benchmarks\n"
    "  -h, --help  show this help and exit\n";
}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    int longPages = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--long") == 0 && i + 1 < argc) {
            longPages = std::atoi(argv[++i]);
            if (longPages < 1 || longPages > 100000) {
                std::fprintf(stderr, "--long wants a page count from 1 to 100000\n");
                return 2;
            }
        } else if (argv[i][0] != '-' && dir.empty()) {
            dir = argv[i];
        } else {
            dir.clear();
            break;
        }
    }
    if (dir.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    ovsample::SampleInfo info;
    if (!ovsample::WriteSampleWorkDesk(dir, longPages, &info))
        return 1;
    std::printf("Sample work desk written to %s\n", info.folder.c_str());
    std::printf("Open it with:\n  ormaview \"%s\" %d %d\n", info.folder.c_str(), info.firstDocId,
                info.firstPageId);
    if (longPages > 0)
        std::printf("Long document: ormaview \"%s\" 9 1\n", info.folder.c_str());
    return 0;
}
