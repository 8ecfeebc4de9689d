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

// The boxes' caption, style and detail line are seen by the viewer's own tests;
// here what they cannot see: codes that show no box, a message number of each
// kind, detail that goes with one box only, formats that agree in both languages.
TEST(OrmaMsg, MessagesAndStringTablesInBothLanguages) {
    using namespace ov;
    const std::pair<int, int> table[] = {
        {kErrNotFound, 17}, {-103, 24}, {kErrSilentParameter, 0}, {0, 0}, {kErrRuntimeFolder, 46}, {7, 42}};
    for (auto [code, number] : table) EXPECT_EQ(number, ov::MessageNumberForCode(code)) << code;

    SetCurrentResourceModule(nullptr);
    std::vector<std::string> shown;
    ov::SetMessagePresenter(
        [&](const std::string&, const std::string& text, const std::string& informative, UINT) {
            shown.push_back(text + "|" + informative);
            return 7;
        });
    ov::ClearMessageDetail();
    EXPECT_EQ(0, ShowErrorMessage(0));
    EXPECT_EQ(0, ShowErrorMessage(kErrSilentParameter));
    // Noted lines in order, each once, only for the next box.
    for (const char* line : {"File: a.pdf", "", "damaged", "File: a.pdf"}) ov::NoteMessageDetail(line);
    EXPECT_EQ(7, ShowErrorMessage(-20));
    ov::NoteMessageDetail("File: gone.pdf");
    ov::ClearMessageDetail();
    EXPECT_EQ(7, ShowErrorMessage(kErrNoMemory));
    ov::SetMessagePresenter(nullptr);
    EXPECT_EQ(
        (std::vector<std::string>{ov::MessageText(38) + "|File: a.pdf\ndamaged", ov::MessageText(18) + "|"}),
        shown);

    // The Japanese formats take the arguments of the English ones; the command
    // line's texts (whole, UTF-8) are all translated.
    EnvGuard all("LC_ALL", nullptr), msg("LC_MESSAGES", "ja_JP.UTF-8"), lang("LANG", "C");
    HINSTANCE ja = GetResourceHandle(nullptr, 0);
    ASSERT_NE(nullptr, ja);
    std::vector<UINT> ids = {IDS_TITLE_FORMAT, IDS_POSTCARD_TITLE_FORMAT, IDS_POSTCARD_TITLE_NAME,
                             IDS_GOTO_LABEL,   IDS_TIP_PAGE_NUMBER,       IDS_PAGE_NUMBER_FORMAT};
    for (UINT id = IDS_USAGE; id <= IDS_START_NO_WINDOW; ++id) ids.push_back(id);
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
