#!/usr/bin/env bash
# Short libFuzzer runs of every fuzz_* target built in BUILD_DIR/fuzz.
#   fuzz/run_fuzzers.sh BUILD_DIR [seconds per target, default 30]
# Each target first replays its seeds (fuzz/corpus/<target>/), then fuzzes
# for the given time with a working corpus in BUILD_DIR/fuzz/corpus/. A crash
# or a broken property leaves the input as BUILD_DIR/fuzz/crash-* ; keep it
# as a test when it is fixed.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run_fuzzers.sh BUILD_DIR [seconds]}" && pwd)" || exit 1
seconds="${2:-${FUZZ_SECONDS:-30}}"
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

passed=0 failed=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] && [ -f "$exe" ] || continue
  name="$(basename "$exe")"
  seeds="$here/corpus/$name"
  work="$build/fuzz/corpus/$name"
  mkdir -p "$work" "$seeds"
  echo "== $name (${seconds}s)"
  if (cd "$build/fuzz" && "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 "$work" "$seeds" >"$work.log" 2>&1); then
    grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)|stat::number_of_executed_units' "$work.log" | tail -n 2
    passed=$((passed + 1))
  else
    tail -n 40 "$work.log"
    echo "FAILED: $name (log: $work.log; input: $build/fuzz/crash-* or leak-*)"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
