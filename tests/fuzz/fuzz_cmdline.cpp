// SPDX-License-Identifier: AGPL-3.0-or-later
// The command line: the joined text split and parsed, and argument vectors
// (NUL-separated input) joined and split back.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = ovfuzz::Text(data, size);
    const std::string line = text.substr(0, text.find('\0'));
    ov::StartParams params;
    ov::ParseStartParams(line, &params);
    ov::IsHagakiCommandLine(line);
    std::vector<std::string> parts;
    ov::SplitCommandLine(line, &parts);
    std::string rest = line, para;
    for (int i = 0; i < 64 && ov::GetNextPara(rest, para) == 0 && !rest.empty(); ++i) {
    }
    ov::AtoI(line);

    const std::vector<std::string> args = ovfuzz::Split(text, '\0');
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::string joined;
    if (ov::JoinArgv(static_cast<int>(argv.size()), argv.data(), &joined))
        ov::ParseStartParams(joined, &params);
    return 0;
}
