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
xdotool mousemove --window "$window" 230 5
sleep 0.3
screenshot "$window" "$work/before.png"
xdotool mousemove --window "$window" 60 60
sleep 0.3
screenshot "$window" "$work/hover.png"
xdotool mousemove --window "$window" 230 5
sleep 0.3
screenshot "$window" "$work/after.png"
changed=$(compare -metric AE "$work/before.png" "$work/hover.png" /dev/null 2>&1 || true)
restored=$(compare -metric AE "$work/before.png" "$work/after.png" /dev/null 2>&1 || true)
[ "$changed" -gt 200 ] || { echo "hovering Host VPN changed only $changed pixels" >&2; exit 1; }
[ "$restored" -eq 0 ] || { echo "leaving Host VPN left $restored pixels changed" >&2; exit 1; }

# "Show Advanced Settings" is the strip whose bottom edge is at y 136.
click_at "$window" 120 122
wait_for_size "$window" 240x208
screenshot "$window" "$work/expanded.png"
