// SPDX-License-Identifier: AGPL-3.0-or-later
// Whole-buffer reads on a blocking descriptor.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace ov::ipc {

// Reads up to n bytes, retrying short and interrupted reads until n bytes or end
// of file; returns the count read, or -1 with errno set.
ssize_t ReadAll(int fd, void* buf, std::size_t n);

}  // namespace ov::ipc
