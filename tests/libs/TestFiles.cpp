// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "EnvGuard.h"
#include "ormacomm/OrmaComm.h"
#include "ormacomm/QuilmCommon.h"
#include "support/TestSupport.h"
#include "win32/FileApi.h"
#include "win32/ShellPath.h"

using ovtest::EnvGuard;
using ovtest::Sj;

TEST(ShellPath, PathPieces) {
    std::string p = "/wd";
    PathAddBackslash(p);
    EXPECT_EQ("/wd/", p);
    PathAddBackslash(p);
    EXPECT_EQ("/wd/", p);
    std::string empty;
    PathAddBackslash(empty);
    EXPECT_EQ("", empty);
    EXPECT_STREQ("Data3.pdf", PathFindFileNameA("/wd/Doc000012/Data3.pdf"));
    EXPECT_STREQ("name", PathFindFileNameA("name"));
    std::string e1 = "/wd/a.b/Data3.pdf", e2 = "/wd/a.b/noext", e3 = "x.tar.gz";
    PathRemoveExtension(e1);
    PathRemoveExtension(e2);
    PathRemoveExtension(e3);
    EXPECT_EQ("/wd/a.b/Data3", e1);
    EXPECT_EQ("/wd/a.b/noext", e2);
    EXPECT_EQ("x.tar", e3);
    EXPECT_EQ("/wd/x", ov::JoinPath("/wd", "x"));
    EXPECT_EQ("/wd/x", ov::JoinPath("/wd/", "x"));
}

TEST(FileApi, Cp932PathsFoldersAndMoves) {
    ovtest::TempDir dir;
    const std::string folder = dir / "標準";  // UTF-8 on disk
    const std::string folderSj = ov::FromFsPath(folder);
    ASSERT_TRUE(CreateDirectoryA(folderSj.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(folderSj.c_str(), nullptr));
    EXPECT_EQ(EEXIST, GetLastError());
    EXPECT_TRUE(PathFileExistsA(folderSj.c_str()));

    const std::string a = folderSj + "/a.pdf", b = folderSj + "/b.pdf";
    ovtest::WriteFile(folder + "/a.pdf", "new");
    ovtest::WriteFile(folder + "/b.pdf", "old");
    EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), 0));  // no replace: target kept
    EXPECT_EQ("old", ovtest::ReadFile(folder + "/b.pdf"));
    ASSERT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("new", ovtest::ReadFile(folder + "/b.pdf"));
    EXPECT_FALSE(PathFileExistsA(a.c_str()));
    ASSERT_TRUE(DeleteFileA(b.c_str()));
    EXPECT_FALSE(DeleteFileA(b.c_str()));
    EXPECT_FALSE(PathFileExistsA(""));
}

TEST(FileApi, MoveAcrossFileSystems) {
    ovtest::TempDir dir;
    struct stat a {
    }, b{};
    if (::stat("/dev/shm", &b) != 0 || ::stat(dir.Path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system";
    char shm[] = "/dev/shm/ovtest-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(shm));
    const std::string from = std::string(shm) + "/src.pdf";
    ovtest::WriteFile(from, "payload");
    ovtest::WriteFile(dir / "dst.pdf", "old");
    EXPECT_TRUE(MoveFileExA(from.c_str(), (dir / "dst.pdf").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("payload", ovtest::ReadFile(dir / "dst.pdf"));
    EXPECT_FALSE(ovtest::Exists(from));
    ::rmdir(shm);
}

TEST(OrmaComm, FoldersAndFiles) {
    ovtest::TempDir dir;
    EXPECT_TRUE(MakeFolder((dir / "a/b/c").c_str()));
    EXPECT_TRUE(MakeFolder((dir / "a/b/c").c_str()));
    EXPECT_TRUE(MakeFile((dir / "x/y/WorkDesk.dat").c_str()));
    ovtest::WriteFile(dir / "x/y/WorkDesk.dat", "keep");
    EXPECT_TRUE(MakeFile((dir / "x/y/WorkDesk.dat").c_str()));
    EXPECT_EQ("keep", ovtest::ReadFile(dir / "x/y/WorkDesk.dat"));
    EXPECT_FALSE(MakeFile((dir / "a/b").c_str()));  // a folder is not a file
    EXPECT_FALSE(MakeFile(""));
}

TEST(OrmaComm, WorkDeskFolderFromEnvironmentOrConfig) {
    ovtest::TempDir dir;
    ovtest::MakeDirs(dir / "デスク");
    char buf[MAX_PATH] = {};
    {
        EnvGuard env("ORMAVIEW_WORKDESK", (dir / "デスク/").c_str());
        ASSERT_TRUE(GetWorkDeskFolder(buf));
        EXPECT_EQ(ov::FromFsPath(dir / "デスク"), buf);
        ASSERT_TRUE(GetWorkDeskDatPath(buf));
        EXPECT_EQ(ov::FromFsPath(dir / "デスク/WorkDesk.dat"), buf);
    }
    {
        EnvGuard env("ORMAVIEW_WORKDESK", (dir / "missing").c_str());
        EXPECT_FALSE(GetWorkDeskFolder(buf));
        EXPECT_FALSE(GetWorkDeskDatPath(buf));
        EXPECT_STREQ("", buf);
    }
    EnvGuard noEnv("ORMAVIEW_WORKDESK", nullptr);
    EnvGuard xdg("XDG_CONFIG_HOME", (dir / "config").c_str());
    EXPECT_FALSE(GetWorkDeskFolder(buf));  // no configuration file
    ovtest::WriteFile(dir / "config/ormaview/ormaview.ini",
                      "[WorkDesk]\r\nworkdeskfolder = " + (dir / "デスク") + "\r\n");
    ASSERT_TRUE(GetWorkDeskFolder(buf));
    EXPECT_EQ(ov::FromFsPath(dir / "デスク"), buf);

    // A folder whose path does not fit in 259 bytes is refused, not cut.
    std::string deep = dir.Path();
    while (deep.size() < 300) deep += "/" + std::string(40, 'd');
    ovtest::MakeDirs(deep);
    EnvGuard longEnv("ORMAVIEW_WORKDESK", deep.c_str());
    ovtest::TraceCapture cap;
    EXPECT_FALSE(GetWorkDeskFolder(buf));
    EXPECT_TRUE(cap.Contains("GetWorkDeskFolder() Error!"));
}

TEST(OrmaComm, PageIdListForms) {
    std::vector<unsigned> ids;
    ASSERT_TRUE(GetListIDFromString("3,1, 7 ,\t12", &ids));
    EXPECT_EQ((std::vector<unsigned>{3, 1, 7, 12}), ids);
    ASSERT_TRUE(GetListIDFromString("", &ids));
    EXPECT_TRUE(ids.empty());
    ASSERT_TRUE(GetListIDFromString("  ", &ids));
    EXPECT_TRUE(ids.empty());
    ASSERT_TRUE(GetListIDFromString("4294967295", &ids));
    EXPECT_EQ(4294967295u, ids.at(0));
    for (const char* bad :
         {"1,,2", "1,2,", ",1", "1 2", "1;2", "-1", "+1", "0x10", "1.5", "4294967296", "a"}) {
        ids = {99};
        EXPECT_FALSE(GetListIDFromString(bad, &ids)) << bad;
        EXPECT_TRUE(ids.empty()) << bad;
    }
    EXPECT_FALSE(GetListIDFromString(nullptr, &ids));
}

TEST(OrmaComm, IniMapAndLongValues) {
    ovtest::TempDir dir;
    const std::string ini = dir / "UndoData.ini";
    const std::string longList = [] {
        std::string s;
        for (int i = 1; i <= 400; ++i) s += (i > 1 ? "," : "") + std::to_string(i);
        return s;
    }();
    ovtest::WriteFile(
        ini, "[EditInfo]\nLine1=1,2\nText=" + Sj("注") + "\n[DocInfo]\nPageIDList=" + longList + "\n");
    std::map<std::string, std::string> map;
    ASSERT_TRUE(GetIniKeyMap(ini.c_str(), "EditInfo", &map));
    EXPECT_EQ(2u, map.size());
    EXPECT_EQ(Sj("注"), map["Text"]);
    ASSERT_TRUE(GetIniKeyMap((dir / "none.ini").c_str(), "EditInfo", &map));
    EXPECT_TRUE(map.empty());
    EXPECT_FALSE(GetIniKeyMap(dir.Path().c_str(), "EditInfo", &map));

    std::string out;
    ASSERT_TRUE(GetPrivateProfileLongString("DocInfo", "pageidlist", "", &out, ini));
    EXPECT_EQ(longList, out);
    ASSERT_TRUE(GetPrivateProfileLongString("DocInfo", "Missing", "dflt", &out, ini));
    EXPECT_EQ("dflt", out);
}

TEST(OrmaComm, TempFoldersArePrivateAndFresh) {
    ovtest::TempDir dir;
    EnvGuard tmp("TMPDIR", dir.Path().c_str());
    char a[MAX_PATH] = {}, b[MAX_PATH] = {};
    ASSERT_TRUE(CreateTempFolder(a));
    ASSERT_TRUE(CreateTempFolder(b));
    EXPECT_STRNE(a, b);
    EXPECT_EQ(0, std::string(a).rfind(dir.Path() + "/", 0));
    struct stat st {};
    ASSERT_EQ(0, ::stat(a, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    std::string deep = dir.Path();
    while (deep.size() < 250) deep += "/" + std::string(30, 't');
    ovtest::MakeDirs(deep);
    EnvGuard tooLong("TMPDIR", deep.c_str());
    EXPECT_FALSE(CreateTempFolder(a));  // the new folder's path would not fit
    EXPECT_STREQ("", a);
    struct stat dst {};
    ::stat(deep.c_str(), &dst);
    EXPECT_EQ(2u, dst.st_nlink) << "the refused folder must not be left behind";
}

TEST(QuilmCommon, DeleteTheFolderStaysInside) {
    ovtest::TempDir dir;
    ovtest::WriteFile(dir / "outside/precious.pdf", "keep");
    ovtest::WriteFile(dir / "work/EditInfo_On/OrmaView1.thm", "x");
    ovtest::WriteFile(dir / "work/a/b/c.txt", "x");
    ASSERT_EQ(0, ::symlink((dir / "outside").c_str(), (dir / "work/link").c_str()));
    ASSERT_EQ(0, ::symlink((dir / "outside/precious.pdf").c_str(), (dir / "work/a/file-link").c_str()));
    ::chmod((dir / "work/a/b").c_str(), 0555);

    EXPECT_TRUE(DeleteTheFolder((dir / "work").c_str(), 0));
    EXPECT_FALSE(ovtest::Exists(dir / "work"));
    EXPECT_EQ("keep", ovtest::ReadFile(dir / "outside/precious.pdf"));

    // A link in the folder's own place is removed as a link.
    ASSERT_EQ(0, ::symlink((dir / "outside").c_str(), (dir / "alias").c_str()));
    EXPECT_TRUE(DeleteTheFolder((dir / "alias").c_str(), 0));
    EXPECT_FALSE(ovtest::Exists(dir / "alias"));
    EXPECT_TRUE(ovtest::Exists(dir / "outside/precious.pdf"));

    EXPECT_TRUE(DeleteTheFolder((dir / "never-made").c_str(), 0));
    ovtest::TraceCapture cap;
    EXPECT_FALSE(DeleteTheFolder("", 0));
    EXPECT_FALSE(DeleteTheFolder("/", 0));
    EXPECT_FALSE(DeleteTheFolder("//", 0));
    EXPECT_FALSE(DeleteTheFolder(nullptr, 0));
    EXPECT_FALSE(DeleteTheFolder((dir / "outside/..").c_str(), 0));
    EXPECT_FALSE(DeleteTheFolder((dir / "outside/precious.pdf").c_str(), 0));  // not a folder
    EXPECT_TRUE(cap.Contains("DeleteTheFolder() Error!"));
    EXPECT_TRUE(ovtest::Exists(dir / "outside/precious.pdf"));
}
