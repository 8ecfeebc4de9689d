// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/EnvGuard.h"
#include "win32/CodePage.h"

using ovtest::Sj;

TEST(CodePage, ConversionsCharacterStepsAndCuts) {
    const std::string utf8 = "文書 ｶﾀｶﾅ ～ ① \\ ~";
    auto cp932 = ov::Utf8ToCp932(utf8);
    ASSERT_TRUE(cp932.has_value());
    EXPECT_EQ(utf8, ov::Cp932ToUtf8(*cp932).value());
    EXPECT_EQ(std::string("\x95\xB6\x8F\x91", 4), cp932->substr(0, 4));  // 文書
    EXPECT_FALSE(ov::Utf8ToCp932("\xC3\x28").has_value());               // broken UTF-8
    EXPECT_FALSE(ov::Utf8ToCp932("\xF0\x9F\x98\x80").has_value());       // no CP932 form
    EXPECT_EQ(std::string("a\0b", 3), ov::Cp932ToUtf8(std::string("a\0b", 3)).value());
    // The lossy form keeps what it can and shows the rest.
    EXPECT_EQ("文\\x82", ov::Cp932ToUtf8Lossy(Sj("文") + "\x82"));
    EXPECT_EQ("a\\x82 b", ov::Cp932ToUtf8Lossy("a\x82 b"));
    EXPECT_EQ("x\\xFDy", ov::Cp932ToUtf8Lossy("x\xFDy"));

    // Text; the character lengths from its start; the cut lengths at 0 to 4 bytes.
    // 0x80, 0xA0 and 0xFD-0xFF are one-byte; 0xA1-0xDF are half-width katakana.
    const struct {
        std::string text;
        std::vector<std::size_t> steps, cuts;
    } cases[] = {
        {"\x81\x40\x9F\xFC", {2, 2}, {0, 0, 2, 2, 4}},
        {"\x80\xA0\xFD\xFE", {1, 1, 1, 1}, {0, 1, 2, 3, 4}},
        {"\xFF\xA1\xDF\x82", {1, 1, 1, 1}, {0, 1, 2, 3, 4}},  // a lead byte at the end stands alone
        {"a\x82\xA0", {1, 2}, {0, 1, 1, 3, 3}},               // an exact fit at 3
        {"\x5C\x7F", {1, 1}, {0, 1, 2, 2, 2}},
        {"", {}, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ov::Cp932ToUtf8Lossy(c.text));
        std::vector<std::size_t> steps;
        for (std::size_t i = 0, n; (n = ov::Cp932CharLength(c.text, i)) != 0; i += n) steps.push_back(n);
        EXPECT_EQ(c.steps, steps);
        EXPECT_EQ(0u, ov::Cp932CharLength(c.text, c.text.size() + 1));
        for (std::size_t max = 0; max < c.cuts.size(); ++max)
            EXPECT_EQ(c.cuts[max], ov::Cp932CutLength(c.text, max)) << max;
    }
}

// Maps with the explicit length and a buffer of 4 x length + 1, as the edit pane does.
static std::string Map(const std::string& utf8, DWORD flags) {
    std::string src = Sj(utf8.c_str());
    std::string buf(4 * src.size() + 1, '\0');
    int n = LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, src.data(), static_cast<int>(src.size()), buf.data(),
                         static_cast<int>(buf.size()));
    return n == 0 ? "<fail>" : ov::Cp932ToUtf8(buf.substr(0, static_cast<std::size_t>(n))).value_or("<bad>");
}

TEST(CodePage, HalfAndFullWidthMappingAndBuffers) {
    // clang-format off
    const char* const half[][2] = {  // full width, half width
        {"ガギパポヴアー", "ｶﾞｷﾞﾊﾟﾎﾟｳﾞｱｰ"}, {"ＡＺａｚ０９！", "AZaz09!"}, {"　", " "}, {"カ", "ｶ"}};
    // clang-format on
    for (auto& c : half) {
        EXPECT_EQ(c[1], Map(c[0], LCMAP_HALFWIDTH));
        EXPECT_EQ(c[0], Map(c[1], LCMAP_FULLWIDTH));
    }
    EXPECT_EQ("組ｱ組", Map("組ア組", LCMAP_HALFWIDTH));  // 組 has no half-width form
    EXPECT_EQ("がｶﾞ", Map("がガ", LCMAP_HALFWIDTH));     // hiragana has no half-width form
    EXPECT_EQ("組１２３", Map("組123", LCMAP_FULLWIDTH));

    EXPECT_EQ(2, LCMapStringA(0x0800, LCMAP_HALFWIDTH, Sj("ＡＢ").c_str(), 4, nullptr, 0));  // size query
}

// The edges of the lead and trail byte ranges, and the exact-fit destination of
// the width mapping with the error each refusal leaves.
TEST(CodePage, EdgeBytesExactFitAndErrorCodes) {
    const std::pair<std::string, bool> bytes[] = {
        {"\x81\x40", true},  {"\x81\x7E", true},  {"\x81\x80", true},  {"\x81\xFC", true},
        {"\x9F\x40", true},  {"\xE0\x40", true},  {"\xFC\x40", true},  {"\x81\x3F", false},
        {"\x81\x7F", false}, {"\x81\xFD", false}, {"\x81", false},     {"\xA1", true},
        {"\xDF", true},      {"\x7F", true},      {"\xFD\x40", false}, {"\xFF", false},
    };
    for (const auto& [text, valid] : bytes) {
        SCOPED_TRACE(ov::Cp932ToUtf8Lossy(text));
        const auto utf8 = ov::Cp932ToUtf8(text);
        EXPECT_EQ(valid, utf8.has_value());
        if (utf8 && text != "\x81\x80" && text != "\xFC\x40") {  // no mapping back for every code
            EXPECT_EQ(text, ov::Utf8ToCp932(*utf8).value_or("<none>"));
        }
    }

    const std::string src = Sj("ｶﾞ");  // 2 bytes -> ガ, 2 bytes, 3 with the NUL
    for (int size = 1; size <= 4; ++size) {
        std::string buf(8, '\x7F');
        SetLastError(0);
        const int n = LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_FULLWIDTH, src.c_str(), -1, buf.data(), size);
        EXPECT_EQ(size >= 3 ? 3 : 0, n) << size;
        EXPECT_EQ(size >= 3 ? 0 : ENOBUFS, GetLastError()) << size;
        EXPECT_EQ(std::string(8 - size, '\x7F'), buf.substr(size)) << "written past a buffer of " << size;
        if (n == 3) {
            EXPECT_EQ(Sj("ガ"), std::string(buf.c_str()));
        }
    }
    const struct {
        const char* src;
        int len;
        DWORD flags;
        int err;
    } refusals[] = {{"ab\x82", 3, LCMAP_HALFWIDTH, EILSEQ},
                    {"a", 1, LCMAP_HALFWIDTH | LCMAP_FULLWIDTH, EINVAL},
                    {"a", 0, LCMAP_HALFWIDTH, EINVAL},
                    {"a", -2, LCMAP_HALFWIDTH, EINVAL}};
    for (const auto& r : refusals) {
        char buf[8];
        SetLastError(0);
        EXPECT_EQ(0, LCMapStringA(LOCALE_SYSTEM_DEFAULT, r.flags, r.src, r.len, buf, sizeof buf)) << r.len;
        EXPECT_EQ(r.err, GetLastError()) << r.len;
    }
}
