#!/usr/bin/env bash
# Runs the test programs of the Windows cross build under Wine and judges
# them by their own output: Wine's exit code says little (a program that
# crashed can still end with 0).
#   scripts/windows_tests.sh BUILD_DIR [GoogleTest arguments, e.g. --gtest_filter=RtlIniFile.*]
# The Wine prefix is BUILD_DIR/wine. The Qt programs find Qt's run-time
# files beside them. COM5 and COM6 are two pseudo-terminals
# joined back to back (tests/windows/com_bridge.cpp): the port tests open
# COM5 and play the far end of the line on COM6. Their modem lines read as
# all off (tests/windows/pty_modem_lines.cpp, preloaded into Wine).
set -uo pipefail
dir="$(cd "$1" && pwd)"
shift
root="$(cd "$(dirname "$0")/.." && pwd)"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$dir/wine" WINEARCH=win64 WINEDEBUG=-all
# Wine takes the names of files from the locale: in the C locale Czech ones break.
export LC_ALL=C.UTF-8
# The Qt tests draw off screen, with the fonts of this machine (Qt's offscreen
# platform reads them from this folder, given as Wine sees it).
export QT_QPA_PLATFORM=offscreen QT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
# No .NET or HTML engine to offer: the prefix is made without asking.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine hands Windows file names to Linux in the locale's character set: in
# the C locale a Czech name has no form there. C.UTF-8 is always present.
unset LANGUAGE
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$dir/logs"
# The two helpers run on this machine: built with its own compiler.
bridge="$dir/com_bridge"
if [ ! -x "$bridge" ] || [ "$root/tests/windows/com_bridge.cpp" -nt "$bridge" ]; then
  g++ -O2 -Wall -Wextra -o "$bridge" "$root/tests/windows/com_bridge.cpp" ||
    { echo "com_bridge: build failed"; exit 1; }
fi
modem_lines="$dir/pty_modem_lines.so"
if [ ! -f "$modem_lines" ] || [ "$root/tests/windows/pty_modem_lines.cpp" -nt "$modem_lines" ]; then
  g++ -shared -fPIC -O2 -Wall -Wextra -o "$modem_lines" "$root/tests/windows/pty_modem_lines.cpp" -ldl ||
    { echo "pty_modem_lines: build failed"; exit 1; }
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX"
  if ! "$wine" wineboot --init >"$dir/logs/wine-prefix.log" 2>&1; then
    tail -n 30 "$dir/logs/wine-prefix.log"
    echo "Wine prefix: set-up failed"
    exit 1
  fi
  # The spooler's port list is this key: it learns the test line's two ends.
  for port in COM5: COM6:; do
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Ports' /v "$port" /t REG_SZ /d '' /f \
      >>"$dir/logs/wine-prefix.log" 2>&1
  done
fi

# One server for every program, so each starts in a moment. (What it says
# when it stops is of no interest.)
"$wineserver" -p >/dev/null 2>&1
coproc BRIDGE { exec "$bridge" "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6"; }
bridge_in=${BRIDGE[1]}
stop_all() {
  exec {bridge_in}>&-  # the bridge ends when its input closes
  "$wineserver" -k >/dev/null 2>&1
}
trap stop_all EXIT
if ! read -r ready <&"${BRIDGE[0]}" || [ "$ready" != ready ]; then
  echo "com_bridge: COM5 and COM6 could not be joined"
  exit 1
fi

total_passed=0 total_failed=0 total_skipped=0
while read -r program; do
  [ -n "$program" ] || continue
  name="$(basename "$program" .exe)"
  log="$dir/logs/$name.log"
  # To a file, not a pipe: Wine's own background processes keep what they inherit.
  (cd "$(dirname "$program")" && LD_PRELOAD="$modem_lines" timeout 300 "$wine" "$program" --gtest_color=no "$@") \
    >"$log.raw" 2>&1
  status=$?
  tr -d '\r' <"$log.raw" >"$log"  # Windows ends its lines with CR LF
  rm -f "$log.raw"
  # A result line per test: "[       OK ] Suite.Test (12 ms)".
  passed=$(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$log")
  failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log")
  skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log")
  planned=$(sed -nE 's/^\[==========\] Running ([0-9]+) tests?.*/\1/p' "$log" | head -n 1)
  note=""
  if ! grep -qE '^\[==========\] [0-9]+ tests? from .* ran\.' "$log"; then
    # Ended before its summary: every test without a result failed.
    missing=$(( ${planned:-1} - passed - failed - skipped ))
    [ "$missing" -gt 0 ] || missing=1
    failed=$((failed + missing))
    if [ "$status" -eq 124 ]; then note=" (timed out)"; else note=" (ended early, exit code $status)"; fi
  fi
  echo "$name: $passed passed, $failed failed, $skipped skipped$note"
  # Each skipped test with its reason (the line after "...: Skipped").
  awk '/: Skipped$/ { getline reason; next }
       /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ { sub(/^\[  SKIPPED \] /, ""); sub(/ \([0-9]+ ms\)$/, "");
                                              print "    skipped " $0 ": " reason }' "$log"
  if [ "$failed" -gt 0 ]; then
    grep -vE '^\[ RUN      \]|^\[       OK \]|^\[----------\]|^$' "$log" | tail -n 80
    echo "    (whole output: $log)"
  fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
done <"$dir/test_programs.txt"

# The real vazur.exe through its window, against the simulated exchange
# (not when only some tests were asked for).
if [ $# -eq 0 ]; then
  gui_log="$dir/logs/gui-e2e.log"
  "$root/scripts/gui_e2e.sh" --wine "$dir" >"$gui_log" 2>&1
  gui_passed=$(grep -c '^PASS ' "$gui_log")
  gui_failed=$(grep -c '^FAIL ' "$gui_log")
  grep -q '^gui: [0-9]* passed' "$gui_log" || gui_failed=$((gui_failed + 1))
  echo "vazur.exe through its window: $gui_passed passed, $gui_failed failed"
  if [ "$gui_failed" -gt 0 ]; then
    grep -vE '^PASS ' "$gui_log" | tail -n 30 | sed 's/^/    /'
    echo "    (screenshots: $dir/gui-e2e/shots)"
  fi
  total_passed=$((total_passed + gui_passed))
  total_failed=$((total_failed + gui_failed))
fi

echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ] && [ "$total_passed" -gt 0 ]
