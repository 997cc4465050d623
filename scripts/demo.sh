#!/usr/bin/env bash
# Vazur against a simulated VQ exchange on a pseudo-terminal, no hardware needed.
#   scripts/demo.sh BUILD_DIR [exchange-sim options...]
# (./run --demo builds first and then calls this.) The options go to the
# simulator and override the demo's own, e.g. --unpaced or --dump FILE.
# The exchange sends its dump each time Vazur opens COM1 for "Přijmout";
# press Enter here to make it send again while the port stays open.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [exchange-sim options...]" >&2
  exit 2
fi
build="$1"; shift
app="$build/app/vazur"
sim="$build/tools/exchange-sim/exchange-sim"
for program in "$app" "$sim"; do
  if [ ! -x "$program" ]; then
    echo "Not built: $program" >&2
    exit 1
  fi
done

workdir="$(mktemp -d "${TMPDIR:-/tmp}/vazur-demo.XXXXXX")" || exit 1
sim_pid=""
relay_pid=""
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  [ -n "$relay_pid" ] && wait "$relay_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator keeps the terminal as its input (commands such as Enter);
# its events come through a FIFO: the first line is the port's path.
mkfifo "$workdir/events" || exit 1
exec 3<&0
"$sim" --pty --print-path --line-speed 9600 --generate 12000 --high-bytes \
  --report "$workdir/report" "$@" <&3 >"$workdir/events" &
sim_pid=$!
exec 3<&-
exec 4<"$workdir/events"
if ! IFS= read -r -t 20 slave <&4 || [ -z "$slave" ]; then
  echo "The simulated exchange did not start (see the message above)." >&2
  exit 1
fi
while IFS= read -r line; do printf '[ústředna] %s\n' "$line"; done <&4 &
relay_pid=$!
exec 4<&-

cat <<TEXT
Simulated VQ exchange on $slave, mapped to COM1.
  Receive: "Přijmout", name the file; half a second after the port opens
           the exchange sends its dump, lines ending with "77"; then "Storno".
  Send:    pick a dump file, "Odeslat", OK; the exchange checks the load
           and reports it here when "Storno" closes the port.
  Enter here makes the exchange send its dump again (the port stays open
  after a reception, so a second "Přijmout" alone does not reopen it).
TEXT

VAZUR_PORT_MAP="COM1=$slave" "$app"
status=$?
exit "$status"
