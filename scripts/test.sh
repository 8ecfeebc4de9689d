#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Builds OrmaView and runs every test.
#   scripts/test.sh              full build (viewer, tools, benchmarks) and all tests
#   scripts/test.sh --sanitize   core and platform tests under AddressSanitizer + UBSan
#   scripts/test.sh --sanitize-gui   the same with the viewer built too (no benchmarks):
#                                    its GUI and process tests run under the sanitizers,
#                                    with what libdbus and fontconfig (through Qt) keep at
#                                    exit suppressed (scripts/lsan.supp)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
if [ "${1:-}" = "--sanitize" ] || [ "${1:-}" = "--sanitize-gui" ]; then
  gui=OFF
  build=build-sanitize
  if [ "$1" = "--sanitize-gui" ]; then
    gui=ON
    build=build-sanitize-gui
    # The programs that the process tests start inherit these settings. The
    # system libraries have no frame pointers: only the full unwinder reaches
    # the names that the suppressions match.
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
    unwind=:fast_unwind_on_malloc=0
  fi
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORMAVIEW_SANITIZE=ON -DORMAVIEW_GUI=$gui -DORMAVIEW_BENCH=OFF >/dev/null
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1${unwind:-}
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  build=build
  cmake -S . -B "$build" >/dev/null
fi
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
