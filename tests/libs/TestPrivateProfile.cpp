// SPDX-License-Identifier: AGPL-3.0-or-later
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "EnvGuard.h"
#include "support/TestSupport.h"
#include "win32/PrivateProfile.h"

using ovtest::Sj;

namespace {

std::string Get(const char* section, const char* key, const std::string& path, DWORD size = 260,
                const char* def = "<def>") {
    std::string buf(size, '\xEE');
    DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, path.c_str());
    EXPECT_EQ(n, std::strlen(buf.c_str()));
    return buf.substr(0, n);
}

int CountEntries(const std::string& folder) {
    int n = 0;
    DIR* d = ::opendir(folder.c_str());
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            ++n;
    }
    if (d)
        ::closedir(d);
    return n;
}

// Runs fn in a child process and returns its exit status (fn's result).
template <class Fn>
int InChild(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

const char* const kSample =
    "; work desk settings\r\n"
    "[DocInfo]\r\n"
    "  PageTotal = 12  \r\n"
    "DocName=\"  Quoted Name  \"\r\n"
    "Single='x'\r\n"
    "Mixed=\"x'\r\n"
    "Twice=\"\"x\"\"\r\n"
    "Empty=\r\n"
    "\r\n"
    "[Other]\r\n"
    "PageTotal=99\r\n";

}  // namespace

class Profile : public ::testing::Test {
protected:
    ovtest::TempDir dir;
    std::string path = dir / "Doc.dat";
    void SetUp() override { ovtest::WriteFile(path, kSample); }
};

TEST_F(Profile, ReadsTrimmedUnquotedCaseInsensitive) {
    EXPECT_EQ("12", Get("DocInfo", "PageTotal", path));
    EXPECT_EQ("12", Get("  docinfo ", "PAGETOTAL", path));
    EXPECT_EQ("  Quoted Name  ", Get("DocInfo", "DocName", path));
    EXPECT_EQ("x", Get("DocInfo", "Single", path));
    EXPECT_EQ("\"x'", Get("DocInfo", "Mixed", path));
    EXPECT_EQ("\"x\"", Get("DocInfo", "Twice", path));  // one pair only
    EXPECT_EQ("", Get("DocInfo", "Empty", path));
    EXPECT_EQ("99", Get("Other", "PageTotal", path));
    EXPECT_EQ("<def>", Get("DocInfo", "Missing", path));
    EXPECT_EQ("<def>", Get("Missing", "PageTotal", path));
    EXPECT_EQ("<def>", Get("DocInfo", "PageTotal", dir / "nofile.ini"));
    EXPECT_EQ("", Get("DocInfo", "Missing", path, 260, nullptr));
}

TEST_F(Profile, IntegersFollowAtoiAndDefaults) {
    ovtest::WriteFile(path, "[S]\nA=12abc\nB=abc\nC=-3\nD=\nE= +7\nF=99999999999\n");
    EXPECT_EQ(12u, GetPrivateProfileIntA("S", "A", 5, path.c_str()));
    EXPECT_EQ(0u, GetPrivateProfileIntA("S", "B", 5, path.c_str()));
    EXPECT_EQ(static_cast<UINT>(-3), GetPrivateProfileIntA("S", "C", 5, path.c_str()));
    EXPECT_EQ(5u, GetPrivateProfileIntA("S", "D", 5, path.c_str()));
    EXPECT_EQ(7u, GetPrivateProfileIntA("S", "E", 5, path.c_str()));
    EXPECT_EQ(2147483647u, GetPrivateProfileIntA("S", "F", 5, path.c_str()));
    EXPECT_EQ(5u, GetPrivateProfileIntA("S", "Missing", 5, path.c_str()));
    EXPECT_EQ(static_cast<UINT>(-1), GetPrivateProfileIntA("S", "A", -1, (dir / "none").c_str()));
}

TEST_F(Profile, TruncationNeverSplitsACharacter) {
    ovtest::WriteFile(path, "[S]\nK=" + Sj("あいう") + "\nA=abcdef\n");
    EXPECT_EQ(Sj("あい"), Get("S", "K", path, 6));  // 5 bytes of room: the third character does not fit
    EXPECT_EQ(Sj("あい"), Get("S", "K", path, 5));
    EXPECT_EQ(Sj("あ"), Get("S", "K", path, 4));
    EXPECT_EQ(Sj("あいう"), Get("S", "K", path, 7));
    EXPECT_EQ("abc", Get("S", "A", path, 4));
    EXPECT_EQ("", Get("S", "A", path, 1));
    EXPECT_EQ("de", Get("S", "Missing", path, 3, "def"));
}

TEST_F(Profile, TwoByteNamesCompareExactly) {
    // ア (83 41) and its neighbour 83 61 differ only by the ASCII case of the trail byte;
    // 83 5D has ']' as its trail byte.
    const std::string a = "\x83\x41", b = "\x83\x61", bracket = "\x83\x5D";
    ASSERT_TRUE(WritePrivateProfileStringA("S", a.c_str(), "1", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("S", b.c_str(), "2", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA(bracket.c_str(), "K", "3", path.c_str()));
    EXPECT_EQ("1", Get("S", a.c_str(), path));
    EXPECT_EQ("2", Get("S", b.c_str(), path));
    EXPECT_EQ("3", Get(bracket.c_str(), "K", path));
}

TEST_F(Profile, WriteChangesOnlyItsLine) {
    ASSERT_TRUE(WritePrivateProfileStringA("docinfo", "pagetotal", "13", path.c_str()));
    std::string expected = kSample;
    expected.replace(expected.find("  PageTotal = 12  "), 18, "  PageTotal = 13");
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    // A new key goes after the last key of its section, with the file's line end.
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "MaxPageID", Sj("値").c_str(), path.c_str()));
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "MaxPageID=" + Sj("値") + "\r\n");
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    // A new section goes at the end.
    ASSERT_TRUE(WritePrivateProfileStringA("New", "K", "v", path.c_str()));
    expected += "[New]\r\nK=v\r\n";
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    EXPECT_EQ(1, CountEntries(dir.Path())) << "no temporary file may be left behind";
}

TEST_F(Profile, LfFilesWithoutFinalLineEnd) {
    ovtest::WriteFile(path, "# keep\n[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "y", "2", path.c_str()));
    EXPECT_EQ("# keep\n[A]\nx=1\ny=2\n", ovtest::ReadFile(path));
    ovtest::WriteFile(path, "[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileStringA("B", "y", "2", path.c_str()));
    EXPECT_EQ("[A]\nx=1\n[B]\ny=2\n", ovtest::ReadFile(path));
}

TEST_F(Profile, DeletesKeysAndSections) {
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "Single", nullptr, path.c_str()));
    EXPECT_EQ("<def>", Get("DocInfo", "Single", path));
    ASSERT_TRUE(WritePrivateProfileStringA("docinfo", nullptr, nullptr, path.c_str()));
    EXPECT_EQ("; work desk settings\r\n[Other]\r\nPageTotal=99\r\n", ovtest::ReadFile(path));
    // Deleting what is not there changes nothing; all-NULL is a flush.
    EXPECT_TRUE(WritePrivateProfileStringA("Nope", nullptr, nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Other", "Nope", nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("; work desk settings\r\n[Other]\r\nPageTotal=99\r\n", ovtest::ReadFile(path));
}

TEST_F(Profile, CreatesFileAndRefusesLineBreaks) {
    const std::string fresh = dir / "new.ini";
    ASSERT_TRUE(WritePrivateProfileStringA("ThumbViewRect", "Size", "1", fresh.c_str()));
    EXPECT_EQ("[ThumbViewRect]\nSize=1\n", ovtest::ReadFile(fresh));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "a\r\n[Evil]\r\nx=1", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K=J", "v", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "v", (dir / "missing/x.ini").c_str()));
    EXPECT_EQ(kSample, ovtest::ReadFile(path));
}

TEST_F(Profile, PermissionsArePreserved) {
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileStringA("Other", "PageTotal", "1", path.c_str()));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST_F(Profile, ReadOnlyFolderFailsAndKeepsTheFile) {
    ::chmod(dir.Path().c_str(), 0555);
    int result = InChild([&] {
        // The superuser writes anywhere; drop to an ordinary user for the test.
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            return 2;
        return WritePrivateProfileStringA("DocInfo", "PageTotal", "1", path.c_str());
    });
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(FALSE, result);
    EXPECT_EQ(kSample, ovtest::ReadFile(path));
    EXPECT_EQ(1, CountEntries(dir.Path()));
}

TEST_F(Profile, FullDiskLeavesTheOldFileWhole) {
    const std::string big(4096, 'v');
    int result = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            1024, 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &lim);
        return WritePrivateProfileStringA("DocInfo", "Big", big.c_str(), path.c_str());
    });
    EXPECT_EQ(FALSE, result);
    EXPECT_EQ(kSample, ovtest::ReadFile(path));
    EXPECT_EQ(1, CountEntries(dir.Path()));
}

TEST_F(Profile, SectionListing) {
    std::vector<std::pair<std::string, std::string>> keys;
    ovtest::WriteFile(path, "[E]\nb=2\nA = 'one'\n;c=3\nB=dup\nnot a key\n[F]\nz=9\n");
    ASSERT_TRUE(ov::ReadProfileSection("e", path.c_str(), &keys));
    ASSERT_EQ(2u, keys.size());
    EXPECT_EQ((std::pair<std::string, std::string>("b", "2")), keys[0]);
    EXPECT_EQ((std::pair<std::string, std::string>("A", "one")), keys[1]);
    EXPECT_TRUE(ov::ReadProfileSection("none", path.c_str(), &keys));
    EXPECT_TRUE(keys.empty());
    EXPECT_TRUE(ov::ReadProfileSection("E", (dir / "nofile").c_str(), &keys));
    EXPECT_FALSE(ov::ReadProfileSection("E", dir.Path().c_str(), &keys));  // a folder cannot be read

    // NULL section or key lists the names, each NUL-terminated, with a final NUL.
    char names[16];
    EXPECT_EQ(4u, GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof(names), path.c_str()));
    EXPECT_EQ(std::string("E\0F\0\0", 5), std::string(names, 5));
    EXPECT_EQ(6u, GetPrivateProfileStringA("E", nullptr, "", names, sizeof(names), path.c_str()));
    EXPECT_EQ(std::string("b\0A\0B\0\0", 7), std::string(names, 7));
}
