// SPDX-License-Identifier: AGPL-3.0-or-later
// Files the viewer reads: only regular files of bounded size, opened without
// waiting. Each case runs in a child under an alarm, so a read that waits fails
// the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "ormacomm/OrmaComm.h"
#include "support/TestSupport.h"
#include "win32/PrivateProfile.h"
#include "win32/RegularFile.h"

namespace {

// Runs body in a child with a 10 s alarm; its exit code, or -signal.
int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace

TEST(RegularFile, FifoDeviceFolderAndOversizeAreRefusedAtOnce) {
    ovtest::TempDir dir;
    ovtest::TraceCapture trace;
    const std::string fifo = dir / "fifo", zero = dir / "zero", folder = dir / "folder", big = dir / "big";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, ::symlink("/dev/zero", zero.c_str()));
    ovtest::MakeDirs(folder);
    ovtest::WriteFile(big, std::string(100, 'x'));
    const struct {
        std::string path;
        int err;
    } cases[] = {{fifo, EINVAL}, {zero, EINVAL}, {folder, EISDIR}, {big, EFBIG}, {dir / "none", ENOENT}};
    for (const auto& c : cases) {
        std::string bytes = "left over";
        EXPECT_EQ(c.err, InChild([&] { return ov::ReadRegularFile(c.path, 99, &bytes); })) << c.path;
        EXPECT_EQ(c.err, ov::ReadRegularFile(c.path, 99, &bytes)) << c.path;
        EXPECT_TRUE(bytes.empty());
    }
    EXPECT_TRUE(trace.Contains("OpenRegularFile() Error! Not a regular file [Path] " + fifo));
    EXPECT_TRUE(trace.Contains("OpenRegularFile() Error! Not a regular file [Path] " + zero));
    EXPECT_TRUE(
        trace.Contains("OpenRegularFile() Error! File too large [Path] " + big + " [Size] 100 [Limit] 99"));
    EXPECT_FALSE(trace.Contains(dir / "none")) << "a missing file is no error of its own";

    std::string bytes;
    EXPECT_EQ(0, ov::ReadRegularFile(big, 100, &bytes));
    EXPECT_EQ(100u, bytes.size());
    // A link is followed unless asked not to.
    ASSERT_EQ(0, ::symlink(big.c_str(), (dir / "link").c_str()));
    EXPECT_EQ(0, ov::ReadRegularFile(dir / "link", 100, &bytes));
    EXPECT_EQ(ELOOP, ov::ReadRegularFile(dir / "link", 100, &bytes, false));
}

// Doc.dat (or any INI file) as a FIFO or linked to /dev/zero: every reader gives
// its default at once, the writer fails without touching it.
TEST(RegularFile, IniReadersNeverWaitOnAFifoOrADevice) {
    ovtest::TempDir dir;
    const std::string fifo = dir / "Doc.dat", zero = dir / "WorkDesk.dat";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, ::symlink("/dev/zero", zero.c_str()));
    for (const std::string& path : {fifo, zero}) {
        const int rc = InChild([&] {
            char buf[16];
            int bad = 0;
            if (GetPrivateProfileIntA("DocInfo", "PageTotal", 7, path.c_str()) != 7)
                bad |= 1;
            if (GetPrivateProfileStringA("DocInfo", "DocName", "d", buf, sizeof buf, path.c_str()) != 1)
                bad |= 2;
            std::vector<std::pair<std::string, std::string>> keys;
            if (ov::ReadProfileSection("EditInfo", path.c_str(), &keys) || errno != EINVAL)
                bad |= 4;
            std::string list;
            if (GetPrivateProfileLongString("DocInfo", "PageIDList", "", &list, path))
                bad |= 8;
            if (WritePrivateProfileStringA("DocInfo", "PageTotal", "1", path.c_str()) || errno != EINVAL)
                bad |= 16;
            return bad;
        });
        EXPECT_EQ(0, rc) << path << ": 1 int, 2 string, 4 section, 8 long string, 16 write; -14 = hung";
    }
    struct stat st {};
    ASSERT_EQ(0, ::lstat(fifo.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
