// SPDX-License-Identifier: AGPL-3.0-or-later
// Saving the placement when the disk is full or WorkDesk.dat is a link.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"
#include "win32/AtomicFile.h"

namespace {

using PlacementSaveTest = guitest::ViewerFixture;

int FullDisk(ov::ReplaceStep step) {
    return step == ov::ReplaceStep::Write ? ENOSPC : 0;
}

TEST_F(PlacementSaveTest, AFullDiskKeepsTheOldPlacementAndSaysSo) {
    guitest::WritePlacement(m_env.WorkDeskDat(), 100, 50, 400, 300, 0);
    const std::string old = ovtest::ReadFile(m_env.WorkDeskDat());
    ASSERT_TRUE(StartOnPage(1));
    Frame()->setGeometry(120, 80, 500, 360);
    ov::SetReplaceFaultHook(&FullDisk);
    Frame()->OnClose();
    ov::SetReplaceFaultHook(nullptr);
    EXPECT_EQ(old, ovtest::ReadFile(m_env.WorkDeskDat()));
    const std::string trace = m_env.TraceText();
    EXPECT_NE(
        trace.find("ReplaceFileContents() Error! [Path] " + m_env.WorkDeskDat() + " [Step] write [errno] 28"),
        std::string::npos)
        << trace;
    EXPECT_NE(
        trace.find("WritePrivateProfileString() Error! [File] " + m_env.WorkDeskDat() + " [ErrorCode] 28"),
        std::string::npos)
        << trace;
}

TEST_F(PlacementSaveTest, ALinkedWorkDeskDatIsReplacedNotWrittenThrough) {
    const std::string other = m_env.WorkDesk() + "/users-own.txt";
    ovtest::WriteFile(other, "[ThumbViewRect]\nLeft=100\nTop=50\nWidth=400\nHeight=300\nSize=0\n");
    ::unlink(m_env.WorkDeskDat().c_str());
    ASSERT_EQ(0, ::symlink(other.c_str(), m_env.WorkDeskDat().c_str()));
    ASSERT_TRUE(StartOnPage(1));
    EXPECT_EQ(Frame()->geometry(), QRect(100, 50, 400, 300)) << "reading through the link is harmless";
    Frame()->setGeometry(120, 80, 500, 360);
    Frame()->OnClose();
    EXPECT_EQ("[ThumbViewRect]\nLeft=100\nTop=50\nWidth=400\nHeight=300\nSize=0\n", ovtest::ReadFile(other));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(m_env.WorkDeskDat().c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Value("Left"), 120);
    EXPECT_EQ(Value("Size"), 0);
    EXPECT_NE(m_env.TraceText().find("A link is replaced by a regular file [Path] " + m_env.WorkDeskDat()),
              std::string::npos);
}

TEST_F(PlacementSaveTest, ALinkToNowhereIsReplacedAndItsTargetNeverMade) {
    const std::string nowhere = m_env.WorkDesk() + "/nowhere.dat";
    ::unlink(m_env.WorkDeskDat().c_str());
    ASSERT_EQ(0, ::symlink(nowhere.c_str(), m_env.WorkDeskDat().c_str()));
    ASSERT_TRUE(StartOnPage(1));
    Frame()->showNormal();
    Frame()->setGeometry(120, 80, 500, 360);
    Frame()->OnClose();
    EXPECT_FALSE(ovtest::Exists(nowhere));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(m_env.WorkDeskDat().c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Value("Width"), 500);
}

}  // namespace
