#!/usr/bin/env bash
# windows_program_window_test.sh ADAPTER PROGRAM PROBE WINE_RUN PREFIX WINE64,
# on an Xvfb display: the Windows program under Wine (ADAPTER "standin" for a
# test build, whose notice box is answered first). Its first window: the title,
# a 240x140 client area inside the frame Windows' own metrics give for it,
# centred, the 64x64 icon from icon.png (the window's, as Wine gives it to X
# in _NET_WM_ICON) and the executable's icon resource with a 64x64 image;
# "Show Advanced Settings" expands it to the height the label's and the
# field's default heights (Windows' metrics) give. The sizes come from
# window-probe, which asks Windows (GetClientRect, AdjustWindowRectEx, the
# controls' rectangles).
set -euo pipefail
adapter=$1
shift
program=$1 probe=$2 winerun=$3 prefix=$4 wine64=$5
. "$(dirname "$0")/../support/window.sh"
. "$(dirname "$0")/../support/test-build-notice.sh"
wine() { "$winerun" "$prefix" "$wine64" "$@"; }
windows_says() { wine "$probe" "$@" | tr -d '\r'; } # Windows line ends
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
if [ "$adapter" = standin ]; then
  answer_test_build_notice
fi
info=$(windows_says window "Vaskor VPN")
printf '%s\n' "$info"
expect "client area" "$(field client)" 240x140
expect "frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
read -r dx dy < <(awk '$1 == "centred" {print ($2 < 0 ? -$2 : $2), ($3 < 0 ? -$3 : $3)}' <<<"$info")
[ "$dx" -le 1 ] && [ "$dy" -le 1 ] || { echo "not centred: off by $dx,$dy" >&2; exit 1; }
icons=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' || true)
[ "$icons" = "Icon (64 x 64)" ] || { echo "the window's icons: '$icons', expected one of 64x64" >&2; exit 1; }
resource=$(windows_says icons "$(winepath_of "$program")")
printf '%s\n' "$resource"
grep -qx "icon 64 64" <<<"$resource" ||
  { echo "the program's icon resource has no 64x64 image" >&2; exit 1; }

# child TEXT-OR-CLASS: "X Y W H" of the control with that text (or class).
child() { awk -v key="$1" '$1 == "child" && ($2 == key || $7 == key) {print $3, $4, $5, $6}' <<<"$controls"; }
controls=$(windows_says children "Vaskor VPN")
printf '%s\n' "$controls"
# "Show Advanced Settings": a full-width strip of Windows' default button
# height, its bottom edge at y 136.
read -r bx by bw bh < <(child Show)
[ "$bx $bw $((by + bh))" = "0 240 136" ] || { echo "the advanced strip is at $bx,$by ${bw}x$bh" >&2; exit 1; }
read -r x y < <(awk '$1 == "screen" {print $2, $3}' <<<"$info")
xdotool mousemove $((x + 120)) $((y + by + bh / 2)) click 1
for _ in $(seq 50); do
  info=$(windows_says window "Vaskor VPN")
  [ "$(field client)" = 240x140 ] || break
  sleep 0.1
done
printf '%s\n' "$info"
controls=$(windows_says children "Vaskor VPN")
printf '%s\n' "$controls"
[ -z "$(child Show)" ] || { echo "the advanced strip is still there" >&2; exit 1; }
# The heights Windows' metrics give the label and the field decide the rest:
# label at (8, 148), the field 8 below it, the panel 8 below the field.
read -r lx ly lw lh < <(child Static)
read -r fx fy fw fh < <(child Edit)
echo "label height $lh, field height $fh (Windows' metrics)"
[ "$lx $ly $lw" = "8 148 224" ] || { echo "label at $lx,$ly width $lw" >&2; exit 1; }
[ "$fx $fy $fw" = "8 $((148 + lh + 8)) 224" ] || { echo "field at $fx,$fy width $fw" >&2; exit 1; }
expect "expanded client area" "$(field client)" "240x$((fy + fh + 8))"
expect "expanded frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
