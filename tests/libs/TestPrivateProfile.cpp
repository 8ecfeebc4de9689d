// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "support/EnvGuard.h"
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
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

const char* const kSample =
    "; work desk settings\r\n[DocInfo]\r\n  PageTotal = 12  \r\nDocName=\"  Quoted Name  \"\r\n"
    "Single='x'\r\nMixed=\"x'\r\nTwice=\"\"x\"\"\r\nEmpty=\r\n\r\n[Other]\r\nPageTotal=99\r\n";

}  // namespace

class Profile : public ::testing::Test {
protected:
    ovtest::TempDir dir;
    std::string path = dir / "Doc.dat";
    void SetUp() override { ovtest::WriteFile(path, kSample); }
};

TEST_F(Profile, ReadsTrimmedUnquotedCaseInsensitiveTruncated) {
    // clang-format off
    const char* const cases[][3] = {
        {"DocInfo", "PageTotal", "12"}, {"  docinfo ", "PAGETOTAL", "12"}, {"DocInfo", "DocName", "  Quoted Name  "},
        {"DocInfo", "Single", "x"}, {"DocInfo", "Mixed", "\"x'"}, {"DocInfo", "Twice", "\"x\""},  // one pair only
        {"DocInfo", "Empty", ""}, {"Other", "PageTotal", "99"}, {"DocInfo", "Missing", "<def>"},
        {"Missing", "PageTotal", "<def>"}};
    // clang-format on
    for (auto& c : cases) EXPECT_EQ(c[2], Get(c[0], c[1], path)) << c[0] << "/" << c[1];
    EXPECT_EQ("<def>", Get("DocInfo", "PageTotal", dir / "nofile.ini"));
    EXPECT_EQ("", Get("DocInfo", "Missing", path, 260, nullptr));

    ovtest::WriteFile(path, "[S]\nA=12abc\nB=abc\nC=-3\nD=\nE= +7\nF=99999999999\n");
    const std::pair<const char*, int> ints[] = {{"A", 12}, {"B", 0},          {"C", -3},     {"D", 5},
                                                {"E", 7},  {"F", 2147483647}, {"Missing", 5}};
    for (auto [key, value] : ints)
        EXPECT_EQ(static_cast<UINT>(value), GetPrivateProfileIntA("S", key, 5, path.c_str())) << key;
    EXPECT_EQ(static_cast<UINT>(-1), GetPrivateProfileIntA("S", "A", -1, (dir / "none").c_str()));

    ovtest::WriteFile(path, "[S]\nK=" + Sj("あいう") + "\nA=abcdef\n");
    // Truncation never splits a character: 6 bytes, 5 of room, hold two.
    const std::tuple<const char*, DWORD, std::string> cuts[] = {{"K", 6, Sj("あい")}, {"K", 5, Sj("あい")},
                                                                {"K", 4, Sj("あ")},   {"K", 7, Sj("あいう")},
                                                                {"A", 4, "abc"},      {"A", 1, ""}};
    for (auto& [key, size, value] : cuts) EXPECT_EQ(value, Get("S", key, path, size)) << key << size;
    EXPECT_EQ("de", Get("S", "Missing", path, 3, "def"));

    // ア (83 41) and 83 61 differ only by the ASCII case of the trail byte; 83 5D ends in ']'.
    const char* const names[] = {"\x83\x41", "\x83\x61", "\x83\x5D"};
    for (const char* name : names) ASSERT_TRUE(WritePrivateProfileStringA(name, name, name, path.c_str()));
    for (const char* name : names) EXPECT_EQ(name, Get(name, name, path));

    // A null section or key lists the names.
    ovtest::WriteFile(path, "[E]\nb=2\nA = 'one'\n;c=3\nB=dup\nnot a key\n[F]\nz=9\n");
    char list[16];
    EXPECT_EQ(4u, GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof(list), path.c_str()));
    EXPECT_EQ(std::string("E\0F\0\0", 5), std::string(list, 5));
    EXPECT_EQ(6u, GetPrivateProfileStringA("E", nullptr, "", list, sizeof(list), path.c_str()));
    EXPECT_EQ(std::string("b\0A\0B\0\0", 7), std::string(list, 7));
}

TEST_F(Profile, WriteChangesOnlyItsLine) {
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileStringA("docinfo", "pagetotal", "13", path.c_str()));
    std::string expected = kSample;
    expected.replace(expected.find("  PageTotal = 12  "), 18, "  PageTotal = 13");
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    // A new key goes after the last key of its section, with the file's line end.
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "MaxPageID", Sj("値").c_str(), path.c_str()));
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "MaxPageID=" + Sj("値") + "\r\n");
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    ASSERT_TRUE(WritePrivateProfileStringA("New", "K", "v", path.c_str()));  // a new section goes at the end
    EXPECT_EQ(expected + "[New]\r\nK=v\r\n", ovtest::ReadFile(path));
    EXPECT_EQ(1, CountEntries(dir.Path())) << "no temporary file may be left behind";
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);  // the replaced file keeps its permissions

    // LF files, also without a final line end, stay LF.
    ovtest::WriteFile(path, "# keep\n[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "y", "2", path.c_str()));
    EXPECT_EQ("# keep\n[A]\nx=1\ny=2\n", ovtest::ReadFile(path));
    ovtest::WriteFile(path, "[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileStringA("B", "y", "2", path.c_str()));
    EXPECT_EQ("[A]\nx=1\n[B]\ny=2\n", ovtest::ReadFile(path));
}

TEST_F(Profile, DeletesCreatesAndRefuses) {
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "Single", nullptr, path.c_str()));
    EXPECT_EQ("<def>", Get("DocInfo", "Single", path));
    ASSERT_TRUE(WritePrivateProfileStringA("docinfo", nullptr, nullptr, path.c_str()));
    EXPECT_EQ("; work desk settings\r\n[Other]\r\nPageTotal=99\r\n", ovtest::ReadFile(path));
    // Deleting what is not there changes nothing; all-NULL is a flush.
    EXPECT_TRUE(WritePrivateProfileStringA("Nope", nullptr, nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Other", "Nope", nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("; work desk settings\r\n[Other]\r\nPageTotal=99\r\n", ovtest::ReadFile(path));

    // A new file is created; line breaks and '=' in names are refused.
    ovtest::WriteFile(path, kSample);
    const std::string fresh = dir / "new.ini";
    ASSERT_TRUE(WritePrivateProfileStringA("ThumbViewRect", "Size", "1", fresh.c_str()));
    EXPECT_EQ("[ThumbViewRect]\nSize=1\n", ovtest::ReadFile(fresh));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "a\r\n[Evil]\r\nx=1", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K=J", "v", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "v", (dir / "missing/x.ini").c_str()));
    EXPECT_EQ(kSample, ovtest::ReadFile(path));
}

// In a read-only folder or on a full disk (a file size limit), in a child each.
TEST_F(Profile, FailedWriteLeavesTheOldFileWhole) {
    const std::function<int()> faults[] = {
        [&] {  // the superuser writes anywhere; drop to an ordinary user
            ::chmod(dir.Path().c_str(), 0555);
            if (::geteuid() == 0 && ::setuid(65534) != 0)
                return 2;
            return WritePrivateProfileStringA("DocInfo", "PageTotal", "1", path.c_str());
        },
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit lim{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            return WritePrivateProfileStringA("DocInfo", "Big", std::string(4096, 'v').c_str(), path.c_str());
        }};
    for (const auto& fault : faults) {
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(fault());
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::chmod(dir.Path().c_str(), 0700);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == FALSE) << status;
        EXPECT_EQ(kSample, ovtest::ReadFile(path));
        EXPECT_EQ(1, CountEntries(dir.Path()));
    }
}
