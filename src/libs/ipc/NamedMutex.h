// SPDX-License-Identifier: AGPL-3.0-or-later
// Named mutexes between processes: a lock file in the runtime folder
// ($XDG_RUNTIME_DIR/ormaview, else a private folder under /tmp), held with
// flock so that the kernel releases it when the holder dies. Only existence is
// tested, as a named mutex created without initial ownership.
#pragma once

#include "base/WinTypes.h"

struct NamedMutexHandle;
using HANDLE = NamedMutexHandle*;

// Returns a handle. When another process already holds the name, the handle is
// still returned and GetLastError() is ERROR_ALREADY_EXISTS (183), as the
// platform does; nullptr on failure (runtime folder unusable).
HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name);
// The name stays in existence until CloseHandle (the mutex is never owned, so
// there is nothing to give back); TRUE only for a handle that holds its name.
BOOL ReleaseMutex(HANDLE h);
// Closes the handle; the name is free again once its holder's handle is closed
// or the holder has died.
BOOL CloseHandle(HANDLE h);
