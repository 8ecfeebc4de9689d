// SPDX-License-Identifier: AGPL-3.0-or-later
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "IpcTestUtil.h"
#include "ipc/NamedMutex.h"
#include "ipc/OrmaViewDll.h"
#include "ipc/RuntimeDir.h"

namespace {

using namespace ipctest;

constexpr int kAlreadyExists = static_cast<int>(ERROR_ALREADY_EXISTS);

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Creates the mutex into *h and returns GetLastError(): 0 or ERROR_ALREADY_EXISTS.
int Create(HANDLE* h, const char* name = "OrmaView Mutex") {
    *h = CreateMutexA(nullptr, FALSE, name);
    EXPECT_NE(*h, nullptr);
    return GetLastError();
}

TEST_F(IpcTest, RuntimeFolderIsPrivateOrRefused) {
    mode_t old = ::umask(022);
    EXPECT_EQ(ov::ipc::RuntimeSubDir("windows"), Runtime() + "/windows");
    ::umask(old);
    EXPECT_EQ(ModeOf(Runtime()), 0700u);
    EXPECT_EQ(ModeOf(Runtime() + "/windows"), 0700u);

    std::string folder, why;
    ::chmod(Runtime().c_str(), 0755);
    EXPECT_EQ(ov::ipc::RuntimeDir(), "");
    EXPECT_EQ(errno, EPERM);
    EXPECT_FALSE(ov::ipc::CheckRuntimeDir(&folder, &why));
    EXPECT_EQ(folder + ": " + why, Runtime() + ": its mode is 0755, not 0700");
    ::chmod(Runtime().c_str(), 0700);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(Runtime().c_str(), 65534, 65534), 0);
        EXPECT_EQ(ov::ipc::RuntimeDir(), "");  // owned by somebody else
        EXPECT_FALSE(ov::ipc::CheckRuntimeDir(&folder, &why));
        EXPECT_EQ(why, "it belongs to another user (uid 65534)");
        ASSERT_EQ(::chown(Runtime().c_str(), 0, 0), 0);
    }
    ::rmdir((Runtime() + "/windows").c_str());
    ::rmdir(Runtime().c_str());
    // A link to a private folder is not the folder itself.
    ovtest::MakeDirs(m_tmp / "elsewhere");
    ::chmod((m_tmp / "elsewhere").c_str(), 0700);
    ASSERT_EQ(::symlink((m_tmp / "elsewhere").c_str(), Runtime().c_str()), 0);
    EXPECT_EQ(ov::ipc::RuntimeDir(), "");
    EXPECT_FALSE(ov::ipc::CheckRuntimeDir(&folder, &why));
    EXPECT_EQ(why, "it is a symbolic link");

    // Without a session runtime folder: a private one in the user's home, never
    // in a folder that others can write to.
    ovtest::EnvGuard home("HOME", (m_tmp / "home").c_str());
    ovtest::EnvGuard cache("XDG_CACHE_HOME", nullptr);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ovtest::EnvGuard xdg("XDG_RUNTIME_DIR", unset);
        const std::string want =
            m_tmp / "home/.cache/ormaview/run-" + ov::ipc::FileNameEscape(host).substr(0, 32);
        EXPECT_EQ(ov::ipc::RuntimeDir(), want);
        EXPECT_EQ(ModeOf(want), 0700u);
        EXPECT_EQ(ModeOf(m_tmp / "home/.cache/ormaview"), 0700u);
    }
}

// XDG_RUNTIME_DIR names a plain file, in which even root cannot make a folder.
TEST_F(IpcTest, UnusableRuntimeFolderGivesFailures) {
    ovtest::WriteFile(m_tmp / "file", "x");
    ovtest::EnvGuard xdg("XDG_RUNTIME_DIR", (m_tmp / "file").c_str());
    errno = 0;
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "OrmaView Mutex"), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(RegisterWindow("SomeClass", nullptr), 0u);
    errno = 0;  // an undelivered message must say so by errno, not only by its 0
    EXPECT_EQ(SendMessageA(12345, WM_CLOSE, 0, 0), 0);
    EXPECT_NE(errno, 0);
    HAGAKI_MANAGE_INFO info{};
    EXPECT_EQ(OrmaViewSetHagakiManage(7, &info), ORMAVIEW_DLL_STORAGE);
}

TEST_F(IpcTest, OneOfSimultaneousStartsHoldsTheMutexUntilKilled) {
    constexpr int kCount = 6;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < kCount; ++i)
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{BuildProgram(kHelper), "mutex", "OrmaView Mutex",
                                     m_tmp / ("out" + std::to_string(i)), m_tmp / "go"}));
    ovtest::WriteFile(m_tmp / "go", "");  // all of them start at once
    int holder = -1, exists = 0;
    for (int i = 0; i < kCount; ++i) {
        std::string result = WaitForFile(m_tmp / ("out" + std::to_string(i)));
        if (result == "held")
            holder = holder == -1 ? i : kCount;  // a second holder spoils it
        exists += result == "exists";
    }
    ASSERT_GE(holder, 0);
    ASSERT_LT(holder, kCount);
    EXPECT_EQ(exists, kCount - 1);

    HANDLE first, second;
    EXPECT_EQ(Create(&first), kAlreadyExists);
    CloseHandle(first);
    children[holder]->Signal(SIGKILL);
    EXPECT_EQ(children[holder]->Wait(), 128 + SIGKILL);
    SetLastError(kAlreadyExists);  // a stale value must not survive a successful create
    EXPECT_EQ(Create(&first), 0);  // freed by the kernel, though the others still run
    EXPECT_EQ(Create(&second), kAlreadyExists);
    EXPECT_FALSE(ReleaseMutex(second));  // it does not hold the name
    CloseHandle(second);
    EXPECT_TRUE(CloseHandle(first));
}

}  // namespace
