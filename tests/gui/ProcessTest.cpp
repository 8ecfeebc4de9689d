// SPDX-License-Identifier: AGPL-3.0-or-later
// The ormaview program as a real process: the single-instance close between two
// viewers, close signals, killed viewers and many at once.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <QProcess>
#include <QThread>

#include "GuiTestSupport.h"
#include "frame/MainFrm.h"
#include "ipc/WindowManager.h"

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::WriteIndexedDocument(m_env.WorkDesk()); }

    static void Launch(QProcess& process, const QStringList& args) { process.start(Tool("ormaview"), args); }
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

    static QString Tool(const char* name) { return QString::fromStdString(ovtest::BuildProgram(name)); }
    // The working folders under the test's TMPDIR.
    std::vector<std::string> WorkingFolders() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_env.Path("tmp")))
            names.push_back(e.path().filename().string());
        return names;
    }
    // Files of the window registry (sockets and entries).
    std::size_t RegistryFiles() const {
        std::error_code ec;
        std::size_t n = 0;
        for (auto it = std::filesystem::directory_iterator(m_env.Path("runtime/ormaview/windows"), ec);
             !ec && it != std::filesystem::directory_iterator(); ++it)
            ++n;
        return n;
    }
    // Starts the work desk's stand-in, which logs the close notification.
    bool StartWorkDesk(QProcess& desk) {
        const std::string ready = m_env.Path("desk.ready");
        std::remove(ready.c_str());
        desk.start(Tool("ormaview-workdesk"), {"--log", QString::fromStdString(m_env.Path("desk.log")),
                                               "--ready-file", QString::fromStdString(ready)});
        for (int i = 0; i < 300 && !ovtest::Exists(ready); ++i) QThread::msleep(10);
        return ovtest::Exists(ready);
    }

    guitest::ViewerEnv m_env;
};

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

// SIGTERM, SIGHUP and SIGINT end the viewer through its closing path: the work
// desk is told, the placement saved and the working folder removed.
TEST_F(ProcessTest, CloseSignalsTakeTheClosingPath) {
    QProcess desk;
    ASSERT_TRUE(StartWorkDesk(desk));
    for (int iSignal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(iSignal);
        ovtest::WriteFile(m_env.Path("desk.log"), "");
        std::remove(m_env.WorkDeskDat().c_str());
        QProcess viewer;
        ASSERT_TRUE(StartViewer(viewer));
        EXPECT_EQ(WorkingFolders().size(), 1u);
        ::kill(static_cast<pid_t>(viewer.processId()), iSignal);
        ASSERT_TRUE(viewer.waitForFinished(30000));
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0);
        EXPECT_EQ(ovtest::ReadFile(m_env.Path("desk.log")), "WM_VIEWER_CLOSED wParam=0 lParam=0\n");
        EXPECT_GT(guitest::PlacementValue(m_env.WorkDeskDat(), "Width"), 0);
        EXPECT_TRUE(WorkingFolders().empty());
        EXPECT_NE(m_env.TraceText().find("Close requested by signal [Signal] " + std::to_string(iSignal)),
                  std::string::npos);
    }
    desk.terminate();
    desk.waitForFinished(10000);
}

// The postcard viewer's --timeout sends SIGTERM: the same closing path.
TEST_F(ProcessTest, PostcardPeerTimeoutClosesTheViewerCleanly) {
    QProcess peer;
    peer.start(Tool("ormaview-postcard-viewer"),
               {"--key", "7", "--mode", "0", "--card", QString::fromStdString(m_env.WorkDesk()) + ",12,1,1",
                "--viewer", Tool("ormaview"), "--timeout", "2"});
    ASSERT_TRUE(peer.waitForFinished(30000));
    EXPECT_EQ(peer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(peer.exitCode(), 0);  // the viewer's own status
    EXPECT_TRUE(WorkingFolders().empty());
    EXPECT_NE(m_env.TraceText().find("Close requested by signal [Signal] 15"), std::string::npos);
}

// A viewer killed outright leaves its working folder and its window entry; the
// next start removes both, and keeps what is not a dead viewer's.
// Of ten viewers started at once one stays; none of the others ends without a
// word, and no entry of them is left behind.
TEST_F(ProcessTest, TenViewersAtOnceNoneEndsWithoutAWord) {
    std::vector<std::unique_ptr<QProcess>> viewers;
    for (int i = 0; i < 10; ++i) {
        viewers.push_back(std::make_unique<QProcess>());
        Launch(*viewers.back(), {QString::fromStdString(m_env.WorkDesk()), "12", "1"});
    }
    // The others give up after about five seconds; wait until only one runs.
    auto stillRunning = [&] {
        return std::count_if(viewers.begin(), viewers.end(),
                             [](const auto& v) { return v->state() != QProcess::NotRunning; });
    };
    for (int i = 0; i < 150 && stillRunning() > 1; ++i) {
        for (auto& v : viewers) v->waitForFinished(0);
        QThread::msleep(100);
    }
    int running = 0;
    for (auto& v : viewers) {
        if (v->state() == QProcess::NotRunning) {
            const QString err = QString::fromUtf8(v->readAllStandardError());
            if (v->exitCode() != 0) {
                EXPECT_TRUE(err.contains("ormaview: ")) << err.toStdString();
            }
            continue;
        }
        ++running;
        ::kill(static_cast<pid_t>(v->processId()), SIGTERM);
        EXPECT_TRUE(v->waitForFinished(30000));
        EXPECT_EQ(v->exitCode(), 0);
    }
    EXPECT_LE(running, 1);
    EXPECT_EQ(RegistryFiles(), 0u);
    EXPECT_TRUE(WorkingFolders().empty());
}

// A runtime folder that is not private is named in a box and on standard error,
// at once, instead of a silent failure.
TEST_F(ProcessTest, RuntimeFolderThatIsNotPrivateIsReported) {
    const std::string runtime = m_env.Path("runtime/ormaview");
    ovtest::MakeDirs(runtime);
    ::chmod(runtime.c_str(), 0755);
    QProcess viewer;
    Launch(viewer, {QString::fromStdString(m_env.WorkDesk()), "12", "1"});
    ASSERT_TRUE(viewer.waitForFinished(30000));
    EXPECT_EQ(viewer.exitCode(), 1);
    const std::string err = viewer.readAllStandardError().toStdString();
    EXPECT_NE(
        err.find("ormaview: the runtime folder " + runtime + " cannot be used: its mode is 0755, not 0700"),
        std::string::npos)
        << err;
    const std::string box = m_env.MessageLog();
    EXPECT_NE(box.find(guitest::MessageTextUtf8(46)), std::string::npos) << box;
    EXPECT_NE(box.find(runtime), std::string::npos) << box;
    EXPECT_NE(m_env.TraceText().find("RuntimeDir Error! [Folder] " + runtime), std::string::npos);
    EXPECT_TRUE(WorkingFolders().empty());
    ::chmod(runtime.c_str(), 0700);
}

}  // namespace
