// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "support/EnvGuard.h"

using ovtest::EnvGuard;

namespace {
// The printf directives of a format.
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
    // clang-format off
    const std::pair<int, int> table[] = {
        {kErrBadParameter, 44}, {kErrNotFound, 17}, {kErrFolderNotMade, 24}, {-103, 24}, {kErrNoView, 41},
        {kErrFolderMissing, 25}, {-101, 25}, {-20, 38}, {kErrNoMemory, 18}, {kErrSilentParameter, 0}, {0, 0},
        {kErrRecordAfterMove, 42}, {kErrFramework, 42}, {kErrException, 42}, {kErrNotReplaced, 42},
        {kErrMergeFailed, 42}, {kErrTurnFailed, 42}, {kErrRuntimeFolder, 46}, {kErrNoPostcardKey, 47}, {7, 42}};
    // clang-format on
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

    // The Japanese formats take the arguments of the English ones; the command
    // line's texts (whole, UTF-8) are all translated.
    EnvGuard all("LC_ALL", nullptr), msg("LC_MESSAGES", "ja_JP.UTF-8"), lang("LANG", "C");
    HINSTANCE ja = GetResourceHandle(nullptr, 0);
    ASSERT_NE(nullptr, ja);
    std::vector<UINT> ids = {IDS_TITLE_FORMAT, IDS_POSTCARD_TITLE_FORMAT, IDS_POSTCARD_TITLE_NAME,
                             IDS_GOTO_LABEL,   IDS_TIP_PAGE_NUMBER,       IDS_PAGE_NUMBER_FORMAT};
    for (UINT id = IDS_USAGE; id <= IDS_PARAM_PAGE_ID; ++id) ids.push_back(id);
    for (UINT id : ids) {
        SetCurrentResourceModule(ja);
        const std::string jaText = LoadResText(id);
        SetCurrentResourceModule(nullptr);
        EXPECT_EQ(Directives(LoadResText(id)), Directives(jaText)) << id;
        EXPECT_TRUE(id < IDS_USAGE || (!jaText.empty() && jaText != LoadResText(id))) << id;
    }
    FreeLibrary(ja);
    EXPECT_EQ(nullptr, GetCurrentResourceModule());
}
