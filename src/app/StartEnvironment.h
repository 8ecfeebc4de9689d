// SPDX-License-Identifier: AGPL-3.0-or-later
// The environment the toolkit starts in.
#pragma once

namespace ov {

// Without a session bus named in the environment, the toolkit's D-Bus library
// forks the process to run `dbus-launch --autolaunch` and waits for it, while
// the window is being made. Where that program is not installed there is no
// bus to be had either way, and the fork of a process this size costs about
// 10 ms of the start on two cores: the bus is then marked as absent
// (DBUS_SESSION_BUS_ADDRESS=disabled:). true when it was. Call it before any
// thread starts.
bool MarkSessionBusAbsentWithoutLauncher();

}  // namespace ov
