// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ImageTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "image/OrmaImage.h"

namespace imgtest {

ovsample::PdfPage RectPage(float w, float h, float x, float y, float rw, float rh, float r, float g, float b,
                           int rotate) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f rg %.2f %.2f %.2f %.2f re f\n", r, g, b, x, y, rw, rh);
    return {w, h, rotate, buf, {}};
}

void Pdf(const std::string& path, const std::vector<ovsample::PdfPage>& pages) {
    ASSERT_TRUE(ovsample::WritePdf(path, pages)) << path;
}

std::vector<int> Rotations(const std::string& path) {
    std::vector<int> r;
    return ovsample::ReadPdfPages(path, &r) ? r : std::vector<int>{};
}

IMAGE_REQUEST Request(const std::string& path, int page) {
    IMAGE_REQUEST r{};
    std::snprintf(r.szPath, sizeof r.szPath, "%s", path.c_str());
    r.iPage = page;
    return r;
}

HAGAKI_MERGE_PARAM MergeParam(const std::string& front, const std::string& back, const std::string& out) {
    HAGAKI_MERGE_PARAM p{};
    p.iCount = 3;
    std::snprintf(p.szFront, sizeof p.szFront, "%s", front.c_str());
    p.iFrontPage = 1;
    std::snprintf(p.szBack, sizeof p.szBack, "%s", back.c_str());
    p.iBackPage = 1;
    std::snprintf(p.szOutput, sizeof p.szOutput, "%s", out.c_str());
    return p;
}

int Thumb(const std::string& pdf, int page, const std::string& thm, int drawEditInfo, const std::string& ini,
          int scaleX, int scaleY) {
    return WorkDesk_CreateThumbFile(pdf.c_str(), page, thm.c_str(), scaleX, scaleY, drawEditInfo,
                                    ini.c_str());
}

bool Turn(const std::string& source, const std::string& destination, int degrees, int page, int infoDelta) {
    DWORD info = 0;
    if (ImageIO_GetSaveFuncInfo(50, &info) == 0)
        return false;
    IMAGE_REQUEST r = Request(source, page);
    r.iRotation = degrees;
    return ImageIO_SaveFileName(destination.c_str(), info + infoDelta, 1, &r, 0, 0) != 0;
}

int EditInfoPdf(const std::string& pdf, const std::string& out, const std::string& ini) {
    int reserved = 0;
    unsigned char block[48] = {};
    return WorkDesk_CreateEditInfoPdfFile(pdf.c_str(), out.c_str(), ini.c_str(), &reserved, block);
}

ov::image::ThmImage ReadBack(const std::string& thm) {
    ov::image::ThmImage img;
    EXPECT_EQ(ov::image::ReadThm(thm, &img), 0) << thm;
    return img;
}

std::uint32_t Pixel(const ov::image::ThmImage& img, int x, int y) {
    const std::uint8_t* p = img.Row(y) + x * 3;
    return (static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
}

double MeanDiff(const ov::image::ThmImage& a, const ov::image::ThmImage& b) {
    if (a.width != b.width || a.height != b.height)
        return -1;
    long long diff = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width * 3; ++x) diff += std::abs(a.Row(y)[x] - b.Row(y)[x]);
    return static_cast<double>(diff) / (3.0 * a.width * a.height);
}

}  // namespace imgtest
