#!/usr/bin/env bash
# LAN games across the VPN, as root: a host and a member, each on a home LAN
# of its own behind a router (the host's LAN with a plain machine on it, the
# member's too), and on every machine a game that chooses no interface. Its
# broadcasts and multicasts reach the VPN and its own LAN, each listener once,
# the answers come back, nothing is copied back, a flood is cut, pings flow.
set -euo pipefail
DRIVER=$1
CLIENT=$2
GAME=$3
here=$(dirname "$0")
. "$here/../support/netns.sh"
. "$here/../support/machines.sh"

machines_begin vld "the LAN discovery test"

netns_internet "$PREFIX"
# Two home LANs whose routers route between them without translating: the
# discovery paths are the point here, not the ways through routers.
for r in 1 2; do
  netns_router "$PREFIX" "$r" keep
  ip netns exec "$PREFIX-r$r" nft flush ruleset
  ip -n "$PREFIX-r$r" route add "192.168.$((3 - r)).0/24" via "11.2.0.$((3 - r))"
  ip -n "$PREFIX-r$r" link set br0 type bridge mcast_snooping 0
done
netns_machine "$PREFIX" 1 1 # the host, 192.168.1.11
netns_machine "$PREFIX" 2 2 # the member, 192.168.2.12
netns_machine "$PREFIX" 3 1 # a plain machine on the host's LAN, 192.168.1.13
netns_machine "$PREFIX" 4 2 # a plain machine on the member's LAN, 192.168.2.14

GROUP=224.0.2.60
PORT=4445

# start_game I: the game on machine I, listening from the start.
start_game() {
  mkfifo "$WORK/g$1.in"
  ip netns exec "$PREFIX-$1" "$GAME" "$PORT" "$GROUP" <"$WORK/g$1.in" >"$WORK/g$1.log" 2>&1 &
  echo $! >"$WORK/mg$1.pid" # an m*.pid: machines.sh's clean-up ends it with the runs
  exec {fd}>"$WORK/g$1.in"
  echo "$fd" >"$WORK/g$1.infd"
  wait_until 10 "machine $1's game listening" grep -q '^listening$' "$WORK/g$1.log"
}
game_says() { echo "$2" >&"$(cat "$WORK/g$1.infd")"; }
# lines I PATTERN: how many lines of machine I's game match.
lines() { grep -c -E "$2" "$WORK/g$1.log" || true; }
wait_game() {
  wait_until "${3:-10}" "machine $1's game: '$2'" grep -q -E "$2" "$WORK/g$1.log" ||
    { sed 's/^/  /' "$WORK/g$1.log" >&2; return 1; }
}
# once I TEXT: machine I's game heard TEXT exactly once.
once() {
  local n
  n=$(lines "$1" "^heard $2 from ")
  [ "$n" = 1 ] || { sed 's/^/  /' "$WORK/g$1.log" >&2; fail "machine $1 heard '$2' $n times"; }
}
never() {
  [ "$(lines "$1" "^heard $2 from ")" = 0 ] ||
    { sed 's/^/  /' "$WORK/g$1.log" >&2; fail "machine $1 heard '$2', which is not for it"; }
}
# mirrored I: machine I's adapter holds the game's group, as its own LAN does.
mirrored() { ip -n "$PREFIX-$1" maddr show dev Orvanti-VPN | grep -q -E "inet +$GROUP\b"; }

step "a host and a member, each on a home LAN of its own"
start_machine 1 host
wait_log 1 '^address 192\.168\.42\.1/24$'
wait_control 1
say_to 1 invite
secret=$(invitation 1)
start_machine 2 member
wait_control 2
join 2 "$secret"
wait_log 2 '^address 192\.168\.42\.2/24$' 30
wait_until 20 "a ping from the member to the host" \
  netns_exec "$PREFIX" 2 ping -q -c 1 -W 1 192.168.42.1 >/dev/null

step "a game on every machine, joined to $GROUP without naming an interface"
for i in 1 2 3 4; do start_game "$i"; done
for i in 1 2; do wait_until 10 "machine $i's adapter holding $GROUP" mirrored "$i"; done

step "the host's game announces by broadcast and by multicast"
game_says 1 "send 255.255.255.255 host-broadcast"
game_says 1 "send $GROUP host-multicast"
wait_game 2 '^heard host-broadcast from 192\.168\.42\.1$'
wait_game 2 '^heard host-multicast from 192\.168\.42\.1$'
wait_game 3 '^heard host-broadcast from 192\.168\.1\.11$'
wait_game 3 '^heard host-multicast from 192\.168\.1\.11$'
step "the answers reach the host's game: the member's through the VPN, the LAN's on the LAN"
for kind in broadcast multicast; do
  wait_game 1 "^reply re:host-$kind from 192\.168\.42\.2$"
  wait_game 1 "^reply re:host-$kind from 192\.168\.1\.13$"
done

step "the member's game announces the same ways"
game_says 2 "send 255.255.255.255 member-broadcast"
game_says 2 "send $GROUP member-multicast"
for kind in broadcast multicast; do
  wait_game 1 "^heard member-$kind from 192\.168\.42\.2$"
  wait_game 4 "^heard member-$kind from 192\.168\.2\.12$"
  wait_game 2 "^reply re:member-$kind from 192\.168\.42\.1$"
  wait_game 2 "^reply re:member-$kind from 192\.168\.2\.14$"
done

step "each listener heard each datagram once; nothing came back, nothing crossed to the far LAN"
# A last broadcast of each side, through the same paths: once it is in, so
# is every copy of the earlier ones.
game_says 1 "send 255.255.255.255 host-last"
game_says 2 "send 255.255.255.255 member-last"
for i in 1 2; do wait_game "$i" '^heard host-last ' && wait_game "$i" '^heard member-last '; done
wait_game 3 '^heard host-last '
wait_game 4 '^heard member-last '
for text in host-broadcast host-multicast host-last member-broadcast member-multicast member-last; do
  once 1 "$text"
  once 2 "$text"
done
for text in host-broadcast host-multicast host-last; do once 3 "$text"; never 4 "$text"; done
for text in member-broadcast member-multicast member-last; do once 4 "$text"; never 3 "$text"; done
for kind in broadcast multicast; do
  [ "$(lines 1 "^reply re:host-$kind from ")" = 3 ] ||
    { sed 's/^/  /' "$WORK/g1.log" >&2; fail "the host's game got other than three answers to its $kind"; }
done

step "a system service's broadcast (from a port below 1024) reaches the members, never the LAN"
game_says 1 "sendfrom 138 255.255.255.255 service-broadcast"
wait_game 2 '^heard service-broadcast from 192\.168\.42\.1$'
game_says 1 "send 255.255.255.255 service-last"
wait_game 3 '^heard service-last from 192\.168\.1\.11$'
never 3 service-broadcast

step "a flood of broadcasts from the host's game is cut to the bound; the member's pings flow"
# The bound per machine and direction: a burst of 64 datagrams, then 32 a second.
start=$(date +%s.%N)
netns_exec "$PREFIX" 2 ping -c 20 -i 0.05 -W 2 192.168.42.1 >"$WORK/flood-ping" &
ping_pid=$!
# About 10000 datagrams a second, in bursts of 200: a burst beyond the
# adapter's own queue (500 packets) would lose the host's replies in its own
# system before the run sees any of it.
for _ in $(seq 50); do
  game_says 1 "flood 255.255.255.255 200"
  sleep 0.02 # spreads the flood over the pings
done
wait "$ping_pid" || true
grep -q '^20 packets transmitted, 20 received,' "$WORK/flood-ping" ||
  { tail -2 "$WORK/flood-ping" >&2; fail "the member's pings to the host did not all come back during the flood"; }
game_says 1 "send 255.255.255.255 after-flood"
wait_game 2 '^heard after-flood '
wait_game 3 '^heard after-flood '
elapsed=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
allowed=$(awk -v t="$elapsed" 'BEGIN { printf "%d", 64 + 32 * (t + 0.5) + 1 }')
for i in 2 3; do
  got=$(lines "$i" '^heard flood-')
  echo "   machine $i heard $got of the 10000 flood datagrams in ${elapsed}s (at most $allowed allowed)"
  [ "$got" -le "$allowed" ] || fail "machine $i heard $got flood datagrams, more than the bound's $allowed"
  [ "$got" -ge 32 ] || fail "machine $i heard only $got flood datagrams: the burst did not pass"
done
once 1 after-flood

step "the network's own broadcast (192.168.42.255) works as before: the VPN only"
game_says 1 "send 192.168.42.255 network-broadcast"
wait_game 2 '^heard network-broadcast from 192\.168\.42\.1$'
game_says 1 "send 255.255.255.255 network-last"
wait_game 3 '^heard network-last '
never 3 network-broadcast
once 2 network-broadcast

step "a member with discovery off: its LAN's multicasts stay on its LAN"
stop_machine 2
rm -f "$WORK/m2.in" # a new run of machine 2 gets a new input
start_machine 2 member VASKOR_LAN_DISCOVERY=off
wait_control 2
join 2 "$secret"
# A new run is a new peer: the host gives it the next address.
wait_log 2 '^address 192\.168\.42\.3/24$' 30
wait_until 20 "a ping from the member to the host" \
  netns_exec "$PREFIX" 2 ping -q -c 1 -W 1 192.168.42.1 >/dev/null
mirrored 2 && fail "the member's adapter holds $GROUP with discovery off"
game_says 2 "send $GROUP off-multicast"
wait_game 4 '^heard off-multicast '
# Through the adapter as every packet: the broadcast still reaches the host.
game_says 2 "send 255.255.255.255 off-last"
wait_game 1 '^heard off-last from 192\.168\.42\.3$'
never 1 off-multicast
never 4 off-last

step "a setting that is neither on nor off ends the run with a clear error"
stop_machine 2
rm -f "$WORK/m2.in" # a new run of machine 2 gets a new input
start_machine 2 member VASKOR_LAN_DISCOVERY=sometimes
wait_log 2 '^error VASKOR_LAN_DISCOVERY is "sometimes"; it takes on or off'
echo "LAN discovery: all steps passed"
