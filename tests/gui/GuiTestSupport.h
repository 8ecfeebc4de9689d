// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared pieces of the viewer tests: the QApplication, an isolated environment,
// the work desk they write, mouse events and the viewer started in-process.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <QEvent>
#include <QPoint>

#include "../frame/IndexedDocument.h"
#include "app/OrmaView.h"
#include "support/TestSupport.h"

class QApplication;
class QWidget;
class COrmaViewView;

namespace guitest {

// The one QApplication of the test program (offscreen unless told otherwise).
QApplication* App();

// A private work desk, runtime folder, temporary folder, trace file and message
// log; the environment variables point at them for the life of the object.
class ViewerEnv {
public:
    ViewerEnv();
    ~ViewerEnv();
    ViewerEnv(const ViewerEnv&) = delete;
    ViewerEnv& operator=(const ViewerEnv&) = delete;

    std::string WorkDesk() const { return m_dir / "workdesk"; }
    std::string WorkDeskDat() const { return WorkDesk() + "/WorkDesk.dat"; }
    std::string TraceText() const { return ovtest::ReadFile(m_dir / "trace.log"); }
    std::string MessageLog() const { return ovtest::ReadFile(m_dir / "messages.log"); }
    std::string Path(const std::string& name) const { return m_dir / name; }

private:
    ovtest::TempDir m_dir;
    std::vector<std::unique_ptr<ovtest::EnvGuard>> m_env;
};

// Reads an integer of section "ThumbViewRect" (default -9999).
int PlacementValue(const std::string& workDeskDat, const char* key);
// Writes section "ThumbViewRect" after any other text given.
void WritePlacement(const std::string& workDeskDat, int left, int top, int width, int height, int size,
                    const std::string& before = {});

void SendMouse(QWidget* pWidget, QEvent::Type type, QPoint pt, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void SendWheel(QWidget* pWidget, QPoint pt, QPoint delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               QPoint pixel = QPoint());
// A left-button drag from a to b over one move half-way.
void Drag(QWidget* pWidget, QPoint a, QPoint b);

// The viewer started in-process on the indexed document of a private work desk;
// the magnifier opens at once, without animation frames.
class ViewerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts on the command line; when started, the frame is shown and painted.
    bool Start(const std::string& strCmdLine);
    bool StartOnPage(int iPageID) {
        return Start("\"" + m_env.WorkDesk() + "\" 12 " + std::to_string(iPageID));
    }
    // Postcard mode: the postcard viewer's block (document mode, document 12)
    // published for a key, the frame active.
    bool StartPostcard(int iPageID);
    void Stop();
    int Value(const char* key) const { return PlacementValue(m_env.WorkDeskDat(), key); }

    CMainFrame* Frame() const { return m_pApp->GetMainFrame(); }
    // The page view once the page asked for is shown (or has failed): pages are
    // made on workers, and the tests look at what the user would see.
    COrmaViewView* View() const;
    COrmaViewView* ViewNow() const { return Frame()->GetActiveView(); }  // without waiting
    COrmaViewDoc* Doc() const { return m_pApp->GetDocument(); }

    ViewerEnv m_env;
    std::unique_ptr<COrmaDeskApp> m_pApp;
};

}  // namespace guitest
