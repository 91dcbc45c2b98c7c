#!/usr/bin/env bash
# The engine end to end, as root: real runs with the real SDK and real
# adapters on three (then four) machines in network namespaces on one bridge;
# the invitations go through the SDK's control socket as a headless user's do.
set -euo pipefail
DRIVER=$1
CLIENT=$2
here=$(dirname "$0")
. "$here/../support/netns.sh"
. "$here/../support/machines.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "[  SKIPPED ] the engine test needs root (network namespaces, TUN devices)"
  exit 0
fi

PREFIX="vke$$"
WORK=$(mktemp -d)
cleanup() {
  status=$?
  set +e
  for pidfile in "$WORK"/m*.pid; do
    [ -e "$pidfile" ] && kill -TERM "$(cat "$pidfile")" 2>/dev/null
  done
  wait 2>/dev/null || true
  netns_remove "$PREFIX"
  rm -rf "$WORK"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { echo "== $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

netns_create "$PREFIX" 4

step "a host alone gets .1 through its own control message; its packets go to nobody"
start_machine 1 host
wait_log 1 '^address 192\.168\.42\.1/24$'
before=$(counters 1)
netns_exec "$PREFIX" 1 ping -q -c 3 -i 0.2 -W 1 192.168.42.77 >/dev/null 2>&1 || true
sleep 1.2
after=$(counters 1)
[ "${after%% *}" -gt "${before%% *}" ] || fail "the host's packets were not counted as sent ($before -> $after)"
[ "${after##* }" = "${before##* }" ] || fail "a host alone received something ($before -> $after)"

step "two members join through the control socket and get .2 and .3 in join order"
say_to 1 invite
secret=$(invitation 1)
[[ "$secret" == vaskor1.* ]] || fail "the host's invitation is '$secret'"
start_machine 2 member
start_machine 3 member
sleep 0.5
join 2 "$secret"
wait_log 2 '^address 192\.168\.42\.2/24$'
join 3 "$secret"
wait_log 3 '^address 192\.168\.42\.3/24$'

step "ping works both ways between every pair"
for from in 1 2 3; do
  for to in 1 2 3; do
    [ "$from" = "$to" ] && continue
    netns_exec "$PREFIX" "$from" ping -q -c 2 -i 0.2 -W 2 "192.168.42.$to" >/dev/null ||
      fail "no ping from .$from to .$to"
  done
done
sleep 1.2
for i in 1 2 3; do
  read -r sent received <<<"$(counters "$i")"
  [ "$sent" -gt 0 ] && [ "$received" -gt 0 ] || fail "machine $i counters did not move: $sent $received"
done

step "an invitation accepted twice is refused and changes nothing"
join 2 "$secret"
wait_log 2 '^message Cannot join, already connected$'
grep -q '^error' "$WORK/m2.log" && fail "the second join ended the run"

step "a broadcast from one member reaches both others"
read -r _ r1 <<<"$(counters 1)"
read -r _ r3 <<<"$(counters 3)"
netns_exec "$PREFIX" 2 ping -q -b -c 3 -i 0.2 -W 1 192.168.42.255 >/dev/null 2>&1 || true
sleep 1.2
read -r _ r1b <<<"$(counters 1)"
read -r _ r3b <<<"$(counters 3)"
[ "$r1b" -ge $((r1 + 3 * 84)) ] || fail "the broadcast did not reach the host ($r1 -> $r1b)"
[ "$r3b" -ge $((r3 + 3 * 84)) ] || fail "the broadcast did not reach .3 ($r3 -> $r3b)"

step "a fourth member; unicast between .2 and .3 reaches only them"
start_machine 4 member
join 4 "$secret"
wait_log 4 '^address 192\.168\.42\.4/24$'
netns_exec "$PREFIX" 2 ping -q -c 2 -i 0.2 -W 2 192.168.42.3 >/dev/null || fail "no ping .2 -> .3"
sleep 1.2
read -r _ r4 <<<"$(counters 4)"
netns_exec "$PREFIX" 2 ping -q -c 20 -i 0.05 -s 1000 -W 2 192.168.42.3 >/dev/null || fail "no ping .2 -> .3"
sleep 1.2
read -r _ r4b <<<"$(counters 4)"
echo "   machine 4 received $((r4b - r4)) bytes while .2 and .3 exchanged 40 packets of 1028 bytes"
[ $((r4b - r4)) -lt 1028 ] || fail "unicast between .2 and .3 also reached .4"

step "the host ends its run: every member's run ends with \"Lobby disconnected.\""
stop_machine 1
for i in 2 3 4; do
  wait_log "$i" '^error Lobby disconnected\.$' 15
done
echo "engine: all steps passed"
