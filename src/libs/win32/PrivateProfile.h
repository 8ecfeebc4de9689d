// SPDX-License-Identifier: AGPL-3.0-or-later
// Private-profile (INI) files with the platform's semantics. Section and key names
// compare ASCII-case-insensitively; values are CP932 bytes and pass through
// untouched. Paths are CP932. A write replaces the file atomically (temporary file
// in the same folder, then rename) and keeps every line it does not change byte
// for byte.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/WinTypes.h"

// Missing file, section or key: nDefault. A value that does not start with a
// number reads as 0 (atoi rules; "0x" prefixes are not taken).
UINT GetPrivateProfileIntA(const char* section, const char* key, int nDefault, const char* path);

// Copies the value (trimmed, one pair of surrounding quotes removed) or the
// default into buf, cut to size-1 bytes, never splitting a CP932 character.
// Returns the number of bytes copied, without the NUL.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* buf, DWORD size,
                               const char* path);

// value nullptr deletes the key; key nullptr deletes the section; all three
// nullptr flushes (nothing is cached here: returns TRUE). Creates the file and the
// section as needed. FALSE on failure (errno set), with the old file left whole.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* path);

namespace ov {

// One write of WritePrivateProfileKeys, with the meanings of
// WritePrivateProfileStringA: value nullptr deletes the key, key nullptr the
// section.
struct ProfileWrite {
    const char* section;
    const char* key;
    const char* value;
};

// Several keys, of one section or more, written with one replace of the file, in
// the order given: a crash or a failure leaves the file with all of them or none.
// The file is replaced only when its text changes. FALSE on failure (errno set;
// a name or value that WritePrivateProfileStringA refuses fails the whole call
// before anything is written), with the old file left whole.
BOOL WritePrivateProfileKeys(const std::vector<ProfileWrite>& writes, const char* path);

// Every key of a section with its value, in file order (later duplicates are
// dropped). false when the file cannot be read; a missing section gives true and
// an empty list.
bool ReadProfileSection(const char* section, const char* path,
                        std::vector<std::pair<std::string, std::string>>* out);
}  // namespace ov
