// SPDX-License-Identifier: AGPL-3.0-or-later
#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "base/ErrorCodes.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "ormamsg/StringTable.h"
#include "win32/CodePage.h"

#ifndef ORMAVIEW_VERSION
#define ORMAVIEW_VERSION "0.1.0"
#endif

namespace ov {

namespace {

// White space as the string trimming of the framework knows it.
bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void TrimLeft(std::string& s) {
    std::size_t n = 0;
    while (n < s.size() && IsWhite(s[n])) ++n;
    s.erase(0, n);
}

void TrimRight(std::string& s) {
    while (!s.empty() && IsWhite(s.back())) s.pop_back();
}

// The splitter's guard: like the common guard, but each handler first writes a
// location-free line naming the place, and the last one has no error number.
template <class Body>
int SplitterGuard(const char* file, int line, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        OV_TRACE_TEXT("CMemoryException Occurred! : %s(%d)", file, line);
        ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "CMemoryException Occurred!\n");
        return ov::kErrNoMemory;
    } catch (const FrameworkException& e) {
        char szMessage[MAX_PATH] = {};
        e.GetErrorMessage(szMessage, sizeof(szMessage));
        OV_TRACE_TEXT("CException Occurred! : %s(%d) [Err]%s", file, line, szMessage);
        ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "CException Occurred! [Message] %s\n",
                     szMessage);
        return ov::kErrFramework;
    } catch (...) {
        OV_TRACE_TEXT("UnException Error Occurred! : %s(%d)", file, line);
        ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "UnException Occurred!\n");
        return ov::kErrException;
    }
}

}  // namespace

bool JoinArgv(int argc, const char* const* argv, std::string* cmdLine) {
    if (cmdLine == nullptr)
        return false;
    cmdLine->clear();
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (argv == nullptr || argv[i] == nullptr)
            return false;
        auto arg = Utf8ToCp932(argv[i]);
        if (!arg)
            return false;
        if (i > 1)
            line += ' ';
        // An empty argument, or one that holds white space, keeps its place only in
        // quotes: unquoted, the splitting would drop it and shift the parameters after it.
        if (arg->empty() || std::any_of(arg->begin(), arg->end(), IsWhite)) {
            line += '"';
            line += *arg;
            line += '"';
        } else {
            line += *arg;
        }
    }
    *cmdLine = std::move(line);
    return true;
}

BOOL IsHagakiCommandLine(const std::string& cmdLine) {
    return cmdLine.size() >= 3 && cmdLine[0] == '/' && (cmdLine[1] == 'h' || cmdLine[1] == 'H') &&
                   cmdLine[2] == ' '
               ? TRUE
               : FALSE;
}

int GetNextPara(std::string& strCmdLine, std::string& strPara) {
    if (!strCmdLine.empty() && strCmdLine[0] == '"') {
        std::size_t close = strCmdLine.find('"', 1);
        if (close == std::string::npos)
            return ov::kErrSilentParameter;
        strPara = strCmdLine.substr(1, close - 1);
        if (strPara.empty())
            return ov::kErrSilentParameter;
        strCmdLine.erase(0, close + 1);
        return 0;
    }
    std::size_t space = strCmdLine.find(' ');
    if (space == std::string::npos) {
        strPara = strCmdLine;
        strCmdLine.clear();
    } else {
        strPara = strCmdLine.substr(0, space);
        strCmdLine.erase(0, space);
    }
    return 0;
}

int SplitCommandLine(std::string strCmdLine, std::vector<std::string>* pArray) {
    return SplitterGuard(__FILE__, __LINE__, [&]() -> int {
        if (pArray == nullptr)
            throw std::invalid_argument("SplitCommandLine: no array");
        pArray->clear();
        std::string strPara;
        while (!strCmdLine.empty()) {
            TrimLeft(strCmdLine);
            TrimRight(strCmdLine);
            // A line of nothing but white space ends here with no parameter.
            if (strCmdLine.empty())
                break;
            strPara.clear();
            if (GetNextPara(strCmdLine, strPara) != 0) {
                OV_TRACE("GetNextPara() Error! [strCmdLine] %s [strPara] %s\n", strCmdLine.c_str(),
                         strPara.c_str());
                return ov::kErrSilentParameter;
            }
            pArray->push_back(strPara);
        }
        return 0;
    });
}

int ParseStartParams(const std::string& cmdLine, StartParams* params) {
    *params = StartParams{};
    if (!cmdLine.empty())
        params->bHagakiMode = IsHagakiCommandLine(cmdLine);
    std::vector<std::string> paras;
    int result = SplitCommandLine(cmdLine, &paras);
    if (result != 0)
        return result;
    if (params->bHagakiMode) {
        if (paras.size() >= 2) {
            params->iHagakiManageKey = AtoI(paras[1]);
            return 0;
        }
    } else if (paras.size() >= 3) {
        params->strWorkDeskFolder = paras[0];
        params->iDocID = AtoI(paras[1]);
        params->iPageID = AtoI(paras[2]);
        return 0;
    }
    OV_TRACE("Parameter Error! [lpCmdLine] %s\n", cmdLine.c_str());
    return ov::kErrSilentParameter;
}

int AtoI(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    long long n = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (n <= static_cast<long long>(INT_MAX) + 1)
            n = n * 10 + (s[i] - '0');
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

std::string ShortUsageText() {
    return LoadResText(IDS_USAGE);
}

std::string UsageText() {
    return ShortUsageText() + LoadResText(IDS_HELP);
}

std::string UsageHintText() {
    return ShortUsageText() + LoadResText(IDS_TRY_HELP);
}

namespace {

std::string Quoted(const std::string& cp932) {
    return "\"" + Cp932ToUtf8Lossy(cp932) + "\"";
}

// A document ID, page ID or key as atoi reads it: a number of 1 or more.
bool IsPositiveNumber(const std::string& s) {
    return AtoI(s) >= 1;
}

// A text of the string table in the current language, its %s filled in order.
template <class... Args>
std::string Text(UINT id, const Args&... args) {
    const std::string format = LoadResText(id);
    if constexpr (sizeof...(Args) == 0) {
        return format;
    } else {
        const int n = std::snprintf(nullptr, 0, format.c_str(), args.c_str()...);
        if (n <= 0)
            return format;
        std::string text(static_cast<std::size_t>(n) + 1, '\0');
        std::snprintf(text.data(), text.size(), format.c_str(), args.c_str()...);
        text.resize(static_cast<std::size_t>(n));
        return text;
    }
}

}  // namespace

StartProblem DescribeArgvProblem(int argc, const char* const* argv) {
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        unsigned codePoint = 0;
        const std::string ch = FirstCharNotInCp932(argv[i], &codePoint);
        if (ch.empty())
            continue;
        char szCode[16] = {};
        if (codePoint != 0)
            std::snprintf(szCode, sizeof szCode, " (U+%04X)", codePoint);
        return {Text(i == 1 ? IDS_CMD_FOLDER_CP932 : IDS_CMD_ARGUMENT_CP932, std::string(argv[i]), ch,
                     std::string(szCode)),
                false};
    }
    return {};
}

StartProblem DescribeCommandLineProblem(const std::string& cmdLine) {
    std::vector<std::string> paras;
    // Splitting again only to explain: the trace lines of the start are written.
    std::string strLine = cmdLine;
    std::string strPara;
    bool bSyntax = false;
    while (!strLine.empty()) {
        TrimLeft(strLine);
        TrimRight(strLine);
        if (strLine.empty())
            break;
        strPara.clear();
        if (GetNextPara(strLine, strPara) != 0) {
            bSyntax = true;
            break;
        }
        paras.push_back(strPara);
    }
    if (!paras.empty() && paras[0].size() > 1 && paras[0][0] == '-')
        return {Text(IDS_CMD_UNKNOWN_OPTION, Quoted(paras[0])), true};
    if (bSyntax) {
        if (strLine.size() >= 2 && strLine[0] == '"' && strLine[1] == '"')
            return {Text(IDS_CMD_EMPTY_QUOTES), true};
        return {Text(IDS_CMD_OPEN_QUOTE, Cp932ToUtf8Lossy(strLine)), true};
    }
    if (paras.size() == 1 && (paras[0] == "/h" || paras[0] == "/H"))
        return {Text(IDS_CMD_NO_KEY), true};
    if (IsHagakiCommandLine(cmdLine)) {
        if (paras.size() < 2)
            return {Text(IDS_CMD_NO_KEY), true};
        // Key 0 (what atoi makes of a word) is refused before any box, like the
        // other mistakes of the line itself.
        if (!IsPositiveNumber(paras[1]))
            return {Text(IDS_CMD_BAD_KEY, Quoted(paras[1])), true};
        return {};
    }
    static const UINT kNames[] = {IDS_PARAM_FOLDER, IDS_PARAM_DOC_ID, IDS_PARAM_PAGE_ID};
    if (paras.size() < 3) {
        std::string missing;
        for (std::size_t i = paras.size(); i < 3; ++i)
            missing += (missing.empty() ? "" : " ") + LoadResText(kNames[i]);
        return {Text(3 - paras.size() > 1 ? IDS_CMD_MISSING_MORE : IDS_CMD_MISSING_ONE, missing), true};
    }
    // A document or page ID below 1 is refused by the frame with its box.
    if (!IsPositiveNumber(paras[1]))
        return {Text(IDS_CMD_BAD_DOC_ID, Quoted(paras[1])), false};
    if (!IsPositiveNumber(paras[2]))
        return {Text(IDS_CMD_BAD_PAGE_ID, Quoted(paras[2])), false};
    return {};
}

std::string StartFailedText() {
    return Text(IDS_CMD_FAILED);
}

std::string VersionText() {
    return std::string("ormaview ") + ORMAVIEW_VERSION + "\n";
}

}  // namespace ov
