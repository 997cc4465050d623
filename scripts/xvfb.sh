# An X server of its own for a check that shows a window: sourced, then
#   start_xvfb   sets DISPLAY to a free display of a new Xvfb (XVFB_PID)
#   stop_xvfb
# A chroot reaches it too: the server also listens on the abstract socket.
start_xvfb() {
  local fifo display
  fifo="$(mktemp -u "${TMPDIR:-/tmp}/vazur-xvfb.XXXXXX")"
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 7 -screen 0 1280x900x24 -nolisten tcp 7>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  # The server writes its display number once it accepts clients.
  if ! read -r -t 30 display <"$fifo" || [ -z "$display" ]; then
    rm -f "$fifo"
    echo "Xvfb did not start" >&2
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$display"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  fi
}

# Waits up to SECONDS for a visible window whose title matches PATTERN and
# prints its id.
#   wait_for_window SECONDS PATTERN
wait_for_window() {
  timeout "$1" xdotool search --sync --onlyvisible --name "$2" 2>/dev/null | head -n 1
}
