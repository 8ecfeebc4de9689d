// SPDX-License-Identifier: AGPL-3.0-or-later
// The text rules of the postcard edit pane without a window: the memo filter,
// the lot-number form, and the byte limit of a field applied to
// an insertion.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "editpane/HagakiText.h"
#include "support/EnvGuard.h"
#include "win32/CodePage.h"

namespace {

constexpr auto J = ovtest::Sj;  // CP932 of UTF-8 test text

TEST(MemoFilter, LineBreaksLimitAndCaret) {
    const std::string a100(100, 'a');
    const std::string kanji99 = [] {
        std::string s;
        for (int i = 0; i < 99; ++i) s += J("漢");
        return s;
    }();
    struct Case {
        std::string text;
        int maximum;
        int caretIn;
        std::string expected;
        int caretOut;
    };
    const Case cases[] = {
        // Pasted "ab", CR, LF, "cd" with the caret after it: four letters, caret after the last.
        {"ab\r\ncd", 201, 6, "abcd", 4},
        {a100 + a100 + "xyz", 201, 203, a100 + a100, 200},  // 200 bytes kept, caret within
        // 99 double-byte characters and a letter: one more would straddle the limit.
        {"x" + kanji99 + J("字字"), 201, 0, "x" + kanji99, 0},  // 199 bytes: never half a character
        {"no limit\r\n", 0, 10, "no limit", 8},
        {"ab", 201, -4, "ab", 0},  // a caret outside the text is kept inside
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ov::Cp932ToUtf8Lossy(c.text));
        int caret = c.caretIn;
        EXPECT_EQ(FilterText(c.text.c_str(), c.maximum, &caret), c.expected);
        EXPECT_EQ(caret, c.caretOut);
        EXPECT_EQ(FilterText(c.text.c_str(), c.maximum, nullptr), c.expected);
    }
    EXPECT_EQ(FilterText(nullptr, 201, nullptr), "");
}

TEST(LotNumber, WellFormedOnlyWithOneKumiAndElevenLettersOrDigits) {
    const std::pair<std::string, bool> cases[] = {
        {J("組12345678901"), true},
        {"", false},
        {J("12組34567890"), false},   // 12 bytes
        {J("1組組345678"), false},    // two of them
        {J("12組３4567890"), false},  // another full-width character (13 bytes with it)
        {std::string("12\x91\x67") + "34567890\x91", false},  // a lead byte at the end
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(ov::Cp932ToUtf8Lossy(text));
        EXPECT_EQ(IsValidNumber(text) != 0, valid);
    }
}

TEST(FieldInput, LimitCutsTheInsertionAndRulesRefuseIt) {
    struct Case {
        const char* name;
        std::string before, after;
        FieldRule rule;
        FieldInput expected;
        std::string result;  // on Cut
        int caret;           // on Cut
        int caretIn = -1;    // the caret after the change, if known
    };
    // clang-format off
    const Case cases[] = {
        {"typed over the limit", "abcd", "abXcd", {4, false}, FieldInput::Refused, "", 0},
        {"paste cut where it was made", "ab", "aXYZb", {4, false}, FieldInput::Cut, "aXYb", 3},
        {"double-byte never split", "ab", "a" + J("漢字") + "b", {5, false}, FieldInput::Cut, "a" + J("漢") + "b", 3},
        {"double-byte that does not fit", "abc", "ab" + J("漢") + "c", {4, false}, FieldInput::Refused, "", 0},
        {"removing is always allowed", std::string(30, 'a'), std::string(29, 'a'), {4, false}, FieldInput::Accepted, "", 0},
        {"full-width digit in the year", "20", "20" + J("２"), {4, true}, FieldInput::Refused, "", 0},
        {"paste before the same text, caret known", "ab", "abab", {3, false}, FieldInput::Cut, "aab", 1, 2},
        {"paste before the same text, no caret", "ab", "abab", {3, false}, FieldInput::Cut, "aba", 3},
        {"caret that does not fit the change", "abc", "abXc", {3, false}, FieldInput::Refused, "", 0, 1},
        {"caret inside a double-byte character", "ab", "a" + J("漢") + "b", {3, false}, FieldInput::Refused, "", 0, 2},
        {"double-byte inserted between equal ones", J("漢漢"), J("漢字漢"), {6, false}, FieldInput::Accepted, "", 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string result = "untouched";
        int caret = c.caretIn;
        EXPECT_EQ(ApplyFieldInput(c.before, c.after, c.rule, &result, &caret), c.expected);
        if (c.expected == FieldInput::Cut) {
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(caret, c.caret);
            EXPECT_LE(result.size(), static_cast<std::size_t>(c.rule.iLimit));
        } else {
            EXPECT_EQ(result, "untouched");
        }
    }
}

TEST(FieldBytes, ShownWithReplacementsAndKeptUntilChanged) {
    const std::string F = "\xEF\xBF\xBD";  // U+FFFD
    const std::string junk =
                          "\xff\xfe\x80\xa0"
                          "abc\xfd",
                      yamada = J("山田") + "\x82";
    // What is shown, and whether it encodes back to the same bytes.
    const std::tuple<std::string, std::string, bool> shown[] = {
        {junk, F + F + F + F + "abc" + F, false},
        {yamada, "山田" + F, false},         // a lone lead byte at the end
        {"\xED\x40\x87\x90", "纊≒", false},  // NEC-selected codes encode to other codes
        {"a\x82\x40"
         "b\x82"
         "1",
         "a" + F + "b" + F + "1", false},  // unmapped pair; lead byte without trail
        {J("漢a"), "漢a", true},
    };
    for (const auto& [bytes, text, exact] : shown) {
        bool bExact = !exact;
        EXPECT_EQ(ov::Cp932ToUtf8Shown(bytes, nullptr, &bExact), text);
        EXPECT_EQ(bExact, exact) << text;
    }
    const std::string memo2000 = [] {
        std::string s;
        for (int i = 0; i < 500; ++i) s += J("メモ");
        return s;
    }();
    struct Case {
        const char* name;
        std::string stored;
        std::optional<std::string> now;  // nullopt: as shown, not changed
        int limit;
        std::string bytes;
        int code = 0;
    };
    // clang-format off
    const Case cases[] = {
        {"undecodable, unchanged", junk, std::nullopt, 100, junk},
        {"over the limit, unchanged", memo2000, std::nullopt, 200, memo2000},
        {"NEC-selected, changed: canonical codes", "\xED\x40\x87\x90", "纊≒x", 40, "\xFA\x5C\x81\xE0x"},
        {"replacements put back around an edit", junk, F + F + F + F + "xyz" + F, 100, "\xff\xfe\x80\xa0xyz\xfd"},
        {"lone lead byte kept at the end", yamada, "田" + F, 100, J("田") + "\x82"},
        {"put-back byte would join the new text", yamada, "山田" + F + "A", 100, yamada, kFieldLostUndecoded},
        {"replacement typed in", "ab", "a" + F + "b", 100, "ab", kFieldLostUndecoded},
        {"replacement in the changed middle", "a\xff" "b\xfe" "c", F + "x", 100, "a\xff" "b\xfe" "c", kFieldLostUndecoded},
        {"not CP932", "ab", "a\xF0\x9F\x98\x80", 100, "ab", kFieldNotCp932},
        {"line breaks dropped", "ab", "a\r\nb\n", 100, "ab"},
        {"cut to the limit", "m", std::string(250, 'm'), 200, std::string(200, 'm')},
        {"double-byte never split by the cut", "m", std::string(199, 'm') + "漢", 200, std::string(199, 'm')},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CFieldValue loaded = LoadFieldValue(c.stored);
        std::string bytes = "untouched";
        EXPECT_EQ(
            FieldBytesOnSave(loaded, c.now.value_or(loaded.strShownUtf8), c.now.has_value(), c.limit, &bytes),
            c.code);
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST(FieldInput, PositionsInCharactersAndBytes) {
    const std::string text = "a" + J("漢") + "b" + J("字");  // bytes: 1, 2, 1, 2
    const std::pair<int, int> bytesToChars[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 3}, {6, 4}, {99, 4}};
    for (const auto& [bytes, chars] : bytesToChars) EXPECT_EQ(CharsBeforeByte(text, bytes), chars) << bytes;
    const std::pair<int, int> charsToBytes[] = {{0, 0}, {1, 1}, {2, 3}, {3, 4}, {4, 6}, {9, 6}};
    for (const auto& [chars, bytes] : charsToBytes) EXPECT_EQ(BytesBeforeChar(text, chars), bytes) << chars;
}

}  // namespace
