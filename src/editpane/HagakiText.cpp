// SPDX-License-Identifier: AGPL-3.0-or-later
#include "editpane/HagakiText.h"

#include <algorithm>
#include <cstring>
#include <optional>
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

namespace {

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes in common at the start (bAtEnd: at the end) of two UTF-8 texts, at a
// character boundary of both, at most iMax.
std::size_t CommonUtf8(std::string_view a, std::string_view b, std::size_t iMax, bool bAtEnd) {
    std::size_t n = 0;
    while (n < iMax && a[bAtEnd ? a.size() - 1 - n : n] == b[bAtEnd ? b.size() - 1 - n : n]) ++n;
    if (bAtEnd) {
        // The common end must start a character in both texts.
        while (n > 0 && (IsUtf8Continuation(a[a.size() - n]) || IsUtf8Continuation(b[b.size() - n]))) --n;
    } else {
        while (n > 0 &&
               ((n < a.size() && IsUtf8Continuation(a[n])) || (n < b.size() && IsUtf8Continuation(b[n]))))
            --n;
    }
    return n;
}

std::size_t CountReplacements(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t at = text.find(ov::kReplacementUtf8); at != std::string_view::npos;
         at = text.find(ov::kReplacementUtf8, at + ov::kReplacementUtf8.size()))
        ++n;
    return n;
}

// The stored bytes behind each U+FFFD of now, in text order; false when one of
// them cannot be told. All of them when now keeps as many as were loaded;
// otherwise those in the unchanged start and end of the text.
bool MatchReplacements(const std::string& shown, const std::string& now,
                       const std::vector<std::string>& undecoded, std::vector<std::string>* pMatched) {
    const std::size_t iNow = CountReplacements(now);
    if (iNow == undecoded.size() || iNow == 0) {
        *pMatched = iNow == 0 ? std::vector<std::string>() : undecoded;
        return true;
    }
    const std::size_t iHead = CommonUtf8(shown, now, std::min(shown.size(), now.size()), false);
    const std::size_t iTail = CommonUtf8(shown, now, std::min(shown.size(), now.size()) - iHead, true);
    const std::size_t iInHead = CountReplacements(std::string_view(now).substr(0, iHead));
    const std::size_t iInTail = CountReplacements(std::string_view(now).substr(now.size() - iTail));
    if (iInHead + iInTail != iNow)
        return false;  // one stands in the changed middle
    pMatched->assign(undecoded.begin(), undecoded.begin() + static_cast<std::ptrdiff_t>(iInHead));
    pMatched->insert(pMatched->end(), undecoded.end() - static_cast<std::ptrdiff_t>(iInTail),
                     undecoded.end());
    return true;
}

// Canonical CP932 of text whose U+FFFDs stand for the given bytes.
std::optional<std::string> EncodeWithUndecoded(const std::string& text,
                                               const std::vector<std::string>& matched) {
    std::string out;
    std::size_t from = 0;
    for (const std::string& bytes : matched) {
        const std::size_t at = text.find(ov::kReplacementUtf8, from);
        auto part = ov::Utf8ToCp932(std::string_view(text).substr(from, at - from));
        if (!part)
            return std::nullopt;
        out += *part + bytes;
        from = at + ov::kReplacementUtf8.size();
    }
    auto rest = ov::Utf8ToCp932(std::string_view(text).substr(from));
    if (!rest)
        return std::nullopt;
    return out + *rest;
}

}  // namespace

CFieldValue LoadFieldValue(const std::string& strStored) {
    return CFieldValue{strStored, ov::Cp932ToUtf8Shown(strStored)};
}

int FieldBytesOnSave(const CFieldValue& loaded, const std::string& strNowUtf8, bool bUserChanged, int iLimit,
                     std::string* pBytes) {
    *pBytes = loaded.strStored;
    if (!bUserChanged)
        return 0;
    std::string text;
    text.reserve(strNowUtf8.size());
    for (char c : strNowUtf8)
        if (c != '\r' && c != '\n')
            text += c;
    std::vector<std::string> undecoded, matched;
    ov::Cp932ToUtf8Shown(loaded.strStored, &undecoded);
    if (!MatchReplacements(loaded.strShownUtf8, text, undecoded, &matched))
        return kFieldLostUndecoded;
    std::optional<std::string> bytes = EncodeWithUndecoded(text, matched);
    if (!bytes)
        return kFieldNotCp932;
    // Put-back bytes must not join the new text around them into other characters.
    if (!matched.empty() && ov::Cp932ToUtf8Shown(*bytes) != text)
        return kFieldLostUndecoded;
    if (iLimit > 0 && bytes->size() > static_cast<std::size_t>(iLimit)) {
        std::size_t iKeep = 0;
        for (std::string_view ch : SplitChars(*bytes)) {
            if (iKeep + ch.size() > static_cast<std::size_t>(iLimit))
                break;
            iKeep += ch.size();
        }
        bytes->resize(iKeep);
    }
    *pBytes = std::move(*bytes);
    return 0;
}

namespace {
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr char kReplacementMark = '\x7F';
}  // namespace

std::optional<std::string> Utf8ToCp932Marked(const std::string& strUtf8) {
    std::string marked;
    marked.reserve(strUtf8.size());
    for (std::size_t i = 0; i < strUtf8.size();) {
        if (strUtf8.compare(i, kReplacementUtf8.size(), kReplacementUtf8) == 0) {
            marked += kReplacementMark;
            i += kReplacementUtf8.size();
        } else {
            marked += strUtf8[i++];
        }
    }
    return ov::Utf8ToCp932(marked);
}

std::string Cp932MarkedToUtf8(const std::string& strCp932) {
    const std::string utf8 = ov::Cp932ToUtf8Shown(strCp932);
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        if (c == kReplacementMark)
            out += kReplacementUtf8;
        else
            out += c;
    }
    return out;
}

HagakiTexts CHagakiFields::Shown() const {
    HagakiTexts texts;
    for (int i = 0; i < kHagakiFieldCount; ++i) texts[i] = values[i].strShownUtf8;
    return texts;
}

namespace {

constexpr std::array<std::string CHagakiInfo::*, kHagakiFieldCount> kHagakiFieldMembers = {
    &CHagakiInfo::m_strFrom, &CHagakiInfo::m_strFromkana, &CHagakiInfo::m_strNumber,
    &CHagakiInfo::m_strYear, &CHagakiInfo::m_strType,     &CHagakiInfo::m_strMemo,
};

// The lot number as the pane edits it: half-width, or as stored when that fails.
std::string NumberForEditing(const std::string& strStored, bool bTrace) {
    std::string strHan;
    if (ZenToHan(strStored, strHan))
        return strHan;
    if (bTrace)
        OV_TRACE("ZenToHan Error! [%s]\n", strStored.c_str());
    return strStored;
}

}  // namespace

CHagakiFields LoadHagakiFields(const CHagakiInfo& cInfo) {
    CHagakiFields fields;
    for (int i = 0; i < kHagakiFieldCount; ++i)
        fields.values[i] = LoadFieldValue(cInfo.*kHagakiFieldMembers[i]);
    fields.values[kHagakiNumber].strShownUtf8 =
        ov::Cp932ToUtf8Shown(NumberForEditing(cInfo.m_strNumber, true));
    return fields;
}

int SaveHagakiFields(const CHagakiFields& loaded, const HagakiTexts& now, CHagakiInfo* pInfo) {
    int iResult = 0;
    for (int i = 0; i < kHagakiFieldCount; ++i) {
        const CFieldValue& value = loaded.values[i];
        std::string& strOut = pInfo->*kHagakiFieldMembers[i];
        const bool bChanged = now[i] != value.strShownUtf8;
        int r = 0;
        if (i != kHagakiNumber) {
            r = FieldBytesOnSave(value, now[i], bChanged, kHagakiFieldLimits[i], &strOut);
        } else if (!bChanged) {
            strOut = value.strStored;
        } else {
            // The half-width form is what the user edited; it goes back full-width.
            const CFieldValue half{NumberForEditing(value.strStored, false), value.strShownUtf8};
            std::string strHan;
            r = FieldBytesOnSave(half, now[i], true, kHagakiFieldLimits[i], &strHan);
            if (r == 0 && !HanToZen(strHan, strOut)) {
                OV_TRACE("HanToZen Error! [%s]\n", strHan.c_str());
                strOut = value.strStored;
            } else if (r != 0) {
                strOut = value.strStored;
            }
        }
        if (r != 0) {
            OV_TRACE("Field kept as stored! [Field] %d [Code] %d\n", i, r);
            if (iResult == 0)
                iResult = r;
        }
    }
    return iResult;
}
