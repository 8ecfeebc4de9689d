// SPDX-License-Identifier: AGPL-3.0-or-later
// Crash-safe replacement of a whole file.
#pragma once

#include <string>
#include <string_view>

namespace ov {

// Replaces the file at fsPath (a file-system path) with bytes: a temporary file
// ".<name>.tmp<pid>-<n>" in the same folder, written, flushed to disk, then
// renamed over the target, so a crash or a full disk leaves either the old or
// the new file whole. A symbolic link in the target's place is never written
// through: the new regular file takes the link's place, and a trace line says
// so. An existing file keeps its owner and permissions. On failure the old file
// is untouched, no temporary file is left, a trace line names the failed step
// and errno tells why. Before writing, temporary files of the same target left
// by writers that are no longer running are removed.
bool ReplaceFileContents(const std::string& fsPath, std::string_view bytes);

// The steps of a replace, in the order they run; a fault hook sees each before
// it runs.
enum class ReplaceStep { Create, Write, Fsync, Close, Rename };
// For tests: called before each step; a non-zero result is taken as the errno of
// that step's failure. nullptr removes the hook.
using ReplaceFaultHook = int (*)(ReplaceStep step);
void SetReplaceFaultHook(ReplaceFaultHook hook);

}  // namespace ov
