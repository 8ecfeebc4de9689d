// SPDX-License-Identifier: AGPL-3.0-or-later
#include "DocTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "PdfWriter.h"

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

void WritePdf(const std::string& path, int width, int height) {
    ovtest::MakeDirs(path.substr(0, path.rfind('/')));
    const ovsample::PdfPage page{
        static_cast<float>(width), static_cast<float>(height), 0, "0 0 0 rg 10 20 60 80 re f\n", {}};
    ASSERT_TRUE(ovsample::WritePdf(path, {page})) << path;
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
            WritePdf(base + ".pdf");
    }
    ovtest::WriteFile(folder + "/Doc.dat", DocDat(std::to_string(n - index), std::to_string(index), docName,
                                                  std::to_string(IdOfPos(n)), list));
}

}  // namespace ovdoc
