// SPDX-License-Identifier: AGPL-3.0-or-later
// The edit information (annotations) of a page: the items of INI section
// "EditInfo". Coordinates are PDF points from the top-left corner of the page as
// it is shown (after its rotation), x to the right, y downwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ov::image {

struct EditItem {
    enum class Kind { Line, Rect, Highlight, Pen, Text };
    Kind kind = Kind::Line;
    std::uint32_t rgb = 0;   // 0xRRGGBB
    float width = 1;         // stroke width in points (Line, Rect, Pen); font size for Text
    float opacity = 1;       // 0..1 (Highlight; 1 for the others)
    std::vector<float> pts;  // x,y pairs: Line 2 points, Rect/Highlight x,y,w,h, Pen 2+ points, Text 1 point
    std::string textUtf8;    // Text only
};

using EditItems = std::vector<EditItem>;

// Parses one value of the section (CP932). On failure returns false and puts
// the reason into *why.
bool ParseEditItem(const std::string& cp932Value, EditItem* item, std::string* why);

// What the items of one page may ask of the drawing: points of all items, the
// width of a pen stroke and its points times width, and characters of text.
// Items that would go over a limit are skipped (later smaller ones still count).
inline constexpr std::size_t kMaxPointsPerPage = 20000;
inline constexpr float kMaxPenWidth = 50;
inline constexpr double kMaxPenInkPerPage = 100000;
inline constexpr std::size_t kMaxTextCharsPerItem = 1000;
inline constexpr std::size_t kMaxTextCharsPerPage = 5000;

struct EditLimitUse {
    std::size_t points = 0;
    std::size_t textChars = 0;
    double penInk = 0;
};

// Parses all keys of a section in file order. Malformed or unknown items, and
// items over the page's limits, are skipped with a trace line each.
EditItems ParseEditInfo(const std::vector<std::pair<std::string, std::string>>& keys);

// Reads section "EditInfo" of the INI file (CP932 path). A missing file or
// section gives no items. Returns false only when the file exists but cannot be
// read (with a trace line).
bool ReadEditInfo(const char* iniPath, EditItems* out);

}  // namespace ov::image
