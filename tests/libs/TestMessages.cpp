// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "support/EnvGuard.h"

using ovtest::EnvGuard;

namespace {
// The printf directives of a format, which both languages must share.
std::string Directives(const std::string& s) {
    std::string out;
    static const std::regex re("%[-+ #0-9.]*[a-zA-Z]");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        out += it->str();
    return out;
}
}  // namespace

TEST(OrmaMsg, MessagesAndStringTablesInBothLanguages) {
    using namespace ov;
    const std::vector<std::pair<int, int>> table = {{kErrBadParameter, 44},
                                                    {kErrNotFound, 17},
                                                    {kErrFolderNotMade, 24},
                                                    {-103, 24},
                                                    {kErrNoView, 41},
                                                    {kErrFolderMissing, 25},
                                                    {-101, 25},
                                                    {-20, 38},
                                                    {kErrNoMemory, 18},
                                                    {kErrSilentParameter, 0},
                                                    {0, 0},
                                                    {kErrRecordAfterMove, 42},
                                                    {kErrFramework, 42},
                                                    {kErrException, 42},
                                                    {kErrNotReplaced, 42},
                                                    {kErrMergeFailed, 42},
                                                    {kErrTurnFailed, 42},
                                                    {kErrRuntimeFolder, 46},
                                                    {7, 42}};
    for (auto [code, number] : table) EXPECT_EQ(number, ov::MessageNumberForCode(code)) << code;

    SetCurrentResourceModule(nullptr);
    std::vector<std::string> shown;
    ov::SetMessagePresenter(
        [&](const std::string& caption, const std::string& text, const std::string& informative, UINT style) {
            shown.push_back(caption + "|" + std::to_string(style) + "|" + text + "|" + informative);
            return 7;
        });
    ov::ClearMessageDetail();
    EXPECT_EQ(0, ShowErrorMessage(0));
    EXPECT_EQ(0, ShowErrorMessage(kErrSilentParameter));
    EXPECT_EQ(7, ShowErrorMessage(kErrBadParameter));
    // What the box is about: noted lines in order, each once, only for the next box.
    ov::NoteMessageDetail("File: /wd/Doc000012/Data/Data3.pdf");
    ov::NoteMessageDetail("");
    ov::NoteMessageDetail("page file is damaged: no objects found");
    ov::NoteMessageDetail("File: /wd/Doc000012/Data/Data3.pdf");
    EXPECT_EQ(7, ShowErrorMessage(-20));
    EXPECT_EQ("File: /wd/Doc000012/Data/Data3.pdf\npage file is damaged: no objects found",
              ov::LastMessageDetail());
    ov::NoteMessageDetail("File: /wd/gone.pdf");
    ov::ClearMessageDetail();
    EXPECT_EQ(7, ShowErrorMessage(kErrNoMemory));
    ov::SetMessagePresenter(nullptr);
    const std::string style = "Quilm-WorkArea|" + std::to_string(0x50010) + "|";
    EXPECT_EQ((std::vector<std::string>{
                  style + ov::MessageText(44) + "|",
                  style + ov::MessageText(38) +
                      "|File: /wd/Doc000012/Data/Data3.pdf\npage file is damaged: no objects found",
                  style + ov::MessageText(18) + "|"}),
              shown);

    SetCurrentResourceModule(nullptr);
    EnvGuard all("LC_ALL", nullptr), msg("LC_MESSAGES", "ja_JP.UTF-8"), lang("LANG", "C");
    HINSTANCE ja = GetResourceHandle(nullptr, 0);
    ASSERT_NE(nullptr, ja);
    for (UINT id :
         {128u,   57344u, 57346u, 57347u, 57348u, 57349u, 57350u, 57351u, 57352u, 57353u, 57354u, 57355u,
          57356u, 57357u, 57358u, 57359u, 57360u, 57361u, 57362u, 57363u, 57380u, 57381u, 57382u, 57383u}) {
        SetCurrentResourceModule(ja);
        const std::string jaText = LoadResString(id);
        SetCurrentResourceModule(nullptr);
        const std::string enText = LoadResString(id);
        EXPECT_FALSE(jaText.empty()) << id;
        EXPECT_FALSE(enText.empty()) << id;
        EXPECT_EQ(Directives(enText), Directives(jaText)) << id;  // formats take the same arguments
    }
    for (int number : {17, 18, 24, 25, 38, 41, 42, 44}) {  // messages written out in both languages
        SetCurrentResourceModule(nullptr);
        const std::string en = ov::MessageText(number);
        SetCurrentResourceModule(ja);
        EXPECT_GT(en.size(), 40u) << number;
        EXPECT_GT(ov::MessageText(number).size(), 40u) << number;
        EXPECT_NE(en, ov::MessageText(number)) << number;
    }
    FreeLibrary(ja);
    EXPECT_EQ(nullptr, GetCurrentResourceModule());
}
