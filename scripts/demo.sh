#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Builds the viewer, writes the sample work desk and opens the viewer on it.
# Without a display the viewer runs under Xvfb, saves a screenshot of its first
# painted page and closes; the script prints where the screenshot is.
#
# Environment: ORMAVIEW_BUILD_DIR (default build/), ORMAVIEW_DEMO_DIR (the sample
# work desk, default <build>/demo-workdesk), ORMAVIEW_SCREENSHOT (default
# <build>/demo-screenshot.png).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMAVIEW_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DORMAVIEW_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target ormaview ormaview-sample

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

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shot=${ORMAVIEW_SCREENSHOT:-$build/demo-screenshot.png}
  rm -f "$shot"
  echo "No display: running the viewer under Xvfb"
  ORMAVIEW_SCREENSHOT="$shot" ORMAVIEW_CLOSE_AFTER_SCREENSHOT=1 \
    xvfb-run -a -s "-screen 0 1440x1000x24" "$build/bin/ormaview" "$desk" "$doc" "$page"
  if [ -f "$shot" ]; then
    echo "Screenshot of the viewer: $shot"
  else
    echo "No screenshot was written" >&2
    exit 1
  fi
else
  exec "$build/bin/ormaview" "$desk" "$doc" "$page"
fi
