# Test "machines": network namespaces joined by a bridge, for the network
# tests, the demo and the benchmarks. Source this file. Traffic stays inside
# the namespaces made here; netns_remove takes all of them away again.
#
#   netns_create PREFIX COUNT   makes PREFIX-sw (the switch) and PREFIX-1 ..
#                               PREFIX-COUNT, machine i at 10.231.0.i/24 on eth0
#   netns_exec PREFIX I CMD...  runs CMD in machine I (a function: to keep the
#                               pid of a background command, call ip netns exec)
#   netns_remove PREFIX         removes every namespace named PREFIX-* (the
#                               routers below and their daemons included)

netns_create() {
  local prefix=$1 count=$2 i
  netns_internet "$prefix"
  for i in $(seq 1 "$count"); do
    ip netns add "$prefix-$i"
    ip -n "$prefix-$i" link set lo up
    _netns_wire "$prefix-$i" eth0 "$prefix-sw" "vk$$-$i"
    ip -n "$prefix-$i" addr add "10.231.0.$i/24" dev eth0
  done
}

netns_exec() {
  local prefix=$1 i=$2
  shift 2
  ip netns exec "$prefix-$i" "$@"
}

netns_remove() {
  local prefix=$1 ns
  for ns in $(ip netns list | awk '{print $1}' | grep -E "^$prefix-(sw|r?[0-9]+)\$"); do
    # end what still runs inside before the namespace goes
    ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "/tmp/$prefix"-r[0-9]* "/tmp/$prefix"-rogue[0-9]*
}

# Home routers between the switch (the "internet") and their machines, for the
# tests that cross address translation. The switch's addresses look public
# (miniupnpd refuses to map on a reserved WAN address); no route leaves the
# namespaces, so nothing reaches the real owners of that range.
#
#   netns_internet PREFIX          makes PREFIX-sw alone (no machines)
#   netns_router PREFIX R KIND [MAPPING]
#                                  router R (namespace PREFIX-rR): WAN eth0 on
#                                  the switch at 11.2.0.R, LAN br0 at
#                                  192.168.R.1/24. KIND: keep (masquerade: one
#                                  mapping for every destination) or random
#                                  (masquerade fully-random: a port per
#                                  destination). MAPPING: none (default), upnp
#                                  (miniupnpd with UPnP IGD and NAT-PMP) or
#                                  natpmp (NAT-PMP only). Nothing comes in
#                                  unasked but what miniupnpd maps.
#   netns_machine PREFIX I R       machine I (PREFIX-I) behind router R at
#                                  192.168.R.(10+I), or on the switch at
#                                  11.2.0.(100+I) when R is 0
#   netns_address PREFIX I         machine I's IPv4 address now
#   netns_readdress PREFIX I ADDR  moves machine I to ADDR (same network)
#   netns_flush PREFIX R           router R forgets its translations (conntrack)
#   netns_cut PREFIX R / netns_uncut PREFIX R
#                                  pulls and puts back router R's WAN cable
# netns_remove removes routers, their daemons and files as well.
#
# IPv6 only, without translation: the switch is 2001:db8:ffff::/64 (the
# documentation prefix, global-looking; no route leaves the namespaces).
#
#   netns_firewall6 PREFIX R       firewall R (namespace PREFIX-rR): WAN eth0
#                                  at 2001:db8:ffff::R, LAN br0 at
#                                  2001:db8:R::1/64 (R at most 9). Stateful:
#                                  answers come in, nothing new does.
#   netns_machine6 PREFIX I R      machine I (PREFIX-I) behind firewall R at
#                                  2001:db8:R::(10+I), without IPv4

netns_internet() {
  local prefix=$1
  ip netns add "$prefix-sw"
  ip -n "$prefix-sw" link add br0 type bridge
  ip -n "$prefix-sw" link set br0 up
  ip -n "$prefix-sw" link set lo up
}

netns_public_address() { echo "11.2.0.$1"; }

# _netns_wire NS IFNAME UPSTREAM_NS LINKNAME: a cable from NS (as IFNAME) to
# the bridge br0 of UPSTREAM_NS.
_netns_wire() {
  local ns=$1 ifname=$2 upstream=$3 link=$4
  ip link add "$link" type veth peer name "$ifname" netns "$ns"
  ip link set "$link" netns "$upstream"
  ip -n "$upstream" link set "$link" master br0 up
  ip -n "$ns" link set "$ifname" up
}

netns_router() {
  local prefix=$1 r=$2 kind=$3 mapping=${4:-none} ns="$1-r$2" masquerade
  case $kind in
    keep) masquerade="masquerade" ;;
    random) masquerade="masquerade fully-random" ;;
    *) echo "netns_router: kind '$kind' is not keep or random" >&2; return 1 ;;
  esac
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  _netns_wire "$ns" eth0 "$prefix-sw" "vr$$-$r"
  ip -n "$ns" addr add "$(netns_public_address "$r")/24" dev eth0
  ip -n "$ns" link add br0 type bridge
  ip -n "$ns" addr add "192.168.$r.1/24" dev br0
  ip -n "$ns" link set br0 up
  ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1
  # As a home router: the LAN goes out translated, answers come back, and
  # only what miniupnpd maps comes in unasked. The chains are the ones
  # miniupnpd fills (its table and chain names).
  ip netns exec "$ns" nft -f - <<RULES
table inet filter {
  chain forward { type filter hook forward priority 0; policy drop;
    ct state established,related accept; iifname "br0" oifname "eth0" accept; jump miniupnpd; }
  # Nothing unasked reaches the router itself from the internet either: a
  # dropped packet leaves no translation state behind, so a peer's early
  # datagram does not take the port that the machine behind is about to use.
  chain input { type filter hook input priority 0; policy accept;
    iifname "eth0" ct state new drop; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd; oifname "eth0" $masquerade; }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
}
RULES
  case $mapping in
    none) ;;
    upnp | natpmp) _netns_miniupnpd "$prefix" "$r" "$mapping" ;;
    *) echo "netns_router: mapping '$mapping' is not none, upnp or natpmp" >&2; return 1 ;;
  esac
}

# miniupnpd in the router's namespace, in the foreground, with its files in
# /tmp/PREFIX-rR; returns once it answers NAT-PMP (and UPnP's HTTP).
_netns_miniupnpd() {
  local prefix=$1 r=$2 mapping=$3 ns="$1-r$2" dir="/tmp/$1-r$2" upnp=yes
  [ "$mapping" = natpmp ] && upnp=no
  mkdir -p "$dir"
  cat >"$dir/miniupnpd.conf" <<CONF
ext_ifname=eth0
listening_ip=br0
http_port=5000
enable_upnp=$upnp
enable_natpmp=yes
secure_mode=yes
system_uptime=no
uuid=7a1e4c2e-0000-4000-8000-0000000000$(printf %02d "$r")
allow 1024-65535 192.168.$r.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
  # Not a job of the calling shell: its cleanup's `wait` would wait for it;
  # netns_remove ends it with the namespace.
  (ip netns exec "$ns" /usr/sbin/miniupnpd -d -f "$dir/miniupnpd.conf" -P "$dir/miniupnpd.pid" \
    >"$dir/miniupnpd.log" 2>&1 </dev/null &)
  local _
  for _ in $(seq 100); do
    if ip netns exec "$ns" ss -lun | grep -q ':5351 ' &&
      { [ $upnp = no ] || ip netns exec "$ns" ss -ltn | grep -q ':5000 '; }; then
      return 0
    fi
    sleep 0.1
  done
  echo "netns_router: miniupnpd did not start in $ns:" >&2
  cat "$dir/miniupnpd.log" >&2
  return 1
}

# netns_rogue_igd PREFIX I: machine I, on a router's LAN, answers SSDP as
# an internet gateway of its own (miniupnpd, files in /tmp/PREFIX-rogueI): it
# claims the public address 11.9.9.I and grants every mapping. It is not the
# LAN's gateway; nothing it grants carries any traffic.
netns_rogue_igd() {
  local prefix=$1 i=$2 ns="$1-$2" dir="/tmp/$1-rogue$2" lan
  lan=$(ip -n "$ns" -4 -o addr show dev eth0 | awk '{print $4}' | cut -d/ -f1)
  mkdir -p "$dir"
  # The router's filter sees bridged packets too (br_netfilter): let what
  # stays on the LAN pass, as on a home network (multicast, and whatever a
  # machine sends to another as its gateway).
  ip netns exec "$prefix-r$(echo "$lan" | cut -d. -f3)" nft insert rule inet filter forward \
    ip saddr "${lan%.*}.0/24" oifname != "eth0" accept
  # Its "internet" is a cable to nowhere: a veth pair inside the machine.
  ip -n "$ns" link add wan0 type veth peer name wan1
  ip -n "$ns" addr add "11.9.9.$i/24" dev wan0
  ip -n "$ns" link set wan1 up
  ip -n "$ns" link set wan0 up
  ip netns exec "$ns" nft -f - <<RULES
table inet filter {
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
}
RULES
  cat >"$dir/miniupnpd.conf" <<CONF
ext_ifname=wan0
listening_ip=eth0
http_port=5000
enable_upnp=yes
enable_natpmp=no
secure_mode=no
system_uptime=no
uuid=7a1e4c2e-0000-4000-8000-0000000099$(printf %02d "$i")
allow 1024-65535 ${lan%.*}.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
  (ip netns exec "$ns" /usr/sbin/miniupnpd -d -f "$dir/miniupnpd.conf" -P "$dir/miniupnpd.pid" \
    >"$dir/miniupnpd.log" 2>&1 </dev/null &)
  local _
  for _ in $(seq 100); do
    ip netns exec "$ns" ss -ltn | grep -q ':5000 ' && return 0
    sleep 0.1
  done
  echo "netns_rogue_igd: miniupnpd did not start in $ns:" >&2
  cat "$dir/miniupnpd.log" >&2
  return 1
}

netns_firewall6() {
  local prefix=$1 r=$2 ns="$1-r$2" k
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  _netns_wire "$ns" eth0 "$prefix-sw" "vf$$-$r"
  ip -n "$ns" link add br0 type bridge
  ip -n "$ns" link set br0 up
  # nodad: addresses usable at once, not tentative for a second
  ip -n "$ns" -6 addr add "2001:db8:ffff::$r/64" dev eth0 nodad
  ip -n "$ns" -6 addr add "2001:db8:$r::1/64" dev br0 nodad
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.forwarding=1
  for k in $(seq 1 9); do
    [ "$k" = "$r" ] || ip -n "$ns" -6 route add "2001:db8:$k::/64" via "2001:db8:ffff::$k"
  done
  ip netns exec "$ns" nft -f - <<RULES
table inet filter {
  chain forward { type filter hook forward priority 0; policy drop;
    ct state established,related accept; iifname "br0" oifname "eth0" accept; }
}
RULES
}

netns_machine6() {
  local prefix=$1 i=$2 r=$3 ns="$1-$2"
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  _netns_wire "$ns" eth0 "$prefix-r$r" "vm$$-$i"
  ip -n "$ns" -6 addr add "2001:db8:$r::$((10 + i))/64" dev eth0 nodad
  ip -n "$ns" -6 route add default via "2001:db8:$r::1"
}

netns_machine() {
  local prefix=$1 i=$2 r=$3 ns="$1-$2"
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  if [ "$r" = 0 ]; then
    _netns_wire "$ns" eth0 "$prefix-sw" "vk$$-$i"
    ip -n "$ns" addr add "$(netns_public_address $((100 + i)))/24" dev eth0
  else
    _netns_wire "$ns" eth0 "$prefix-r$r" "vm$$-$i"
    ip -n "$ns" addr add "192.168.$r.$((10 + i))/24" dev eth0
    ip -n "$ns" route add default via "192.168.$r.1"
  fi
}

netns_address() {
  ip -n "$1-$2" -4 -o addr show dev eth0 | awk '{split($4, a, "/"); print a[1]; exit}'
}

netns_readdress() {
  local prefix=$1 i=$2 address=$3 ns="$1-$2" gateway
  gateway=$(ip -n "$ns" route show default | awk '{print $3; exit}')
  ip -n "$ns" addr flush dev eth0
  ip -n "$ns" addr add "$address/24" dev eth0
  [ -z "$gateway" ] || ip -n "$ns" route replace default via "$gateway"
}

netns_flush() {
  ip netns exec "$1-r$2" conntrack -F 2>/dev/null
}

netns_cut() { ip -n "$1-r$2" link set eth0 down; }
netns_uncut() { ip -n "$1-r$2" link set eth0 up; }

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
