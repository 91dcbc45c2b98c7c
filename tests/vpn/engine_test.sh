#!/usr/bin/env bash
# The engine end to end, as root: real runs with the real SDK and real
# adapters on up to six machines in network namespaces on one bridge;
# the invitations go through the SDK's control socket as a headless user's do.
set -euo pipefail
DRIVER=$1
CLIENT=$2
here=$(dirname "$0")
. "$here/../support/netns.sh"
. "$here/../support/machines.sh"

machines_begin vke "the engine test"

netns_create "$PREFIX" 6

step "a host alone gets .1 through its own control message; its packets go to nobody"
start_machine 1 host
wait_log 1 '^address 192\.168\.42\.1/24$'
wait_log 1 '^counters '
read -r sent0 received0 <<<"$(counters 1)"
netns_exec "$PREFIX" 1 ping -q -c 3 -i 0.2 -W 1 192.168.42.77 >/dev/null 2>&1 || true
wait_sent 1 $((sent0 + 3 * 84))
[ "$(received 1)" = "$received0" ] || fail "a host alone received something"

step "the host's activity: hosting, a party of one in eight"
wait_control 1
wait_status 1 '^activity: Hosting a VPN$'
wait_status 1 '^party: 1 of 8$'
wait_status 1 '^party id: -?[0-9]+$'

step "two members join through the control socket and get .2 and .3 in join order"
say_to 1 invite
secret=$(invitation 1)
[[ "$secret" == vaskor1.* ]] || fail "the host's invitation is '$secret'"
start_machine 2 member
start_machine 3 member
wait_control 2
join 2 "$secret"
wait_log 2 '^address 192\.168\.42\.2/24$'
wait_control 3
join 3 "$secret"
wait_log 3 '^address 192\.168\.42\.3/24$'
wait_status 1 '^party: 3 of 8$'
for i in 2 3; do
  wait_status "$i" '^activity: Connected to a VPN$'
  status "$i" | grep -q '^party' && fail "member $i shows a party: $(status "$i" | tr '\n' '|')"
done

step "ping works both ways between every pair"
for from in 1 2 3; do
  for to in 1 2 3; do
    [ "$from" = "$to" ] && continue
    netns_exec "$PREFIX" "$from" ping -q -c 2 -i 0.2 -W 2 "192.168.42.$to" >/dev/null ||
      fail "no ping from .$from to .$to"
  done
done
for i in 1 2 3; do
  wait_sent "$i" 1
  wait_received "$i" 1
done

step "packets never go to the run's own peer"
read -r _ r1 <<<"$(counters 1)"
netns_exec "$PREFIX" 1 ping -q -c 3 -i 0.2 -W 1 192.168.42.77 >/dev/null 2>&1 || true
netns_exec "$PREFIX" 1 ping -q -c 2 -i 0.2 -W 2 192.168.42.2 >/dev/null || fail "no ping .1 -> .2"
# Its own copies would have come back before the replies from .2.
wait_received 1 $((r1 + 2 * 84))
[ "$(received 1)" = $((r1 + 2 * 84)) ] ||
  fail "the host received $(($(received 1) - r1)) bytes where only two replies of 84 belong"

step "an invitation accepted twice is refused and changes nothing"
join 2 "$secret"
wait_log 2 '^message Cannot join, already connected$'
grep -q '^error' "$WORK/m2.log" && fail "the second join ended the run"

step "a broadcast from one member reaches both others"
read -r _ r1 <<<"$(counters 1)"
read -r _ r3 <<<"$(counters 3)"
netns_exec "$PREFIX" 2 ping -q -b -c 3 -i 0.2 -W 1 192.168.42.255 >/dev/null 2>&1 || true
wait_received 1 $((r1 + 3 * 84)) || fail "the broadcast did not reach the host"
wait_received 3 $((r3 + 3 * 84)) || fail "the broadcast did not reach .3"

step "a fourth member; unicast between .2 and .3 reaches only them"
start_machine 4 member
wait_control 4
join 4 "$secret"
wait_log 4 '^address 192\.168\.42\.4/24$'
wait_status 1 '^party: 4 of 8$'
netns_exec "$PREFIX" 2 ping -q -c 2 -i 0.2 -W 2 192.168.42.3 >/dev/null || fail "no ping .2 -> .3"
wait_log 4 '^counters '
r4=$(received 4)
netns_exec "$PREFIX" 2 ping -q -c 20 -i 0.05 -s 1000 -W 2 192.168.42.3 >/dev/null || fail "no ping .2 -> .3"
# A broadcast from .2 after the exchange: once .4 has it, it has all it will get.
netns_exec "$PREFIX" 2 ping -q -b -c 1 -W 1 192.168.42.255 >/dev/null 2>&1 || true
wait_received 4 $((r4 + 84))
r4b=$(received 4)
echo "   machine 4 received $((r4b - r4)) bytes while .2 and .3 exchanged 40 packets of 1028 bytes"
[ $((r4b - r4)) -lt 1028 ] || fail "unicast between .2 and .3 also reached .4"

step "an address that another interface holds ends the member's run"
ip -n "$PREFIX-5" addr add 192.168.42.5/32 dev lo
start_machine 5 member
wait_control 5
join 5 "$secret"
wait_log 5 '^error Cannot set IP on adapter: File exists$'
wait_until 10 "machine 5's run ending" eval '! kill -0 "$(cat "$WORK/m5.pid")" 2>/dev/null'

step "a run launched with an invitation waiting gets its address"
start_machine 6 member VASKOR_SDK_JOIN="$secret"
wait_log 6 '^address 192\.168\.42\.6/24$'

step "members that leave shrink the host's party"
wait_status 1 '^party: 5 of 8$' 30 # .5 has left on its own
stop_machine 4
wait_status 1 '^party: 4 of 8$' 30

step "the host ends its run: every member's run ends with \"Lobby disconnected.\""
stop_machine 1
for i in 2 3 6; do
  wait_log "$i" '^error Lobby disconnected\.$' 15
done
echo "engine: all steps passed"
