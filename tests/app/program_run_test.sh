#!/usr/bin/env bash
# The real program's start of a run, with the real message boxes: a run whose
# SDK service is missing shows the "Error" box and ends the program; a host
# address that does not parse shows "Cannot start VPN" and ends it.
set -euo pipefail
program=$1
. "$(dirname "$0")/../../tests/support/window.sh"
export VASKOR_SDK_CLIENT=0
pid=""
trap 'status=$?; [ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null || true; exit $status' EXIT

# wait_for_exit PID SECONDS: fails unless the program ends by itself, successfully.
wait_for_exit() {
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return; }
    sleep 0.1
  done
  echo "the program did not end after its box was dismissed" >&2
  return 1
}

# dismiss CAPTION: waits for the box with that caption and presses its OK.
dismiss() {
  local box
  box=$(wait_for_window "$1" 10)
  xdotool mousemove --window "$box" 5 5
  xdotool key Return
}

echo "missing SDK service: Join VPN"
VASKOR_SDK_UNAVAILABLE=1 "$program" & pid=$!
window=$(wait_for_window "Vaskor VPN")
click_at "$window" 180 60
dismiss "Error"
wait_for_exit $pid 10
pid=""

echo "host address out of range: Host VPN with 300.1.1.1/24"
"$program" & pid=$!
window=$(wait_for_window "Vaskor VPN")
click_at "$window" 120 122
wait_for_size "$window" 240x208
# No window manager: keys go to the window under the pointer, the field.
click_at "$window" 120 185
xdotool key ctrl+a
xdotool type "300.1.1.1/24"
click_at "$window" 60 60
dismiss "Cannot start VPN"
wait_for_exit $pid 10
pid=""
