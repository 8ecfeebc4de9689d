// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's command line, without any GUI: splitting, the postcard-mode test
// and the start parameters. Text is CP932.
#pragma once

#include <string>
#include <vector>

#include "base/WinTypes.h"

namespace ov {

// The raw command line from argv[1..]: arguments joined with single spaces, each
// argument that holds a space, is empty or is only white space wrapped in double
// quotes (so that it keeps its place). Arguments are converted from UTF-8 to
// CP932; false when one cannot be.
bool JoinArgv(int argc, const char* const* argv, std::string* cmdLine);

// True when the raw command line begins with "/h" and one space, any case.
BOOL IsHagakiCommandLine(const std::string& cmdLine);

// Cuts the first parameter off the line (which has no white space at either end).
// 0, or -2 for an unmatched or empty quoted parameter.
int GetNextPara(std::string& strCmdLine, std::string& strPara);
// Splits the whole line. 0, -2 (syntax, with its trace line) or -1/-4/-5.
int SplitCommandLine(std::string strCmdLine, std::vector<std::string>* pArray);

// The parameters the viewer starts with.
struct StartParams {
    BOOL bHagakiMode = FALSE;
    int iHagakiManageKey = 0;
    std::string strWorkDeskFolder;
    int iDocID = 0;
    int iPageID = 0;
};

// Splits the command line and reads the parameters of the mode (atoi rules).
// 0, or -2 with "Parameter Error! [lpCmdLine] %s\n" when too few are given, or the
// result of SplitCommandLine.
int ParseStartParams(const std::string& cmdLine, StartParams* params);

// atoi as the C library has it (leading white space, sign, digits; else 0).
// Values beyond the range of int are clamped.
int AtoI(const std::string& s);

// The texts printed for --help and --version (ASCII).
std::string UsageText();
std::string VersionText();

}  // namespace ov
