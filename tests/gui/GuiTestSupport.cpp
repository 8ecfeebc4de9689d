// SPDX-License-Identifier: AGPL-3.0-or-later
#include "GuiTestSupport.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "ipc/OrmaViewDll.h"
#include "win32/PrivateProfile.h"

namespace guitest {

QApplication* App() {
    static QApplication* s_pApp = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return s_pApp;
}

ViewerEnv::ViewerEnv() {
    App();
    ovtest::MakeDirs(WorkDesk());
    ovtest::MakeDirs(m_dir / "tmp");
    ovtest::MakeDirs(m_dir / "runtime");
    ::chmod((m_dir / "runtime").c_str(), 0700);
    const std::pair<const char*, std::string> vars[] = {
        {"ORMAVIEW_WORKDESK", WorkDesk()},
        {"XDG_RUNTIME_DIR", m_dir / "runtime"},
        {"TMPDIR", m_dir / "tmp"},
        {"XDG_CACHE_HOME", m_dir / "cache"},
        {"XDG_CONFIG_HOME", m_dir / "config"},
        {"ORMAVIEW_TRACE_FILE", m_dir / "trace.log"},
        {"ORMAVIEW_MESSAGE_LOG", m_dir / "messages.log"},
        {"LANG", "C"},
        {"LC_ALL", ""},
        {"LC_MESSAGES", ""},
    };
    for (const auto& [name, value] : vars)
        m_env.push_back(std::make_unique<ovtest::EnvGuard>(name, value.empty() ? nullptr : value.c_str()));
}

ViewerEnv::~ViewerEnv() = default;

int PlacementValue(const std::string& workDeskDat, const char* key) {
    return static_cast<int>(GetPrivateProfileIntA("ThumbViewRect", key, -9999, workDeskDat.c_str()));
}

void WritePlacement(const std::string& workDeskDat, int left, int top, int width, int height, int size,
                    const std::string& before) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "[ThumbViewRect]\r\nLeft=%d\r\nTop=%d\r\nWidth=%d\r\nHeight=%d\r\nSize=%d\r\n", left, top,
                  width, height, size);
    ovtest::WriteFile(workDeskDat, before + text);
}

void SendMouse(QWidget* pWidget, QEvent::Type type, QPoint pt, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(type, QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), button, buttons, modifiers);
    QApplication::sendEvent(pWidget, &event);
}

void SendWheel(QWidget* pWidget, QPoint pt, QPoint delta, Qt::KeyboardModifiers modifiers, QPoint pixel) {
    QWheelEvent event(QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), pixel, delta, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(pWidget, &event);
}

void Drag(QWidget* pWidget, QPoint a, QPoint b) {
    SendMouse(pWidget, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    SendMouse(pWidget, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
}

constexpr int kPostcardKey = 4711;

void ViewerFixture::SetUp() {
    ovtestdoc::WriteIndexedDocument(m_env.WorkDesk());
    ov::InstallMessageBoxPresenter();
    COrmaZoomView::SetAnimationInterval(0);
}

void ViewerFixture::TearDown() {
    Stop();
    OrmaViewRemoveHagakiManage(kPostcardKey);
    COrmaZoomView::SetAnimationInterval(50);
}

bool ViewerFixture::StartPostcard(int iPageID) {
    HAGAKI_MANAGE_INFO info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.szWorkDeskFolder, m_env.WorkDesk().c_str(), sizeof info.szWorkDeskFolder - 1);
    info.iDocID = 12;
    info.iPageID = iPageID;
    info.bEditable = 1;
    if (OrmaViewSetHagakiManage(kPostcardKey, &info) != 0 || !Start("/h " + std::to_string(kPostcardKey)))
        return false;
    Frame()->activateWindow();
    return QTest::qWaitForWindowActive(Frame());
}

bool ViewerFixture::Start(const std::string& strCmdLine) {
    Stop();
    m_pApp = std::make_unique<COrmaDeskApp>();
    if (!m_pApp->InitInstance(strCmdLine))
        return false;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    EXPECT_TRUE(Frame()->WaitForPage());
    return true;
}

COrmaViewView* ViewerFixture::View() const {
    EXPECT_TRUE(Frame()->WaitForPage());
    return Frame()->GetActiveView();
}

void ViewerFixture::Stop() {
    if (m_pApp)
        m_pApp->ExitInstance();
    m_pApp.reset();
}

}  // namespace guitest
