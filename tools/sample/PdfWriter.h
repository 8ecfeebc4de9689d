// SPDX-License-Identifier: AGPL-3.0-or-later
// Writes small PDFs for the sample work desk and the tests: pages with a content
// stream of their own, an optional JPEG image (/Im0) and the built-in Japanese
// font (/F1, text as UTF-16BE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ovsample {

struct PdfPage {
    float width = 595.28f;  // points
    float height = 841.89f;
    int rotate = 0;
    std::string content;             // PDF content stream
    std::vector<std::uint8_t> jpeg;  // drawn by the content as /Im0 when not empty
};

struct PdfWriteOptions {
    std::string userPassword;  // not empty: the file is encrypted (AES-128)
};

// Writes the pages to the file-system path. false on failure (message on stderr).
bool WritePdf(const std::string& fsPath, const std::vector<PdfPage>& pages, const PdfWriteOptions& opts = {});

// Page count of a PDF and the /Rotate of each page; false when it cannot be read.
bool ReadPdfPages(const std::string& fsPath, std::vector<int>* rotations);

// A JPEG of a generated page scan (paper, lines of text, a seal), deterministic for a seed.
std::vector<std::uint8_t> MakeScanJpeg(int width, int height, unsigned seed, bool picture = false);

// Content-stream helpers (PDF coordinates: origin bottom-left).
std::string Utf16Hex(const std::string& utf8);
std::string TextOp(float x, float y, float size, const std::string& utf8);

}  // namespace ovsample
