// SPDX-License-Identifier: AGPL-3.0-or-later
// Top-level windows between processes. A process registers a window under a
// class name and gets a 32-bit handle; other processes find it by class, test it
// and send it synchronous messages. Transport: one Unix domain socket per window
// in the runtime folder, with a registry file per window.
#pragma once

#include <functional>

#include "base/WinTypes.h"

// Handles a message on the receiving side; its result goes back to the sender.
using MessageHandler = std::function<LRESULT(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)>;

// Registers a window of this process, owned by the calling thread. 0 on failure
// (errno set), e.g. when the runtime folder cannot be used.
HWND RegisterWindow(const char* className, MessageHandler handler);
// Removes it; later senders see a dead window.
void UnregisterWindow(HWND hwnd);
// The descriptor to watch for readability (e.g. with a QSocketNotifier); when it
// is readable call DispatchWindowMessages(). -1 for an unknown handle.
int GetWindowMessageFd(HWND hwnd);
// Runs the handler for every message waiting on the window and answers each;
// never blocks, neither for a message that is not there nor for a connection
// whose request has not (fully) arrived: such a connection is kept aside (at most
// 64, each for at most 2 s) and read on when it becomes readable, so a peer that
// connects and says nothing costs nothing. A handler may send messages itself
// and may unregister its own window.
void DispatchWindowMessages(HWND hwnd);

// First live window of the class (stale entries of dead processes are removed);
// 0 when there is none. windowName is ignored (any title). With several live
// windows of a class the most recently registered comes first; a null or empty
// class name matches every class.
HWND FindWindowA(const char* className, const char* windowName);
BOOL IsWindow(HWND hwnd);

// Delivers the message to the owning process, waits until its handler has run
// and returns the handler's result. A message to a window of the calling thread
// calls the handler directly. A dead peer, or one that does not answer within the
// timeout (default 10 s), gives 0 and sets errno (ECONNRESET, ETIMEDOUT,
// ENOENT, ECONNREFUSED); on delivery errno is 0. While it waits, messages sent
// to windows of the calling thread are served, so two windows that send to each
// other at the same time do not wait for each other. A window of another thread
// of this process is reached through its socket, so that thread must dispatch.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Bounded wait of SendMessageA for the process; 0 or less restores 10 s.
void SetSendMessageTimeout(int milliseconds);
