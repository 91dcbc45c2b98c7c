#!/usr/bin/env bash
# windows_installer_test.sh ADAPTER INSTALLER PROGRAM PROBE WINE_RUN PREFIX WINE64,
# on an Xvfb display: the Windows installer installs silently (/S) under Wine,
# with the Start menu entry and the uninstall record; the program started from
# that entry shows its window; the silent uninstaller removes all of it again.
# PROGRAM is the build's program as the installer packs it: without its debug
# information, which would make the download twice the size.
# ADAPTER "standin": a test build, whose installer's name ends in "-test" and
# whose program, started from the Start menu, shows its "Test build" box.
set -euo pipefail
adapter=$1 installer=$2 program=$3 probe=$4 winerun=$5 prefix=$6 wine64=$7
. "$(dirname "$0")/../support/window.sh"
. "$(dirname "$0")/../support/test-build-notice.sh"
wine() { "$winerun" "$prefix" "$wine64" "$@"; }
windows_says() { wine "$probe" "$@" | tr -d '\r'; } # Windows line ends

case "$adapter:$(basename "$installer")" in
  standin:vaskor-vpn-*-win64-test.exe | wintun:vaskor-vpn-*-win64.exe) ;;
  *) echo "a build with the $adapter adapter library names its installer $(basename "$installer")" >&2; exit 1 ;;
esac

folder="$prefix/drive_c/Program Files/Vaskor VPN"
entry="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vaskor VPN/Vaskor VPN.lnk"
record='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VaskorVPN'
window=""

# Leaves the prefix as it was, also after a failure or an interruption.
cleanup() {
  status=$?
  if [ -n "$window" ]; then
    kill "$(xdotool getwindowpid "$window" 2>/dev/null)" 2>/dev/null || true
  fi
  if [ -e "$folder/uninstall.exe" ]; then
    wine "$folder/uninstall.exe" /S _?="C:\\Program Files\\Vaskor VPN" >/dev/null 2>&1 || true
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# wait_until SECONDS COMMAND...: polls until COMMAND succeeds.
wait_until() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  echo "not within ${limit}s: $*" >&2
  return 1
}
gone() { [ ! -e "$1" ]; }
has_record() { wine reg query "$record" /v DisplayName 2>/dev/null | grep -q "Vaskor VPN"; }
no_record() { ! wine reg query "$record" >/dev/null 2>&1; }

echo "silent install"
[ ! -e "$folder" ] || { echo "already installed in $folder" >&2; exit 1; }
wine "$installer" /S
for file in vaskor-vpn.exe vaskor-sdk-client.exe uninstall.exe; do
  [ -f "$folder/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
cmp "$folder/vaskor-vpn.exe" "$program" || { echo "the installed program is not the build's" >&2; exit 1; }
if x86_64-w64-mingw32-objdump -h "$folder/vaskor-vpn.exe" | grep -q ' \.debug_'; then
  echo "the installed program carries debug information" >&2
  exit 1
fi
[ -f "$entry" ] || { echo "no Start menu entry $entry" >&2; exit 1; }
has_record || { echo "no uninstall record $record" >&2; exit 1; }

echo "the program starts from its Start menu entry"
wine start /unix "$entry"
window=$(wait_for_window "Vaskor VPN" 30)
if [ "$adapter" = standin ]; then
  answer_test_build_notice
fi
pid=$(xdotool getwindowpid "$window")
kill "$pid"
wait_until 10 gone "/proc/$pid"
window=""

echo "silent uninstall"
wine "$folder/uninstall.exe" /S
# The uninstaller runs from a copy of itself and returns at once.
# It removes the program's folder last, so the rest is gone once that is.
wait_until 30 gone "$folder"
gone "$entry" || { echo "the Start menu entry is left: $entry" >&2; exit 1; }
gone "$(dirname "$entry")" || { echo "the Start menu folder is left" >&2; exit 1; }
no_record || { echo "the uninstall record is left: $record" >&2; exit 1; }
echo "installed, started and removed"
