#!/usr/bin/env bash
# The real program on a private display, driven as a person would: the first
# window, the hover images, and "Show Advanced Settings".
set -euo pipefail
program=$1
. "$(dirname "$0")/../../tests/support/window.sh"
work=$(mktemp -d)
"$program" & pid=$!
trap 'status=$?; kill $pid 2>/dev/null; wait $pid 2>/dev/null || true; rm -rf "$work"; exit $status' EXIT

window=$(wait_for_window "Vaskor VPN")
wait_for_size "$window" 240x140

# The pointer over "Host VPN" swaps in the brighter image, and back when it leaves.
# Each picture is taken once the window shows it, never after a guessed time.
xdotool mousemove --window "$window" 230 5
screenshot "$window" "$work/settled.png"
settled() { # the same picture twice in a row: painting has finished
  [ "$(pixels_differing "$work/settled.png" "$work/before.png")" = 0 ] ||
    { cp "$work/before.png" "$work/settled.png"; return 1; }
}
wait_for_screenshot "$window" "$work/before.png" 5 settled
xdotool mousemove --window "$window" 60 60
hovered() { [ "$(pixels_differing "$work/before.png" "$work/hover.png")" -gt 200 ]; }
wait_for_screenshot "$window" "$work/hover.png" 5 hovered ||
  { echo "hovering Host VPN changed only $(pixels_differing "$work/before.png" "$work/hover.png") pixels" >&2; exit 1; }
xdotool mousemove --window "$window" 230 5
restored() { [ "$(pixels_differing "$work/before.png" "$work/after.png")" = 0 ]; }
wait_for_screenshot "$window" "$work/after.png" 5 restored ||
  { echo "leaving Host VPN left $(pixels_differing "$work/before.png" "$work/after.png") pixels changed" >&2; exit 1; }

# "Show Advanced Settings" is the strip whose bottom edge is at y 136.
click_at "$window" 120 122
wait_for_size "$window" 240x208
screenshot "$window" "$work/expanded.png"
