// SPDX-License-Identifier: AGPL-3.0-or-later
#include <cerrno>
#include <cstring>
#include <string>

#include "IpcTestUtil.h"
#include "ipc/OrmaViewDll.h"

namespace {

using ipctest::IpcTest;

HAGAKI_MANAGE_INFO Patterned() {
    HAGAKI_MANAGE_INFO info;
    auto* bytes = reinterpret_cast<unsigned char*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    std::strcpy(info.szWorkDeskFolder, "/wd/\x83\x5c");  // CP932 text with a 0x5C trail byte
    return info;
}

TEST_F(IpcTest, BlockIsCopiedWholeInAndOut) {
    HAGAKI_MANAGE_INFO in = Patterned();
    ASSERT_EQ(OrmaViewSetHagakiManage(12, &in), 0);
    HAGAKI_MANAGE_INFO out;
    std::memset(&out, 0, sizeof out);
    ASSERT_EQ(OrmaViewGetHagakiManage(12, &out), 0);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);  // reserved bytes and all
    EXPECT_EQ(ovtest::ReadFile(Runtime() + "/hagaki-12.blk").size(), 352u);

    // Keys are separate; a rewrite replaces the block.
    EXPECT_EQ(OrmaViewGetHagakiManage(-12, &out), ORMAVIEW_DLL_NO_BLOCK);
    in.iResult = 5;
    ASSERT_EQ(OrmaViewSetHagakiManage(12, &in), 0);
    ASSERT_EQ(OrmaViewGetHagakiManage(12, &out), 0);
    EXPECT_EQ(out.iResult, 5);

    ASSERT_EQ(OrmaViewRemoveHagakiManage(12), 0);
    EXPECT_EQ(OrmaViewGetHagakiManage(12, &out), ORMAVIEW_DLL_NO_BLOCK);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(OrmaViewRemoveHagakiManage(12), ORMAVIEW_DLL_NO_BLOCK);
    EXPECT_EQ(OrmaViewGetHagakiManage(12, nullptr), ORMAVIEW_DLL_BAD_ARGUMENT);
    EXPECT_EQ(OrmaViewSetHagakiManage(12, nullptr), ORMAVIEW_DLL_BAD_ARGUMENT);
}

TEST_F(IpcTest, DamagedBlockIsRefusedAndLeavesTheCallersCopy) {
    HAGAKI_MANAGE_INFO good = Patterned();
    ASSERT_EQ(OrmaViewSetHagakiManage(3, &good), 0);
    std::string path = Runtime() + "/hagaki-3.blk";
    std::string bytes = ovtest::ReadFile(path);

    HAGAKI_MANAGE_INFO out;
    std::memset(&out, 0xAB, sizeof out);
    HAGAKI_MANAGE_INFO untouched = out;
    for (const std::string& damaged : {bytes.substr(0, 100), std::string(), bytes + "x"}) {
        ovtest::WriteFile(path, damaged);
        EXPECT_EQ(OrmaViewGetHagakiManage(3, &out), ORMAVIEW_DLL_BAD_BLOCK) << damaged.size();
        EXPECT_EQ(errno, EBADMSG);
        EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
    }

    // A folder text without its NUL would let readers run past the block.
    std::string unterminated = bytes;
    std::memset(unterminated.data() + 44, 'a', 260);
    ovtest::WriteFile(path, unterminated);
    EXPECT_EQ(OrmaViewGetHagakiManage(3, &out), ORMAVIEW_DLL_BAD_BLOCK);
    std::memcpy(&good, unterminated.data(), sizeof good);
    EXPECT_EQ(OrmaViewSetHagakiManage(3, &good), ORMAVIEW_DLL_BAD_ARGUMENT);
}

}  // namespace
