#!/usr/bin/env bash
# The real program driven as a technician drives it: on a virtual X screen,
# with xdotool's key presses and clicks, against the simulated exchange
# playing the far end of COM7 at 9600 Bd. It receives a dump through the
# window, sends it back, and loses the line in the middle of a second
# reception.
#   scripts/gui_e2e.sh --wine BUILD_WINDOWS_DIR   vazur.exe under Wine
#   scripts/gui_e2e.sh --linux BUILD_DIR          the Linux program
# VAZUR_E2E_WINE_PROGRAM names another vazur.exe for --wine, as Wine sees
# it (the installed one: scripts/package_check_windows.sh).
# Prints "PASS name" or "FAIL name: why" per check, then
# "gui: N passed, N failed". Keeps screenshots and logs in DIR/gui-e2e/.
set -uo pipefail
mode="${1:-}"
dir="$(cd "${2:?usage: gui_e2e.sh --wine|--linux BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
unset LANGUAGE
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

caption='Ukládání a vysílání paměti RAM ústředen VQ'
work="$dir/gui-e2e"
rm -rf "$work"
mkdir -p "$work/dumps" "$work/shots"
passed=0 failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); shot "fail-$1"; }
check() {  # check NAME WHY COMMAND...
  local name="$1" why="$2"; shift 2
  if "$@"; then pass "$name"; else fail "$name" "$why"; fi
}


# ---- the X screen ----
source "$root/scripts/xvfb.sh"
start_xvfb || exit 1
shot() { command -v import >/dev/null && import -display "$DISPLAY" -window root "$work/shots/$1.png" 2>/dev/null; }

# ---- the program, with COM7 at the far end of a pseudo-terminal ----
sim_pid="" app_pid=""
case "$mode" in
  --wine)
    wine=/usr/lib/wine/wine64
    export WINEPREFIX="$dir/wine" WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine's own messages stay on: what it says while the window is idle is checked.
    unset WINEDEBUG
    # A server left by programs without a screen would keep them without one.
    /usr/lib/wine/wineserver -k >/dev/null 2>&1
    /usr/lib/wine/wineserver -w >/dev/null 2>&1
    link="$WINEPREFIX/dosdevices/com7"
    program=("$wine" "${VAZUR_E2E_WINE_PROGRAM:-$dir/bin/vazur.exe}")
    [ -f "$WINEPREFIX/system.reg" ] || WINEDEBUG=-all "$wine" wineboot --init >"$work/wine-prefix.log" 2>&1
    # The spooler's port list is this key: the settings dialog offers COM7.
    WINEDEBUG=-all "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Ports' \
      /v COM7: /t REG_SZ /d '' /f >/dev/null 2>&1
    # The simulated exchange is a program of this machine.
    sim="$dir/exchange-sim-native"
    if [ ! -x "$sim" ] || [ -n "$(find "$root/tools/exchange-sim" -newer "$sim" -name '*.*' | head -n 1)" ]; then
      g++ -std=c++20 -O2 -I"$root" -o "$sim" "$root"/tools/exchange-sim/*.cpp -pthread ||
        { echo "exchange-sim: build failed"; exit 1; }
    fi
    modem_lines="$dir/pty_modem_lines.so"
    [ "$modem_lines" -nt "$root/tests/windows/pty_modem_lines.cpp" ] || g++ -shared -fPIC -O2 -o "$modem_lines" "$root/tests/windows/pty_modem_lines.cpp" -ldl
    export LD_PRELOAD="$modem_lines"
    ;;
  --linux)
    link="$work/com7"
    export VAZUR_PORT_MAP="COM7=$link"
    program=("$dir/app/vazur")
    sim="$dir/tools/exchange-sim/exchange-sim"
    ;;
  *) echo "usage: gui_e2e.sh --wine|--linux BUILD_DIR"; exit 2 ;;
esac

stop_all() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ "$mode" = --wine ] && /usr/lib/wine/wineserver -k >/dev/null 2>&1
  stop_xvfb
  wait 2>/dev/null
}
trap stop_all EXIT

# Starts the exchange on COM7 with the given options; its events go to LOG.
start_sim() {
  local log="$1"; shift
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
  "$sim" --pty --link "$link" --print-path --no-commands "$@" >"$log" 2>&1 &
  sim_pid=$!
  # It says so once the link is made.
  wait_for_line "$log" '^waiting for the tool' 10 && [ -e "$link" ]
}

# Waits until LOG has a line matching the pattern (at most SECONDS).
wait_for_line() {
  local log="$1" pattern="$2" seconds="${3:-60}"
  grep -m 1 -qE "$pattern" < <(timeout "$seconds" tail -n +1 -F --pid=$$ "$log" 2>/dev/null)
}

# The id of the visible window whose title is exactly TITLE (waits for it).
window() {
  local id
  id=$(wait_for_window "${2:-30}" "^$(sed 's/[][\.*^$()+?{}|]/\\&/g' <<<"$1")\$")
  [ -n "$id" ] && echo "$id"
}
# True when the two windows do not overlap on the screen.
apart() {
  local WINDOW X Y WIDTH HEIGHT SCREEN ax ay aw ah
  eval "$(xdotool getwindowgeometry --shell "$1")" || return 1
  ax=$X ay=$Y aw=$WIDTH ah=$HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$2")" || return 1
  [ $((ax + aw)) -le "$X" ] || [ $((X + WIDTH)) -le "$ax" ] || [ $((ay + ah)) -le "$Y" ] || [ $((Y + HEIGHT)) -le "$ay" ]
}
count_windows() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l; }
window_gone() {  # window_gone ID SECONDS
  local end=$((SECONDS + ${2:-30}))
  while [ $SECONDS -lt $end ]; do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
    sleep 0.2
  done
  return 1
}
key() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key --clearmodifiers "${@:2}"; }
type_text() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool type --delay 30 "$2"; }
# A click at a point of the window, in its own coordinates.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# The text of a message box, as the toolkit copies it on Windows (Ctrl+C).
box_says() {  # box_says NAME ID TEXT
  if [ "$mode" != --wine ]; then return 0; fi
  local text
  text=$(box_text "$2")
  check "$1" "it says \"$text\"" grep -qF "$3" <<<"$text"
}
box_text() {
  printf '' | xclip -selection clipboard -i >/dev/null 2>&1
  key "$1" ctrl+c
  sleep 0.5
  xclip -selection clipboard -o 2>/dev/null
}

echo "gui: ${program[*]} on $DISPLAY, COM7 = $link"
# The dump the exchange sends, as the program must save it.
expected="$work/expected.nvr"
"$sim" --generate 6000 --high-bytes --seed 7 --write-dump "$expected" || { echo "exchange-sim failed"; exit 1; }
start_sim "$work/sim1.log" --dump "$expected" --line-speed 9600 --load-idle 1500 ||
  { fail "exchange" "COM7 did not appear"; echo "gui: $passed passed, $failed failed"; exit 1; }

start_program() {
  (cd "$work/dumps" && exec "${program[@]}") >>"$work/program.log" 2>&1 &
  app_pid=$!
  main=$(window "$caption" 60)
}
start_program
if [ -z "$main" ]; then
  # What the screen held, for the log; then one more start.
  echo "no main window after 60 s; the screen's windows:"
  xwininfo -root -tree 2>/dev/null | grep -E '^ +0x' | head -n 20
  kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null
  [ "$mode" = --wine ] && { /usr/lib/wine/wineserver -k; /usr/lib/wine/wineserver -w; } >/dev/null 2>&1
  start_program
fi
if [ -z "$main" ]; then
  fail "main window" "no window named \"$caption\""
  echo "gui: $passed passed, $failed failed"; exit 1
fi
pass "main window: exactly \"$caption\""
# Let it settle, then see what it says while idle.
sleep 3
shot main-window
idle_from=$(wc -l <"$work/program.log")
sleep 3
idle_output=$(tail -n +"$((idle_from + 1))" "$work/program.log")
check "nothing written to the error output while idle" "$idle_output" test -z "$idle_output"

# Where the toolbar's buttons and the file list's first line are.
tool_y=40 receive_x=30 send_x=90 settings_x=162 exit_x=233 file_list_y=251

# ---- settings: COM7 at 9600 Bd ----
click "$main" $settings_x $tool_y
settings=$(window "Nastavení")
check "settings dialog: exactly \"Nastavení\"" "no such window" test -n "$settings"
shot settings
type_text "$settings" "COM7"
key "$settings" Tab
type_text "$settings" "9600"
key "$settings" Return
window_gone "$settings" 10 || fail "settings dialog closes on Enter" "still open"

# ---- receive ----
receive_dump() {  # receive_dump NAME: Přijmout, name the file, wait for the receive dialog
  click "$main" $receive_x $tool_y
  local save
  save=$(window "Zadejte název souboru pro uložení") || return 1
  shot save-dialog
  type_text "$save" "$1"
  key "$save" Return
  window_gone "$save" 10 || return 1
  receiving=$(window "Příjem dat")
  [ -n "$receiving" ]
}
check "receive: the save dialog and then \"Příjem dat\"" "no receive dialog" receive_dump prijem.nvr
end_box=$(window "Vazur" 60)
sent_before_box=no
grep -qE '^dump: sent' "$work/sim1.log" && sent_before_box=yes
check "\"Data jsou přijata\" only once the exchange has sent its end" "the box came first" test "$sent_before_box" = yes
shot receive-end
box_says "the end box says \"Data jsou přijata\"" "$end_box" "Data jsou přijata"
check "the end box leaves the count in sight" "it lies over the receive dialog" apart "$end_box" "$receiving"
key "$end_box" Return
window_gone "$end_box" 10
storno_x=165 storno_y=80  # the receive dialog's one button
click "$receiving" $storno_x $storno_y
window_gone "$receiving" 20 || fail "Storno ends the reception" "the dialog stays"
check "the saved dump equals the exchange's, byte for byte" "$(cmp "$expected" "$work/dumps/prijem.nvr" 2>&1)" \
  cmp -s "$expected" "$work/dumps/prijem.nvr"

# ---- send it back: the file list's first file, Odeslat ----
shot before-send
# The file list starts below the directory block (169 px) under the toolbar.
click "$main" 40 $file_list_y
click "$main" $send_x $tool_y
info=$(window " INFORMACE ")
check "send: the LOAD reminder" "no \" INFORMACE \" box" test -n "$info"
key "$info" Return
sending=$(window "Odesílání souboru do TÚ")
check "send: \"Odesílání souboru do TÚ\"" "no send dialog" test -n "$sending"
wait_for_line "$work/sim1.log" '^load: [0-9]+ lines received' 120
shot send-done
check "the exchange took the load equal to its image" "$(grep '^load:' "$work/sim1.log" | tail -n 1)" \
  grep -qE '^load: [0-9]+ lines received, equal to image' "$work/sim1.log"
click "$sending" 177 108  # its Storno
window_gone "$sending" 20 || fail "Storno closes the send dialog" "it stays"

# ---- a reception whose line is lost half way ----
start_sim "$work/sim2.log" --generate 200k --seed 9 --line-speed 9600
check "second reception starts" "no receive dialog" receive_dump odpojeni.nvr
wait_for_line "$work/sim2.log" '^dump: sending' 30
sleep 2
kill -9 "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=""
rm -f "$link"
lost=$(window " CHYBA " 30)
check "the loss is told" "no \" CHYBA \" box" test -n "$lost"
shot line-lost
sleep 3
check "the loss is told once" "$(count_windows ' CHYBA ') boxes" test "$(count_windows ' CHYBA ')" -eq 1
box_says "the loss is told in Czech" "$lost" "Spojení s ústřednou na portu COM7 bylo přerušeno"
key "$lost" Return
window_gone "$lost" 10
receiving=$(window "Příjem dat" 5)
click "$receiving" $storno_x $storno_y
window_gone "$receiving" 20
check "no other report follows the loss" "a general error report came after it" test "$(count_windows Vazur)" -eq 0
# What came before the loss is saved: whole lines the exchange sent, in order.
"$sim" --generate 200k --seed 9 --write-dump "$work/image2.nvr"
saved="$work/dumps/odpojeni.nvr"
saved_lines=$(tr -cd '\n' <"$saved" 2>/dev/null | wc -c)
check "the lines before the loss are kept" "$saved_lines lines saved" test "$saved_lines" -gt 10
check "they are the exchange's own lines, whole and in order" "the file differs from the image's start" \
  cmp -s -n "$(stat -c %s "$saved" 2>/dev/null || echo 0)" "$saved" "$work/image2.nvr"

# ---- Konec ends the program ----
click "$main" $exit_x $tool_y
ended=no
timeout 10 tail --pid="$app_pid" -f /dev/null && ended=yes
check "Konec ends the program" "still running" test "$ended" = yes
app_pid=""

echo "gui: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
