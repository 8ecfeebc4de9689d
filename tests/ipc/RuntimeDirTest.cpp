// SPDX-License-Identifier: AGPL-3.0-or-later
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "IpcTestUtil.h"
#include "ipc/NamedMutex.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/RuntimeDir.h"
#include "ipc/WindowManager.h"

namespace {

using ipctest::IpcTest;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST_F(IpcTest, RuntimeFolderIsCreatedPrivate) {
    mode_t old = ::umask(022);
    EXPECT_EQ(ov::ipc::RuntimeDir(), Runtime());
    EXPECT_EQ(ModeOf(Runtime()), 0700u);
    EXPECT_EQ(ov::ipc::RuntimeSubDir("windows"), Runtime() + "/windows");
    EXPECT_EQ(ModeOf(Runtime() + "/windows"), 0700u);
    ::umask(old);
}

TEST_F(IpcTest, RuntimeFolderFallsBackToTmpWithoutXdg) {
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(ov::ipc::RuntimeDir(), "/tmp/ormaview-" + std::to_string(::geteuid()));
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(ov::ipc::RuntimeDir(), "/tmp/ormaview-" + std::to_string(::geteuid()));
}

TEST_F(IpcTest, RuntimeFolderThatIsNotPrivateIsRefused) {
    ovtest::MakeDirs(Runtime());
    ::chmod(Runtime().c_str(), 0755);
    EXPECT_EQ(ov::ipc::RuntimeDir(), "");
    EXPECT_EQ(errno, EPERM);

    ::chmod(Runtime().c_str(), 0700);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(Runtime().c_str(), 65534, 65534), 0);
        EXPECT_EQ(ov::ipc::RuntimeDir(), "");  // owned by somebody else
    }
    ::rmdir(Runtime().c_str());

    // A link to a private folder is not the folder itself.
    ovtest::MakeDirs(m_tmp / "elsewhere");
    ::chmod((m_tmp / "elsewhere").c_str(), 0700);
    ASSERT_EQ(::symlink((m_tmp / "elsewhere").c_str(), Runtime().c_str()), 0);
    EXPECT_EQ(ov::ipc::RuntimeDir(), "");
}

// Every operation fails cleanly when the runtime folder cannot be used: here
// XDG_RUNTIME_DIR names a plain file (which even root cannot make a folder in).
TEST_F(IpcTest, UnusableRuntimeFolderGivesFailures) {
    ovtest::WriteFile(m_tmp / "file", "x");
    ::setenv("XDG_RUNTIME_DIR", (m_tmp / "file").c_str(), 1);

    errno = 0;
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "OrmaView Mutex"), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(RegisterWindow("SomeClass", nullptr), 0u);
    EXPECT_EQ(FindWindowA("SomeClass", nullptr), 0u);
    EXPECT_FALSE(IsWindow(12345));
    EXPECT_EQ(SendMessageA(12345, WM_CLOSE, 0, 0), 0);
    EXPECT_NE(errno, 0);

    HAGAKI_MANAGE_INFO info{};
    EXPECT_EQ(OrmaViewSetHagakiManage(7, &info), ORMAVIEW_DLL_STORAGE);
    EXPECT_EQ(OrmaViewGetHagakiManage(7, &info), ORMAVIEW_DLL_STORAGE);
    EXPECT_EQ(OrmaViewRemoveHagakiManage(7), ORMAVIEW_DLL_STORAGE);
}

TEST(FileNameEscapeTest, KeepsDistinctNamesDistinct) {
    EXPECT_EQ(ov::ipc::FileNameEscape("OrmaView Mutex"), "OrmaView%20Mutex");
    EXPECT_EQ(ov::ipc::FileNameEscape("a/../b"), "a%2F..%2Fb");
    EXPECT_NE(ov::ipc::FileNameEscape("a b"), ov::ipc::FileNameEscape("a_b"));
    EXPECT_NE(ov::ipc::FileNameEscape("a%20b"), ov::ipc::FileNameEscape("a b"));
}

}  // namespace
