// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/StartEnvironment.h"
#include "ormamsg/StringTable.h"
#include "support/EnvGuard.h"
#include "support/TestSupport.h"

using ovtest::Sj;
using Paras = std::vector<std::string>;

namespace {
Paras Split(const std::string& line, int expected = 0) {
    Paras out{"stale"};
    EXPECT_EQ(expected, ov::SplitCommandLine(line, &out)) << line;
    return out;
}
}  // namespace

TEST(CommandLine, SplitsQuotesGluedParametersAndQuoteErrors) {
    EXPECT_EQ((Paras{"/wd", "12", "3"}), Split("/wd 12 3"));
    EXPECT_EQ((Paras{"/my work desk", "12", "3"}), Split("\"/my work desk\" 12 3"));
    EXPECT_EQ((Paras{"/my wd", "12", "3"}), Split("\"/my wd\"12 3"));  // glued after the closing quote
    EXPECT_EQ((Paras{"a\tb", "c"}), Split(" \t a\tb   c \t\r\n"));     // tabs only trimmed at the ends
    EXPECT_EQ((Paras{Sj("デスク 1"), "5"}), Split("\"" + Sj("デスク 1") + "\" 5"));
    EXPECT_EQ(Paras{}, Split(""));

    // An open quote at the start is the viewer's explained mistake; one after good parameters too.
    for (const char* bad : {"\"\" 12 3", "/wd 12 \"3"}) Split(bad, -2);
}

TEST(CommandLine, PostcardModeAndStartParameters) {
    for (const char* yes : {"/h 12", "/H 7"}) EXPECT_TRUE(ov::IsHagakiCommandLine(yes)) << yes;
    for (const char* no : {"/h12", "/h", " /h 1", "/h\t1"}) EXPECT_FALSE(ov::IsHagakiCommandLine(no)) << no;
    // Line; postcard mode, key, folder, document and page. "/h12" is a folder, "x" not a number.
    const std::tuple<const char*, bool, int, const char*, int, int> cases[] = {
        {"\"/my wd\" 12 3 extra more", false, 0, "/my wd", 12, 3},
        {"/H 7 ignored", true, 7, "", 0, 0},
        {"/h12 x 4", false, 0, "/h12", 0, 4}};
    for (auto [line, hagaki, key, folder, doc, page] : cases) {
        ov::StartParams p;
        ASSERT_EQ(0, ov::ParseStartParams(line, &p)) << line;
        EXPECT_EQ(
            std::tuple(hagaki, key, std::string(folder), doc, page),
            std::tuple(p.bHagakiMode != 0, p.iHagakiManageKey, p.strWorkDeskFolder, p.iDocID, p.iPageID))
            << line;
    }
    // Missing parameters are the viewer's explained mistakes; these are the parser's own.
    ov::StartParams p;
    for (const char* bad : {"/h ", "\"\" 12 3"}) EXPECT_EQ(-2, ov::ParseStartParams(bad, &p)) << bad;
}

TEST(CommandLine, JoinsArgv) {
    std::string line = "stale";
    const char* argv[] = {"ormaview", "/my wd", "12", "3", "/ワーク デスク", "\xF0\x9F\x98\x80"};
    ASSERT_TRUE(ov::JoinArgv(1, argv, &line));
    EXPECT_EQ("", line);
    ASSERT_TRUE(ov::JoinArgv(5, argv, &line));
    EXPECT_EQ("\"/my wd\" 12 3 \"" + Sj("/ワーク デスク") + "\"", line);
    EXPECT_FALSE(ov::JoinArgv(6, argv, &line));  // no CP932 form

    // Empty or white-space arguments keep their place instead of shifting the rest.
    const char* gaps[] = {"ormaview", "/wd", "\t", "", "12", "3"};
    ASSERT_TRUE(ov::JoinArgv(6, gaps, &line));
    EXPECT_EQ("/wd \"\t\" \"\" 12 3", line);
    ov::StartParams p;
    EXPECT_EQ(-2, ov::ParseStartParams(line, &p));
}

// The translations themselves are checked with the string tables.
TEST(CommandLine, MistakesAreToldInOneLineWithTheUsageWhereItHelps) {
    SetCurrentResourceModule(nullptr);
    // Line; its one-line reason; whether the usage follows.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/h abc", "the postcard key \"abc\" is not a number of 1 or more", true},
        {"/wd", "missing parameters: DOCUMENT-ID PAGE-ID", true},
        {"/wd 12 0", "the page ID \"0\" is not a number of 1 or more", false},
        {"/h 9", "", false}};
    for (auto [line, text, usage] : cases) {
        const ov::StartProblem problem = ov::DescribeCommandLineProblem(line);
        EXPECT_EQ(text, problem.strText) << line;
        EXPECT_EQ(usage, problem.bUsage) << line;
    }
    const char* argv[] = {"ormaview", "/wd", "\xC3\x9C"};
    EXPECT_NE(std::string::npos, ov::DescribeArgvProblem(3, argv).strText.find("\"\xC3\x9C\" (U+00DC)"));
}

// The session bus is marked as absent only when none is named and no launcher
// could start one: a named bus, or a launcher on PATH, is left to the toolkit.
TEST(StartEnvironment, SessionBusMarkedAbsentOnlyWithoutBusAndLauncher) {
    if (::access("/usr/bin/dbus-launch", X_OK) == 0)
        GTEST_SKIP() << "a launcher is installed where the bus library looks first";
    ovtest::TempDir withLauncher, without;
    ovtest::WriteFile(withLauncher / "dbus-launch", "#!/bin/sh\n");
    ASSERT_EQ(::chmod((withLauncher / "dbus-launch").c_str(), 0755), 0);
    ovtest::WriteFile(without / "dbus-launch", "not a program");  // not executable
    const std::string pathWith = without.Path() + "::" + withLauncher.Path();
    const struct {
        const char* what;
        const char* address;
        std::string path;
        bool marked;
    } cases[] = {
        {"no bus, no launcher", nullptr, without.Path(), true},
        {"empty address, no launcher", "", without.Path() + ":", true},
        {"no bus, launcher after an empty entry", nullptr, pathWith, false},
        {"a bus named", "unix:path=/run/user/1/bus", without.Path(), false},
    };
    for (const auto& c : cases) {
        ovtest::EnvGuard bus("DBUS_SESSION_BUS_ADDRESS", c.address);
        ovtest::EnvGuard path("PATH", c.path.c_str());
        EXPECT_EQ(ov::MarkSessionBusAbsentWithoutLauncher(), c.marked) << c.what;
        const char* now = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        EXPECT_STREQ(c.marked ? "disabled:" : c.address, now) << c.what;
    }
}
