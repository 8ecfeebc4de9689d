// SPDX-License-Identifier: AGPL-3.0-or-later
// The ormaview program as a real process: each failed start with its one line on
// standard error, its box and its exit status; the closing path taken on close
// signals and on the close by a second viewer; many viewers started at once.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <QProcess>
#include <QThread>

#include "GuiTestSupport.h"
#include "ormamsg/OrmaMsg.h"
#include "win32/CodePage.h"

namespace {

QString Tool(const char* name) {
    return QString::fromStdString(ovtest::BuildProgram(name));
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ovtestdoc::WriteIndexedDocument(m_env.WorkDesk()); }

    QStringList Page1() const { return {QString::fromStdString(m_env.WorkDesk()), "12", "1"}; }
    // Starts a viewer that reports its first painted page, and waits for it.
    bool StartViewer(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORMAVIEW_REPORT_FIRST_PAINT", "1");
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(Tool("ormaview"), Page1());
        QByteArray err;
        while (!err.contains("ORMAVIEW_FIRST_PAINT") && process.waitForReadyRead(30000))
            err += process.readAllStandardError();
        return err.contains("ORMAVIEW_FIRST_PAINT");
    }
    // The entries of a folder of the test (0 when it does not exist).
    std::size_t Entries(const std::string& name) const {
        std::error_code ec;
        std::size_t n = 0;
        for (auto it = std::filesystem::directory_iterator(m_env.Path(name), ec);
             !ec && it != std::filesystem::directory_iterator(); ++it)
            ++n;
        return n;
    }
    std::size_t WorkingFolders() const { return Entries("tmp"); }
    // The toolkit's image-format plug-ins the process has loaded.
    static std::string ImageFormatPlugins(qint64 pid) {
        std::string found;
        const std::string maps = ovtest::ReadFile("/proc/" + std::to_string(pid) + "/maps");
        for (std::size_t at = maps.find("/imageformats/"); at != std::string::npos;
             at = maps.find("/imageformats/", at + 1))
            found += maps.substr(at, maps.find('\n', at) - at) + " ";
        return found;
    }

    guitest::ViewerEnv m_env;
};

TEST_F(ProcessTest, EveryFailedStartSaysWhatWasWrongInOneLine) {
    const QString desk = QString::fromStdString(m_env.WorkDesk());
    const QString missing = QString::fromStdString(m_env.Path("missing"));
    const std::string runtime = m_env.Path("runtime/ormaview");
    struct Case {
        QStringList args;
        int iStatus;
        QString line;  // the one line on standard error
        bool bUsage;
        int iMessage = -1;          // the box (0: none; -1: not checked here)
        std::string strTrace = {};  // a trace line
        std::string strInformative = {};
    };
    // clang-format off
    const Case cases[] = {
        {{}, 2, "ormaview: missing parameters: WORKDESK-FOLDER DOCUMENT-ID PAGE-ID", true, 0, "Parameter Error! [lpCmdLine] \n"},
        {{desk, "12", "0"}, 1, "ormaview: the page ID \"0\" is not a number of 1 or more", false, 44,
         "Parameter Error! iPageID < 1.", "\tPage ID: 0"},
        {{missing, "12", "1"}, 1, "ormaview: The document or the work-desk folder does not exist. (Folder: " + missing + ")", false, 25,
         "File doesn't Exist! [File] " + m_env.Path("missing"), "\tFolder: " + m_env.Path("missing")},
        // Last: a runtime folder that others may read is refused at once, never waited on.
        {{desk, "12", "1"}, 1, QString::fromStdString("ormaview: the runtime folder " + runtime +
         " cannot be used: its mode is 0755, not 0700"), false, 46, "RuntimeDir Error! [Folder] " + runtime,
         "\tFolder: " + runtime},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        ovtest::WriteFile(m_env.Path("messages.log"), "");
        ovtest::WriteFile(m_env.Path("trace.log"), "");
        if (c.iMessage == 46) {
            ovtest::MakeDirs(runtime);
            ::chmod(runtime.c_str(), 0755);
        }
        QProcess process;
        process.start(Tool("ormaview"), c.args);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, c.iStatus);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QStringList own;  // the lines the viewer wrote itself
        for (const QString& line : err.split('\n')) {
            if (line.startsWith("ormaview: "))
                own << line;
        }
        EXPECT_EQ(own, QStringList{c.line}) << err.toStdString();
        EXPECT_EQ(err.contains("Usage: ormaview WORKDESK-FOLDER"), c.bUsage);
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        if (c.iMessage >= 0) {
            const std::string box =
                "50010\tQuilm-WorkArea\t" + ov::Cp932ToUtf8Lossy(ov::MessageText(c.iMessage));
            EXPECT_EQ(m_env.MessageLog().rfind(c.iMessage ? box + c.strInformative : "", 0), 0u);
            EXPECT_EQ(m_env.MessageLog().empty(), c.iMessage == 0) << m_env.MessageLog();
        }
        EXPECT_NE(m_env.TraceText().find(c.strTrace), std::string::npos);
        EXPECT_FALSE(ovtest::Exists(m_env.WorkDeskDat()));  // the closing steps did not run
        EXPECT_EQ(WorkingFolders(), 0u);
    }
}

// SIGTERM, SIGHUP and SIGINT, and a second viewer's start, end the viewer
// through its closing path: the work desk is told, the placement saved and the
// working folder removed.
TEST_F(ProcessTest, CloseSignalsAndASecondViewerTakeTheClosingPath) {
    QProcess desk;
    const std::string ready = m_env.Path("desk.ready");
    desk.start(Tool("ormaview-workdesk"), {"--log", QString::fromStdString(m_env.Path("desk.log")),
                                           "--ready-file", QString::fromStdString(ready)});
    for (int i = 0; i < 300 && !ovtest::Exists(ready); ++i) QThread::msleep(10);
    ASSERT_TRUE(ovtest::Exists(ready));
    for (int iSignal : {SIGTERM, SIGHUP, SIGINT, 0}) {  // 0: a second viewer
        SCOPED_TRACE(iSignal);
        ovtest::WriteFile(m_env.Path("desk.log"), "");
        std::remove(m_env.WorkDeskDat().c_str());
        QProcess viewer, second;
        ASSERT_TRUE(StartViewer(viewer));
        EXPECT_EQ(WorkingFolders(), 1u);
        // The first page is shown without reading any image by the toolkit.
        EXPECT_EQ(ImageFormatPlugins(viewer.processId()), "");
        if (iSignal != 0)
            ::kill(static_cast<pid_t>(viewer.processId()), iSignal);
        else
            ASSERT_TRUE(StartViewer(second));
        ASSERT_TRUE(viewer.waitForFinished(30000));
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0);
        EXPECT_EQ(ovtest::ReadFile(m_env.Path("desk.log")), "WM_VIEWER_CLOSED wParam=0 lParam=0\n");
        EXPECT_GT(guitest::PlacementValue(m_env.WorkDeskDat(), "Width"), 0);
        EXPECT_EQ(WorkingFolders(), iSignal != 0 ? 0u : 1u);  // the second viewer's own
        if (iSignal != 0) {
            EXPECT_NE(m_env.TraceText().find("Close requested by signal [Signal] " + std::to_string(iSignal)),
                      std::string::npos);
        } else {
            EXPECT_EQ(second.state(), QProcess::Running);
            ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
            ASSERT_TRUE(second.waitForFinished(30000));
            EXPECT_EQ(m_env.MessageLog(), "");
        }
    }
    desk.terminate();
    desk.waitForFinished(10000);
}

// Of ten viewers started at once one stays; none of the others ends without a
// word, and no window entry of them is left behind.
TEST_F(ProcessTest, TenViewersAtOnceNoneEndsWithoutAWord) {
    std::vector<std::unique_ptr<QProcess>> viewers;
    for (int i = 0; i < 10; ++i) {
        viewers.push_back(std::make_unique<QProcess>());
        viewers.back()->start(Tool("ormaview"), Page1());
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
            EXPECT_TRUE(v->exitCode() == 0 || err.contains("ormaview: ")) << err.toStdString();
            continue;
        }
        ++running;
        ::kill(static_cast<pid_t>(v->processId()), SIGTERM);
        EXPECT_TRUE(v->waitForFinished(30000));
        EXPECT_EQ(v->exitCode(), 0);
    }
    EXPECT_LE(running, 1);
    EXPECT_EQ(Entries("runtime/ormaview/windows"), 0u);
    EXPECT_EQ(WorkingFolders(), 0u);
}

}  // namespace
