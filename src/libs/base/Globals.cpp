// SPDX-License-Identifier: AGPL-3.0-or-later
#include "base/Globals.h"

char g_szWorkDeskDatPath[MAX_PATH] = {};
