// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ImageTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace imgtest {

ovsample::PdfPage RectPage(float w, float h, float x, float y, float rw, float rh, float r, float g, float b,
                           int rotate) {
    ovsample::PdfPage p;
    p.width = w;
    p.height = h;
    p.rotate = rotate;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f rg %.2f %.2f %.2f %.2f re f\n", r, g, b, x, y, rw, rh);
    p.content = buf;
    return p;
}

ovsample::PdfPage ImagePage(int px, int py, float w, float h) {
    ovsample::PdfPage p;
    p.width = w;
    p.height = h;
    p.jpeg = ovsample::MakeScanJpeg(px, py, 7);
    char buf[96];
    std::snprintf(buf, sizeof buf, "q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n", w, h);
    p.content = buf;
    return p;
}

void Pdf(const std::string& path, const std::vector<ovsample::PdfPage>& pages) {
    ASSERT_TRUE(ovsample::WritePdf(path, pages)) << path;
}

std::vector<int> Rotations(const std::string& path) {
    std::vector<int> r;
    if (!ovsample::ReadPdfPages(path, &r))
        r.clear();
    return r;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace imgtest
