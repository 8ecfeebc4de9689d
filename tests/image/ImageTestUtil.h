// SPDX-License-Identifier: AGPL-3.0-or-later
// Inputs for the image-library tests.
#pragma once

#include <string>
#include <vector>

#include "PdfWriter.h"
#include "image/Ravelin.h"
#include "image/ThmFile.h"

namespace imgtest {

// A w x h pt page, white with one rectangle of colour r, g, b (origin bottom-left).
ovsample::PdfPage RectPage(float w, float h, float x, float y, float rw, float rh, float r, float g, float b,
                           int rotate = 0);
// Writes pages to path; fails the current test when that does not work.
void Pdf(const std::string& path, const std::vector<ovsample::PdfPage>& pages);
// /Rotate of each page, or an empty list when the file cannot be read.
std::vector<int> Rotations(const std::string& path);
// Records: page of path; page 1 of each side ("" = side absent).
IMAGE_REQUEST Request(const std::string& path, int page);
HAGAKI_MERGE_PARAM MergeParam(const std::string& front, const std::string& back, const std::string& out);
// WorkDesk_CreateThumbFile of page of pdf into thm.
int Thumb(const std::string& pdf, int page, const std::string& thm, int drawEditInfo = 0,
          const std::string& ini = "", int scaleX = 1000, int scaleY = 1000);
// ImageIO_SaveFileName turning page of source into destination (infoDelta spoils the writer).
bool Turn(const std::string& source, const std::string& destination, int degrees = 90, int page = 1,
          int infoDelta = 0);
// WorkDesk_CreateEditInfoPdfFile of pdf with the edit information of ini into out.
int EditInfoPdf(const std::string& pdf, const std::string& out, const std::string& ini);
// The page image of a file; fails the current test when it cannot be read.
ov::image::ThmImage ReadBack(const std::string& thm);
// Pixel (x, y) of a page image as 0xRRGGBB.
std::uint32_t Pixel(const ov::image::ThmImage& img, int x, int y);
// Mean difference per channel of two page images; -1 when their sizes differ.
double MeanDiff(const ov::image::ThmImage& a, const ov::image::ThmImage& b);

}  // namespace imgtest
