// SPDX-License-Identifier: AGPL-3.0-or-later
// The ormaview program as a real process: failed starts and their exit status
// and boxes, and the single-instance close between two viewers.
#include <cstdlib>

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"
#include "ipc/WindowManager.h"

namespace {

QString ViewerProgram() {
    const char* bin = std::getenv("ORMAVIEW_TEST_BIN_DIR");
    return QString::fromUtf8(bin != nullptr ? bin : ".") + QStringLiteral("/bin/ormaview");
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::WriteIndexedDocument(m_env.WorkDesk(), 12); }

    // Runs the viewer to its end; returns the exit status.
    int RunToEnd(const QStringList& args, QString* pOut = nullptr) {
        QProcess process;
        process.start(ViewerProgram(), args);
        EXPECT_TRUE(process.waitForFinished(30000));
        if (pOut != nullptr)
            *pOut = QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // Starts a viewer that reports its first painted page, and waits for it.
    bool StartViewer(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORMAVIEW_REPORT_FIRST_PAINT"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(ViewerProgram(), {QString::fromStdString(m_env.WorkDesk()), "12", "1"});
        QByteArray err;
        while (!err.contains("ORMAVIEW_FIRST_PAINT")) {
            if (!process.waitForReadyRead(30000))
                return false;
            err += process.readAllStandardError();
        }
        return true;
    }

    guitest::ViewerEnv m_env;
};

TEST_F(ProcessTest, HelpAndVersionPrintAndSucceed) {
    QString out;
    EXPECT_EQ(RunToEnd({"--help"}, &out), 0);
    EXPECT_TRUE(out.contains("Usage"));
    EXPECT_EQ(RunToEnd({"--version"}, &out), 0);
    EXPECT_TRUE(out.startsWith("ormaview "));
}

TEST_F(ProcessTest, CommandLineErrorsExitWithoutABox) {
    EXPECT_EQ(RunToEnd({QString::fromStdString(m_env.WorkDesk()), "12"}), 2);
    EXPECT_EQ(RunToEnd({"\"unclosed", "12", "1"}), 2);
    EXPECT_EQ(RunToEnd({}), 2);
    EXPECT_EQ(m_env.MessageLog(), "");
    EXPECT_NE(m_env.TraceText().find("Parameter Error! [lpCmdLine]"), std::string::npos);
}

TEST_F(ProcessTest, MissingFolderShowsMessage25AndFails) {
    EXPECT_EQ(RunToEnd({QString::fromStdString(m_env.Path("missing")), "12", "1"}), 1);
    EXPECT_EQ(m_env.MessageLog(), "50010\tQuilm-WorkArea\t" + guitest::MessageTextUtf8(25) + "\n");
    EXPECT_NE(m_env.TraceText().find("File doesn't Exist! [File] " + m_env.Path("missing")),
              std::string::npos);
}

TEST_F(ProcessTest, SecondViewerClosesTheRunningOneWhichSavesItsPlacement) {
    // Size 7 is neither state: the first viewer opens normal and writes 0.
    guitest::WritePlacement(m_env.WorkDeskDat(), 10, 20, 300, 200, 7);
    QProcess first;
    ASSERT_TRUE(StartViewer(first));
    QProcess second;
    ASSERT_TRUE(StartViewer(second));
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(guitest::PlacementValue(m_env.WorkDeskDat(), "Size"), 0);
    EXPECT_EQ(guitest::PlacementValue(m_env.WorkDeskDat(), "Width"), 300);
    EXPECT_EQ(second.state(), QProcess::Running);

    // The second one is found by its window class and closes on WM_CLOSE.
    const HWND hViewer = FindWindowA(kViewerWndClass, nullptr);
    ASSERT_NE(hViewer, 0u);
    SendMessageA(hViewer, WM_CLOSE, 0, 0);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(FindWindowA(kViewerWndClass, nullptr), 0u);
    EXPECT_EQ(m_env.MessageLog(), "");
}

}  // namespace
