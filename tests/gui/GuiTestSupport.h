// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared pieces of the viewer tests: the QApplication, an isolated environment
// per test, work desks written by the tests themselves and a fixture that starts
// the viewer in-process.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/OrmaView.h"
#include "support/TestSupport.h"

class QApplication;
class COrmaViewView;

namespace guitest {

// The one QApplication of the test program (offscreen unless told otherwise).
QApplication* App();

// Writes work-desk folder / Doc000012 with Doc.dat and five one-colour pages:
// red (ID 1, with a blue frame as its annotation), green (2), two index sheets
// (3, 4), blue (5).
void WriteIndexedDocument(const std::string& workDesk);

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
// The text of a message number as UTF-8.
std::string MessageTextUtf8(int number);

// The viewer started in-process on the indexed document of a private work desk.
class ViewerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { Stop(); }

    // Starts on the command line; when started, the frame is shown and painted.
    bool Start(const std::string& strCmdLine);
    bool StartOnPage(int iPageID) {
        return Start("\"" + m_env.WorkDesk() + "\" 12 " + std::to_string(iPageID));
    }
    void Stop();
    int Value(const char* key) const { return PlacementValue(m_env.WorkDeskDat(), key); }

    CMainFrame* Frame() const { return m_pApp->GetMainFrame(); }
    // The page view, once the page it was asked for is shown (or has failed):
    // pages are made on workers, and the tests look at what the user would see.
    COrmaViewView* View() const;
    // The page view as it is, without waiting.
    COrmaViewView* ViewNow() const { return Frame()->GetActiveView(); }
    COrmaViewDoc* Doc() const { return m_pApp->GetDocument(); }

    ViewerEnv m_env;
    std::unique_ptr<COrmaDeskApp> m_pApp;
};

// The viewer fixture with the magnifier opened at once, without animation frames.
class ZoomFixture : public ViewerFixture {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace guitest
