#!/usr/bin/env bash
# The program across home routers, as root: a host on the "internet" and two
# members behind routers that pick a new port per destination, so no direct
# path can form between the members. Their traffic goes through the host's
# relay: ping and TCP work, each member's list says "relayed", and a member
# that moves while its router forgets its mappings keeps its traffic.
set -euo pipefail
DRIVER=$1
CLIENT=$2
here=$(dirname "$0")
. "$here/../support/netns.sh"
. "$here/../support/machines.sh"

machines_begin vrl "the relay test"

netns_internet "$PREFIX"
netns_router "$PREFIX" 1 random
netns_router "$PREFIX" 2 random
netns_machine "$PREFIX" 1 0
netns_machine "$PREFIX" 2 1
netns_machine "$PREFIX" 3 2

step "a host on the internet, two members behind routers that change ports"
start_machine 1 host
wait_log 1 '^address 192\.168\.42\.1/24$'
wait_control 1
say_to 1 invite
secret=$(invitation 1)
start_machine 2 member
start_machine 3 member
wait_control 2
join 2 "$secret"
wait_log 2 '^address 192\.168\.42\.2/24$'
wait_control 3
join 3 "$secret"
wait_log 3 '^address 192\.168\.42\.3/24$'

step "ping between the members, through the host"
wait_until 20 "a ping from .2 to .3" \
  netns_exec "$PREFIX" 2 ping -q -c 1 -W 1 192.168.42.3 >/dev/null
# Its summary says whether all 20 came back: ping's status is 0 after one
# reply (and with a deadline it sends on until 20 replies, lost ones or not).
netns_exec "$PREFIX" 2 ping -c 20 -i 0.05 -s 1384 -M do -W 2 192.168.42.3 >"$WORK/full-ping" || true
grep -q '^20 packets transmitted, 20 received,' "$WORK/full-ping" ||
  { tail -2 "$WORK/full-ping" >&2; fail "full-size pings from .2 to .3 (1412-byte packets, not fragmented) did not all come back"; }
tail -2 "$WORK/full-ping" | sed 's/^/   /'

step "each member's list: the other member relayed through the host, with a round trip"
members() { "$CLIENT" members --socket "$WORK/m$1.sock" --timeout 2; }
lists_relayed() { members "$1" | grep -q -P '\trelayed\t11\.2\.0\.101:\d+\t\d+\.\d{3} ms$'; }
for i in 2 3; do
  wait_until 10 "machine $i listing a relayed member" lists_relayed "$i" ||
    { members "$i" | sed 's/^/  /' >&2; fail "machine $i does not list the other member as relayed"; }
done
members 2 | sed 's/^/   /'
hostList=$(members 1) || fail "cannot list the host's members"
[ "$(printf '%s\n' "$hostList" | grep -c $'\tdirect\t')" -eq 2 ] ||
  { printf '%s\n' "$hostList" | sed 's/^/  /' >&2; fail "the host does not list both members as direct"; }

step "TCP between the members, through the host"
netns_exec "$PREFIX" 3 iperf3 -s -1 -B 192.168.42.3 >/dev/null 2>&1 &
server=$!
wait_until 10 "the iperf3 server listening" \
  eval "netns_exec $PREFIX 3 ss -ltn | grep -q '192.168.42.3:5201'"
netns_exec "$PREFIX" 2 iperf3 -c 192.168.42.3 -t 2 -f m | grep -E 'sender|receiver' | sed 's/^/   /' ||
  fail "no TCP from .2 to .3"
wait "$server" || true

step "a member moves to another address mid-ping and its router forgets every mapping"
netns_exec "$PREFIX" 2 ping -i 0.1 -c 80 -W 1 192.168.42.3 >"$WORK/moving-ping" 2>&1 &
pinger=$!
wait_until 10 "the moving ping under way" eval "grep -q 'bytes from' '$WORK/moving-ping'"
netns_readdress "$PREFIX" 2 192.168.1.77
netns_flush "$PREFIX" 1 || fail "cannot flush router 1's mappings"
wait "$pinger" || true
tail -2 "$WORK/moving-ping" | sed 's/^/   /'
# Every one of the last 20 echoes (the last two seconds) came back: traffic
# recovered well before the ping ended. Replies are told by their sequence
# numbers, so a loss at the end cannot hide behind earlier lines.
for seq in $(seq 61 80); do
  grep -q "icmp_seq=$seq " "$WORK/moving-ping" || fail "echo $seq of 80 was lost: the ping did not recover after the move"
done
replies=$(grep -c 'bytes from' "$WORK/moving-ping" || true)
echo "   $replies of 80 replies; the move cost $((80 - replies)) pings of 100 ms"
lists_relayed 2 || fail "machine 2 no longer lists the other member as relayed"

step "nobody left"
for i in 2 3; do
  grep -q '^error' "$WORK/m$i.log" && fail "machine $i's run ended: $(grep '^error' "$WORK/m$i.log")"
done
echo "relay test passed"
