// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
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
    // A null key lists the keys of a section (at every size: NameListsAtEveryBufferSize).
    ovtest::WriteFile(path, "[E]\nb=2\nA = 'one'\n;c=3\nB=dup\nnot a key\n[F]\nz=9\n");
    char list[16];
    EXPECT_EQ(6u, GetPrivateProfileStringA("E", nullptr, "", list, sizeof(list), path.c_str()));
    EXPECT_EQ(std::string("b\0A\0B\0\0", 7), std::string(list, 7));
}

// In a read-only folder or on a full disk (a file size limit), in a child each.
TEST_F(Profile, FailedWriteLeavesTheOldFileWhole) {
    ovtest::TraceCapture trace;
    // The ordinary user of the first fault writes the trace too.
    ovtest::WriteFile(trace.Path(), "");
    ::chmod(trace.Path().c_str(), 0666);
    ::chmod(trace.Path().substr(0, trace.Path().rfind('/')).c_str(), 0755);
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
        const int rc = ovtest::InChild(fault);
        ::chmod(dir.Path().c_str(), 0700);
        EXPECT_EQ(FALSE, rc);
        EXPECT_EQ(kSample, ovtest::ReadFile(path));
        EXPECT_EQ(1u, ovtest::ListFolder(dir.Path()).size());
    }
    // Each failure says what failed.
    EXPECT_TRUE(trace.Contains("ReplaceFileContents() Error! [Path] " + path + " [Step] create [errno] 13"))
        << trace.Text();
    EXPECT_TRUE(trace.Contains("ReplaceFileContents() Error! [Path] " + path + " [Step] write [errno] 27"))
        << trace.Text();
}

// Files as other writers leave them: a byte-order mark, a key twice, ']' inside a
// section name, a two-byte name whose trail byte is ']'.
TEST_F(Profile, ByteOrderMarkDuplicateKeysAndBracketsInNames) {
    ovtest::WriteFile(
        path, "\xEF\xBB\xBF[DocInfo]\r\nPageTotal=3\r\npagetotal=4\r\n[A]B] ; note\r\nK=ab\r\n[" + Sj("ソ") +
                  "]\r\nK=so\r\n");
    EXPECT_EQ(3u, GetPrivateProfileIntA("DocInfo", "PageTotal", 0, path.c_str())) << "the first of two wins";
    EXPECT_EQ("ab", Get("A]B", "K", path)) << "the name runs to the last ']'";
    EXPECT_EQ("<def>", Get("A", "K", path));
    EXPECT_EQ("so", Get(Sj("ソ").c_str(), "K", path));  // ソ is 83 5C; its trail byte is no ']'
    std::vector<std::pair<std::string, std::string>> keys;
    ASSERT_TRUE(ov::ReadProfileSection("DocInfo", path.c_str(), &keys));
    ASSERT_EQ(1u, keys.size());
    EXPECT_EQ("3", keys[0].second);

    // A write changes the first of the two, keeps the mark and every other byte;
    // deleting the key removes both.
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "PageTotal", "5", path.c_str()));
    const std::string now = ovtest::ReadFile(path);
    EXPECT_EQ(0u, now.find("\xEF\xBB\xBF[DocInfo]\r\nPageTotal=5\r\npagetotal=4\r\n"));
    ASSERT_TRUE(WritePrivateProfileStringA("DocInfo", "PageTotal", nullptr, path.c_str()));
    EXPECT_EQ(0u, GetPrivateProfileIntA("DocInfo", "PageTotal", 0, path.c_str()));
    // A section name with ']' is written so that it reads back.
    ASSERT_TRUE(WritePrivateProfileStringA("X]Y", "K", "v", path.c_str()));
    EXPECT_EQ("v", Get("X]Y", "K", path));
}

// Name lists cut at every buffer size, down to the exact fit: never a copy past
// the buffer, always double-NUL terminated.
TEST_F(Profile, NameListsAtEveryBufferSize) {
    ovtest::WriteFile(path, "[ab]\nk=1\n[cd]\nk=2\n");
    const std::string full("ab\0cd\0\0", 7);
    for (DWORD size = 1; size <= 9; ++size) {
        std::string buf(size + 4, '\xEE');
        const DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buf.data(), size, path.c_str());
        EXPECT_EQ(std::string(4, '\xEE'), buf.substr(size)) << "wrote past a buffer of " << size;
        if (size >= 7) {
            EXPECT_EQ(6u, n) << size;
            EXPECT_EQ(full, buf.substr(0, 7));
        } else if (size >= 2) {
            EXPECT_EQ(size - 2, n) << size;  // cut: the platform's size-2
            EXPECT_EQ(std::string(2, '\0'), buf.substr(size - 2, 2)) << size;
            EXPECT_EQ(full.substr(0, size - 2), buf.substr(0, size - 2)) << size;
        } else {
            EXPECT_EQ(0u, n);
            EXPECT_EQ('\0', buf[0]);
        }
    }
}

// Each write changes only its own line: a new key goes after the last key of its
// section, a new section at the end, with the file's line ends; deletions of what
// is not there change nothing.
TEST_F(Profile, SeveralKeysInOneReplace) {
    ::chmod(path.c_str(), 0640);
    const std::string value = Sj("値");
    std::vector<ov::ProfileWrite> writes = {
        {"ThumbViewRect", "Left", "10"}, {"ThumbViewRect", "Top", "20"},
        {"docinfo", "pagetotal", "13"},  {"Other", nullptr, nullptr},
        {"DocInfo", "Single", nullptr},  {"DocInfo", "MaxPageID", value.c_str()},
        {"Nope", nullptr, nullptr},      {"Nope", "K", nullptr}};
    ASSERT_TRUE(ov::WritePrivateProfileKeys(writes, path.c_str()));
    std::string expected = kSample;
    expected.replace(expected.find("  PageTotal = 12  "), 18, "  PageTotal = 13");
    expected.erase(expected.find("Single='x'\r\n"), 12);
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "MaxPageID=" + value + "\r\n");
    expected.erase(expected.find("[Other]"));
    expected += "[ThumbViewRect]\r\nLeft=10\r\nTop=20\r\n";
    EXPECT_EQ(expected, ovtest::ReadFile(path));
    EXPECT_EQ(1u, ovtest::ListFolder(dir.Path()).size()) << "no temporary file may be left behind";
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);

    // Nothing changes: the file is not replaced (same inode).
    const ino_t inode = st.st_ino;
    ASSERT_TRUE(ov::WritePrivateProfileKeys(writes, path.c_str()));
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(inode, st.st_ino);

    // One bad write refuses the whole call before anything is written.
    const std::vector<ov::ProfileWrite> bad = {{"ThumbViewRect", "Left", "11"},
                                               {"ThumbViewRect", "Top", "2\n[X]"}};
    errno = 0;
    EXPECT_FALSE(ov::WritePrivateProfileKeys(bad, path.c_str()));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(expected, ovtest::ReadFile(path));

    // LF files, also without a final line end, stay LF; a missing file is made.
    const char* const lf[][3] = {{"# keep\n[A]\nx=1", "A", "# keep\n[A]\nx=1\ny=2\n"},
                                 {"[A]\nx=1", "B", "[A]\nx=1\n[B]\ny=2\n"},
                                 {nullptr, "A", "[A]\ny=2\n"}};
    for (auto& [before, section, after] : lf) {
        const std::string file = dir / "lf.ini";
        std::remove(file.c_str());
        if (before)
            ovtest::WriteFile(file, before);
        ASSERT_TRUE(WritePrivateProfileStringA(section, "y", "2", file.c_str()));
        EXPECT_EQ(after, ovtest::ReadFile(file));
    }
}

// Every refusal with its own error code.
TEST_F(Profile, RefusalsCarryTheirErrorCodes) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
        std::string path;
        int err;
    } cases[] = {
        {nullptr, "K", "v", path, EINVAL},
        {"S", "K=J", "v", path, EINVAL},
        {"S", "K", "a\r\n[Evil]\r\nx=1", path, EINVAL},
        {"S\r", "K", "v", path, EINVAL},
        {"S", ";K", "v", path, EINVAL},
        {"S", "K", "v", "", EINVAL},
        {"S", "K", "v", dir / "missing/x.ini", ENOENT},
        {"S", "K", "v", dir.Path(), EISDIR},
    };
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, c.path.c_str())) << c.path;
        EXPECT_EQ(c.err, errno) << (c.section ? c.section : "null") << "/" << (c.key ? c.key : "null");
    }
    EXPECT_EQ(kSample, ovtest::ReadFile(path));
}
