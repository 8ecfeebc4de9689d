// SPDX-License-Identifier: AGPL-3.0-or-later
// Message boxes by number. The texts live in the string catalogue of the current
// language; the box itself is shown by whatever presenter the GUI installs.
#pragma once

#include <functional>
#include <string>

#include "base/WinTypes.h"

constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr UINT MB_SETFOREGROUND = 0x10000;

namespace ov {
// A start-up failure of the viewer's own (no library passes it on): the private
// runtime folder cannot be used.
inline constexpr int kErrRuntimeFolder = -720;

// Shows a box: caption and text are CP932. Returns the box's result.
using MessagePresenter = std::function<int(const std::string& caption, const std::string& text, UINT style)>;
// Installs the presenter (the GUI installs a real message box); without one the
// box text goes to standard error.
void SetMessagePresenter(MessagePresenter presenter);
// Message number for an error code (0 for none: codes 0 and -2).
int MessageNumberForCode(int code);
// The text of a message number in the current language (CP932).
std::string MessageText(int number);
// ShowErrorMessage with a detail (CP932, e.g. the folder concerned) after the
// message's text.
int ShowErrorMessageWithDetail(int code, const std::string& detail);
}  // namespace ov

// Shows the text of the message number in a box.
int OrmaMsg_ShowMessage(HWND owner, int number, const char* caption, UINT style);

// Shows the box for an error code (nothing for 0 and -2) and returns its result.
int ShowErrorMessage(int code);
