#!/usr/bin/env bash
# windows_program_notice_test.sh ADAPTER PROGRAM PROBE WINE_RUN PREFIX WINE64,
# on an Xvfb display: what the Windows program says at start about its
# adapter library. ADAPTER "standin": a test build, which says on standard
# error and in a "Test build" box over its window that it carries no traffic
# and what to do; once the box is answered the window takes clicks.
# ADAPTER "wintun": a build given a wintun.dll, which says nothing: its
# window takes a click at once (a box would stand over it, and the box is
# put up before the window handles its first click) and no box is there.
set -euo pipefail
adapter=$1
shift
program=$1 probe=$2 winerun=$3 prefix=$4 wine64=$5
. "$(dirname "$0")/../support/window.sh"
. "$(dirname "$0")/../support/test-build-notice.sh"
wine() { "$winerun" "$prefix" "$wine64" "$@"; }
windows_says() { wine "$probe" "$@" | tr -d '\r'; } # Windows line ends
export VASKOR_SDK_CLIENT=0
pid=""
work=$(mktemp -d)
trap 'status=$?; [ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; exit $status' EXIT

wine "$program" 2>"$work/stderr" & pid=$!
window=$(wait_for_window "Vaskor VPN" 30)
if [ "$adapter" = standin ]; then
  answer_test_build_notice
  grep -q "stand-in adapter library" "$work/stderr" ||
    { echo "the test build said nothing on standard error" >&2; exit 1; }
fi

# "Show Advanced Settings" takes its click: the window is not held by a box.
info=$(windows_says window "Vaskor VPN")
read -r x y < <(awk '$1 == "screen" {print $2, $3}' <<<"$info")
controls=$(windows_says children "Vaskor VPN")
read -r bx by bw bh < <(awk '$1 == "child" && $7 == "Show" {print $3, $4, $5, $6}' <<<"$controls")
[ -n "$bh" ] || { echo "no \"Show Advanced Settings\" strip: $controls" >&2; exit 1; }
xdotool mousemove $((x + bx + bw / 2)) $((y + by + bh / 2)) click 1
expanded=""
for _ in $(seq 100); do
  controls=$(windows_says children "Vaskor VPN")
  awk '$1 == "child" && $7 == "Show" {found = 1} END {exit found}' <<<"$controls" && { expanded=1; break; }
  sleep 0.1
done
[ -n "$expanded" ] || { echo "the window did not take the click: a box stands over it?" >&2; exit 1; }

if [ "$adapter" != standin ]; then
  if box=$(windows_says box "Test build" 0 2>/dev/null); then
    echo "a build given a wintun.dll shows a box: $box" >&2
    exit 1
  fi
  if grep -q "stand-in" "$work/stderr"; then
    echo "a build given a wintun.dll speaks of the stand-in:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
fi
echo "the $adapter build says what it must at start"
