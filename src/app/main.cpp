// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer: ormaview FOLDER DOCID PAGEID, or ormaview /h KEY for postcards.
#include <fontconfig/fontconfig.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include <QApplication>

#include "app/CommandLine.h"
#include "app/OrmaView.h"
#include "app/StartEnvironment.h"
#include "base/StartMarks.h"
#include "base/Trace.h"
#include "document/FirstPageDraw.h"
#include "frame/FrameStyle.h"
#include "ormamsg/StringTable.h"

namespace {
bool IsOption(const char* arg, const char* shortForm, const char* longForm) {
    return std::strcmp(arg, shortForm) == 0 || std::strcmp(arg, longForm) == 0;
}

// A standard start's first page, drawn while the window is being made. Only the
// plain form of three arguments: a start with the toolkit's own options takes
// the usual way.
std::unique_ptr<CFirstPageDraw> StartFirstPageDraw(int argc, char** argv) {
    std::string strCmdLine;
    ov::StartParams params;
    if (argc != 4 || !ov::JoinArgv(argc, argv, &strCmdLine) || ov::IsHagakiCommandLine(strCmdLine) ||
        ov::ParseStartParams(strCmdLine, &params) != 0)
        return nullptr;
    return std::make_unique<CFirstPageDraw>(params.strWorkDeskFolder, params.iDocID, params.iPageID);
}

// The toolkit reads the font configuration (some fifty XML files) and the font
// caches the first time it needs a font, on the UI thread, in the middle of
// making the window. Read here on a thread of its own while the toolkit starts,
// fontconfig then hands the toolkit the configuration already loaded; started
// late or slow, the toolkit's own call simply loads it as before. Joined before
// main returns.
class CFontSetUpAhead {
public:
    CFontSetUpAhead() {
        try {
            m_thread = std::thread([] { FcInit(); });
        } catch (const std::system_error&) {
            // No thread: the toolkit sets fonts up itself.
        }
    }
    ~CFontSetUpAhead() {
        if (m_thread.joinable())
            m_thread.join();
    }
    CFontSetUpAhead(const CFontSetUpAhead&) = delete;
    CFontSetUpAhead& operator=(const CFontSetUpAhead&) = delete;

private:
    std::thread m_thread;
};

// Until the application runs, a fatal message of Qt (no display, no platform
// plug-in) is a failed start like any other: one line and exit status 1
// instead of an abort.
QtMessageHandler s_pQtHandler = nullptr;

void StartMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& strMessage) {
    if (type != QtFatalMsg) {
        if (s_pQtHandler != nullptr)
            s_pQtHandler(type, context, strMessage);
        return;
    }
    std::fprintf(stderr, "ormaview: %s\n",
                 strMessage.section(QLatin1Char('\n'), 0, 0).toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(1);
}
}  // namespace

int main(int argc, char** argv) {
    ov::StartMark("main");
    // Page images and bitmaps are megabytes each and live for one page: with a
    // fixed threshold they are mapped on their own and go back to the system
    // when freed, instead of staying in the allocator's heaps of the workers.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // The usage and the command-line mistakes speak the language of the boxes.
    SetCurrentResourceModule(GetResourceHandle(nullptr, 0));
    if (argc == 2 && IsOption(argv[1], "-h", "--help")) {
        std::fputs(ov::UsageText().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && IsOption(argv[1], "-v", "--version")) {
        std::fputs(ov::VersionText().c_str(), stdout);
        return 0;
    }

    // Before any thread starts: the environment is changed here.
    ov::MarkSessionBusAbsentWithoutLauncher();
    const std::unique_ptr<CFirstPageDraw> pFirstPage = StartFirstPageDraw(argc, argv);
    const CFontSetUpAhead fonts;

    // The application object comes first: it finds the work-desk folder that
    // every trace line names. It outlives the QApplication.
    COrmaDeskApp theApp;
    // The window's class (WM_CLASS "ormaview") and, on Wayland, its app ID name
    // the installed desktop file.
    QCoreApplication::setApplicationName(QStringLiteral("ormaview"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ormaview.OrmaView"));
    s_pQtHandler = qInstallMessageHandler(StartMessageHandler);
    QApplication qapp(argc, argv);
    qInstallMessageHandler(s_pQtHandler);
    ov::StartMark("qapplication");
    ov::InstallMessageBoxPresenter();
    ov::InstallFrameStyle();
    ov::InstallQtTranslations();

    // QApplication has taken its own options out of argv.
    std::string strCmdLine;
    if (!ov::JoinArgv(argc, argv, &strCmdLine)) {
        OV_TRACE("Parameter Error! [lpCmdLine] %s\n", "(not representable in CP932)");
        std::fprintf(stderr, "ormaview: %s\n", ov::DescribeArgvProblem(argc, argv).strText.c_str());
        return 2;
    }
    return theApp.Run(strCmdLine);
}
