#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Runs a test program on a display of its own (Xvfb, 1024x768) under the
# openbox window manager, and passes on the program's exit status.
#   run-under-wm.sh PROGRAM [ARGS...]
# Exits 77 (the test is skipped) when Xvfb or openbox is missing or the display
# or the window manager does not come up.
set -u
skip=77

for tool in Xvfb openbox; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
    exit $skip
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ov-wm.XXXXXX")
xvfb_pid=
wm_pid=
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the pipe, so that
# tests running at the same time never share a display.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=
read -r -t 60 display <"$work/displayfd"
if [ -z "$display" ]; then
  echo "SKIPPED: Xvfb did not start"
  cat "$work/xvfb.log"
  exit $skip
fi
export DISPLAY=":$display"

# The window manager with a configuration and session of its own; it runs its
# startup command once it manages the screen.
XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
  openbox --sm-disable --startup "touch '$work/wm-ready'" >"$work/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 600); do
  if [ -e "$work/wm-ready" ] || ! kill -0 "$wm_pid" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if [ ! -e "$work/wm-ready" ]; then
  echo "SKIPPED: openbox did not start on $DISPLAY"
  cat "$work/openbox.log"
  exit $skip
fi

"$@"
status=$?
exit $status
