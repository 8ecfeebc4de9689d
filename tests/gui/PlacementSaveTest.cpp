// SPDX-License-Identifier: AGPL-3.0-or-later
// Saving the placement when the disk is full: the frame saves through the
// crash-safe replace (whose link handling the platform tests cover).
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

}  // namespace
