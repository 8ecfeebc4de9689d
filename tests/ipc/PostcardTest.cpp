// SPDX-License-Identifier: AGPL-3.0-or-later
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "IpcTestUtil.h"
#include "ipc/OrmaViewDll.h"

namespace {

using namespace ipctest;

TEST_F(IpcTest, BlockIsCopiedWholeAndDamageIsRefused) {
    HAGAKI_MANAGE_INFO in, out;
    for (size_t i = 0; i < sizeof in; ++i)
        reinterpret_cast<unsigned char*>(&in)[i] = static_cast<unsigned char>(i * 7 + 1);
    std::strcpy(in.szWorkDeskFolder, "/wd/\x83\x5c");  // CP932 text with a 0x5C trail byte
    ASSERT_EQ(OrmaViewSetHagakiManage(12, &in), 0);
    ASSERT_EQ(OrmaViewGetHagakiManage(12, &out), 0);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);  // reserved bytes and all
    const std::string path = Runtime() + "/hagaki-12.blk", bytes = ovtest::ReadFile(path);
    EXPECT_EQ(bytes.size(), 352u);
    EXPECT_EQ(OrmaViewGetHagakiManage(-12, &out), ORMAVIEW_DLL_NO_BLOCK);  // keys are separate
    EXPECT_EQ(errno, ENOENT);

    // Short, empty, long, or with a folder text that lacks its NUL (readers would
    // run past the block): refused, and the caller's copy is left alone.
    std::string unterminated = bytes;
    std::memset(unterminated.data() + 44, 'a', 260);
    std::memset(&out, 0xAB, sizeof out);
    const HAGAKI_MANAGE_INFO untouched = out;
    for (const std::string& damaged : {bytes.substr(0, 100), std::string(), bytes + "x", unterminated}) {
        ovtest::WriteFile(path, damaged);
        EXPECT_EQ(OrmaViewGetHagakiManage(12, &out), ORMAVIEW_DLL_BAD_BLOCK) << damaged.size();
        EXPECT_EQ(errno, EBADMSG);
        EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
    }
    std::memcpy(&in, unterminated.data(), sizeof in);
    EXPECT_EQ(OrmaViewSetHagakiManage(12, &in), ORMAVIEW_DLL_BAD_ARGUMENT);
    EXPECT_EQ(OrmaViewSetHagakiManage(12, nullptr), ORMAVIEW_DLL_BAD_ARGUMENT);
    EXPECT_EQ(OrmaViewGetHagakiManage(12, nullptr), ORMAVIEW_DLL_BAD_ARGUMENT);
    ASSERT_EQ(OrmaViewRemoveHagakiManage(12), 0);
    EXPECT_EQ(OrmaViewGetHagakiManage(12, &out), ORMAVIEW_DLL_NO_BLOCK);
    EXPECT_EQ(OrmaViewRemoveHagakiManage(12), ORMAVIEW_DLL_NO_BLOCK);
}

// A FIFO in the place of a postcard block or of a window's registry entry is
// refused at once (the alarm ends a test that would wait).
TEST_F(IpcTest, FifoInPlaceOfABlockOrARegistryEntryIsNeverWaitedOn) {
    // The runtime folder and its window folder made as the viewer makes them.
    HAGAKI_MANAGE_INFO in{};
    ASSERT_EQ(OrmaViewSetHagakiManage(13, &in), 0);
    HelperWindow w(m_tmp, "OtherClass", "echo");
    const std::string block = Runtime() + "/hagaki-13.blk";
    const std::string entry = Runtime() + "/windows/4242.cls.FifoClass";
    ASSERT_EQ(::unlink(block.c_str()), 0);
    ASSERT_EQ(::mkfifo(block.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
    ::alarm(20);
    HAGAKI_MANAGE_INFO out;
    EXPECT_EQ(OrmaViewGetHagakiManage(13, &out), ORMAVIEW_DLL_STORAGE);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(FindWindowA("FifoClass", nullptr), 0u);
    ::alarm(0);
    ::unlink(block.c_str());
    ::unlink(entry.c_str());
}

}  // namespace
