// SPDX-License-Identifier: AGPL-3.0-or-later
// The trace log library. Never fails visibly, never throws, accepts a NULL or
// empty settings path. Lines go to $ORMAVIEW_TRACE_FILE ("-" = standard error),
// else to $XDG_STATE_HOME/ormaview/trace.log (default ~/.local/state), rotated.
#pragma once

extern "C" {
// Located line: time stamp, module, source file name without folders, line, text.
int TraceWrite(const char* settingsPath, const char* moduleName, const char* sourceFile, int line,
               const char* format, ...) __attribute__((format(printf, 5, 6)));
// Location-free line: time stamp, module, text.
int TraceWriteText(const char* settingsPath, const char* moduleName, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Lines of the calling thread are dropped while muted is nonzero: work done
// ahead of need, whose failures are met and told again when it is asked for.
void TraceSetThreadMuted(int muted);
}
