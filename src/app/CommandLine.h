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

// The texts printed for --help and --version (UTF-8, in the language of the
// current resource module): the usage lists the keys, the environment and the
// exit statuses.
std::string UsageText();
std::string VersionText();
// The lines of the usage that start the help.
std::string ShortUsageText();
// What follows a command-line mistake: those lines and the hint at --help.
std::string UsageHintText();
// A failed start that neither a box nor the parameters explain.
std::string StartFailedText();

// A failed start told in one line on standard error (UTF-8, in the language of
// the current resource module, without the program's name and the newline), and
// whether the usage follows: a mistake in the parameters themselves.
struct StartProblem {
    std::string strText;
    bool bUsage = false;
};

// Why the arguments (argv[1..], UTF-8) cannot become a command line: the first
// one holding a character that CP932 cannot hold, naming the character. Empty
// text when all can.
StartProblem DescribeArgvProblem(int argc, const char* const* argv);

// Why the command line (CP932) did not start the viewer, as far as its own
// parameters tell: an option that is not known, missing parameters, an unclosed
// or empty quoted parameter, a document ID, page ID or postcard key that is not
// a number of 1 or more. Empty text when the parameters are not the reason. A
// document or page ID below 1 is told without the usage: the frame refuses it
// with a box.
StartProblem DescribeCommandLineProblem(const std::string& cmdLine);

}  // namespace ov
