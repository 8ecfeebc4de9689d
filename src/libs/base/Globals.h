// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "base/WinTypes.h"

// Path of WorkDesk.dat ("<work-desk folder>/WorkDesk.dat"), the first argument of
// every trace call; empty while the work-desk folder is unknown.
extern char g_szWorkDeskDatPath[MAX_PATH];
