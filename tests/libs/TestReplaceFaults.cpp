// SPDX-License-Identifier: AGPL-3.0-or-later
// The crash-safe replace under injected faults, links, stale temporary files and
// a full disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "win32/AtomicFile.h"
#include "win32/PrivateProfile.h"

namespace {

using ov::ReplaceStep;
using ovtest::ListFolder;

// The hook's state: the step to fail (with its errno) and the steps seen.
ReplaceStep g_failAt = ReplaceStep::Create;
int g_failErrno = 0;
std::vector<ReplaceStep> g_seen;
std::string g_folder, g_expectedNew;
bool g_tempWholeAtRename = false;

int Hook(ReplaceStep step) {
    g_seen.push_back(step);
    if (step == ReplaceStep::Rename) {
        // The temporary file must already hold all the new bytes.
        for (const std::string& name : ListFolder(g_folder)) {
            if (name.find(".tmp") != std::string::npos)
                g_tempWholeAtRename = ovtest::ReadFile(g_folder + "/" + name) == g_expectedNew;
        }
    }
    return step == g_failAt ? g_failErrno : 0;
}

struct HookGuard {
    HookGuard(const std::string& folder, ReplaceStep failAt = ReplaceStep::Create, int err = 0) {
        g_seen.clear();
        g_folder = folder;
        g_failAt = failAt;
        g_failErrno = err;
        ov::SetReplaceFaultHook(&Hook);
    }
    ~HookGuard() { ov::SetReplaceFaultHook(nullptr); }
};

}  // namespace

TEST(Replace, StepsRunInOrderWithTheDataFlushedBeforeTheRename) {
    ovtest::TempDir dir;
    const std::string path = dir / "WorkDesk.dat";
    ovtest::WriteFile(path, "old");
    HookGuard hook(dir.Path());
    g_expectedNew = "new contents";
    g_tempWholeAtRename = false;
    ASSERT_TRUE(ov::ReplaceFileContents(path, g_expectedNew));
    const std::vector<ReplaceStep> order = {ReplaceStep::Create, ReplaceStep::Write, ReplaceStep::Fsync,
                                            ReplaceStep::Close, ReplaceStep::Rename};
    EXPECT_EQ(order, g_seen) << "fsync must come before the rename";
    EXPECT_TRUE(g_tempWholeAtRename);
    EXPECT_EQ("new contents", ovtest::ReadFile(path));
    EXPECT_EQ(std::vector<std::string>{"WorkDesk.dat"}, ListFolder(dir.Path()));
}

TEST(Replace, AFailedStepLeavesTheOldFileWholeNoTempFileAndATraceLine) {
    const struct {
        ReplaceStep step;
        int err;
        const char* trace;
    } cases[] = {
        {ReplaceStep::Create, EACCES, "[Step] create [errno] 13"},
        {ReplaceStep::Write, ENOSPC, "[Step] write [errno] 28"},
        {ReplaceStep::Fsync, EIO, "[Step] fsync [errno] 5"},
        {ReplaceStep::Close, EDQUOT, "[Step] close [errno] 122"},
        {ReplaceStep::Rename, EROFS, "[Step] rename [errno] 30"},
    };
    for (const auto& c : cases) {
        ovtest::TempDir dir;
        ovtest::TraceCapture trace;
        const std::string path = dir / "Data1.dat";
        ovtest::WriteFile(path, "[PageInfo]\nPage1HagakiFrom=old\n");
        HookGuard hook(dir.Path(), c.step, c.err);
        errno = 0;
        EXPECT_FALSE(WritePrivateProfileStringA("PageInfo", "Page1HagakiFrom", "new", path.c_str()))
            << c.trace;
        EXPECT_EQ(c.err, errno) << c.trace;
        EXPECT_EQ("[PageInfo]\nPage1HagakiFrom=old\n", ovtest::ReadFile(path)) << c.trace;
        EXPECT_EQ(std::vector<std::string>{"Data1.dat"}, ListFolder(dir.Path())) << c.trace;
        EXPECT_TRUE(trace.Contains("ReplaceFileContents() Error! [Path] " + path + " " + c.trace))
            << trace.Text();
    }
}

// A link in the file's place is replaced by a regular file; what it pointed at,
// existing or not, is never written.
TEST(Replace, ALinkIsNeverWrittenThrough) {
    ovtest::TempDir dir;
    ovtest::TraceCapture trace;
    const std::string precious = dir / "precious.txt", link = dir / "WorkDesk.dat";
    ovtest::WriteFile(precious, "the user's own file\n");
    ASSERT_EQ(0, ::symlink(precious.c_str(), link.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("ThumbViewRect", "Left", "10", link.c_str()));
    EXPECT_EQ("the user's own file\n", ovtest::ReadFile(precious));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    // What was read through the link is kept, as any other text of the file.
    EXPECT_EQ("the user's own file\n[ThumbViewRect]\nLeft=10\n", ovtest::ReadFile(link));
    EXPECT_TRUE(trace.Contains("ReplaceFileContents() A link is replaced by a regular file [Path] " + link));

    // A dangling link: its target is not created.
    const std::string dangling = dir / "Data2.dat";
    ASSERT_EQ(0, ::symlink((dir / "nowhere.txt").c_str(), dangling.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("PageInfo", "Page1HagakiMemo", "m", dangling.c_str()));
    EXPECT_FALSE(ovtest::Exists(dir / "nowhere.txt"));
    ASSERT_EQ(0, ::lstat(dangling.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(Replace, StaleTempFilesOfDeadWritersAreSwept) {
    ovtest::TempDir dir;
    pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string path = dir / "WorkDesk.dat";
    const std::string staleName = ".WorkDesk.dat.tmp" + std::to_string(dead) + "-3";
    const std::string liveName = ".WorkDesk.dat.tmp1-0";  // pid 1 is running
    const std::string otherName = ".Doc.dat.tmp" + std::to_string(dead) + "-0";
    for (const std::string& name : {staleName, liveName, otherName}) ovtest::WriteFile(dir / name, "half");
    ASSERT_TRUE(ov::ReplaceFileContents(path, "x"));
    EXPECT_FALSE(ovtest::Exists(dir / staleName));
    EXPECT_TRUE(ovtest::Exists(dir / liveName)) << "a running writer's file is left alone";
    EXPECT_TRUE(ovtest::Exists(dir / otherName)) << "another target's files are its own writer's";
}

namespace {
// Enters a private mount namespace; an ordinary user becomes root of a new user
// namespace, mapped to itself, so that the files it makes have an owner.
bool PrivateMounts() {
    const bool root = ::geteuid() == 0;
    const std::string uidMap = "0 " + std::to_string(::geteuid()) + " 1";
    const std::string gidMap = "0 " + std::to_string(::getegid()) + " 1";
    if (::unshare(CLONE_NEWNS | (root ? 0 : CLONE_NEWUSER)) != 0)
        return false;
    if (!root) {
        ovtest::WriteFile("/proc/self/setgroups", "deny");
        ovtest::WriteFile("/proc/self/uid_map", uidMap);
        ovtest::WriteFile("/proc/self/gid_map", gidMap);
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
}  // namespace

// A real full disk: a small tmpfs in a private mount namespace of a child.
TEST(Replace, FullDiskKeepsTheOldFile) {
    ovtest::TempDir dir;
    ovtest::TraceCapture trace;
    const std::string mnt = dir / "mnt", path = mnt + "/WorkDesk.dat", old = "[ThumbViewRect]\nLeft=1\n";
    ovtest::MakeDirs(mnt);
    const int rc = ovtest::InChild([&] {
        if (!PrivateMounts() || ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 77;
        ovtest::WriteFile(path, old);
        ovtest::WriteFile(mnt + "/filler", std::string(256 * 1024, 'f'));  // fills the disk
        errno = 0;
        const bool ok =
            WritePrivateProfileStringA("ThumbViewRect", "Left", std::string(8192, '9').c_str(), path.c_str());
        return (ok ? 1 : 0) | (errno != ENOSPC ? 2 : 0) | (ovtest::ReadFile(path) != old ? 4 : 0) |
               (ListFolder(mnt).size() != 2 ? 8 : 0);
    });
    if (rc == 77)
        GTEST_SKIP() << "no tmpfs can be mounted here; the injected ENOSPC test stands in";
    EXPECT_EQ(0, rc) << "1 reported success, 2 wrong errno, 4 old file changed, 8 temp left";
    EXPECT_TRUE(trace.Contains("[Step] write [errno] 28")) << trace.Text();
}

// The rename itself fails (nothing injected): a folder with files took the file's
// place after the temporary file was written.
TEST(Replace, ARealRenameFailureKeepsTheOldFileAndSaysSo) {
    ovtest::TempDir dir;
    ovtest::TraceCapture trace;
    const std::string path = dir / "WorkDesk.dat";
    ovtest::WriteFile(path, "[ThumbViewRect]\nLeft=1\n");
    g_folder = dir.Path();
    ov::SetReplaceFaultHook([](ReplaceStep step) {
        if (step == ReplaceStep::Rename) {
            ::unlink((g_folder + "/WorkDesk.dat").c_str());
            ovtest::WriteFile(g_folder + "/WorkDesk.dat/inside", "kept");
        }
        return 0;
    });
    errno = 0;
    EXPECT_FALSE(WritePrivateProfileStringA("ThumbViewRect", "Left", "2", path.c_str()));
    EXPECT_EQ(EISDIR, errno);
    ov::SetReplaceFaultHook(nullptr);
    EXPECT_EQ("kept", ovtest::ReadFile(path + "/inside"));
    EXPECT_EQ(std::vector<std::string>{"WorkDesk.dat"}, ListFolder(dir.Path()));
    EXPECT_TRUE(trace.Contains("ReplaceFileContents() Error! [Path] " + path + " [Step] rename [errno] 21"));
}

// The placement's five keys, saved as the frame saves them, under kill -9.
TEST(Replace, PlacementSavesKilledAtRandomAreNeverTorn) {
    ovtest::TempDir dir;
    const std::string path = dir / "WorkDesk.dat";
    const std::string other = "[WorkDesk]\r\nName=desk\r\n";
    ovtest::WriteFile(path, other);
    const char* const keys[] = {"Left", "Top", "Width", "Height", "Size"};
    auto save = [&](int g) {
        const std::string v = std::to_string(g);
        std::vector<ov::ProfileWrite> writes;
        for (const char* k : keys) writes.push_back({"ThumbViewRect", k, v.c_str()});
        ov::WritePrivateProfileKeys(writes, path.c_str());
    };
    auto check = [&](int* gen) {
        std::set<UINT> seen;
        for (const char* k : keys) seen.insert(GetPrivateProfileIntA("ThumbViewRect", k, -1, path.c_str()));
        *gen = static_cast<int>(*seen.begin());
        return seen.size() == 1 && ovtest::ReadFile(path).find(other) == 0;
    };
    const int kills = 250;
    const int temps = ovtest::KillLoop(kills, 20261206, dir.Path(), save, check);
    std::printf("placement: %d kills, %d left a temp file, none torn\n", kills, temps);
}
