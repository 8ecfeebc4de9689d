// SPDX-License-Identifier: AGPL-3.0-or-later
#include "image/EditInfo.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "base/Trace.h"
#include "win32/CodePage.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace ov::image {
namespace {

constexpr float kMaxCoord = 100000.0f;
constexpr std::size_t kMaxPenPoints = 10000;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Splits off the next comma-separated field.
std::string_view NextField(std::string_view* rest) {
    std::size_t comma = rest->find(',');
    std::string_view field = rest->substr(0, comma);
    if (comma == std::string_view::npos)
        *rest = std::string_view();
    else
        rest->remove_prefix(comma + 1);
    return Trim(field);
}

bool ParseNumber(std::string_view text, float* out) {
    if (text.empty())
        return false;
    if (text.front() == '+')
        text.remove_prefix(1);
    float v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

bool ParseColor(std::string_view text, std::uint32_t* out) {
    if (text.size() != 7 || text[0] != '#')
        return false;
    std::uint32_t v = 0;
    auto [end, ec] = std::from_chars(text.data() + 1, text.data() + 7, v, 16);
    if (ec != std::errc() || end != text.data() + 7)
        return false;
    *out = v;
    return true;
}

}  // namespace

bool ParseEditItem(const std::string& cp932Value, EditItem* item, std::string* why) {
    std::string_view rest = Trim(cp932Value);
    std::string_view kind = NextField(&rest);
    EditItem it;
    if (EqualsNoCase(kind, "line"))
        it.kind = EditItem::Kind::Line;
    else if (EqualsNoCase(kind, "rect"))
        it.kind = EditItem::Kind::Rect;
    else if (EqualsNoCase(kind, "highlight"))
        it.kind = EditItem::Kind::Highlight;
    else if (EqualsNoCase(kind, "pen"))
        it.kind = EditItem::Kind::Pen;
    else if (EqualsNoCase(kind, "text"))
        it.kind = EditItem::Kind::Text;
    else {
        *why = "unknown kind";
        return false;
    }
    if (!ParseColor(NextField(&rest), &it.rgb)) {
        *why = "bad colour (#RRGGBB)";
        return false;
    }
    float size = 0;
    if (!ParseNumber(NextField(&rest), &size)) {
        *why = "bad width";
        return false;
    }
    switch (it.kind) {
        case EditItem::Kind::Highlight:
            if (size < 1 || size > 100) {
                *why = "opacity out of 1..100";
                return false;
            }
            it.opacity = size / 100.0f;
            break;
        case EditItem::Kind::Text:
            if (size < 1 || size > 500) {
                *why = "text size out of 1..500";
                return false;
            }
            it.width = size;
            break;
        default:
            if (size <= 0 || size > 200) {
                *why = "width out of 0..200";
                return false;
            }
            it.width = size;
            break;
    }
    // Coordinates; a text note takes two, then the rest of the value is its text.
    const std::size_t fixed = it.kind == EditItem::Kind::Text ? 2 : (it.kind == EditItem::Kind::Pen ? 0 : 4);
    while (!rest.empty() && (fixed == 0 || it.pts.size() < fixed)) {
        float v = 0;
        if (!ParseNumber(NextField(&rest), &v) || std::fabs(v) > kMaxCoord) {
            *why = "bad coordinate";
            return false;
        }
        it.pts.push_back(v);
        if (it.pts.size() > 2 * kMaxPenPoints) {
            *why = "too many points";
            return false;
        }
    }
    switch (it.kind) {
        case EditItem::Kind::Line:
        case EditItem::Kind::Rect:
        case EditItem::Kind::Highlight:
            if (it.pts.size() != 4 || !rest.empty()) {
                *why = "needs exactly 4 numbers";
                return false;
            }
            if (it.kind != EditItem::Kind::Line) {
                // Normalise a rectangle given with a negative width or height.
                if (it.pts[2] < 0)
                    it.pts[0] += it.pts[2], it.pts[2] = -it.pts[2];
                if (it.pts[3] < 0)
                    it.pts[1] += it.pts[3], it.pts[3] = -it.pts[3];
            }
            break;
        case EditItem::Kind::Pen:
            if (it.pts.size() < 4 || it.pts.size() % 2 != 0) {
                *why = "needs 2 or more x,y points";
                return false;
            }
            break;
        case EditItem::Kind::Text: {
            if (it.pts.size() != 2 || rest.empty()) {
                *why = "needs x,y and a text";
                return false;
            }
            std::optional<std::string> utf8 = ov::Cp932ToUtf8(std::string(rest));
            if (!utf8) {
                *why = "text is not CP932";
                return false;
            }
            it.textUtf8 = std::move(*utf8);
            break;
        }
    }
    *item = std::move(it);
    return true;
}

namespace {

// Counts an item against the page's drawing budget; false (with the reason) when
// the item would take the page over one of its limits. The limits keep the
// drawing of one page well under a second however the section was written.
bool WithinPageLimits(const EditItem& item, EditLimitUse* use, std::string* why) {
    const std::size_t points = item.pts.size() / 2;
    std::size_t chars = 0;
    double ink = 0;
    if (item.kind == EditItem::Kind::Text) {
        // Characters, not bytes: UTF-8 continuation bytes do not count.
        for (unsigned char c : item.textUtf8) chars += (c & 0xC0) != 0x80;
        if (chars > kMaxTextCharsPerItem) {
            *why = "text longer than " + std::to_string(kMaxTextCharsPerItem) + " characters";
            return false;
        }
    } else if (item.kind == EditItem::Kind::Pen) {
        if (item.width > kMaxPenWidth) {
            *why = "pen wider than " + std::to_string(static_cast<int>(kMaxPenWidth)) + " points";
            return false;
        }
        ink = static_cast<double>(points) * item.width;
    }
    if (use->points + points > kMaxPointsPerPage) {
        *why = "over the page's limit of " + std::to_string(kMaxPointsPerPage) + " points";
        return false;
    }
    if (use->textChars + chars > kMaxTextCharsPerPage) {
        *why = "over the page's limit of " + std::to_string(kMaxTextCharsPerPage) + " text characters";
        return false;
    }
    if (use->penInk + ink > kMaxPenInkPerPage) {
        *why = "over the page's limit of pen strokes (points x width " +
               std::to_string(static_cast<long>(kMaxPenInkPerPage)) + ")";
        return false;
    }
    use->points += points;
    use->textChars += chars;
    use->penInk += ink;
    return true;
}

}  // namespace

EditItems ParseEditInfo(const std::vector<std::pair<std::string, std::string>>& keys) {
    EditItems items;
    EditLimitUse use;
    for (const auto& [key, value] : keys) {
        EditItem item;
        std::string why;
        if (ParseEditItem(value, &item, &why) && WithinPageLimits(item, &use, &why)) {
            items.push_back(std::move(item));
        } else {
            OV_TRACE("EditInfo item skipped! [Key] %s [Reason] %s\n", key.c_str(), why.c_str());
        }
    }
    return items;
}

bool ReadEditInfo(const char* iniPath, EditItems* out) {
    out->clear();
    if (iniPath == nullptr || *iniPath == '\0')
        return true;
    struct stat st;
    const std::string fs = ov::ToFsPath(iniPath);
    if (fs.empty() || ::stat(fs.c_str(), &st) != 0)
        return true;  // no file: no edit information
    std::vector<std::pair<std::string, std::string>> keys;
    if (!ov::ReadProfileSection("EditInfo", iniPath, &keys)) {
        OV_TRACE("ReadProfileSection() Error! [Path] %s\n", iniPath);
        return false;
    }
    *out = ParseEditInfo(keys);
    return true;
}

}  // namespace ov::image
