// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "base/WinTypes.h"

// Removes the folder and everything in it. Never follows a symbolic link out of
// it; refuses an empty path and "/". The second argument is reserved (pass 0).
// Non-zero when the folder is gone.
BOOL DeleteTheFolder(const char* folder, int reserved);
