#!/usr/bin/env bash
# Builds the benchmarks in build/ (optimised, as ./test builds; another
# folder with VAZUR_BENCH_BUILD=...) and prints
# every figure as one table: Vazur beside a plain read()/write() loop doing
# the same on the same pseudo-terminal in the same run, and their ratio.
# Takes about three minutes; run it on a quiet machine, the figures are the
# machine's (the load average is printed with them).
#   bench/run_all.sh            everything
#   bench/run_all.sh --raw      also the programs' key=value lines
set -uo pipefail
VAZUR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$VAZUR_ROOT/scripts/setup.sh"
raw=0
[ "${1:-}" = "--raw" ] && raw=1

dir="${VAZUR_BENCH_BUILD:-$VAZUR_ROOT/build}"
vazur_setup || { echo "set-up failed"; exit 1; }
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$VAZUR_ROOT" -B "$dir" -G Ninja >/dev/null || exit 1
fi
targets=(app_bench)
for t in receive_send_bench pty_baseline_bench; do
  grep -q "^build bench/$t:" "$dir/build.ninja" 2>/dev/null && targets+=("$t")
done
if ! cmake --build "$dir" --target "${targets[@]}" -- -j"$(nproc)" >"$dir/bench-build.log" 2>&1; then
  tail -n 60 "$dir/bench-build.log"
  echo "build failed"
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
run() {
  echo "running $*" >&2
  "$dir/bench/$1" "${@:2}" >>"$out" 2>/dev/null || echo "$1 failed" >&2
}
if [ -x "$dir/bench/receive_send_bench" ]; then
  run receive_send_bench
else
  run pty_baseline_bench
fi
run app_bench paced idle load list watch
[ "$raw" = 1 ] && cat "$out"
echo "load average before and after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"

awk -F= '
  { v[$1] = $2 }
  function has(k) { return (k in v) && v[k] != "" }
  function f(k, d) { return has(k) ? sprintf("%.*f", d, v[k]) : "n/a" }
  function row(a, b, c, d, e, g) { printf "| %-46s | %-12s | %-12s | %-7s | %-14s | %s\n", a, b, c, d, e, g }
  # A figure of Vazur beside the plain loop doing the same, and their ratio.
  function pair(what, appKey, plainKey, unit, d, goal, notes,   r) {
    r = has(appKey) && has(plainKey) && v[plainKey] > 0 ? sprintf("%.2f", v[appKey] / v[plainKey]) : "n/a"
    row(what, f(appKey, d) unit, f(plainKey, d) unit, r, goal, notes)
  }
  function yes(k) { return has(k) ? v[k] : "n/a" }
  END {
    row("figure", "Vazur", "plain loop", "ratio", "goal", "notes")
    row("----------------------------------------------", "------------", "------------", "-------", "--------------", "-----")
    if (has("dump_mib")) {
      pair("receive " f("dump_mib", 1) " MiB unpaced", "receive_command_mib_s", "plain_read_mib_s", " MiB/s", 2,
           ">= 0.8x", f("dump_lines", 0) " lines; count exact " yes("receive_count_exact") "; saved file equal " yes("receive_saved_equal"))
      pair("peak memory per MiB received", "receive_peak_mib_per_mib", "plain_read_peak_mib_per_mib", " MiB", 2,
           "<= 3 MiB", "the plain loop keeps the bytes")
    }
    split("115200 9600 1200", bauds, " ")
    for (i = 1; i <= 3; i++) {
      k = "paced_" bauds[i]
      if (!has(k "_seconds")) continue
      goal = bauds[i] == 115200 ? "<= 3x" : (bauds[i] == 1200 ? "< 0.5 %" : "")
      pair("receive at " bauds[i] " Bd, CPU of one core", k "_cpu_percent", k "_plain_cpu_percent", " %", 2, goal,
           "kept up, count exact: " yes(k "_lines_ok") sprintf("; %.1f s of line time", v[k "_line_seconds"]) \
           "; wake-ups/s " f(k "_wakes_per_s", 0) " vs " f(k "_plain_wakes_per_s", 0))
    }
    if (has("load_seconds")) {
      pair("show a " f("load_mib", 1) " MiB dump in Memo1", "load_seconds", "load_plain_seconds", " s", 3, "< 0.5 s",
           "plain: read the file")
      pair("show a " f("load_small_kb", 0) " kB dump in Memo1 (median)", "load_small_ms", "load_small_plain_ms", " ms", 2,
           "< 20 ms", "worst of 21: " f("load_small_worst_ms", 1) " ms")
      pair("peak memory per MiB shown", "load_peak_mib_per_mib", "load_plain_peak_mib_per_mib", " MiB", 2, "<= 3 MiB",
           "the plain loop keeps the bytes")
    }
    if (has("send_command_mib_s"))
      pair("send " f("dump_mib", 1) " MiB to a reader that keeps up", "send_command_mib_s", "plain_write_mib_s", " MiB/s", 2,
           ">= 0.5x", "load equal at the exchange " yes("send_load_equal"))
    if (has("receive_longest_stall_ms"))
      row("window unanswered at most: receive unpaced", f("receive_longest_stall_ms", 0) " ms", "", "", "<= 50 ms", "")
    if (has("send_longest_stall_ms"))
      row("window unanswered at most: send unpaced", f("send_longest_stall_ms", 0) " ms", "", "", "<= 50 ms", "")
    if (has("send_uart_longest_stall_ms")) {
      row("window unanswered at most: send at 1200 Bd", f("send_uart_longest_stall_ms", 0) " ms", "", "", "<= 50 ms",
          "a UART that completes each write as its bytes leave")
      row("lines begun after Storno, send at 1200 Bd", f("send_uart_writes_after_storno", 0), "", "", "0",
          "the line going out at the press is finished")
    }
    if (has("idle_cpu_ms")) row("idle, port open, 10 s: CPU used", f("idle_cpu_ms", 0) " ms", "", "", "", "")
    if (has("list_seconds")) row("list a directory of " f("list_files", 0) " dump files", f("list_seconds", 2) " s", "", "", "", "")
    split("burst spread", watches, " ")
    for (i = 1; i <= 2; i++) {
      k = "watch_" watches[i]
      if (!has(k "_rereads")) continue
      row(sprintf("%s new files written in %.2f s: re-reads", f(k "_files", 0), v[k "_write_seconds"]),
          f(k "_rereads", 0) " (+" f(k "_rereads_later", 0) ")", "", "", "",
          "list whole " f(k "_whole_after_last_ms", 0) " ms after the last file; main thread " f(k "_main_cpu_ms", 0) \
          " ms CPU; one re-read " f(k "_reread_changed_ms", 1) " ms")
    }
  }' "$out"
