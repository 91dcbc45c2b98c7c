#!/usr/bin/env bash
# What the runs take from a lobby member that is not the program, as root:
# three real runs on test machines, and an intruder on our SDK in a fourth
# that joins with the invitation and sends what a member can send.
set -euo pipefail
DRIVER=$1
CLIENT=$2
INTRUDER=$3
here=$(dirname "$0")
. "$here/../support/netns.sh"
. "$here/../support/machines.sh"

machines_begin vkh "the hostile member test"

# The intruder is machine 4's only program; its log is read like a machine's.
start_intruder() {
  mkfifo "$WORK/mx.in"
  VASKOR_SDK_CLIENT=0 VASKOR_SDK_USER_NAME=intruder VASKOR_SDK_CONTROL_SOCKET="$WORK/mx.sock" \
    ip netns exec "$PREFIX-4" "$INTRUDER" "$1" <"$WORK/mx.in" >"$WORK/mx.log" 2>"$WORK/mx.err" &
  echo $! >"$WORK/mx.pid"
  exec {intruder_in}>"$WORK/mx.in"
}

# intruder_try LINE: the intruder sends it; returns once it has.
intruder_try() {
  local done_before
  done_before=$(grep -c -F -x "done $*" "$WORK/mx.log" || true)
  echo "$*" >&"$intruder_in"
  wait_until 10 "the intruder doing '$*'" \
    eval "[ \"\$(grep -c -F -x 'done $*' '$WORK/mx.log')\" -gt $done_before ]"
}

# intruder LINE: the same, and fails unless the peers of all three runs took
# it (a refused send would prove nothing).
intruder() {
  local taken
  intruder_try "$@"
  taken=$(grep -F -x -e "sent 0 $*" -e "sent 1 $*" -e "sent 2 $*" -e "sent 3 $*" "$WORK/mx.log" |
    tail -1 | cut -d' ' -f2)
  [ "$taken" = 3 ] || fail "the intruder's '$*' was taken by ${taken:-no} peers of the three runs"
}

# mark: a 300-byte broadcast from the intruder, until every run has taken it.
# Whatever the intruder sent before it has been handled by then.
mark() {
  local i
  local -a before
  for i in 1 2 3; do before[i]=$(received "$i"); done
  intruder udp 192.168.42.200 192.168.42.255 300
  for i in 1 2 3; do wait_received "$i" $((before[i] + 300)) 10; done
}

# the adapter addresses of machine I, one a line
adapter_addresses() {
  ip -n "$PREFIX-$1" -4 -o addr show dev Orvanti-VPN | awk '{print $4}'
}

netns_create "$PREFIX" 4

step "a host and two members"
start_machine 1 host
wait_log 1 '^address 192\.168\.42\.1/24$'
wait_control 1
say_to 1 invite
secret=$(invitation 1)
for i in 2 3; do
  start_machine "$i" member
  wait_control "$i"
  join "$i" "$secret"
  wait_log "$i" "^address 192\\.168\\.42\\.$i/24\$"
done
for pair in "1 2" "1 3" "2 3"; do
  read -r from to <<<"$pair"
  netns_exec "$PREFIX" "$from" ping -q -c 1 -W 2 "192.168.42.$to" >/dev/null ||
    fail "no ping from .$from to .$to"
done

step "an intruder joins with the invitation; the host counts it and hands it .4"
start_intruder "$secret"
wait_log x '^joined [0-9]+$'
intruder_peer=$(sed -n 's/^joined //p' "$WORK/mx.log")
wait_log x '^control ipv4 192\.168\.42\.4/24$'
wait_status 1 '^party: 4 of 8$'
# Its first messages may go before its peers have shaken hands: repeat until
# every run has one.
reached_all() {
  local i
  for i in 1 2 3; do [ "$(received "$i")" -ge $((before[i] + 300)) ] 2>/dev/null || return 1; done
}
for attempt in $(seq 20); do
  for i in 1 2 3; do before[i]=$(received "$i"); done
  intruder_try udp 192.168.42.200 192.168.42.255 300
  wait_until 1 "every run taking the intruder's packet" reached_all 2>/dev/null && break
  [ "$attempt" = 20 ] && fail "the intruder's packets never reached every run"
done
mark

step "an address message from the intruder moves no adapter"
intruder control ipv4 10.99.0.7/8
intruder control ipv4 192.168.42.9/24
mark
for i in 1 2 3; do
  [ "$(adapter_addresses "$i")" = "192.168.42.$i/24" ] ||
    fail "machine $i's adapter has '$(adapter_addresses "$i")'"
  grep -q -E '^address (10\.99|192\.168\.42\.9/)' "$WORK/m$i.log" &&
    fail "machine $i took the intruder's address"
done

step "packets with .2's source and a forged owner message take none of .2's traffic"
intruder control owner 192.168.42.2 "$intruder_peer"
intruder udp 192.168.42.2 192.168.42.255 100
intruder udp 192.168.42.2 192.168.42.1 100
intruder udp 192.168.42.2 192.168.42.3 100
mark
seen=$(wc -l <"$WORK/mx.log")
netns_exec "$PREFIX" 1 ping -q -c 3 -i 0.2 -W 2 192.168.42.2 >/dev/null ||
  fail "the host's traffic to .2 no longer reaches .2"
netns_exec "$PREFIX" 3 ping -q -c 3 -i 0.2 -W 2 192.168.42.2 >/dev/null ||
  fail "the traffic of .3 to .2 no longer reaches .2"
mark
if tail -n +$((seen + 1)) "$WORK/mx.log" | grep -E '^data [0-9.]+ 192\.168\.42\.2 '; then
  fail "traffic to .2 reached the intruder"
fi

step "IPv6, non-IP and a truncated IPv4 packet reach no adapter"
for i in 1 2 3; do start[i]=$(received "$i"); done
intruder raw ipv6
intruder raw nonip
intruder raw truncated
mark
for i in 1 2 3; do
  got=$(($(received "$i") - start[i]))
  [ "$got" = 300 ] || fail "machine $i took $got bytes where only the 300 of the well-formed packet belong"
done

step "the intruder leaves: the host's party shrinks"
echo quit >&"$intruder_in"
wait_log x '^stopped$'
wait_status 1 '^party: 3 of 8$' 30
for i in 1 2 3; do grep -q '^error' "$WORK/m$i.log" && fail "machine $i's run ended"; done
echo "hostile member: all steps passed"
