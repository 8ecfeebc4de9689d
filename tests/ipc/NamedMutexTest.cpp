// SPDX-License-Identifier: AGPL-3.0-or-later
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "IpcTestUtil.h"
#include "ipc/NamedMutex.h"

namespace {

using ipctest::Child;
using ipctest::IpcTest;
using ipctest::WaitForFile;

constexpr int kAlreadyExists = static_cast<int>(ERROR_ALREADY_EXISTS);

std::string Helper() {
    return ipctest::BinDir() + "/ormaview-ipc-test-helper";
}

TEST_F(IpcTest, MutexExistsUntilItsHolderClosesIt) {
    SetLastError(kAlreadyExists);  // a stale value must not survive a successful create
    HANDLE first = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0);

    HANDLE second = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), kAlreadyExists);
    EXPECT_FALSE(ReleaseMutex(second));  // it does not hold the name
    EXPECT_TRUE(CloseHandle(second));

    HANDLE other = CreateMutexA(nullptr, FALSE, "OrmaView_Mutex");  // a different name
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(GetLastError(), 0);
    EXPECT_TRUE(CloseHandle(other));

    // Releasing does not end the name's existence; closing does.
    EXPECT_TRUE(ReleaseMutex(first));
    HANDLE third = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    EXPECT_EQ(GetLastError(), kAlreadyExists);
    CloseHandle(third);
    EXPECT_TRUE(CloseHandle(first));

    HANDLE again = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), 0);
    CloseHandle(again);

    EXPECT_EQ(CreateMutexA(nullptr, FALSE, ""), nullptr);
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(IpcTest, MutexOfAKilledHolderIsFreed) {
    ovtest::WriteFile(m_tmp / "go", "");
    Child holder({Helper(), "mutex", "OrmaView Mutex", m_tmp / "out", m_tmp / "go"});
    ASSERT_EQ(WaitForFile(m_tmp / "out"), "held");

    HANDLE h = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), kAlreadyExists);
    CloseHandle(h);

    holder.Signal(SIGKILL);
    EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
    h = CreateMutexA(nullptr, FALSE, "OrmaView Mutex");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), 0);
    CloseHandle(h);
}

TEST_F(IpcTest, ExactlyOneOfSimultaneousStartsHoldsTheMutex) {
    constexpr int kCount = 6;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < kCount; ++i) {
        children.push_back(std::make_unique<Child>(std::vector<std::string>{
            Helper(), "mutex", "OrmaView Mutex", m_tmp / ("out" + std::to_string(i)), m_tmp / "go"}));
    }
    ovtest::WriteFile(m_tmp / "go", "");  // all of them start at once
    int held = 0;
    int exists = 0;
    for (int i = 0; i < kCount; ++i) {
        std::string result = WaitForFile(m_tmp / ("out" + std::to_string(i)));
        held += result == "held";
        exists += result == "exists";
    }
    EXPECT_EQ(held, 1);
    EXPECT_EQ(exists, kCount - 1);
}

}  // namespace
