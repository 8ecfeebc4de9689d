// SPDX-License-Identifier: AGPL-3.0-or-later
// Private-profile files. The file is kept as a list of lines, each with its own
// line end, so a write changes only the line it must and puts every other byte
// back as it was. Names are CP932: the ASCII case folding and the search for ']'
// step over two-byte characters, whose trail byte may look like either.
#include "win32/PrivateProfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "win32/AtomicFile.h"
#include "win32/CodePage.h"
#include "win32/RegularFile.h"
#include "win32/ShellPath.h"

namespace {

struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\r\n", "\n" or "" (last line without an end)
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Position of the first single-byte c, stepping over two-byte characters.
std::size_t FindChar(std::string_view s, char c) {
    for (std::size_t i = 0; i < s.size(); i += ov::Cp932CharLength(s, i)) {
        if (s[i] == c)
            return i;
    }
    return std::string_view::npos;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size();) {
        std::size_t n = ov::Cp932CharLength(a, i);
        if (n == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
        } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

// Position of the last single-byte c, stepping over two-byte characters.
std::size_t FindLastChar(std::string_view s, char c) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < s.size(); i += ov::Cp932CharLength(s, i)) {
        if (s[i] == c)
            found = i;
    }
    return found;
}

// "[name]" -> name (trimmed). The name ends at the last ']' of the line, so a
// name may hold ']' itself ("[A]B]" is "A]B"), as the platform reads it. A UTF-8
// byte-order mark before the first line is skipped by the caller.
bool ParseSection(std::string_view text, std::string_view* name) {
    std::string_view t = Trim(text);
    if (t.empty() || t.front() != '[')
        return false;
    std::string_view inner = t.substr(1);
    std::size_t close = FindLastChar(inner, ']');
    if (close == std::string_view::npos)
        return false;
    *name = Trim(inner.substr(0, close));
    return true;
}

// "key = value" -> key, value (both trimmed); comments and lines without '=' are
// not keys. valueStart is the offset of the raw value in text.
bool ParseKey(std::string_view text, std::string_view* key, std::string_view* value,
              std::size_t* valueStart = nullptr) {
    std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '[')
        return false;
    std::size_t eq = FindChar(text, '=');
    if (eq == std::string_view::npos)
        return false;
    *key = Trim(text.substr(0, eq));
    if (key->empty())
        return false;
    std::size_t start = eq + 1;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    if (valueStart != nullptr)
        *valueStart = start;
    *value = Trim(text.substr(eq + 1));
    return true;
}

// One pair of matching surrounding quotes removed.
std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(pos);
            pos = bytes.size();
        } else {
            std::size_t end = nl;
            if (end > pos && bytes[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = bytes.substr(pos, end - pos);
            pos = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

// The text used to parse a line: the first line loses a UTF-8 byte-order mark.
std::string_view ParseText(const std::vector<Line>& lines, std::size_t i) {
    std::string_view t = lines[i].text;
    if (i == 0 && t.size() >= 3 && t.substr(0, 3) == "\xEF\xBB\xBF")
        t.remove_prefix(3);
    return t;
}

// [begin, end) of the body of the first section named so: begin is the line after
// its header. false when there is none.
bool FindSection(const std::vector<Line>& lines, std::string_view section, std::size_t* header,
                 std::size_t* end) {
    std::string_view want = Trim(section);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (!ParseSection(ParseText(lines, i), &name) || !EqualNoCase(name, want))
            continue;
        *header = i;
        std::size_t j = i + 1;
        std::string_view other;
        while (j < lines.size() && !ParseSection(ParseText(lines, j), &other)) ++j;
        *end = j;
        return true;
    }
    return false;
}

// 0 with the bytes, ENOENT for a missing file, else the errno of the failure.
// Only a regular file of bounded size is read, and opening it never waits.
int LoadFile(const std::string& fsPath, std::string* bytes) {
    return ov::ReadRegularFile(fsPath, ov::kMaxIniFileBytes, bytes);
}

// Loads the lines of a CP932 path. 0, ENOENT or another errno.
int LoadLines(const char* path, std::vector<Line>* lines) {
    lines->clear();
    if (path == nullptr || *path == '\0')
        return ENOENT;
    std::string fs = ov::ToFsPath(path);
    if (fs.empty())
        return EILSEQ;
    std::string bytes;
    int e = LoadFile(fs, &bytes);
    if (e == 0)
        *lines = SplitLines(bytes);
    return e;
}

// The raw (trimmed, unquoted) value of a key, if present.
bool FindValue(const std::vector<Line>& lines, const char* section, const char* key, std::string* value) {
    std::size_t header = 0, end = 0;
    if (!FindSection(lines, section, &header, &end))
        return false;
    std::string_view want = Trim(key);
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view k, v;
        if (ParseKey(lines[i].text, &k, &v) && EqualNoCase(k, want)) {
            *value = std::string(Unquote(v));
            return true;
        }
    }
    return false;
}

// Copies text into buf of size bytes, cut to size-1 bytes without splitting a
// two-byte character. Returns the bytes copied.
DWORD CopyCut(std::string_view text, char* buf, DWORD size) {
    const std::size_t n = ov::Cp932CutLength(text, size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<DWORD>(n);
}

// A list of names, each NUL-terminated, ending in an extra NUL; when it does not
// fit it is cut after a whole name and size-2 is returned, as the platform does.
DWORD CopyNameList(const std::vector<std::string>& names, char* buf, DWORD size) {
    if (size < 2) {
        buf[0] = '\0';
        return 0;
    }
    std::size_t used = 0;
    for (const std::string& n : names) {
        if (used + n.size() + 1 > size - 1) {
            // Cut: copy what fits of this name, then the double NUL. A name that
            // ended exactly at size-2 leaves no room for any of the next one.
            std::size_t room = used < size - 2 ? size - 2 - used : 0;
            std::memcpy(buf + used, n.data(), room);
            buf[size - 2] = '\0';
            buf[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buf + used, n.data(), n.size());
        used += n.size();
        buf[used++] = '\0';
    }
    buf[used] = '\0';
    return static_cast<DWORD>(used == 0 ? 0 : used);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string NewLineOf(const std::vector<Line>& lines) {
    for (const Line& l : lines) {
        if (!l.eol.empty())
            return l.eol;
    }
    return "\n";
}

}  // namespace

UINT GetPrivateProfileIntA(const char* section, const char* key, int nDefault, const char* path) {
    std::vector<Line> lines;
    std::string value;
    if (section == nullptr || key == nullptr || LoadLines(path, &lines) != 0 ||
        !FindValue(lines, section, key, &value) || value.empty()) {
        return static_cast<UINT>(nDefault);
    }
    // atoi rules, decimal only; out-of-range values are clamped rather than undefined.
    const char* s = value.c_str();
    while (*s == ' ' || *s == '\t') ++s;
    bool negative = false;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    long long n = 0;
    while (*s >= '0' && *s <= '9') {
        if (n <= static_cast<long long>(INT_MAX) + 1)
            n = n * 10 + (*s - '0');
        ++s;
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    return static_cast<UINT>(static_cast<int>(n));
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* buf, DWORD size,
                               const char* path) {
    if (buf == nullptr || size == 0)
        return 0;
    std::vector<Line> lines;
    int loaded = LoadLines(path, &lines);
    if (section == nullptr || key == nullptr) {
        // Name lists: every section, or every key of a section.
        std::vector<std::string> names;
        if (loaded == 0 && section == nullptr) {
            for (std::size_t i = 0; i < lines.size(); ++i) {
                std::string_view name;
                if (ParseSection(ParseText(lines, i), &name))
                    names.emplace_back(name);
            }
        } else if (loaded == 0) {
            std::size_t header = 0, end = 0;
            if (FindSection(lines, section, &header, &end)) {
                for (std::size_t i = header + 1; i < end; ++i) {
                    std::string_view k, v;
                    if (ParseKey(lines[i].text, &k, &v))
                        names.emplace_back(k);
                }
            }
        }
        return CopyNameList(names, buf, size);
    }
    std::string value;
    if (loaded == 0 && FindValue(lines, section, key, &value))
        return CopyCut(value, buf, size);
    return CopyCut(def != nullptr ? def : "", buf, size);
}

namespace {

// Names and values that would break the line structure are refused. A section
// name may hold ']': it is read back up to the last ']' of its line.
bool ValidWrite(const char* section, const char* key, const char* value) {
    if (section == nullptr)
        return false;
    return !HasLineBreak(section) &&
           (key == nullptr ||
            (!HasLineBreak(key) && !Trim(key).empty() && FindChar(key, '=') == std::string_view::npos &&
             Trim(key).front() != '[' && Trim(key).front() != ';')) &&
           (value == nullptr || !HasLineBreak(value));
}

// Applies one write to the lines; true when they changed. key nullptr deletes
// the section, value nullptr every line of the key in it.
bool ApplyWrite(std::vector<Line>& lines, const char* section, const char* key, const char* value) {
    const std::string nl = NewLineOf(lines);
    std::string_view sec = Trim(section);
    std::size_t header = 0, end = 0;
    const bool found = FindSection(lines, sec, &header, &end);

    if (key == nullptr) {  // delete the section with its body
        if (!found)
            return false;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                    lines.begin() + static_cast<std::ptrdiff_t>(end));
        return true;
    }

    std::string_view want = Trim(key);
    if (value == nullptr) {  // delete every line of the key in the section
        if (!found)
            return false;
        bool changed = false;
        for (std::size_t i = end; i-- > header + 1;) {
            std::string_view k, v;
            if (ParseKey(lines[i].text, &k, &v) && EqualNoCase(k, want)) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                changed = true;
            }
        }
        return changed;
    }

    if (found) {
        std::size_t lastKey = header;
        for (std::size_t i = header + 1; i < end; ++i) {
            std::string_view k, v;
            std::size_t valueStart = 0;
            if (!ParseKey(lines[i].text, &k, &v, &valueStart))
                continue;
            if (EqualNoCase(k, want)) {
                // Keep the key as written and its spacing; replace only the value.
                std::string text = lines[i].text.substr(0, valueStart) + value;
                if (text == lines[i].text)
                    return false;
                lines[i].text = std::move(text);
                return true;
            }
            lastKey = i;
        }
        if (lines[lastKey].eol.empty())
            lines[lastKey].eol = nl;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastKey + 1),
                     Line{std::string(want) + "=" + value, nl});
    } else {
        if (!lines.empty() && lines.back().eol.empty()) {
            if (lines.back().text.empty())
                lines.pop_back();
            else
                lines.back().eol = nl;
        }
        lines.push_back(Line{"[" + std::string(sec) + "]", nl});
        lines.push_back(Line{std::string(want) + "=" + value, nl});
    }
    return true;
}

// Loads the file (a missing one is empty), applies the writes in order and
// replaces the file once, only when something changed.
BOOL WriteAll(const char* path, const ov::ProfileWrite* writes, std::size_t count) {
    if (path == nullptr || *path == '\0') {
        errno = EINVAL;
        return FALSE;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!ValidWrite(writes[i].section, writes[i].key, writes[i].value)) {
            errno = EINVAL;
            return FALSE;
        }
    }
    std::string fs = ov::ToFsPath(path);
    if (fs.empty()) {
        errno = EILSEQ;
        return FALSE;
    }
    std::string bytes;
    int e = LoadFile(fs, &bytes);
    if (e != 0 && e != ENOENT) {
        errno = e;
        return FALSE;
    }
    std::vector<Line> lines = SplitLines(bytes);
    bool changed = false;
    for (std::size_t i = 0; i < count; ++i)
        changed |= ApplyWrite(lines, writes[i].section, writes[i].key, writes[i].value);
    if (!changed)
        return TRUE;
    return ov::ReplaceFileContents(fs, JoinLines(lines)) ? TRUE : FALSE;
}

}  // namespace

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* path) {
    if (section == nullptr && key == nullptr && value == nullptr)
        return TRUE;  // flush: nothing cached
    const ov::ProfileWrite write{section, key, value};
    return WriteAll(path, &write, 1);
}

namespace ov {

bool ReadProfileSection(const char* section, const char* path,
                        std::vector<std::pair<std::string, std::string>>* out) {
    if (out == nullptr)
        return false;
    out->clear();
    if (section == nullptr)
        return false;
    std::vector<Line> lines;
    int e = LoadLines(path, &lines);
    if (e == ENOENT)
        return true;
    if (e != 0) {
        errno = e;
        return false;
    }
    std::size_t header = 0, end = 0;
    if (!FindSection(lines, section, &header, &end))
        return true;
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view k, v;
        if (!ParseKey(lines[i].text, &k, &v))
            continue;
        bool seen = false;
        for (const auto& kv : *out) {
            if (EqualNoCase(kv.first, k)) {
                seen = true;
                break;
            }
        }
        if (!seen)
            out->emplace_back(std::string(k), std::string(Unquote(v)));
    }
    return true;
}

BOOL WritePrivateProfileKeys(const std::vector<ProfileWrite>& writes, const char* path) {
    return WriteAll(path, writes.data(), writes.size());
}

}  // namespace ov
