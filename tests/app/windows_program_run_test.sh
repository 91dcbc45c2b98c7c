#!/usr/bin/env bash
# windows_program_run_test.sh ADAPTER PROGRAM PROBE WINE_RUN PREFIX WINE64,
# on an Xvfb display: a run of the Windows program under Wine, as far as Wine
# allows. ADAPTER is "standin" when the program embeds our stand-in adapter
# library, "wintun" for the driver vendor's. Host VPN maps our SDK and the
# stand-in and creates the adapter; setting its MTU is where Wine 8 stops the
# run: its IP helper has no interface rows (GetIpInterfaceEntry), the call
# fails with error 50, and the window shows its "Error" box, after which the
# program ends. Not possible under Wine: the Wintun driver (no kernel driver
# runs there: with the vendor's library the test is skipped), the MTU, the
# address (AddIPAddress is a stub that returns 50) and the Network List
# Manager (absent): only Windows with the driver gets that far.
set -euo pipefail
adapter=$1
shift
program=$1 probe=$2 winerun=$3 prefix=$4 wine64=$5
if [ "$adapter" != standin ]; then
  echo "[  SKIPPED ] the program embeds the Wintun driver's library: the driver cannot run under Wine"
  exit 0
fi
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
answer_test_build_notice
info=$(windows_says window "Vaskor VPN")
read -r x y < <(awk '$1 == "screen" {print $2, $3}' <<<"$info")
# "Host VPN" with the address field's default.
xdotool mousemove $((x + 60)) $((y + 60)) click 1

grep -q "stand-in adapter library" "$work/stderr" ||
  { echo "the program did not say it carries the stand-in adapter:" >&2; cat "$work/stderr" >&2; exit 1; }

box=$(windows_says box "Error" 60)
echo "$box"
want="text Cannot set the adapter's MTU: Request not supported"
[ "$box" = "$want" ] || { echo "the box says '$box', expected '$want'" >&2; exit 1; }

# Its OK ends the program.
boxWindow=$(wait_for_window "Error" 10)
xdotool mousemove --window "$boxWindow" 5 5
xdotool key Return
for _ in $(seq 100); do
  kill -0 $pid 2>/dev/null || { wait $pid || true; pid=""; break; }
  sleep 0.1
done
[ -z "$pid" ] || { echo "the program did not end after its box" >&2; exit 1; }
