// SPDX-License-Identifier: AGPL-3.0-or-later
// The ormaview program as a real process: failed starts with their exit status
// and boxes, and the single-instance close between two viewers.
#include <cstdlib>

#include <QProcess>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"
#include "ipc/WindowManager.h"

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::WriteIndexedDocument(m_env.WorkDesk()); }

    static void Launch(QProcess& process, const QStringList& args) {
        const char* bin = std::getenv("ORMAVIEW_TEST_BIN_DIR");
        process.start(QString::fromUtf8(bin != nullptr ? bin : ".") + "/bin/ormaview", args);
    }
    // Runs the viewer to its end; returns the exit status.
    static int RunToEnd(const QStringList& args, QString* pOut = nullptr) {
        QProcess process;
        Launch(process, args);
        EXPECT_TRUE(process.waitForFinished(30000));
        if (pOut != nullptr)
            *pOut = QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // Starts a viewer that reports its first painted page, and waits for it.
    bool StartViewer(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORMAVIEW_REPORT_FIRST_PAINT", "1");
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        Launch(process, {QString::fromStdString(m_env.WorkDesk()), "12", "1"});
        QByteArray err;
        while (!err.contains("ORMAVIEW_FIRST_PAINT") && process.waitForReadyRead(30000))
            err += process.readAllStandardError();
        return err.contains("ORMAVIEW_FIRST_PAINT");
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

TEST_F(ProcessTest, FailedStartsExitWithTheirStatusAndBoxAndSaveNothing) {
    const QString desk = QString::fromStdString(m_env.WorkDesk());
    const QString missing = QString::fromStdString(m_env.Path("missing"));
    struct Case {
        QStringList args;
        int iStatus;
        int iMessage;  // 0: no box
        std::string strTrace;
        std::string strInformative = {};  // what the box is about
    };
    const Case cases[] = {
        {{desk, "12"}, 2, 0, "Parameter Error! [lpCmdLine] "},
        {{"\"unclosed", "12", "1"}, 2, 0, "GetNextPara() Error!"},
        {{}, 2, 0, "Parameter Error! [lpCmdLine] \n"},
        {{desk, "12", "0"}, 1, 44, "Parameter Error! iPageID < 1.", "\tPage ID: 0"},
        {{missing, "12", "1"},
         1,
         25,
         "File doesn't Exist! [File] " + m_env.Path("missing"),
         "\tFolder: " + m_env.Path("missing")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ovtest::WriteFile(m_env.Path("messages.log"), "");
        ovtest::WriteFile(m_env.Path("trace.log"), "");
        EXPECT_EQ(RunToEnd(c.args), c.iStatus);
        EXPECT_EQ(m_env.MessageLog(), c.iMessage == 0
                                          ? ""
                                          : "50010\tQuilm-WorkArea\t" + guitest::MessageTextUtf8(c.iMessage) +
                                                c.strInformative + "\n");
        EXPECT_NE(m_env.TraceText().find(c.strTrace), std::string::npos);
        EXPECT_FALSE(ovtest::Exists(m_env.WorkDeskDat()));  // the closing steps did not run
    }
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
