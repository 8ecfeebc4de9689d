// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "EnvGuard.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "tavrcllb/Tavrcllb.h"

using ovtest::EnvGuard;
using ovtest::Sj;

namespace {

struct Shown {
    std::string caption, text;
    UINT style;
};

// Installs a presenter that records the boxes, and the program's own language.
class Boxes {
public:
    Boxes() {
        ov::SetMessagePresenter([this](const std::string& c, const std::string& t, UINT s) {
            shown.push_back({c, t, s});
            return 7;
        });
        SetCurrentResourceModule(nullptr);
    }
    ~Boxes() {
        ov::SetMessagePresenter(nullptr);
        SetCurrentResourceModule(nullptr);
    }
    std::vector<Shown> shown;
};

std::string Directives(const std::string& s) {
    std::string out;
    static const std::regex re("%[-+ #0-9.]*[a-zA-Z]");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        out += it->str();
    return out;
}

}  // namespace

TEST(OrmaMsg, CodesMapToMessageNumbers) {
    const std::vector<std::pair<int, int>> table = {
        {-705, 44}, {-704, 17}, {-703, 24}, {-103, 24}, {-702, 41}, {-701, 25},
        {-101, 25}, {-20, 38},  {-1, 18},   {-2, 0},    {0, 0},     {-3, 42},
        {-4, 42},   {-5, 42},   {-707, 42}, {-204, 42}, {-543, 42}, {7, 42}};
    for (auto [code, number] : table) EXPECT_EQ(number, ov::MessageNumberForCode(code)) << code;
}

TEST(OrmaMsg, ShowErrorMessageUsesCaptionStyleAndText) {
    Boxes boxes;
    EXPECT_EQ(0, ShowErrorMessage(0));
    EXPECT_EQ(0, ShowErrorMessage(-2));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(7, ShowErrorMessage(-705));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Quilm-WorkArea", boxes.shown[0].caption);
    EXPECT_EQ(0x50010u, boxes.shown[0].style);
    EXPECT_EQ(ov::MessageText(44), boxes.shown[0].text);
}

TEST(OrmaMsg, EveryMessageHasTextInBothLanguages) {
    Boxes boxes;
    EnvGuard lang("LC_ALL", "ja_JP.UTF-8");
    for (int number : {17, 18, 24, 25, 38, 41, 42, 44}) {
        SetCurrentResourceModule(nullptr);
        const std::string en = ov::MessageText(number);
        SetCurrentResourceModule(GetResourceHandle(nullptr, 0));
        const std::string ja = ov::MessageText(number);
        EXPECT_GT(en.size(), 40u) << number;
        EXPECT_GT(ja.size(), 40u) << number;
        EXPECT_NE(en, ja) << number;
    }
}

TEST(StringTable, EnglishEntriesAndMissingIds) {
    SetCurrentResourceModule(nullptr);
    EXPECT_EQ("OrmaView\n\nOrmaVi\n\n\nOrmaView.Document\nOrmaVi Document", LoadResString(128));
    EXPECT_EQ("Quilm-WorkArea", LoadResString(57344));
    EXPECT_EQ("Close", LoadResString(57346));
    EXPECT_EQ("%s ( %d/%d )", LoadResString(57349));
    EXPECT_EQ("Show/Hide annotations", LoadResString(57354));
    EXPECT_EQ("Postalyn - %s", LoadResString(57363));
    EXPECT_EQ("", LoadResString(57345));
    EXPECT_EQ("", LoadResString(1));
}

TEST(StringTable, JapaneseModuleByLocale) {
    {
        EnvGuard all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr), lang("LANG", "en_US.UTF-8");
        EXPECT_EQ(nullptr, GetResourceHandle(nullptr, 0));
    }
    EnvGuard all("LC_ALL", nullptr), msg("LC_MESSAGES", "ja_JP.UTF-8"), lang("LANG", "C");
    HINSTANCE ja = GetResourceHandle(nullptr, 0);
    ASSERT_NE(nullptr, ja);
    SetCurrentResourceModule(ja);
    EXPECT_EQ(Sj("閉じる"), LoadResString(57346));
    for (UINT id : {128u,   57344u, 57346u, 57347u, 57348u, 57349u, 57350u, 57351u, 57352u, 57353u,
                    57354u, 57355u, 57356u, 57357u, 57358u, 57359u, 57360u, 57361u, 57362u, 57363u}) {
        SetCurrentResourceModule(ja);
        const std::string jaText = LoadResString(id);
        SetCurrentResourceModule(nullptr);
        const std::string enText = LoadResString(id);
        EXPECT_FALSE(jaText.empty()) << id;
        EXPECT_FALSE(enText.empty()) << id;
        EXPECT_EQ(Directives(enText), Directives(jaText)) << id;  // formats take the same arguments
    }
    SetCurrentResourceModule(ja);
    FreeLibrary(ja);
    EXPECT_EQ(nullptr, GetCurrentResourceModule());
}

TEST(Tavrcllb, OpenAndCloseDoNothing) {
    EXPECT_EQ(0, TAVR_Open(9));
    EXPECT_EQ(0, TAVR_Close());
}
