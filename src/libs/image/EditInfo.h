// SPDX-License-Identifier: AGPL-3.0-or-later
// The edit information (annotations) of a page: the items of INI section
// "EditInfo". Coordinates are PDF points from the top-left corner of the page as
// it is shown (after its rotation), x to the right, y downwards.
#pragma once

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

// Parses all keys of a section in file order. Malformed or unknown items are
// skipped with a trace line each.
EditItems ParseEditInfo(const std::vector<std::pair<std::string, std::string>>& keys);

// Reads section "EditInfo" of the INI file (CP932 path). A missing file or
// section gives no items. Returns false only when the file exists but cannot be
// read (with a trace line).
bool ReadEditInfo(const char* iniPath, EditItems* out);

}  // namespace ov::image
