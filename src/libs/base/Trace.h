// SPDX-License-Identifier: AGPL-3.0-or-later
// Trace calls of the viewer: every line passes the WorkDesk.dat path and the
// module name "OrmaView.exe" to the trace library.
#pragma once

#include "base/Globals.h"
#include "sennet/Sennet.h"

#define OV_MODULE_NAME "OrmaView.exe"

// The source file that trace lines name: the file of the call, unless the file
// holds one part of a class split over several files and names the class's own
// file instead (it defines OV_TRACE_SOURCE before its first include).
#ifndef OV_TRACE_SOURCE
#define OV_TRACE_SOURCE __FILE__
#endif

// A located trace line: source file and line of the call.
#define OV_TRACE(...) \
    ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, OV_TRACE_SOURCE, __LINE__, __VA_ARGS__)
// A location-free trace line.
#define OV_TRACE_TEXT(...) ::TraceWriteText(g_szWorkDeskDatPath, OV_MODULE_NAME, __VA_ARGS__)
