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

#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "ipc/OrmaViewDll.h"
#include "ormamsg/OrmaMsg.h"
#include "win32/CodePage.h"
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

void WriteIndexedDocument(const std::string& workDesk) {
    struct Page {
        int iFlag;  // 2: index sheet
        const char* colour;
    };
    const Page pages[] = {{0, "1 0 0"}, {0, "0 1 0"}, {2, ".5 .5 .5"}, {2, ".5 .5 .5"}, {0, "0 0 1"}};
    const std::string doc = workDesk + "/Doc000012";
    ovtest::MakeDirs(doc + "/Data");
    for (int id = 1; id <= 5; ++id) {
        const std::string base = doc + "/Data/Data" + std::to_string(id);
        ovsample::PdfPage page{200, 280, 0, std::string(pages[id - 1].colour) + " rg 20 20 160 240 re f", {}};
        ASSERT_TRUE(ovsample::WritePdf(base + ".pdf", {page}));
        ovtest::WriteFile(base + ".dat",
                          "[PageInfo]\r\nPage1Flag=" + std::to_string(pages[id - 1].iFlag) +
                              (id == 1 ? "\r\n[EditInfo]\r\nItem1=rect,#0000FF,12,30,30,140,60" : "") +
                              "\r\n");
    }
    ovtest::WriteFile(doc + "/Doc.dat",
                      "[DocInfo]\r\nPageTotal=3\r\nIndexTotal=2\r\nDocName=Test doc\r\nMaxPageID=5\r\n"
                      "PageIDList=1,2,3,4,5\r\n");
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

std::string MessageTextUtf8(int number) {
    return ov::Cp932ToUtf8Lossy(ov::MessageText(number));
}

void SendMouse(QWidget* pWidget, QEvent::Type type, QPoint pt, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(type, QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), button, buttons, modifiers);
    QApplication::sendEvent(pWidget, &event);
}

void SendWheel(QWidget* pWidget, QPoint pt, QPoint delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(pt), pWidget->mapToGlobal(QPointF(pt)), QPoint(), delta, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
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
    WriteIndexedDocument(m_env.WorkDesk());
    ov::InstallMessageBoxPresenter();
    COrmaZoomView::SetAnimationInterval(0);
}

void ViewerFixture::TearDown() {
    Stop();
    OrmaViewRemoveHagakiManage(kPostcardKey);
    COrmaZoomView::SetAnimationInterval(50);
}

bool ViewerFixture::StartPostcard(int iPageID, int iEditable) {
    HAGAKI_MANAGE_INFO info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.szWorkDeskFolder, m_env.WorkDesk().c_str(), sizeof info.szWorkDeskFolder - 1);
    info.iDocID = 12;
    info.iPageID = iPageID;
    info.bEditable = iEditable;
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
