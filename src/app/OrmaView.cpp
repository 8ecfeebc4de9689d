// SPDX-License-Identifier: AGPL-3.0-or-later
#include "app/OrmaView.h"
#include "base/StartMarks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include "app/CommandLine.h"
#include "base/Globals.h"
#include "base/Trace.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ipc/RuntimeDir.h"
#include "ipc/WindowManager.h"
#include "ormacomm/OrmaComm.h"
#include "ormamsg/OrmaMsg.h"
#include "postcard/HagakiManage.h"
#include "tavrcllb/Tavrcllb.h"
#include "win32/CodePage.h"
#include "win32/FileApi.h"

namespace {

COrmaDeskApp* s_pApp = nullptr;

constexpr const char* kMutexName = "OrmaView Mutex";
// How long a start waits for its first page before showing the window without it.
constexpr int kFirstPictureWaitMs = 150;

bool EnvFlag(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// Reports the first painted page for start-up measurements and takes the
// screenshot that unattended runs ask for. Both are off unless asked for by the
// environment.
void InstallFirstPaintHooks(CMainFrame* pFrame) {
    COrmaViewView* pView = pFrame->GetActiveView();
    const char* screenshot = std::getenv("ORMAVIEW_SCREENSHOT");
    const bool bReport = EnvFlag("ORMAVIEW_REPORT_FIRST_PAINT");
    if (pView == nullptr || (!bReport && (screenshot == nullptr || *screenshot == '\0')))
        return;
    const QString strShot = screenshot != nullptr ? QString::fromUtf8(screenshot) : QString();
    if (bReport) {
        // The window is on the screen (its page may still be being made).
        auto pWindow = std::make_shared<QMetaObject::Connection>();
        *pWindow = QObject::connect(pView, &COrmaViewView::viewPainted, pFrame, [=] {
            QObject::disconnect(*pWindow);
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::fprintf(stderr, "ORMAVIEW_FIRST_WINDOW %lld\n",
                         static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
            std::fflush(stderr);
        });
    }
    auto pConnection = std::make_shared<QMetaObject::Connection>();
    *pConnection = QObject::connect(pView, &COrmaViewView::pagePainted, pFrame, [=] {
        QObject::disconnect(*pConnection);
        if (bReport) {
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::fprintf(stderr, "ORMAVIEW_FIRST_PAINT %lld\n",
                         static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
            std::fflush(stderr);
        }
        if (strShot.isEmpty())
            return;
        QTimer::singleShot(0, pFrame, [=] {
            if (pFrame->grab().save(strShot, "PNG"))
                std::printf("Screenshot saved to %s\n", strShot.toUtf8().constData());
            else
                std::fprintf(stderr, "ormaview: could not save the screenshot to %s\n",
                             strShot.toUtf8().constData());
            std::fflush(stdout);
            if (EnvFlag("ORMAVIEW_CLOSE_AFTER_SCREENSHOT"))
                pFrame->OnClose();
        });
    });
}

// SIGTERM, SIGHUP and SIGINT end the viewer through its one closing path: the
// handler only writes the signal's number into a pipe, which the event loop
// watches.
int s_aSignalPipe[2] = {-1, -1};

void OnCloseSignal(int iSignal) {
    const int iSavedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(iSignal);
    if (s_aSignalPipe[1] >= 0)
        (void)!::write(s_aSignalPipe[1], &byte, 1);
    errno = iSavedErrno;
}

bool InstallCloseSignals() {
    if (s_aSignalPipe[0] < 0 && ::pipe2(s_aSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        OV_TRACE("pipe2() Error! [errno] %d\n", errno);
        s_aSignalPipe[0] = s_aSignalPipe[1] = -1;
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = OnCloseSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int iSignal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(iSignal, &sa, nullptr);
    return true;
}

// A failed start's line with two texts put in, in the language of the messages.
std::string FormatResText(UINT nID, const std::string& strFirst, const std::string& strSecond) {
    const std::string strFormat = LoadResText(nID);
    const int iLength = std::snprintf(nullptr, 0, strFormat.c_str(), strFirst.c_str(), strSecond.c_str());
    std::string strText(iLength > 0 ? static_cast<std::size_t>(iLength) : 0, '\0');
    std::snprintf(strText.data(), strText.size() + 1, strFormat.c_str(), strFirst.c_str(), strSecond.c_str());
    return strText;
}

}  // namespace

COrmaDeskApp* OvGetApp() {
    return s_pApp;
}

COrmaDeskApp::COrmaDeskApp() {
    s_pApp = this;
    std::memset(g_szWorkDeskDatPath, 0, sizeof g_szWorkDeskDatPath);
    char szFolder[MAX_PATH] = {};
    if (GetWorkDeskFolder(szFolder) != 0) {
        char szPath[MAX_PATH + 16] = {};
        const int n = std::snprintf(szPath, sizeof szPath, "%s/%s", szFolder, "WorkDesk.dat");
        if (n > 0 && n < MAX_PATH) {
            std::memcpy(g_szWorkDeskDatPath, szPath, static_cast<std::size_t>(n) + 1);
            OV_TRACE_TEXT("COrmaDeskApp::COrmaDeskApp()\n");
        } else {
            // A path that does not fit is not cut: traces and the placement go
            // without a settings path instead of to a wrong file.
            TraceWrite(nullptr, OV_MODULE_NAME, __FILE__, __LINE__, "GetWorkDeskFolder() Error!\n");
        }
    } else {
        TraceWrite(nullptr, OV_MODULE_NAME, __FILE__, __LINE__, "GetWorkDeskFolder() Error!\n");
    }
}

COrmaDeskApp::~COrmaDeskApp() {
    ExitInstance();
    TAVR_Close();
    OV_TRACE_TEXT("COrmaDeskApp::~COrmaDeskApp()\n");
    if (s_pApp == this)
        s_pApp = nullptr;
}

BOOL COrmaDeskApp::AcquireSingleInstance() {
    SetLastError(0);
    m_hMutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (m_hMutex == nullptr || GetLastError() == static_cast<int>(ERROR_ALREADY_EXISTS)) {
        // A viewer runs: ask it to save its state and close.
        const HWND hRunning = FindWindowA(kViewerWndClass, nullptr);
        if (hRunning != 0)
            SendMessageA(hRunning, WM_CLOSE, 0, 0);
        if (m_hMutex != nullptr) {
            CloseHandle(m_hMutex);
            m_hMutex = nullptr;
        }
    }
    if (m_hMutex != nullptr)
        return TRUE;
    // The closed viewer lets go of the mutex only when its process ends; wait
    // for that (polling) instead of failing while it is still shutting down.
    for (int i = 0; i < kMutexRetries; ++i) {
        SetLastError(0);
        HANDLE h = CreateMutexA(nullptr, FALSE, kMutexName);
        if (h != nullptr && GetLastError() != static_cast<int>(ERROR_ALREADY_EXISTS)) {
            m_hMutex = h;
            return TRUE;
        }
        if (h != nullptr)
            CloseHandle(h);
        if (i + 1 < kMutexRetries)
            Sleep(kMutexRetryIntervalMs);
    }
    OV_TRACE("CreateMutex() Error!\n");
    return FALSE;
}

BOOL COrmaDeskApp::InitInstance(const std::string& strCmdLine) {
    m_iResult = 0;
    m_bHagakiMode = FALSE;
    m_iHagakiManageKey = 0;
    m_strStartFailure.clear();
    ov::ClearMessageDetail();
    SetWorkDeskFolderFallback(nullptr);

    // Strings, icons and dialogs come from the language module when there is one.
    m_hLanguage = GetResourceHandle(nullptr, 0);
    if (m_hLanguage != nullptr)
        SetCurrentResourceModule(m_hLanguage);

    if (!strCmdLine.empty())
        m_bHagakiMode = ov::IsHagakiCommandLine(strCmdLine);

    // Working folders of viewers that ended without removing theirs go now.
    ov::SweepDeadTempFolders();
    ov::StartMark("sweep");

    // Everything between processes lives in the private runtime folder: one that
    // cannot be used is said at once, naming it, instead of failing later and silently.
    std::string strFolder;
    std::string strWhy;
    if (!ov::ipc::CheckRuntimeDir(&strFolder, &strWhy)) {
        OV_TRACE("RuntimeDir Error! [Folder] %s [Reason] %s\n", strFolder.c_str(), strWhy.c_str());
        m_strStartFailure = FormatResText(IDS_START_RUNTIME_FOLDER, strFolder, strWhy);
        m_iResult = ov::kErrRuntimeFolder;
        ov::NoteMessageDetail(ov::DetailKind::Folder, ov::Utf8ToCp932(strFolder).value_or(strFolder));
        ov::NoteMessageDetail(ov::Utf8ToCp932(strWhy).value_or(strWhy));
        ShowErrorMessage(m_iResult);
        return FALSE;
    }

    ov::StartMark("runtime-folder");
    // At most one standard-mode viewer runs; postcard viewers may run beside it.
    // Of several viewers started at once one stays; the others end with a word on
    // standard error besides the trace line (no box: the viewer that stays is shown).
    if (!m_bHagakiMode && !AcquireSingleInstance()) {
        m_strStartFailure = LoadResText(IDS_START_OTHER_VIEWER);
        return FALSE;
    }

    ov::StartMark("single-instance");
    // The document, the hidden frame and the page view.
    m_pDocument = std::make_unique<COrmaViewDoc>();
    m_pMainFrame = new CMainFrame(m_pDocument.get());
    if (!m_pMainFrame->Create(m_bHagakiMode)) {
        OV_TRACE("ProcessShellCommand() Error!\n");
        m_strStartFailure = LoadResText(IDS_START_NO_WINDOW);
        DestroyFrame();
        return FALSE;
    }

    ov::StartMark("frame");
    OV_TRACE_TEXT("[m_lpCmdLine] %s\n", strCmdLine.c_str());
    ov::StartParams params;
    m_iResult = ov::ParseStartParams(strCmdLine, &params);
    if (m_iResult == 0) {
        if (m_bHagakiMode)
            m_iHagakiManageKey = params.iHagakiManageKey;
        TAVR_Open(9);
        m_iResult =
            m_pMainFrame->Load(params.strWorkDeskFolder, params.iDocID, params.iPageID, m_iHagakiManageKey);
    }
    if (m_iResult != 0) {
        // The window goes without the closing steps (nothing is told or saved),
        // and before the box, so that no other viewer can reach it meanwhile.
        DestroyFrame();
        ShowErrorMessage(m_iResult);
        return FALSE;
    }

    ov::StartMark("load");
    CMainFrame* pFrame = m_pMainFrame;
    UseStartFolderAsWorkDesk(params.strWorkDeskFolder);
    if (pFrame->m_bCenterWindow) {
        if (const QScreen* pScreen = QGuiApplication::primaryScreen()) {
            QRect rc = pFrame->frameGeometry();
            rc.moveCenter(pScreen->availableGeometry().center());
            pFrame->move(rc.topLeft());
        }
    }
    // The first paint shows the page when it comes soon; a slow one shows the
    // window first, with its note that the page is coming.
    pFrame->WaitForFirstPicture(kFirstPictureWaitMs);
    if (pFrame->IsSavedMaximized() == 1)
        pFrame->showMaximized();
    else
        pFrame->show();
    ov::StartMark("shown");
    if (QWidget* pView = pFrame->GetActiveView())
        pView->setFocus();
    return TRUE;
}

void COrmaDeskApp::DestroyFrame() {
    delete m_pMainFrame.data();
    m_pMainFrame = nullptr;
    m_pDocument.reset();
}

int COrmaDeskApp::ExitInstance() {
    DestroyFrame();
    if (m_hMutex != nullptr) {
        ReleaseMutex(m_hMutex);
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
    }
    if (m_hLanguage != nullptr) {
        FreeLibrary(m_hLanguage);
        SetCurrentResourceModule(nullptr);
        m_hLanguage = nullptr;
    }
    return 0;
}

void COrmaDeskApp::WatchCloseSignals() {
    if (!InstallCloseSignals())
        return;
    auto* pNotifier = new QSocketNotifier(s_aSignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(pNotifier, &QSocketNotifier::activated, qApp, [this] {
        unsigned char aSignals[16];
        const ssize_t n = ::read(s_aSignalPipe[0], aSignals, sizeof aSignals);
        if (n <= 0)
            return;
        OV_TRACE("Close requested by signal [Signal] %d\n", static_cast<int>(aSignals[0]));
        if (m_pMainFrame != nullptr && m_pMainFrame->isVisible()) {
            m_pMainFrame->OnClose();
        } else {
            // Still starting (an error box may be open): the start ends instead.
            m_bCloseRequested = TRUE;
            QApplication::closeAllWindows();
        }
    });
}

void COrmaDeskApp::UseStartFolderAsWorkDesk(const std::string& strCmdLineFolder) {
    char szFolder[MAX_PATH] = {};
    if (GetWorkDeskFolder(szFolder) != 0)
        return;
    const std::string strFolder = m_bHagakiMode && m_pDocument->m_pHagakiManage != nullptr
                                      ? std::string(m_pDocument->m_pHagakiManage->GetFolder())
                                      : strCmdLineFolder;
    SetWorkDeskFolderFallback(strFolder.c_str());
    if (GetWorkDeskFolder(szFolder) == 0)
        return;
    m_pMainFrame->ApplyInitialWindowRect();
}

int COrmaDeskApp::ReportFailedStart(const std::string& strCmdLine) const {
    ov::StartProblem problem;
    if (!m_strStartFailure.empty())
        problem.strText = m_strStartFailure;
    else
        problem = ov::DescribeCommandLineProblem(strCmdLine);
    if (problem.strText.empty()) {
        // The box's message and what it was about, in one line.
        const int iNumber = ov::MessageNumberForCode(m_iResult);
        std::string strText =
            iNumber != 0 ? ov::Cp932ToUtf8Lossy(ov::MessageText(iNumber)) : ov::StartFailedText();
        strText = strText.substr(0, strText.find('\n'));
        std::string strDetail = ov::Cp932ToUtf8Lossy(ov::LastMessageDetail());
        for (std::size_t i = strDetail.find('\n'); i != std::string::npos; i = strDetail.find('\n', i))
            strDetail.replace(i, 1, "; ");
        problem.strText = strDetail.empty() ? strText : strText + " (" + strDetail + ")";
    }
    std::fprintf(stderr, "ormaview: %s\n", problem.strText.c_str());
    if (problem.bUsage)
        std::fputs(ov::UsageHintText().c_str(), stderr);
    std::fflush(stderr);
    return problem.bUsage ? 2 : 1;
}

int COrmaDeskApp::Run(const std::string& strCmdLine) {
    qApp->setQuitOnLastWindowClosed(false);
    WatchCloseSignals();
    if (!InitInstance(strCmdLine)) {
        const int iStatus = ReportFailedStart(strCmdLine);
        ExitInstance();
        return iStatus;
    }
    CMainFrame* pFrame = m_pMainFrame;
    QObject::connect(pFrame, &CMainFrame::frameClosed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    InstallFirstPaintHooks(pFrame);
    if (m_bCloseRequested)  // a signal came while the window was not yet shown
        QTimer::singleShot(0, pFrame, [pFrame] { pFrame->OnClose(); });
    QApplication::exec();
    ExitInstance();
    return 0;
}
