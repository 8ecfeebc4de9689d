// SPDX-License-Identifier: AGPL-3.0-or-later
// The application object of the viewer: start-up (work-desk folder and trace
// path, language module, single-instance guard, hidden frame, command line,
// TAVR library, load, show) and shut-down.
#pragma once

#include <memory>
#include <string>

#include <QPointer>

#include "base/WinTypes.h"
#include "frame/MainFrm.h"
#include "ipc/NamedMutex.h"
#include "ormamsg/StringTable.h"

class COrmaViewDoc;

class COrmaDeskApp {
public:
    // Finds the work-desk folder and fills g_szWorkDeskDatPath. A QApplication
    // is not needed yet.
    COrmaDeskApp();
    // Closes the TAVR library and writes the last trace line.
    ~COrmaDeskApp();
    COrmaDeskApp(const COrmaDeskApp&) = delete;
    COrmaDeskApp& operator=(const COrmaDeskApp&) = delete;

    // Start-up with the raw command line (CP932, arguments after the program
    // name). TRUE: the frame is loaded and shown. FALSE: start-up failed; any
    // error box has been shown and m_iResult holds the code. Needs a
    // QApplication.
    BOOL InitInstance(const std::string& strCmdLine);
    // Destroys the frame and the document, releases the mutex and the language
    // module. Safe to call more than once.
    int ExitInstance();
    // InitInstance, the event loop, ExitInstance. Returns the exit status: 0
    // after a normal run, 2 for a mistake in the parameters (the usage follows
    // it), 1 for any other failed start.
    int Run(const std::string& strCmdLine);

    CMainFrame* GetMainFrame() const { return m_pMainFrame; }
    COrmaViewDoc* GetDocument() const { return m_pDocument.get(); }

    // How long a second start waits for a closing viewer to let go of the
    // single-instance mutex (tries x interval).
    static constexpr int kMutexRetries = 50;
    static constexpr int kMutexRetryIntervalMs = 100;

    HANDLE m_hMutex = nullptr;
    int m_iResult = 0;
    BOOL m_bHagakiMode = FALSE;
    int m_iHagakiManageKey = 0;

private:
    BOOL AcquireSingleInstance();
    // SIGTERM, SIGHUP and SIGINT run the frame's closing path (or end a start
    // still in progress) instead of killing the process.
    void WatchCloseSignals();
    BOOL m_bCloseRequested = FALSE;
    // Tells on standard error, in one line, why the start failed (and the usage
    // after a usage mistake); returns the exit status, 2 after a usage mistake.
    int ReportFailedStart(const std::string& strCmdLine) const;
    // When neither $ORMAVIEW_WORKDESK nor ormaview.ini names the work desk, the
    // folder of the command line (standard mode) or of the postcard's record
    // becomes it, so the placement is read from and saved to its WorkDesk.dat.
    void UseStartFolderAsWorkDesk(const std::string& strCmdLineFolder);
    void DestroyFrame();

    HINSTANCE m_hLanguage = nullptr;
    // Why a start failed that has no message of its own; empty otherwise.
    std::string m_strStartFailure;
    std::unique_ptr<COrmaViewDoc> m_pDocument;
    QPointer<CMainFrame> m_pMainFrame;
};

// The application object of this process (null when none exists).
COrmaDeskApp* OvGetApp();

namespace ov {
// Installs the Qt message box as the presenter of ShowErrorMessage: a critical
// box with the caption and text, on top. When $ORMAVIEW_MESSAGE_LOG names a file,
// each box is also appended to it as "<style hex>\t<caption>\t<text>\n" (UTF-8;
// "\t<informative text>" before the newline when the box has one)
// and closed by itself once shown, so that tests and scripts can run unattended.
void InstallMessageBoxPresenter();
// Qt's own texts (the OK and Cancel buttons, the dialogs) in the language of the
// language module, when Qt has a translation for it (again at each call, for
// the locale of that moment). Needs a QApplication.
void InstallQtTranslations();
}  // namespace ov
