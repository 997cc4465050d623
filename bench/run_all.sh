#!/usr/bin/env bash
# Builds the benchmarks in build/ (optimised, as ./test builds; another
# folder with VAZUR_BENCH_BUILD=...) and prints
# every figure as one table. Takes about two minutes; run it on a quiet
# machine, the figures are the machine's.
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

awk -F= '
  { v[$1] = $2 }
  function has(k) { return (k in v) && v[k] != "" }
  function f(k, d) { return has(k) ? sprintf("%.*f", d, v[k]) : "n/a" }
  function row(a, b, c) { printf "| %-52s | %-16s | %s\n", a, b, c }
  function rate(what, plainKey, appKey, unit) {
    if (!has(appKey) || !has(plainKey)) { row(what, "n/a", ""); return }
    s = v["dump_mib"] / v[appKey]; ps = v["dump_mib"] / v[plainKey]
    row(what " (Vazur)", sprintf("%.2f %s", v[appKey], unit),
        sprintf("%.2f s, %.0f lines/s", s, v["dump_lines"] / s))
    row(what " (plain pseudo-terminal)", sprintf("%.2f %s", v[plainKey], unit),
        sprintf("%.2f s, %.0f lines/s", ps, v["dump_lines"] / ps))
    row(what ": Vazur / plain", sprintf("%.2f", v[appKey] / v[plainKey]), "")
  }
  END {
    row("figure", "value", "notes")
    row("----------------------------------------------------", "----------------", "-----")
    if (has("dump_mib")) {
      rate("receive " v["dump_mib"] " MiB unpaced", "plain_read_mib_s", "receive_command_mib_s", "MiB/s")
      row("receive: saved file equal to the dump", has("receive_saved_equal") ? v["receive_saved_equal"] : "n/a",
          "longest stall " f("receive_longest_stall_ms", 0) " ms")
      if (has("receive_peak_mib_per_mib")) row("receive: peak memory per MiB received", f("receive_peak_mib_per_mib", 1) " MiB", "")
      rate("send " v["dump_mib"] " MiB", "plain_write_mib_s", "send_command_mib_s", "MiB/s")
      row("send: load equal at the exchange", has("send_load_equal") ? v["send_load_equal"] : "n/a",
          "longest stall " f("send_longest_stall_ms", 0) " ms")
    } else if (has("receive_plain_mb_per_s")) {
      row("receive, plain pseudo-terminal", f("receive_plain_mb_per_s", 2) " MB/s", f("receive_plain_seconds", 2) " s")
      row("send, plain pseudo-terminal", f("send_plain_mb_per_s", 2) " MB/s", f("send_plain_seconds", 2) " s")
    }
    split("1200 9600 115200", bauds, " ")
    for (i = 1; i <= 3; i++) {
      k = "paced_" bauds[i]
      if (!has(k "_seconds")) continue
      row(sprintf("receive at %s Bd: kept up / CPU of one core", bauds[i]),
          v[k "_lines_ok"] " / " f(k "_cpu_percent", 1) " %",
          sprintf("%.2f s for %.2f s of line time", v[k "_seconds"], v[k "_line_seconds"]))
    }
    if (has("idle_cpu_ms")) row("idle, port open, 10 s: CPU used", f("idle_cpu_ms", 0) " ms", "")
    if (has("load_seconds"))
      row("show a " f("load_mb", 1) " MB dump in Memo1", f("load_seconds", 2) " s",
          f("load_lines", 0) " lines; peak " f("load_peak_mb_per_mb", 1) " MiB per MB")
    if (has("list_seconds")) row("list a directory of " f("list_files", 0) " dump files", f("list_seconds", 2) " s", "")
    split("burst spread", watches, " ")
    for (i = 1; i <= 2; i++) {
      k = "watch_" watches[i]
      if (!has(k "_rereads")) continue
      row(sprintf("%s new files written in %.2f s: re-reads", f(k "_files", 0), v[k "_write_seconds"]),
          f(k "_rereads", 0) " (+" f(k "_rereads_later", 0) " later)",
          "list whole " f(k "_whole_after_last_ms", 0) " ms after the last file; main thread " f(k "_main_cpu_ms", 0) \
          " ms CPU; one re-read " f(k "_reread_changed_ms", 1) " ms")
    }
  }' "$out"
