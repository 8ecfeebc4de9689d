// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EnvGuard.h"
#include "app/CommandLine.h"
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

TEST(CommandLine, SplitsPlainQuotedAndGluedParameters) {
    EXPECT_EQ((Paras{"/wd", "12", "3"}), Split("/wd 12 3"));
    EXPECT_EQ((Paras{"/my work desk", "12", "3"}), Split("\"/my work desk\" 12 3"));
    EXPECT_EQ((Paras{"/my wd", "12", "3"}), Split("\"/my wd\"12 3"));  // glued after the closing quote
    EXPECT_EQ((Paras{"a\"b", "c"}), Split("a\"b c"));                  // a later quote is ordinary
    EXPECT_EQ((Paras{"a\tb", "c"}), Split(" \t a\tb   c \t\r\n"));     // tabs only trimmed at the ends
    EXPECT_EQ((Paras{Sj("デスク 1"), "5"}), Split("\"" + Sj("デスク 1") + "\" 5"));
    EXPECT_EQ(Paras{}, Split(""));
}

TEST(CommandLine, QuoteErrorsGiveMinusTwoWithTheirTraceLine) {
    ovtest::TraceCapture cap;
    Split("\"/wd 12 3", -2);
    EXPECT_TRUE(cap.Contains("GetNextPara() Error! [strCmdLine] \"/wd 12 3 [strPara] \n")) << cap.Text();
    cap.Clear();
    Split("\"\" 12 3", -2);
    EXPECT_TRUE(cap.Contains("GetNextPara() Error! [strCmdLine] \"\" 12 3 [strPara] \n")) << cap.Text();
    cap.Clear();
    Split("/wd 12 \"3", -2);  // an error after good parameters
    EXPECT_TRUE(cap.Contains("CommandLine.cpp("));

    std::string line = "\"abc\" rest", para;
    EXPECT_EQ(0, ov::GetNextPara(line, para));
    EXPECT_EQ("abc", para);
    EXPECT_EQ(" rest", line);
}

TEST(CommandLine, PostcardModeTest) {
    EXPECT_TRUE(ov::IsHagakiCommandLine("/h 12"));
    EXPECT_TRUE(ov::IsHagakiCommandLine("/H 7"));
    EXPECT_FALSE(ov::IsHagakiCommandLine("/h12"));
    EXPECT_FALSE(ov::IsHagakiCommandLine("/h"));
    EXPECT_FALSE(ov::IsHagakiCommandLine(" /h 1"));
    EXPECT_FALSE(ov::IsHagakiCommandLine("/h\t1"));
}

TEST(CommandLine, StartParameters) {
    ov::StartParams p;
    ASSERT_EQ(0, ov::ParseStartParams("\"/my wd\" 12 3 extra more", &p));
    EXPECT_FALSE(p.bHagakiMode);
    EXPECT_EQ("/my wd", p.strWorkDeskFolder);
    EXPECT_EQ(12, p.iDocID);
    EXPECT_EQ(3, p.iPageID);

    ASSERT_EQ(0, ov::ParseStartParams("/H 7 ignored", &p));
    EXPECT_TRUE(p.bHagakiMode);
    EXPECT_EQ(7, p.iHagakiManageKey);
    EXPECT_EQ("", p.strWorkDeskFolder);
    EXPECT_EQ(0, p.iDocID);

    ASSERT_EQ(0, ov::ParseStartParams("/h12 x 4", &p));  // standard mode with the folder "/h12"
    EXPECT_FALSE(p.bHagakiMode);
    EXPECT_EQ("/h12", p.strWorkDeskFolder);
    EXPECT_EQ(0, p.iDocID);  // not a number
    EXPECT_EQ(4, p.iPageID);

    ovtest::TraceCapture cap;
    EXPECT_EQ(-2, ov::ParseStartParams("/wd 12", &p));
    EXPECT_TRUE(cap.Contains("Parameter Error! [lpCmdLine] /wd 12\n"));
    EXPECT_EQ(-2, ov::ParseStartParams("/h ", &p));
    EXPECT_TRUE(cap.Contains("Parameter Error! [lpCmdLine] /h \n"));
    EXPECT_EQ(-2, ov::ParseStartParams("/h", &p));  // standard mode, one parameter
    EXPECT_EQ(-2, ov::ParseStartParams("", &p));
    EXPECT_EQ(-2, ov::ParseStartParams("\"\" 12 3", &p));
}

TEST(CommandLine, AtoiRules) {
    EXPECT_EQ(12, ov::AtoI("12"));
    EXPECT_EQ(12, ov::AtoI("  12abc"));
    EXPECT_EQ(-4, ov::AtoI("-4"));
    EXPECT_EQ(0, ov::AtoI("abc"));
    EXPECT_EQ(0, ov::AtoI(""));
    EXPECT_EQ(0, ov::AtoI("0x10"));
    EXPECT_EQ(2147483647, ov::AtoI("99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, ov::AtoI("-99999999999"));
}

TEST(CommandLine, JoinsArgv) {
    std::string line;
    const char* argv[] = {"ormaview", "/my wd", "12", "3"};
    ASSERT_TRUE(ov::JoinArgv(4, argv, &line));
    EXPECT_EQ("\"/my wd\" 12 3", line);
    const char* jp[] = {"ormaview", "/ワーク デスク", "1"};
    ASSERT_TRUE(ov::JoinArgv(3, jp, &line));
    EXPECT_EQ("\"" + Sj("/ワーク デスク") + "\" 1", line);
    const char* bad[] = {"ormaview", "\xF0\x9F\x98\x80"};
    EXPECT_FALSE(ov::JoinArgv(2, bad, &line));
    ASSERT_TRUE(ov::JoinArgv(1, argv, &line));
    EXPECT_EQ("", line);
}

TEST(CommandLine, HelpAndVersionTexts) {
    EXPECT_NE(std::string::npos, ov::UsageText().find("/h KEY"));
    EXPECT_EQ(0u, ov::VersionText().rfind("ormaview ", 0));
}
