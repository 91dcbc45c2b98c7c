#!/usr/bin/env bash
# windows_program_scale_test.sh DPI ADAPTER PROGRAM PROBE WINE_RUN PREFIX WINE64 [SHOTS],
# on an Xvfb display: the Windows program under Wine with the display scaled
# to DPI (96 is 100%, 144 is 150%, 192 is 200%), set in PREFIX's registry,
# a Wine prefix of this test's own. The window's layout is the 96-DPI one
# scaled: every position and size the window test checks at 96, times
# DPI/96; in both states of the host/join panel no control overlaps another,
# every control lies inside the client area and holds its text (the text's
# extent in Windows' control font at that DPI, from window-probe), and the
# image buttons hold their image (64 pixels at 96 DPI, scaled) above it;
# the same for the status panel of a member run (on loopback).
# ADAPTER is "standin" for a test build, whose notice box is answered first.
# SHOTS: a folder for screenshots of both states (scripts/screenshots).
set -euo pipefail
dpi=$1 adapter=$2 program=$3 probe=$4 winerun=$5 prefix=$6 wine64=$7 shots=${8:-}
here=$(dirname "$0")
. "$here/../support/window.sh"
. "$here/../support/test-build-notice.sh"
wine() { "$winerun" "$prefix" "$wine64" "$@"; }
windows_says() { wine "$probe" "$@" | tr -d '\r'; } # Windows line ends
# The member run below stays on loopback and asks no router for a port.
export VASKOR_SDK_CLIENT=0 VASKOR_SDK_ADDRESSES=127.0.0.1 VASKOR_SDK_PORT_MAPPING=off
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
# This prefix's Wine: ended so that the next program reads the scale afresh
# (a server that stays on keeps the one its first program read).
end_wine() { WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true; WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true; }
pid=""
trap 'status=$?; [ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null || true; end_wine; exit $status' EXIT

# The scale Windows reads when a program starts; both keys, as Windows has them.
for key in 'HKCU\Control Panel\Desktop' \
           'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
  wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
done
end_wine

# scaled N: a 96-DPI figure at this DPI, rounded as the toolkit rounds.
scaled() { echo $((($1 * dpi + 48) / 96)); }
field() { awk -v name="$1" '$1 == name {print $2 "x" $3}' <<<"$info"; }
expect() { # expect WHAT GOT WANTED
  [ "$2" = "$3" ] || { echo "$1: $2, expected $3" >&2; printf '%s\n' "$info" "$controls" >&2; exit 1; }
}
# child TEXT-OR-CLASS: "X Y W H" of the control with that text (or class).
child() {
  awk -v key="$1" '$1 == "child" {
    text = $7; for (i = 8; i <= NF; i++) text = text " " $i
    if ($2 == key || text == key) print $3, $4, $5, $6
  }' <<<"$controls"
}

# check_layout STATE: no overlaps, nothing outside the client area, every
# text held, from the last window and children probes.
check_layout() {

  awk -v state="$1" -v client="$(field client)" -v image="$(scaled 64)" '
    BEGIN { split(client, c, "x") }
    # The controls; the panel under them (the toolkit'"'"'s own window class) is
    # their background.
    $1 == "child" && $2 != "wxWindowNR" {
      n++; cls[n] = $2; x[n] = $3; y[n] = $4; w[n] = $5; h[n] = $6
      text[n] = $7; for (i = 8; i <= NF; i++) text[n] = text[n] " " $i
    }
    $1 == "child" && $2 == "wxWindowNR" { panel = 1 }
    $1 == "child" && $2 != "wxWindowNR" { panel = 0 }
    $1 == "needs" && !panel { tw[n] = $2; th[n] = $3 }
    END {
      bad = 0
      # The compact panel keeps the address below its bottom, out of view.
      for (i = 1; i <= n; i++)
        hidden[i] = y[i] >= c[2]
      for (i = 1; i <= n; i++) {
        if (hidden[i])
          continue
        if (x[i] < 0 || y[i] < 0 || x[i] + w[i] > c[1] || y[i] + h[i] > c[2]) {
          printf "%s: \"%s\" at %d,%d %dx%d leaves the %s client area\n", state, text[i], x[i], y[i], w[i], h[i], client
          bad = 1
        }
        # An image button shows its image above its label.
        need = th[i] + (text[i] == "Host VPN" || text[i] == "Join VPN" ? image : 0)
        if (tw[i] > w[i] || need > h[i]) {
          printf "%s: \"%s\" needs %dx%d, has %dx%d: its text is cut\n", state, text[i], tw[i], need, w[i], h[i]
          bad = 1
        }
        for (j = i + 1; j <= n; j++)
          if (!hidden[j] && x[i] < x[j] + w[j] && x[j] < x[i] + w[i] && y[i] < y[j] + h[j] && y[j] < y[i] + h[i]) {
            printf "%s: \"%s\" overlaps \"%s\"\n", state, text[i], text[j]
            bad = 1
          }
      }
      if (n == 0) { print state ": no controls"; bad = 1 }
      exit bad
    }' <<<"$controls" >&2 || { printf '%s\n' "$controls" >&2; exit 1; }
}

wine "$program" & pid=$!
window=$(wait_for_window "Vaskor VPN" 30)
if [ "$adapter" = standin ]; then
  answer_test_build_notice
fi
info=$(windows_says window "Vaskor VPN")
controls=$(windows_says children "Vaskor VPN")
printf '%s\n' "$info" "$controls"
expect "the window's DPI" "$(awk '$1 == "dpi" {print $2}' <<<"$info")" "$dpi"
expect "client area" "$(field client)" "$(scaled 240)x$(scaled 140)"
expect "frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
expect "Host VPN" "$(child "Host VPN")" "$(scaled 20) $(scaled 30) $(scaled 80) $(scaled 80)"
expect "Join VPN" "$(child "Join VPN")" "$(scaled 140) $(scaled 30) $(scaled 80) $(scaled 80)"
read -r bx by bw bh < <(child "Show Advanced Settings")
expect "the advanced strip" "$bx $bw $((by + bh))" "0 $(scaled 240) $(scaled 136)"
check_layout compact
[ -z "$shots" ] || { mkdir -p "$shots"; screenshot "$window" "$shots/host-join-$dpi-dpi.png"; }

read -r x y < <(awk '$1 == "screen" {print $2, $3}' <<<"$info")
xdotool mousemove $((x + bx + bw / 2)) $((y + by + bh / 2)) click 1
for _ in $(seq 50); do
  info=$(windows_says window "Vaskor VPN")
  [ "$(field client)" = "$(scaled 240)x$(scaled 140)" ] || break
  sleep 0.1
done
controls=$(windows_says children "Vaskor VPN")
printf '%s\n' "$info" "$controls"
[ -z "$(child "Show Advanced Settings")" ] || { echo "the advanced strip is still there" >&2; exit 1; }
read -r lx ly lw lh < <(child Static)
read -r fx fy fw fh < <(child Edit)
expect "the label" "$lx $ly $lw" "$(scaled 8) $(scaled 148) $(scaled 224)"
expect "the field" "$fx $fy $fw" "$(scaled 8) $((ly + lh + $(scaled 8))) $(scaled 224)"
expect "expanded client area" "$(field client)" "$(scaled 240)x$((fy + fh + $(scaled 8)))"
expect "expanded frame from Windows' metrics" "$(field frame)" "$(field adjusted)"
check_layout expanded
[ -z "$shots" ] || screenshot "$window" "$shots/host-join-advanced-$dpi-dpi.png"

# "Join VPN": the status panel of a member run, once its first status
# refresh has filled the byte counts.
read -r jx jy jw jh < <(child "Join VPN")
xdotool mousemove $((x + jx + jw / 2)) $((y + jy + jh / 2)) click 1
for _ in $(seq 100); do
  controls=$(windows_says children "Vaskor VPN")
  [ -n "$(child "Sent Bytes: 0")" ] && break
  sleep 0.1
done
info=$(windows_says window "Vaskor VPN")
printf '%s\n' "$info" "$controls"
read -r ax ay aw ah < <(child "Waiting for connection")
read -r sx sy sw sh < <(child "Sent Bytes: 0")
read -r rx ry rw rh < <(child "Received Bytes: 0")
expect "the address line" "$ax $ay $aw" "$(scaled 8) $(scaled 8) $(scaled 224)"
# A refreshed line fits its text (the toolkit's static text sizes itself to
# a new label): its place is checked here, its text below.
expect "the sent line" "$sx $sy" "$(scaled 8) $((ay + ah + $(scaled 8)))"
expect "the received line" "$rx $ry" "$(scaled 8) $((sy + sh + $(scaled 4)))"
expect "status client area" "$(field client)" "$(scaled 240)x$((ry + rh + $(scaled 8)))"
check_layout status
[ -z "$shots" ] || screenshot "$window" "$shots/status-member-$dpi-dpi.png"
echo "laid out at $dpi DPI"
