#!/usr/bin/env bash
# A Windows SDK core under Wine behind a home router that maps ports
# (miniupnpd, in a network namespace), and a Linux core behind another router
# that maps nothing. The Windows host's router maps its port (UPnP IGD; the
# Windows build has no NAT-PMP library), its invitation names that mapping
# first, the Linux member joins through it and both exchange both channels,
# and the mapping is gone once the host's core has ended.
#
# windows_router_join_test.sh LINUX_PEER WINDOWS_PEER NETNS_SH WINE_RUN PREFIX WINE64
#   PREFIX: a Wine prefix of this test's own: Wine's services, which answer
#   the program's questions about addresses and routes, must run inside the
#   host's namespace, so no server may be shared with programs outside it.
# Exits 77 (skipped) without root or without a Windows build.
set -euo pipefail
linux=$1 windows=$2 netns=$3 winerun=$4 wineprefix=$5 wine64=$6
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: needs root to make network namespaces"; exit 77; }
[ -f "$windows" ] || { echo "SKIPPED: no Windows build of vaskor-sdk-peer at $windows"; exit 77; }
. "$netns"
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

prefix=vkwr$$
work=$(mktemp -d)
hostPid=""
end_wine() { WINEPREFIX=$wineprefix "$wineserver" -k 2>/dev/null || true; WINEPREFIX=$wineprefix "$wineserver" -w 2>/dev/null || true; }
cleanup() {
  status=$?
  [ -z "$hostPid" ] || kill "$hostPid" 2>/dev/null || true
  end_wine
  netns_remove "$prefix"
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "FAILED: $*" >&2; for f in "$work"/* "${log:-}"; do echo "--- $f" >&2; tr -d '\r' <"$f" >&2; done; exit 1; }

netns_internet "$prefix"
netns_router "$prefix" 1 keep upnp
netns_router "$prefix" 2 keep none
netns_machine "$prefix" 1 1
netns_machine "$prefix" 2 2
hostAddress=$(netns_address "$prefix" 1)
routerAddress=$(netns_public_address 1)
router="$prefix-r1"
log="/tmp/$router/miniupnpd.log"
# Every Wine process of this prefix starts inside the host's namespace.
end_wine

ip netns exec "$prefix-1" env VASKOR_SDK_ADDRESSES="$hostAddress" VASKOR_SDK_PORT_MAPPING=on \
  "$winerun" "$wineprefix" "$wine64" "$windows" host "$routerAddress" \
  >"$work/host.out" 2>"$work/host.err" &
hostPid=$!

# The first start makes the prefix (about a minute on a busy machine).
mapped=""
for _ in $(seq 1800); do
  mapped=$(tr -d '\r' <"$work/host.out" | sed -n 's/^mapped //p')
  [ -n "$mapped" ] && break
  kill -0 "$hostPid" 2>/dev/null || fail "the Windows host ended before its router mapped its port"
  sleep 0.1
done
[ -n "$mapped" ] || fail "no mapping at $routerAddress within 180 s"
port=${mapped##*:}
echo "the Windows host's router maps $mapped"
grep -q "AddPortMapping: ext port $port" "$log" || fail "the router logged no UPnP mapping of port $port"
grep -q "from $hostAddress" "$log" || fail "the router logged no request from the host $hostAddress"
forwarded() { ip netns exec "$router" nft list chain inet filter prerouting_miniupnpd | grep -q " dport $port dnat "; }
forwarded || fail "the router forwards nothing to port $port"

secret=""
for _ in $(seq 100); do
  secret=$(tr -d '\r' <"$work/host.out" | sed -n 's/^secret //p')
  [ -n "$secret" ] && break
  sleep 0.1
done
[ -n "$secret" ] || fail "the Windows host printed no secret after its mapping"
# The invitation's first endpoint: the record's bytes 56..61, the address and
# the port (little-endian numbers), after "vaskor1." and base64url.
record=${secret#vaskor1.}
while [ $((${#record} % 4)) -ne 0 ]; do record="$record="; done
read -r a b c d p q < <(printf '%s' "$record" | basenc -d --base64url | od -An -tu1 -j56 -N6)
first="$d.$c.$b.$a:$((p + 256 * q))"
[ "$first" = "$mapped" ] || fail "the invitation names $first first, not the mapping $mapped"
echo "the invitation names the mapping first"

status=0
ip netns exec "$prefix-2" env VASKOR_SDK_ADDRESSES="$(netns_address "$prefix" 2)" VASKOR_SDK_PORT_MAPPING=off \
  "$linux" join "$secret" >"$work/member.out" 2>&1 || status=$?
hostStatus=0
wait "$hostPid" || hostStatus=$?
hostPid=""
[ "$status" -eq 0 ] && [ "$hostStatus" -eq 0 ] ||
  fail "the Linux member (status $status) or the Windows host (status $hostStatus) did not exchange both channels"
tr -d '\r' <"$work/member.out"
tr -d '\r' <"$work/host.out" | grep -v '^secret '

# The host's core took its mapping back when it ended.
! forwarded || fail "the router still forwards port $port after the host's core ended"
echo "mapped, joined across two routers and unmapped"
