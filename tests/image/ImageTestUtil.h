// SPDX-License-Identifier: AGPL-3.0-or-later
// Inputs for the image-library tests.
#pragma once

#include <string>
#include <vector>

#include "PdfWriter.h"

namespace imgtest {

// A page of w x h points filled white with a solid rectangle (PDF coordinates,
// origin bottom-left) of the given colour.
ovsample::PdfPage RectPage(float w, float h, float x, float y, float rw, float rh, float r, float g, float b,
                           int rotate = 0);
// A page that is one JPEG image of px x py pixels covering w x h points.
ovsample::PdfPage ImagePage(int px, int py, float w, float h);
// Writes pages to path; fails the current test when that does not work.
void Pdf(const std::string& path, const std::vector<ovsample::PdfPage>& pages);
// /Rotate of each page, or an empty list when the file cannot be read.
std::vector<int> Rotations(const std::string& path);
// Names of the files in a folder.
std::vector<std::string> ListFolder(const std::string& folder);

}  // namespace imgtest
