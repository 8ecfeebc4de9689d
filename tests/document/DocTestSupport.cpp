// SPDX-License-Identifier: AGPL-3.0-or-later
#include "DocTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace ovdoc {

namespace {

// Everything the code under test writes stays in one folder removed at the end.
struct Environment : ::testing::Environment {
    std::string root;
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        root = std::string(base && *base ? base : "/tmp") + "/ovdoc-XXXXXX";
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        for (const char* d : {"tmp", "state", "config", "desk"}) fs::create_directories(root + "/" + d);
        for (auto [name, sub] : {std::pair{"TMPDIR", "/tmp"},
                                 {"XDG_STATE_HOME", "/state"},
                                 {"XDG_CONFIG_HOME", "/config"},
                                 {"ORMAVIEW_WORKDESK", "/desk"}})
            setenv(name, (root + sub).c_str(), 1);
        setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};
[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

}  // namespace

std::string MakePdf(int pages, int width, int height) {
    std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(3 + 2 * i) + " 0 R ";
        objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
                       std::to_string(height) + "] /Resources << >> /Contents " + std::to_string(4 + 2 * i) +
                       " 0 R >>");
        std::string content = "0 0 0 rg " + std::to_string(10 + 20 * i) + " 20 60 80 re f\n";
        objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                       "endstream");
    }
    objs[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    std::string out = "%PDF-1.4\n";
    std::string xref = "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t i = 0; i < objs.size(); ++i) {
        char line[32];
        std::snprintf(line, sizeof(line), "%010zu 00000 n \n", out.size());
        xref += line;
        out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
    }
    const std::size_t start = out.size();
    return out + xref + "trailer\n<< /Size " + std::to_string(objs.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

std::string DocDat(const std::string& pageTotal, const std::string& indexTotal, const std::string& docName,
                   const std::string& maxPageID, const std::string& pageIDList) {
    return "[DocInfo]\r\nPageTotal=" + pageTotal + "\r\nIndexTotal=" + indexTotal + "\r\nDocName=" + docName +
           "\r\nMaxPageID=" + maxPageID + "\r\nPageIDList=" + pageIDList + "\r\n";
}

void WriteDocument(const std::string& folder, const std::string& flags, bool pdf,
                   const std::string& docName) {
    std::error_code ec;
    fs::remove_all(folder + "/Data", ec);
    ovtest::MakeDirs(folder + "/Data");
    const int n = static_cast<int>(flags.size());
    const int index = static_cast<int>(std::count(flags.begin(), flags.end(), '2'));
    std::string list;
    for (int pos = 1; pos <= n; ++pos) {
        list += (pos > 1 ? "," : "") + std::to_string(IdOfPos(pos));
        const std::string base = folder + "/Data/Data" + std::to_string(IdOfPos(pos));
        if (flags[pos - 1] != 'N')
            ovtest::WriteFile(base + ".dat",
                              std::string("[PageInfo]\r\nPage1Flag=") + flags[pos - 1] + "\r\n");
        if (pdf)
            ovtest::WriteFile(base + ".pdf", MakePdf());
    }
    ovtest::WriteFile(folder + "/Doc.dat", DocDat(std::to_string(n - index), std::to_string(index), docName,
                                                  std::to_string(IdOfPos(n)), list));
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace ovdoc
