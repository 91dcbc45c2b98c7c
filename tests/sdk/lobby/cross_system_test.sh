#!/bin/sh
# A Linux core and a Windows core under Wine meet in one lobby on loopback
# and exchange both channels, each way round: Linux hosts and Windows joins,
# Windows hosts and Linux joins, and two Windows processes. One wire protocol.
#
# cross_system_test.sh LINUX_PEER WINDOWS_PEER RUNNER...
#   LINUX_PEER    the Linux build's vaskor-sdk-peer
#   WINDOWS_PEER  the Windows build's vaskor-sdk-peer.exe (discord_game_sdk.dll beside it)
#   RUNNER...     the command that runs a Windows program (wine-run PREFIX WINE64)
# Exits 77 (skipped) when there is no Windows build.
set -eu

linux=${1:?usage: cross_system_test.sh LINUX_PEER WINDOWS_PEER RUNNER...}
windows=${2:?}
shift 2
if [ ! -f "$windows" ]; then
    echo "SKIPPED: no Windows build of vaskor-sdk-peer at $windows (build-windows/)"
    exit 77
fi

work=$(mktemp -d)
host_pid=
cleanup() {
    [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# One round: HOST hosts, JOINER joins with the secret the host prints.
round() {
    host_system=$1
    join_system=$2
    shift 2 # what is left runs a Windows program
    out="$work/$host_system-$join_system.out"
    : >"$out"
    if [ "$host_system" = linux ]; then
        "$linux" host >"$out" 2>"$out.err" &
    else
        "$@" "$windows" host >"$out" 2>"$out.err" &
    fi
    host_pid=$!
    # Waits for the host's secret line, or for the host to end without one.
    secret=
    tries=0
    while [ -z "$secret" ]; do
        secret=$(sed -n 's/^secret //p' "$out" | tr -d '\r')
        if [ -z "$secret" ] && ! kill -0 "$host_pid" 2>/dev/null; then
            echo "FAIL: the $host_system host ended without a secret:"
            cat "$out" "$out.err"
            return 1
        fi
        tries=$((tries + 1))
        [ "$tries" -lt 600 ] || { echo "FAIL: no secret from the $host_system host in 60 s"; return 1; }
        [ -n "$secret" ] || sleep 0.1
    done
    status=0
    if [ "$join_system" = linux ]; then
        "$linux" join "$secret" >"$out.join" 2>&1 || status=$?
    else
        "$@" "$windows" join "$secret" >"$out.join" 2>&1 || status=$?
    fi
    host_status=0
    wait "$host_pid" || host_status=$?
    host_pid=
    tr -d '\r' <"$out.join"
    tr -d '\r' <"$out" | grep -v '^secret ' || true
    if [ "$status" -ne 0 ] || [ "$host_status" -ne 0 ]; then
        echo "FAIL: $host_system host (status $host_status), $join_system member (status $status)"
        tr -d '\r' <"$out.err"
        return 1
    fi
    echo "ok: $host_system host, $join_system member"
}

round linux windows "$@"
round windows linux "$@"
round windows windows "$@"
