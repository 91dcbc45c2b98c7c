# Test "machines": network namespaces joined by a bridge, for the network
# tests, the demo and the benchmarks. Source this file. Traffic stays inside
# the namespaces made here; netns_remove takes all of them away again.
#
#   netns_create PREFIX COUNT   makes PREFIX-sw (the switch) and PREFIX-1 ..
#                               PREFIX-COUNT, machine i at 10.231.0.i/24 on eth0
#   netns_exec PREFIX I CMD...  runs CMD in machine I (a function: to keep the
#                               pid of a background command, call ip netns exec)
#   netns_remove PREFIX         removes every namespace named PREFIX-*

netns_create() {
  local prefix=$1 count=$2 i
  ip netns add "$prefix-sw"
  ip -n "$prefix-sw" link add br0 type bridge
  ip -n "$prefix-sw" link set br0 up
  ip -n "$prefix-sw" link set lo up
  for i in $(seq 1 "$count"); do
    ip netns add "$prefix-$i"
    ip -n "$prefix-$i" link set lo up
    ip link add "vk$$-$i" type veth peer name eth0 netns "$prefix-$i"
    ip link set "vk$$-$i" netns "$prefix-sw"
    ip -n "$prefix-sw" link set "vk$$-$i" master br0 up
    ip -n "$prefix-$i" addr add "10.231.0.$i/24" dev eth0
    ip -n "$prefix-$i" link set eth0 up
  done
}

netns_exec() {
  local prefix=$1 i=$2
  shift 2
  ip netns exec "$prefix-$i" "$@"
}

netns_remove() {
  local prefix=$1 ns
  for ns in $(ip netns list | awk '{print $1}' | grep -E "^$prefix-(sw|[0-9]+)\$"); do
    # end what still runs inside before the namespace goes
    ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
}

# netns_impair PREFIX I J LOSS DUP: a second, direct link (eth1) between
# machines I and J. A random half of their UDP datagrams take it, and its
# arrivals are handled by another CPU, so they overtake each other; each side
# also drops LOSS% of the UDP datagrams that arrive and duplicates DUP% of
# those it sends.
netns_impair() {
  local prefix=$1 i=$2 j=$3 loss=$4 dup=$5
  ip link add eth1 netns "$prefix-$i" type veth peer name eth1 netns "$prefix-$j"
  _netns_impair_side "$prefix-$i" "10.231.0.$j" "$loss" "$dup"
  _netns_impair_side "$prefix-$j" "10.231.0.$i" "$loss" "$dup"
}

_netns_impair_side() {
  local ns=$1 peer=$2 loss=$3 dup=$4
  ip -n "$ns" link set eth1 up
  ip -n "$ns" route add "$peer" dev eth1 table 100
  ip -n "$ns" rule add fwmark 1 table 100
  ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 \
    net.ipv4.conf.default.rp_filter=0 net.ipv4.conf.eth1.rp_filter=0
  ip netns exec "$ns" sh -c 'echo 1 > /sys/class/net/eth0/queues/rx-0/rps_cpus;
                             echo 2 > /sys/class/net/eth1/queues/rx-0/rps_cpus'
  ip netns exec "$ns" nft -f - <<RULES
table ip vaskor_impair {
  chain route { type route hook output priority mangle; meta l4proto udp meta mark set numgen random mod 2; }
  chain out { type filter hook output priority 0; meta l4proto udp numgen random mod 100 < $dup dup to $peer device "eth0"; }
  chain in { type filter hook input priority 0; meta l4proto udp numgen random mod 100 < $loss drop; }
}
RULES
}
