// SPDX-License-Identifier: AGPL-3.0-or-later
// The private runtime folder that the processes of one user share for their
// lock files, window sockets and postcard blocks: $XDG_RUNTIME_DIR/ormaview, or,
// when XDG_RUNTIME_DIR is unset or empty, ormaview/run-<host> in the user's
// cache folder ($XDG_CACHE_HOME, default ~/.cache). The folder is created with
// mode 0700 and used only when it is a real folder (not a link) owned by this
// user with mode 0700.
#pragma once

#include <string>

namespace ov::ipc {

// The runtime folder, created when missing; empty with errno set when it cannot
// be created or is not private to this user. Evaluated on every call, so a
// changed XDG_RUNTIME_DIR takes effect at once.
std::string RuntimeDir();

// The runtime folder's path, whether or not it exists or can be used.
std::string RuntimeDirPath();

// Makes the runtime folder when missing and checks it as RuntimeDir() does.
// False when it cannot be used: *folder names it and *why says what is wrong
// (e.g. "its mode is 0755, not 0700"); either may be null.
bool CheckRuntimeDir(std::string* folder, std::string* why);

// RuntimeDir() + "/" + sub, created as a private folder like RuntimeDir();
// empty with errno set on failure.
std::string RuntimeSubDir(const char* sub);

// A name made safe for a file name: letters, digits, '.', '-' and '_' stay,
// every other byte becomes "%XX", so distinct names stay distinct.
std::string FileNameEscape(const char* name);

}  // namespace ov::ipc
