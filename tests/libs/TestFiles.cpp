// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "ormacomm/OrmaComm.h"
#include "ormacomm/QuilmCommon.h"
#include "support/EnvGuard.h"
#include "support/TestSupport.h"
#include "win32/ShellPath.h"

using ovtest::EnvGuard;
using ovtest::Sj;

TEST(OrmaComm, WorkDeskFolderFromEnvironmentOrConfig) {
    ovtest::TempDir dir;
    ovtest::MakeDirs(dir / "デスク");
    char buf[MAX_PATH] = {};
    {  // the variable is what every viewer test sets; a missing folder is refused
        EnvGuard missing("ORMAVIEW_WORKDESK", (dir / "missing").c_str());
        EXPECT_FALSE(GetWorkDeskDatPath(buf));
        EXPECT_STREQ("", buf);
    }
    EnvGuard noEnv("ORMAVIEW_WORKDESK", nullptr);
    EnvGuard xdg("XDG_CONFIG_HOME", (dir / "config").c_str());
    ovtest::WriteFile(dir / "config/ormaview/ormaview.ini",
                      "[WorkDesk]\r\nworkdeskfolder = " + (dir / "デスク") + "\r\n");
    ASSERT_TRUE(GetWorkDeskFolder(buf));
    EXPECT_EQ(ov::FromFsPath(dir / "デスク"), buf);
}

TEST(OrmaComm, PageIdListForms) {
    std::vector<unsigned> ids;
    ASSERT_TRUE(GetListIDFromString("3,1, 7 ,\t12", &ids));
    EXPECT_EQ((std::vector<unsigned>{3, 1, 7, 12}), ids);
    for (const char* empty : {"", "  "}) {
        ASSERT_TRUE(GetListIDFromString(empty, &ids));
        EXPECT_TRUE(ids.empty());
    }
    for (const char* bad :
         {"1,,2", "1,2,", ",1", "1 2", "1;2", "-1", "+1", "0x10", "1.5", "4294967296", "a"}) {
        ids = {99};
        EXPECT_FALSE(GetListIDFromString(bad, &ids)) << bad;
        EXPECT_TRUE(ids.empty()) << bad;
    }
}

TEST(OrmaComm, IniMapAndLongValues) {
    ovtest::TempDir dir;
    const std::string ini = dir / "UndoData.ini";
    std::string longList = "1";
    for (int i = 2; i <= 400; ++i) longList += "," + std::to_string(i);
    ovtest::WriteFile(ini, "[EditInfo]\nLine1=1,2\n;c=3\nText = '" + Sj("注") +
                               "'\nline1=dup\nnot a key\n[DocInfo]\nPageIDList=" + longList + "\n");
    std::map<std::string, std::string> map;
    ASSERT_TRUE(GetIniKeyMap(ini.c_str(), "EditInfo", &map));
    // Values trimmed and unquoted; comments, other lines and a repeated key (any case) left out.
    EXPECT_EQ((std::map<std::string, std::string>{{"Line1", "1,2"}, {"Text", Sj("注")}}), map);
    ASSERT_TRUE(GetIniKeyMap((dir / "none.ini").c_str(), "EditInfo", &map));
    EXPECT_TRUE(map.empty());
    EXPECT_FALSE(GetIniKeyMap(dir.Path().c_str(), "EditInfo", &map));

    std::string out;
    ASSERT_TRUE(GetPrivateProfileLongString("DocInfo", "pageidlist", "", &out, ini));
    EXPECT_EQ(longList, out);
    ASSERT_TRUE(GetPrivateProfileLongString("DocInfo", "Missing", "dflt", &out, ini));
    EXPECT_EQ("dflt", out);
}

TEST(OrmaComm, FoldersTemporaryMadeAndDeletedInside) {
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

    std::string deep = dir.Path();  // the new folder's path would not fit below it
    while (deep.size() < 250) deep += "/" + std::string(30, 'd');
    ovtest::MakeDirs(deep);
    EnvGuard tooLong("TMPDIR", deep.c_str());
    EXPECT_FALSE(CreateTempFolder(a));
    EXPECT_STREQ("", a);
    ::stat(deep.c_str(), &st);
    EXPECT_EQ(2u, st.st_nlink) << "the refused folder must not be left behind";

    ovtest::WriteFile(dir / "outside/precious.pdf", "keep");
    EXPECT_TRUE(MakeFile((dir / "outside/precious.pdf").c_str()));  // an existing file is kept
    EXPECT_TRUE(MakeFolder((dir / "work/EditInfo_On").c_str()));
    EXPECT_TRUE(MakeFile((dir / "work/a/b/c.txt").c_str()));  // with its folders
    EXPECT_FALSE(MakeFile((dir / "work/a").c_str()));         // a folder is not a file
    // A link that points nowhere becomes a file of its own; its target is not made.
    ASSERT_EQ(0, ::symlink((dir / "outside/nowhere.dat").c_str(), (dir / "work/dangling").c_str()));
    EXPECT_TRUE(MakeFile((dir / "work/dangling").c_str()));
    EXPECT_FALSE(ovtest::Exists(dir / "outside/nowhere.dat"));
    ASSERT_EQ(0, ::lstat((dir / "work/dangling").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
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
    EXPECT_FALSE(DeleteTheFolder(nullptr, 0));
    const std::string notFolder = dir / "outside/precious.pdf", dotdot = dir / "outside/..";
    for (const std::string& bad : {std::string(), std::string("/"), std::string("//"), dotdot, notFolder})
        EXPECT_FALSE(DeleteTheFolder(bad.c_str(), 0)) << bad;
    EXPECT_TRUE(cap.Contains("DeleteTheFolder() Error!"));
    EXPECT_TRUE(ovtest::Exists(dir / "outside/precious.pdf"));
}

TEST(OrmaComm, WorkingFoldersOfEndedProcessesAreSweptOthersKept) {
    ovtest::TempDir dir;
    EnvGuard tmp("TMPDIR", dir.Path().c_str());
    char mine[MAX_PATH] = {};
    ASSERT_TRUE(CreateTempFolder(mine));
    EXPECT_EQ(0, std::string(mine).rfind(dir.Path() + "/ormaview-tmp-", 0)) << mine;
    ovtest::WriteFile(std::string(mine) + "/EditInfo_On/OrmaView1.thm", "image");

    // A process that makes its folder and is then killed without removing it.
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char made[MAX_PATH] = {};
        const bool ok = CreateTempFolder(made);
        (void)!::write(fds[1], made, sizeof made);
        if (ok)
            ::pause();  // killed here, holding the folder
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    char dead[MAX_PATH] = {};
    ASSERT_EQ(static_cast<ssize_t>(sizeof dead), ::read(fds[0], dead, sizeof dead));
    ::close(fds[0]);
    ASSERT_NE(dead[0], '\0');
    ovtest::WriteFile(std::string(dead) + "/EditInfo_Off/OrmaView2.thm", "image");
    // While it lives, its folder is kept.
    EXPECT_EQ(0, ov::SweepDeadTempFolders());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    // Folders that are not ours by name or kind stay whatever their state.
    const std::string others[] = {"ormaview-123456", "ormaview-tmp-abc", "ormaview-tmp-abcdefg",
                                  "ormaview-tmp-ab.def"};
    for (const std::string& name : others) ovtest::MakeDirs(dir / name);
    ovtest::MakeDirs(dir / "target");
    ASSERT_EQ(0, ::symlink((dir / "target").c_str(), (dir / "ormaview-tmp-Link01").c_str()));
    ovtest::WriteFile(dir / "ormaview-tmp-File01", "x");

    ovtest::TraceCapture cap;
    EXPECT_EQ(1, ov::SweepDeadTempFolders());
    EXPECT_FALSE(ovtest::Exists(dead));
    EXPECT_TRUE(cap.Contains(std::string("Working folder of an ended viewer removed [Folder] ") + dead));
    EXPECT_TRUE(ovtest::Exists(std::string(mine) + "/EditInfo_On/OrmaView1.thm"));  // in use here
    for (const std::string& name : others) EXPECT_TRUE(ovtest::Exists(dir / name)) << name;
    EXPECT_TRUE(ovtest::Exists(dir / "target"));
    EXPECT_TRUE(ovtest::Exists(dir / "ormaview-tmp-File01"));

    // Removing a folder lets go of its lock; nothing is left to sweep.
    EXPECT_TRUE(DeleteTheFolder(mine, 0));
    EXPECT_EQ(0, ov::SweepDeadTempFolders());
}
