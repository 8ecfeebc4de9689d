// SPDX-License-Identifier: AGPL-3.0-or-later
// The text rules of the postcard edit pane, without Qt: the memo filter, the
// lot-number form and its half-width/full-width conversions, and the byte limit
// of a field applied to what the user inserts. Text is CP932 bytes; positions
// are byte positions.
#pragma once

#include <string>

#include "base/WinTypes.h"

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
