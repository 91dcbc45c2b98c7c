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
