// SPDX-License-Identifier: AGPL-3.0-or-later
#include "editpane/HagakiText.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "win32/CodePage.h"

namespace {

// The characters of CP932 text as (offset, length); a lead byte at the very end
// counts as a character of its own.
std::vector<std::string_view> SplitChars(const std::string& text) {
    std::vector<std::string_view> chars;
    for (std::size_t i = 0, len; (len = ov::Cp932CharLength(text, i)) != 0; i += len)
        chars.emplace_back(text.data() + i, len);
    return chars;
}

std::size_t ByteSize(const std::vector<std::string_view>& chars, std::size_t from, std::size_t to) {
    std::size_t n = 0;
    for (std::size_t i = from; i < to; ++i) n += chars[i].size();
    return n;
}

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string FilterText(const char* text, int maximum, int* caret) {
    std::string out;
    if (text == nullptr)
        return out;
    const std::size_t n = std::strlen(text);
    out.reserve(n);
    const int iCaretIn = caret != nullptr ? *caret : 0;
    int iCaret = iCaretIn;
    std::size_t p = 0;
    while (p < n) {
        const auto c = static_cast<unsigned char>(text[p]);
        if (c == 10 || c == 13) {
            if (static_cast<long long>(p) < iCaretIn)
                --iCaret;
            ++p;
            continue;
        }
        const std::size_t len = ov::Cp932CharLength(std::string_view(text, n), p);
        if (maximum > 0 && out.size() + len > static_cast<std::size_t>(maximum - 1))
            break;
        out.append(text + p, len);
        p += len;
    }
    if (caret != nullptr) {
        if (iCaret < 0)
            iCaret = 0;
        if (static_cast<std::size_t>(iCaret) > out.size())
            iCaret = static_cast<int>(out.size());
        *caret = iCaret;
    }
    return out;
}

BOOL IsValidNumber(const std::string& text) {
    if (text.size() != 13)
        return FALSE;
    int iKumi = 0;
    for (std::string_view ch : SplitChars(text)) {
        if (ch == "\x91\x67")
            ++iKumi;
        else if (ch.size() != 1 || !IsAsciiAlnum(static_cast<unsigned char>(ch[0])))
            return FALSE;
    }
    return iKumi == 1 ? TRUE : FALSE;
}

BOOL MapString(const std::string& source, std::string& result, DWORD dwFlags) {
    if (source.empty()) {
        result.clear();
        return TRUE;
    }
    const int iResult = OV_GUARDED(
        [&]() -> int {
            const int iSize = static_cast<int>(source.size()) * 4 + 1;
            std::vector<char> buffer(static_cast<std::size_t>(iSize), '\0');
            const int iLen = LCMapStringA(LOCALE_SYSTEM_DEFAULT, dwFlags, source.data(),
                                          static_cast<int>(source.size()), buffer.data(), iSize);
            if (iLen == 0)
                return 0;
            result.assign(buffer.data(), static_cast<std::size_t>(iLen));
            return 1;
        },
        ov::GuardCodes{0, 0, 0});
    return iResult != 0 ? TRUE : FALSE;
}

BOOL ZenToHan(const std::string& source, std::string& result) {
    return MapString(source, result, LCMAP_HALFWIDTH);
}

BOOL HanToZen(const std::string& source, std::string& result) {
    return MapString(source, result, LCMAP_FULLWIDTH);
}

FieldInput ApplyFieldInput(const std::string& before, const std::string& after, const FieldRule& rule,
                           std::string* result, int* caret) {
    const std::vector<std::string_view> a = SplitChars(before);
    const std::vector<std::string_view> b = SplitChars(after);
    std::size_t iStart = 0;
    std::size_t iEnd = 0;  // characters in common at the end, not overlapping the start
    // The caret after the change ends the insertion, when the text behind it is
    // the old text's end: that places an insertion into repeated characters
    // where it was made.
    bool bAnchored = false;
    if (caret != nullptr && *caret >= 0) {
        std::size_t iCaretChar = 0, iBytes = 0;
        while (iCaretChar < b.size() && iBytes < static_cast<std::size_t>(*caret))
            iBytes += b[iCaretChar++].size();
        const std::size_t iTail = b.size() - iCaretChar;
        if (iBytes == static_cast<std::size_t>(*caret) && iTail <= a.size()) {
            bAnchored = true;
            for (std::size_t k = 0; k < iTail && bAnchored; ++k)
                bAnchored = a[a.size() - 1 - k] == b[b.size() - 1 - k];
            if (bAnchored) {
                iEnd = iTail;
                const std::size_t iMaxStart = std::min(iCaretChar, a.size() - iTail);
                while (iStart < iMaxStart && a[iStart] == b[iStart]) ++iStart;
            }
        }
    }
    if (!bAnchored) {
        while (iStart < a.size() && iStart < b.size() && a[iStart] == b[iStart]) ++iStart;
        while (iEnd < a.size() - iStart && iEnd < b.size() - iStart &&
               a[a.size() - 1 - iEnd] == b[b.size() - 1 - iEnd])
            ++iEnd;
    }
    const std::size_t iInsertEnd = b.size() - iEnd;
    if (iStart == iInsertEnd)
        return FieldInput::Accepted;  // nothing inserted: removing is always allowed

    for (std::size_t i = iStart; i < iInsertEnd; ++i) {
        if (rule.bDigitsOnly && (b[i].size() != 1 || b[i][0] < '0' || b[i][0] > '9'))
            return FieldInput::Refused;
    }
    const std::size_t iKept = ByteSize(b, 0, iStart) + ByteSize(b, iInsertEnd, b.size());
    const std::size_t iLimit = rule.iLimit > 0 ? static_cast<std::size_t>(rule.iLimit) : 0;
    if (after.size() <= iLimit)
        return FieldInput::Accepted;
    std::size_t iFit = iStart;
    std::size_t iBytes = iKept;
    while (iFit < iInsertEnd && iBytes + b[iFit].size() <= iLimit) iBytes += b[iFit++].size();
    if (iFit == iStart)
        return FieldInput::Refused;
    if (result != nullptr) {
        const std::size_t iPrefix = ByteSize(b, 0, iStart);
        const std::size_t iInserted = ByteSize(b, iStart, iFit);
        const std::size_t iSuffixAt = ByteSize(b, 0, iInsertEnd);
        *result = after.substr(0, iPrefix + iInserted) + after.substr(iSuffixAt);
        if (caret != nullptr)
            *caret = static_cast<int>(iPrefix + iInserted);
    }
    return FieldInput::Cut;
}

int CharsBeforeByte(const std::string& text, int iByte) {
    int iChars = 0;
    std::size_t i = 0;
    for (std::string_view ch : SplitChars(text)) {
        if (static_cast<long long>(i + ch.size()) > iByte)
            break;
        i += ch.size();
        ++iChars;
    }
    return iChars;
}

int BytesBeforeChar(const std::string& text, int iChar) {
    int iBytes = 0;
    int i = 0;
    for (std::string_view ch : SplitChars(text)) {
        if (i >= iChar)
            break;
        iBytes += static_cast<int>(ch.size());
        ++i;
    }
    return iBytes;
}
