// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <string>

#include "sennet/Sennet.h"
#include "support/EnvGuard.h"
#include "support/TestSupport.h"

using ovtest::EnvGuard;
using ovtest::Sj;

TEST(Trace, LineLayoutAndNullArguments) {
    ovtest::TraceCapture cap;
    TraceWrite("/wd/WorkDesk.dat", "OrmaView.exe", "/home/dev/src/document/OrmaViewDoc.cpp", 123,
               "InitDoc() Error! [PageID] %d\n", 7);
    TraceWriteText("/wd/WorkDesk.dat", "OrmaView.exe", "CMemoryException Occurred! : %s(%d)", "a.cpp", 9);
    const std::regex layout(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[\\d+\\] OrmaView\\.exe "
        "OrmaViewDoc\\.cpp\\(123\\) InitDoc\\(\\) Error! \\[PageID\\] 7\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[\\d+\\] OrmaView\\.exe "
        "CMemoryException Occurred! : a\\.cpp\\(9\\)\n");
    EXPECT_TRUE(std::regex_match(cap.Text(), layout)) << cap.Text();
    // CP932 text is written as UTF-8; bytes that do not convert stay visible.
    TraceWrite("", "OrmaView.exe", "x.cpp", 1, "[DocName] %s [Bad] %s\n", Sj("請求書").c_str(), "ab\x82");
    EXPECT_TRUE(cap.Contains("[DocName] 請求書 [Bad] ab\\x82\n"));

    errno = 1234;
    EXPECT_EQ(0, TraceWrite(nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(1234, errno) << "a trace call must leave the caller's error number alone";
}

TEST(Trace, ControlCharactersCannotForgeLines) {
    ovtest::TraceCapture cap;
    // A command-line argument that carries a line break and a fake line.
    TraceWriteText("", "OrmaView.exe", "[m_lpCmdLine] %s\n",
                   "/wd 1 \"2\n2026-01-01 00:00:00.000 [1] OrmaView.exe forged\r\t\x01\x7f\"");
    TraceWrite("", "OrmaView.exe\n", "a\nb.cpp", 5, "no break at the end %s", "\x80|\x1b[2J");
    const std::string text = cap.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_TRUE(
        cap.Contains("[m_lpCmdLine] /wd 1 \"2\\n2026-01-01 00:00:00.000 [1] OrmaView.exe "
                     "forged\\r\\t\\x01\\x7F\"\n"))
        << text;
    EXPECT_TRUE(cap.Contains("OrmaView.exe\\n a\\nb.cpp(5) no break at the end \\x80|\\x1B[2J\n")) << text;
}

TEST(Trace, FileIsRotatedAndBounded) {
    ovtest::TraceCapture cap;
    const std::string line(8 * 1024, 'x');
    for (int i = 0; i < 600; ++i) TraceWriteText(nullptr, "OrmaView.exe", "%d %s\n", i, line.c_str());
    struct stat st {};
    for (const char* suffix : {"", ".1", ".2", ".3"}) {
        ASSERT_EQ(0, ::stat((cap.Path() + suffix).c_str(), &st)) << suffix;
        EXPECT_LE(st.st_size, 1024 * 1024) << suffix;
    }
    EXPECT_FALSE(ovtest::Exists(cap.Path() + ".4"));
    // The newest line is in the live file, whole.
    EXPECT_TRUE(cap.Contains("599 " + line + "\n"));
}
