// SPDX-License-Identifier: AGPL-3.0-or-later
// Message boxes by number. The texts live in the string catalogue of the current
// language; the box itself is shown by whatever presenter the GUI installs.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "base/ErrorCodes.h"
#include "base/WinTypes.h"

constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr UINT MB_SETFOREGROUND = 0x10000;

namespace ov {
// Shows a box: caption, text and informative text (what the box is about, may be
// empty) are CP932. Returns the box's result.
using MessagePresenter = std::function<int(const std::string& caption, const std::string& text,
                                           const std::string& informative, UINT style)>;
// Installs the presenter (the GUI installs a real message box); without one the
// box text goes to standard error.
void SetMessagePresenter(MessagePresenter presenter);
// Message number for an error code (0 for none: codes 0 and -2).
int MessageNumberForCode(int code);
// The text of a message number in the current language (CP932).
std::string MessageText(int number);

// Notes one line of what the next box is about (CP932): the folder, document,
// page or file, or a library's own reason. The next box shows the lines noted
// since the last box, in the order noted and each once, as its informative
// text; at most kMaxMessageDetails lines are kept.
void NoteMessageDetail(const std::string& line);
inline constexpr std::size_t kMaxMessageDetails = 6;
// The same with a label of the current language before the value (CP932).
enum class DetailKind { Folder, File, DocumentID, PageID, PostcardKey, DamagedPageFile };
void NoteMessageDetail(DetailKind kind, const std::string& value);
void NoteMessageDetail(DetailKind kind, int value);
// Forgets the lines noted so far (an operation starts afresh).
void ClearMessageDetail();
// The lines noted so far, joined with newlines.
std::string PendingMessageDetail();
// The informative text of the last box shown (empty when it had none).
std::string LastMessageDetail();
}  // namespace ov

// Shows the text of the message number in a box.
int OrmaMsg_ShowMessage(HWND owner, int number, const char* caption, UINT style);

// Shows the box for an error code (nothing for 0 and -2) and returns its result.
int ShowErrorMessage(int code);
