// SPDX-License-Identifier: AGPL-3.0-or-later
#include "GuiTestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "ormamsg/OrmaMsg.h"
#include "win32/CodePage.h"
#include "win32/PrivateProfile.h"

namespace guitest {

QApplication* App() {
    static QApplication* s_pApp = [] {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return s_pApp;
}

std::string MakePdf(double r, double g, double b) {
    char content[96];
    std::snprintf(content, sizeof content, "%.3f %.3f %.3f rg 20 20 160 240 re f", r, g, b);
    const std::string strContent = content;
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 280] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(strContent.size()) + " >>\nstream\n" + strContent + "\nendstream",
    };
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

void WriteDocument(const std::string& workDesk, int iDocID, const std::string& name,
                   const std::vector<PageDef>& pages) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "/Doc%06d", iDocID);
    const std::string doc = workDesk + folder;
    std::string list;
    int iIndex = 0;
    int iMax = 0;
    for (const PageDef& p : pages) {
        const std::string base = doc + "/Data/Data" + std::to_string(p.iPageID);
        ovtest::WriteFile(base + ".pdf", MakePdf(p.r, p.g, p.b));
        std::string dat = "[PageInfo]\r\nPage1Flag=" + std::to_string(p.iFlag) + "\r\n";
        if (!p.strEditInfo.empty())
            dat += "[EditInfo]\r\nItem1=" + p.strEditInfo + "\r\n";
        ovtest::WriteFile(base + ".dat", dat);
        list += (list.empty() ? "" : ",") + std::to_string(p.iPageID);
        if (p.iFlag == 2)
            ++iIndex;
        iMax = std::max(iMax, p.iPageID);
    }
    const int iTotal = static_cast<int>(pages.size());
    ovtest::WriteFile(doc + "/Doc.dat", "[DocInfo]\r\nPageTotal=" + std::to_string(iTotal - iIndex) +
                                            "\r\nIndexTotal=" + std::to_string(iIndex) +
                                            "\r\nDocName=" + name + "\r\nMaxPageID=" + std::to_string(iMax) +
                                            "\r\nPageIDList=" + list + "\r\n");
}

void WriteIndexedDocument(const std::string& workDesk, int iDocID) {
    WriteDocument(workDesk, iDocID, "Test doc",
                  {{1, 0, 1, 0, 0, "rect,#0000FF,12,30,30,140,60"},
                   {2, 0, 0, 1, 0},
                   {3, 2, .5, .5, .5},
                   {4, 2, .5, .5, .5},
                   {5, 0, 0, 0, 1}});
}

ViewerEnv::ViewerEnv() {
    App();
    m_strTrace = m_dir / "trace.log";
    m_strMessages = m_dir / "messages.log";
    ovtest::MakeDirs(WorkDesk());
    ovtest::MakeDirs(m_dir / "tmp");
    ovtest::MakeDirs(m_dir / "runtime");
    ::chmod((m_dir / "runtime").c_str(), 0700);
    const std::pair<const char*, std::string> vars[] = {
        {"ORMAVIEW_WORKDESK", WorkDesk()},
        {"XDG_RUNTIME_DIR", m_dir / "runtime"},
        {"TMPDIR", m_dir / "tmp"},
        {"ORMAVIEW_TRACE_FILE", m_strTrace},
        {"ORMAVIEW_MESSAGE_LOG", m_strMessages},
        {"LANG", "C"},
        {"LC_ALL", ""},
        {"LC_MESSAGES", ""},
    };
    for (const auto& [name, value] : vars) {
        const char* old = std::getenv(name);
        m_saved.push_back({name, {old != nullptr, old != nullptr ? old : ""}});
        if (value.empty())
            unsetenv(name);
        else
            setenv(name, value.c_str(), 1);
    }
}

ViewerEnv::~ViewerEnv() {
    for (const auto& [name, old] : m_saved) {
        if (old.first)
            setenv(name.c_str(), old.second.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

int PlacementValue(const std::string& workDeskDat, const char* key) {
    return static_cast<int>(GetPrivateProfileIntA("ThumbViewRect", key, -9999, workDeskDat.c_str()));
}

void WritePlacement(const std::string& workDeskDat, int left, int top, int width, int height, int size) {
    ovtest::WriteFile(workDeskDat,
                      "[ThumbViewRect]\r\nLeft=" + std::to_string(left) + "\r\nTop=" + std::to_string(top) +
                          "\r\nWidth=" + std::to_string(width) + "\r\nHeight=" + std::to_string(height) +
                          "\r\nSize=" + std::to_string(size) + "\r\n");
}

std::string MessageTextUtf8(int number) {
    return ov::Cp932ToUtf8Lossy(ov::MessageText(number));
}

}  // namespace guitest
