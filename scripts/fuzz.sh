#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   default 60 s each, every target
# Targets: ini_read ini_write cmdline pagelist editinfo thm cp932. Each starts from
# its checked-in corpus (tests/fuzz/corpus/<target>); new inputs go to
# build-fuzz/corpus/<target>, crashes to build-fuzz/crashes/<target>. Exits
# non-zero when a target reports a crash, a leak or undefined behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(ini_read ini_write cmdline pagelist editinfo thm cp932)

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DORMAVIEW_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ORMAVIEW_TRACE_FILE=/dev/null
status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  crashes="$build/crashes/$t"
  mkdir -p "$work" "$crashes"
  log="$build/fuzz_$t.log"
  if nice "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
      -print_final_stats=1 -artifact_prefix="$crashes/" "$work" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    echo "fuzz_$t: ${seconds} s, ${runs} runs, no finding"
  else
    echo "fuzz_$t: FINDING, see $log and $crashes" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
