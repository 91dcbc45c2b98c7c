#!/usr/bin/env bash
# windows_program_window_test.sh PROGRAM PROBE WINE_RUN PREFIX WINE64, on an
# Xvfb display: the Windows program under Wine. Its first window: the title,
# a 240x140 client area inside the frame Windows' own metrics give for it,
# centred, the 64x64 icon from icon.png (the window's and X's _NET_WM_ICON)
# and the executable's icon resource; "Show Advanced Settings" expands it.
# X sees only Wine's drawing, so the sizes come from window-probe, which asks
# Windows (GetClientRect, AdjustWindowRectEx, WM_GETICON).
set -euo pipefail
program=$1 probe=$2 winerun=$3 prefix=$4 wine64=$5
. "$(dirname "$0")/../support/window.sh"
wine() { "$winerun" "$prefix" "$wine64" "$@"; }
winepath_of() { printf 'Z:%s' "${1//\//\\}"; } # Wine's drive Z: is /
export VASKOR_SDK_CLIENT=0
pid=""
trap 'status=$?; [ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null || true; exit $status' EXIT

# field NAME: the values of that line of the last probe.
field() { awk -v name="$1" '$1 == name {print $2 "x" $3}' <<<"$info"; }
expect() { # expect WHAT GOT WANTED
  [ "$2" = "$3" ] || { echo "$1: $2, expected $3" >&2; printf '%s\n' "$info" >&2; exit 1; }
}

wine "$program" & pid=$!
window=$(wait_for_window "Vaskor VPN" 30)
info=$(wine "$probe" window "Vaskor VPN")
printf '%s\n' "$info"
expect "client area" "$(field client)" 240x140
expect "frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
read -r dx dy < <(awk '$1 == "centred" {print ($2 < 0 ? -$2 : $2), ($3 < 0 ? -$3 : $3)}' <<<"$info")
[ "$dx" -le 1 ] && [ "$dy" -le 1 ] || { echo "not centred: off by $dx,$dy" >&2; exit 1; }
expect "window icon" "$(field icon)" 64x64
xprop -id "$window" _NET_WM_ICON | grep -q "Icon (64 x 64)" ||
  { echo "X sees no 64x64 icon: $(xprop -id "$window" _NET_WM_ICON | grep 'Icon (')" >&2; exit 1; }
icons=$(wine "$probe" icons "$(winepath_of "$program")")
grep -q "^icons [1-9]" <<<"$icons" || { echo "no icon resource in the program: $icons" >&2; exit 1; }

# "Show Advanced Settings": the strip whose bottom edge is at y 136.
read -r x y < <(awk '$1 == "screen" {print $2, $3}' <<<"$info")
xdotool mousemove $((x + 120)) $((y + 122)) click 1
for _ in $(seq 50); do
  info=$(wine "$probe" window "Vaskor VPN")
  [ "$(field client)" = 240x140 ] || break
  sleep 0.1
done
printf '%s\n' "$info"
expect "expanded client area" "$(field client)" 240x208
expect "expanded frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
