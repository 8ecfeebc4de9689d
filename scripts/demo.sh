#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Builds the viewer, writes the sample work desk and opens the viewer on it.
# Without a display the viewer runs under Xvfb, saves a screenshot of its first
# painted page and closes; the script prints where the screenshot is.
#
#   scripts/demo.sh              standard mode: the sample's first document
#   scripts/demo.sh --postcard   postcard mode: the sample's undo-folder postcard,
#                                opened through the postcard viewer's stand-in
#
# Environment: ORMAVIEW_BUILD_DIR (default build/), ORMAVIEW_DEMO_DIR (the sample
# work desk, default <build>/demo-workdesk), ORMAVIEW_SCREENSHOT (default
# <build>/demo-screenshot.png, or <build>/demo-postcard.png with --postcard).
set -euo pipefail

postcard=0
case "${1:-}" in
  --postcard) postcard=1 ;;
  "") ;;
  *) echo "usage: $0 [--postcard]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMAVIEW_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
# Configure without changing the build's settings: a demo must not switch off
# what scripts/test.sh builds (the targets below are all it builds).
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target ormaview ormaview-sample ormaview-postcard-viewer

desk=${ORMAVIEW_DEMO_DIR:-$build/demo-workdesk}
rm -rf "$desk"
sample_output=$("$build/bin/ormaview-sample" "$desk")
echo "$sample_output"
# The sample tool prints the command that opens it: ormaview "FOLDER" DOC PAGE.
open_line=$(echo "$sample_output" | grep -m1 -E '^ +ormaview ')
doc=$(echo "$open_line" | awk '{print $(NF-1)}')
page=$(echo "$open_line" | awk '{print $NF}')

# The viewer reads its placement from, and traces into, this work desk.
export ORMAVIEW_WORKDESK="$desk"

# The command that opens the viewer: directly, or in postcard mode through the
# postcard viewer's stand-in, which publishes the undo folder's postcard under a
# key, starts "ormaview /h KEY" and answers its events (docs/peers.md).
if [ "$postcard" = 1 ]; then
  export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
  viewer=("$build/bin/ormaview-postcard-viewer" --key 7 --mode 1 --card "$desk,1,1,1")
  default_shot=$build/demo-postcard.png
else
  viewer=("$build/bin/ormaview" "$desk" "$doc" "$page")
  default_shot=$build/demo-screenshot.png
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shot=${ORMAVIEW_SCREENSHOT:-$default_shot}
  rm -f "$shot"
  echo "No display: running the viewer under Xvfb"
  ORMAVIEW_SCREENSHOT="$shot" ORMAVIEW_CLOSE_AFTER_SCREENSHOT=1 \
    xvfb-run -a -s "-screen 0 1440x1000x24" "${viewer[@]}"
  if [ -f "$shot" ]; then
    echo "Screenshot of the viewer: $shot"
  else
    echo "No screenshot was written" >&2
    exit 1
  fi
else
  exec "${viewer[@]}"
fi
