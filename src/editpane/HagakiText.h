// SPDX-License-Identifier: AGPL-3.0-or-later
// The text rules of the postcard edit pane, without Qt: the memo filter, the
// lot-number form and its half-width/full-width conversions, the byte limit
// of a field applied to what the user inserts, and the stored bytes that a
// field keeps until the user changes it. Text is CP932 bytes unless named
// UTF-8; positions are byte positions.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "base/WinTypes.h"
#include "postcard/HagakiInfo.h"

// Copies text without its line breaks (bytes 10 and 13), stopping before the
// character that would make the copy longer than maximum - 1 bytes (maximum
// counts the terminating NUL; 0 or less: no maximum). A double-byte character is
// never split. *caret (may be null) moves back by one for each line break left
// out before it and is kept within the result.
std::string FilterText(const char* text, int maximum, int* caret);

// A well-formed lot number: 13 bytes, the character "組" (0x91 0x67) exactly
// once anywhere, every other byte an ASCII letter or digit.
BOOL IsValidNumber(const std::string& text);

// The lot number's conversions (LCMapStringA with LCMAP_HALFWIDTH or
// LCMAP_FULLWIDTH). An empty source gives an empty result; FALSE leaves the
// result unchanged.
BOOL MapString(const std::string& source, std::string& result, DWORD dwFlags);
BOOL ZenToHan(const std::string& source, std::string& result);
BOOL HanToZen(const std::string& source, std::string& result);

// What a field allows.
struct FieldRule {
    int iLimit = 32767;        // bytes of CP932
    bool bDigitsOnly = false;  // only 0-9 may be inserted
};

enum class FieldInput {
    Accepted,  // the new text stands as it is
    Cut,       // the inserted part was cut to fit the limit (the result is the text to show)
    Refused,   // nothing of the insertion may stand: the old text stays
};

// Judges one change of a field from before to after. The inserted part ends at
// *caret (the caret after the change, in after; -1 or null: not known) and
// starts after the longest common start of the two texts; without a caret it
// lies between the longest common start and end (whole characters). It is
// refused when it holds a character the rule forbids; it is cut, at a
// character boundary, so that the whole text stays within the limit. Removing
// text is always allowed, even when the text stays over the limit. On Cut,
// *result is the text to show and *caret the position after the kept part.
FieldInput ApplyFieldInput(const std::string& before, const std::string& after, const FieldRule& rule,
                           std::string* result, int* caret);

// Positions in CP932 text counted in characters and in bytes (a position inside
// a character counts up to it).
int CharsBeforeByte(const std::string& text, int iByte);
int BytesBeforeChar(const std::string& text, int iChar);

// One field of the pane: the bytes it was loaded from and the text it shows.
// Bytes that do not decode are shown as U+FFFD.
struct CFieldValue {
    std::string strStored;     // CP932, exactly as loaded
    std::string strShownUtf8;  // what the control shows
};

CFieldValue LoadFieldValue(const std::string& strStored);

// Why a changed field kept its stored bytes.
constexpr int kFieldNotCp932 = -1;       // invalid UTF-8, or a character CP932 cannot hold
constexpr int kFieldLostUndecoded = -2;  // a U+FFFD that cannot be matched to the bytes it stood for

// The bytes a field goes back to the record with. Not changed by the user: the
// stored bytes, whatever they hold and however long they are. Changed: the new
// text without line breaks as canonical CP932 (one code per character), each
// U+FFFD kept from the loaded text put back as the bytes it stood for, cut at a
// character boundary to iLimit bytes (0: no limit). A U+FFFD is never written
// as text: when one cannot be put back, or the text is not CP932, the result
// is a negative code above and *pBytes holds the stored bytes. Else 0.
int FieldBytesOnSave(const CFieldValue& loaded, const std::string& strNowUtf8, bool bUserChanged, int iLimit,
                     std::string* pBytes);

// A field's text as CP932 for the input rules, while it still shows U+FFFD
// for bytes that did not decode: each U+FFFD stands as the byte 0x7F, which no
// one types into a field, and comes back as U+FFFD. Empty when the rest of the
// text has a character CP932 cannot hold.
std::optional<std::string> Utf8ToCp932Marked(const std::string& strUtf8);
std::string Cp932MarkedToUtf8(const std::string& strCp932);

// The six user fields of a record, in the pane's order.
enum HagakiField { kHagakiFrom, kHagakiFromkana, kHagakiNumber, kHagakiYear, kHagakiType, kHagakiMemo };
constexpr int kHagakiFieldCount = 6;
// Byte limits of the fields, in that order.
constexpr std::array<int, kHagakiFieldCount> kHagakiFieldLimits = {100, 200, 22, 4, 40, 200};
using HagakiTexts = std::array<std::string, kHagakiFieldCount>;  // UTF-8

struct CHagakiFields {
    std::array<CFieldValue, kHagakiFieldCount> values;
    HagakiTexts Shown() const;
};

// The fields as the pane shows them; the lot number half-width (on a failed
// conversion as stored, with the trace line "ZenToHan Error! [%s]\n").
CHagakiFields LoadHagakiFields(const CHagakiInfo& cInfo);

// Writes the six user fields of *pInfo from the texts the pane holds now: a
// text equal to the shown one gives back the stored bytes; a changed one its
// new bytes (FieldBytesOnSave with the field's limit; a changed lot number is
// made full-width, on a failure kept as stored with the trace line
// "HanToZen Error! [%s]\n"). Other fields of *pInfo stay. A field that
// keeps its stored bytes against the user's change is traced; the result is
// then the first such code, else 0. *pInfo is complete either way.
int SaveHagakiFields(const CHagakiFields& loaded, const HagakiTexts& now, CHagakiInfo* pInfo);
