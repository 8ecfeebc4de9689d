// SPDX-License-Identifier: AGPL-3.0-or-later
// Reading the files the viewer is handed: only a regular file of bounded size is
// read, and opening never waits. A FIFO, a device, a socket or a folder in the
// place of a file is refused at once with a trace line, never waited on or read
// until memory runs out.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace ov {

// Largest INI file the viewer reads (Doc.dat with a long page list, UndoData.ini
// with its annotations).
constexpr std::size_t kMaxIniFileBytes = 64u << 20;

// Opens fsPath for reading without blocking. Returns the descriptor (close-on-exec)
// with *st filled, or -1 with errno: ENOENT and the like from open, EINVAL for a
// file that is not regular (FIFO, device, socket, folder: EISDIR), EFBIG for one
// larger than maxBytes, ELOOP for a link when followLinks is false. Every refusal
// other than a missing file writes a trace line naming the path.
int OpenRegularFile(const std::string& fsPath, std::size_t maxBytes, struct stat* st,
                    bool followLinks = true);

// The whole of a regular file of at most maxBytes into *bytes: 0, or the errno
// of the failure (ENOENT for a missing file). A file that grows past maxBytes
// while it is read fails with EFBIG.
int ReadRegularFile(const std::string& fsPath, std::size_t maxBytes, std::string* bytes,
                    bool followLinks = true);

}  // namespace ov
