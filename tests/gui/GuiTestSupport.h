// SPDX-License-Identifier: AGPL-3.0-or-later
// Shared pieces of the viewer tests: the QApplication, an isolated environment
// per test and work desks written by the tests themselves.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

class QApplication;

namespace guitest {

// The one QApplication of the test program (offscreen unless told otherwise).
QApplication* App();

// A one-page PDF (200 x 280 points) filled with one colour, components 0..1.
std::string MakePdf(double r, double g, double b);

struct PageDef {
    int iPageID;
    int iFlag;  // 2: index sheet
    double r, g, b;
    std::string strEditInfo = {};  // values of section "EditInfo", one a line
};

// Writes work-desk folder / Doc%06d with Doc.dat and the pages' PDF and data
// files, in page order.
void WriteDocument(const std::string& workDesk, int iDocID, const std::string& name,
                   const std::vector<PageDef>& pages);

// Five pages: red (ID 1, with a blue frame drawn as its annotation), green (2),
// two index sheets (3, 4), blue (5).
void WriteIndexedDocument(const std::string& workDesk, int iDocID);

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
    std::string TraceText() const { return ovtest::ReadFile(m_strTrace); }
    std::string MessageLog() const { return ovtest::ReadFile(m_strMessages); }
    std::string Path(const std::string& name) const { return m_dir / name; }

private:
    ovtest::TempDir m_dir;
    std::string m_strTrace;
    std::string m_strMessages;
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

// Reads an integer of section "ThumbViewRect" (default -9999).
int PlacementValue(const std::string& workDeskDat, const char* key);
void WritePlacement(const std::string& workDeskDat, int left, int top, int width, int height, int size);

// The text of a message number as UTF-8.
std::string MessageTextUtf8(int number);

}  // namespace guitest
