// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

namespace ov {

// Start-up profiling: with ORMAVIEW_REPORT_START=1 in the environment, each mark
// writes "ORMAVIEW_MARK <what> <CLOCK_MONOTONIC ns> <process CPU ns>" to
// standard error, the first time it is reached only. Off (one relaxed load)
// otherwise.
void StartMark(const char* pszWhat);

}  // namespace ov
