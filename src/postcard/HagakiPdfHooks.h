// SPDX-License-Identifier: AGPL-3.0-or-later
// The replace step of the postcard PDF operations moves a temporary file over its
// target with up to 50 tries, 100 ms apart. Tests swap the move and the wait to
// drive that loop without waiting for real.
#pragma once

#include "base/WinTypes.h"

namespace ov {

using HagakiSleepFn = void (*)(DWORD ms);
using HagakiMoveFn = BOOL (*)(const char* from, const char* to, DWORD flags);

// Each returns the previous function; nullptr restores the platform call
// (Sleep, MoveFileExA).
HagakiSleepFn SetHagakiReplaceSleep(HagakiSleepFn fn);
HagakiMoveFn SetHagakiReplaceMove(HagakiMoveFn fn);

}  // namespace ov
