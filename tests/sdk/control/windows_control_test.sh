#!/bin/sh
# The control channel between two Windows processes under Wine: a core (in
# vaskor-sdk-peer.exe) listens on its named pipe, and the command line of
# vaskor-sdk-client.exe asks it for its status and gives it an invitation.
#
# windows_control_test.sh PEER_EXE CLIENT_EXE RUNNER...
set -eu

peer=${1:?usage: windows_control_test.sh PEER_EXE CLIENT_EXE RUNNER...}
client=${2:?}
shift 2

work=$(mktemp -d)
host_pid=
cleanup() {
    [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The core's channel at a path of this test's own (Wine's Z: is the Unix root).
socket="Z:$work/core.sock"
VASKOR_SDK_CONTROL_SOCKET=$socket "$@" "$peer" host >"$work/host.out" 2>&1 &
host_pid=$!
tries=0
until grep -q '^secret ' "$work/host.out"; do
    kill -0 "$host_pid" 2>/dev/null || { echo "FAIL: the core ended:"; cat "$work/host.out"; exit 1; }
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || { echo "FAIL: the core did not start in 60 s"; exit 1; }
    sleep 0.1
done
[ -f "$work/core.sock" ] || { echo "FAIL: no marker file at $socket"; exit 1; }

"$@" "$client" status --socket "$socket" >"$work/status.out" 2>&1 || {
    echo "FAIL: status (status $?):"; cat "$work/status.out"; exit 1; }
tr -d '\r' <"$work/status.out"
grep -q '^user: ' "$work/status.out" || { echo "FAIL: no user in the status"; exit 1; }

secret=$(sed -n 's/^secret //p' "$work/host.out" | tr -d '\r')
"$@" "$client" join "$secret" --socket "$socket" --timeout 1 >"$work/join.out" 2>&1 || {
    echo "FAIL: join (status $?):"; cat "$work/join.out"; exit 1; }
tr -d '\r' <"$work/join.out"
grep -q 'invitation delivered' "$work/join.out" || { echo "FAIL: the invitation was not taken"; exit 1; }

# A path where no core listens: the command line says so (status 3).
status=0
"$@" "$client" status --socket "Z:$work/nobody.sock" >"$work/nobody.out" 2>&1 || status=$?
[ "$status" -eq 3 ] || { echo "FAIL: no core, yet status $status:"; cat "$work/nobody.out"; exit 1; }
echo "ok: the command line talks to a Windows core over its pipe"
