// SPDX-License-Identifier: AGPL-3.0-or-later
// The system code page is CP932. Text inside the viewer's core is CP932 bytes in
// std::string; it is converted to UTF-8 only at the file system, the trace file
// and the GUI.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/WinTypes.h"

namespace ov {

// CP932 -> UTF-8. nullopt when the input is not valid CP932.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
// UTF-8 -> CP932. nullopt when the input is not valid UTF-8 or has a character
// that CP932 cannot hold.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);
// Lossy form for diagnostics: invalid bytes become "\xNN".
std::string Cp932ToUtf8Lossy(std::string_view cp932);

// The replacement character U+FFFD in UTF-8.
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// CP932 -> UTF-8 for showing: each byte sequence that does not decode (a byte
// outside CP932, a lead byte with an unmapped or missing trail byte, a lone
// lead byte at the end) becomes one U+FFFD. *pUndecodable (may be null) gets
// those sequences in text order. *pExact (may be null): nothing was replaced
// and encoding the result gives back exactly these bytes.
std::string Cp932ToUtf8Shown(std::string_view cp932, std::vector<std::string>* pUndecodable = nullptr,
                             bool* pExact = nullptr);

// The first character of UTF-8 text that CP932 cannot hold, as UTF-8, with its
// code point; empty when CP932 holds all of it. Invalid UTF-8 gives its first
// bad byte as "\xNN" and code point 0.
std::string FirstCharNotInCp932(std::string_view utf8, unsigned* codePoint = nullptr);

// Byte length of the CP932 character at text[pos]: 2 for a lead byte with a byte
// after it, else 1 (a lead byte at the very end is a character of its own); 0 at
// or past the end.
std::size_t Cp932CharLength(std::string_view text, std::size_t pos);
// Length of the longest prefix of text that has at most maxBytes bytes and does
// not end inside a two-byte character.
std::size_t Cp932CutLength(std::string_view text, std::size_t maxBytes);

}  // namespace ov

// True for a CP932 lead byte (0x81-0x9F, 0xE0-0xFC).
BOOL IsDBCSLeadByte(unsigned char c);

constexpr DWORD LCMAP_HALFWIDTH = 0x00400000;
constexpr DWORD LCMAP_FULLWIDTH = 0x00800000;
constexpr DWORD LOCALE_SYSTEM_DEFAULT = 0x0800;

// Maps CP932 text between full-width and half-width forms (one of the two flags).
// Returns the number of bytes written (including nothing for the NUL when the
// source length is given explicitly), 0 on failure, as the platform call does.
// srcLen -1 means NUL-terminated. dest may be null with destSize 0 to ask the size.
int LCMapStringA(DWORD locale, DWORD flags, const char* src, int srcLen, char* dest, int destSize);
