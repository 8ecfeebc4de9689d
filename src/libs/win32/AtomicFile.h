// SPDX-License-Identifier: AGPL-3.0-or-later
// Crash-safe replacement of a whole file.
#pragma once

#include <string>
#include <string_view>

namespace ov {

// Replaces the file at fsPath (a file-system path) with bytes: a temporary file in
// the same folder, flushed to disk, then renamed over the target, so a crash or a
// full disk leaves either the old or the new file whole. A link is written
// through to its file; an existing file keeps its owner and permissions. On
// failure the old file is untouched, no temporary file is left and errno tells why.
bool ReplaceFileContents(const std::string& fsPath, std::string_view bytes);

}  // namespace ov
