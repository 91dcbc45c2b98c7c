#!/usr/bin/env bash
# The package as a person uses it: installed on this machine, then started by
# a normal user (never root) in two machines (network namespaces), one hosting
# and one joining with the invitation from `vaskor-sdk-client`; ping crosses.
# The program holds no capability while its adapter carries traffic: the
# package's adapter helper alone holds CAP_NET_ADMIN, a GTK module loaded into
# the program is refused a privileged request, and the helper refuses what the
# program's user could ask of it beyond its own adapter. The program's control
# sockets and client windows belong to that user, it writes nothing outside
# the user's own directories, and killing it leaves no adapter. LAN games on
# both machines find each other through the package's LAN helper, which keeps
# no capability and refuses what the user could not send. Then the package
# is purged and nothing of it remains. Run as root from the project's root.
# usage: package_install_test.sh PACKAGE.deb CLOSE_WINDOW PRIVILEGE_PROBE.so HELPER_PROBE
#                                LAN_HELPER_PROBE LAN_GAME
set -euo pipefail
DEB=$(realpath "$1")
CLOSE_WINDOW=$(realpath "$2")
PRIVILEGE_PROBE=$(realpath "$3")
HELPER_PROBE=$(realpath "$4")
LAN_HELPER_PROBE=$(realpath "$5")
GAME=$(realpath "$6")
HELPER=/usr/libexec/vaskor-vpn/vaskor-adapter-helper
LAN_HELPER=/usr/libexec/vaskor-vpn/vaskor-lan-helper
if [ "$(id -u)" -ne 0 ]; then
  echo "[  SKIPPED ] installing a package and creating a user need root"
  exit 0
fi
if dpkg-query -W -f='${Status}' vaskor-vpn 2>/dev/null | grep -q installed; then
  echo "[  SKIPPED ] vaskor-vpn is already installed here; this test installs and purges it"
  exit 0
fi
. tests/support/netns.sh
. tests/support/window.sh

PREFIX="vkpkg$$"
PERSON="vkpkg$$"
WORK=$(mktemp -d)
# The probes run as the test's user.
chmod 0755 "$WORK"
install -m 0755 "$PRIVILEGE_PROBE" "$WORK/privilege-probe.so"
install -m 0755 "$HELPER_PROBE" "$WORK/helper-probe"
install -m 0755 "$LAN_HELPER_PROBE" "$WORK/lan-helper-probe"
installed=""
created_user=""
tun_mode=""
declare -A display program game
cleanup() {
  status=$?
  set +e
  [ -n "${probe:-}" ] && rm -f "$probe"
  for pid in "${program[@]}" "${game[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for i in "${!display[@]}"; do kill "$(cat "$WORK/xvfb$i.pid" 2>/dev/null)" 2>/dev/null; done
  wait 2>/dev/null
  netns_remove "$PREFIX"
  [ -n "$installed" ] && dpkg --purge vaskor-vpn >/dev/null 2>&1
  if [ -n "$created_user" ]; then
    pkill -KILL -u "$PERSON" 2>/dev/null
    userdel --remove "$PERSON" 2>/dev/null
  fi
  [ -n "$tun_mode" ] && chmod "$tun_mode" /dev/net/tun
  rm -rf "$WORK"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAILED: $*" >&2
  for log in "$WORK"/m*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log"):"; cat "$log"; } >&2
  done
  exit 1
}

# as_person I: sets "person" to the command prefix that runs a command as the
# test's user in machine I, with the environment a desktop session gives (no
# variable of root's). A simple command, so that "${person[@]}" X & leaves the
# program's own pid in $! (ip, setpriv and env each exec the next).
as_person() {
  local i=$1
  person=(ip netns exec "$PREFIX-$i" setpriv --reuid="$PERSON" --regid="$PERSON" --init-groups
          --reset-env -- env DISPLAY="${display[$i]:-}" XDG_RUNTIME_DIR="$HOME_DIR/run-$i"
          VASKOR_SDK_USER_NAME="machine-$i" "${extra_env[@]}")
}
extra_env=()

# capability MASK_NAME PID: prints the process's capability set (hex).
capability() {
  awk -v name="$1:" '$1 == name {print $2}' "/proc/$2/status"
}

# has_net_admin HEX: CAP_NET_ADMIN is bit 12.
has_net_admin() {
  (((0x$1 >> 12) & 1))
}

# runs_as_person PID: real, effective, saved and file-system user are all the test's user.
runs_as_person() {
  awk -v u="$(id -u "$PERSON")" '/^Uid:/ {exit !($2 == u && $3 == u && $4 == u && $5 == u)}' "/proc/$1/status"
}

wait_for_address() {
  local i=$1 want=$2
  for _ in $(seq 300); do
    netns_exec "$PREFIX" "$i" ip -4 -o addr show 2>/dev/null | grep -q " $want " && return 0
    sleep 0.1
  done
  fail "machine $i never got the address $want"
}

free_display() {
  for n in $(seq 150 250); do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && { echo "$n"; return; }
  done
  return 1
}

# files_of_person: every file of the test's user outside its home directory.
files_of_person() {
  find / -xdev \( -path /proc -o -path "$HOME_DIR" \) -prune -o -user "$PERSON" -print 2>/dev/null
  for place in /tmp /var/tmp /run /dev/shm; do
    find "$place" -xdev -user "$PERSON" -print 2>/dev/null
  done
}

# The embedded SDK and adapter libraries are data in the program: what they
# link (libsodium, libnl) must still be in Depends.
depends=$(dpkg-deb --field "$DEB" Depends)
for needed in libsodium23 libnl-route-3-200 libcap2-bin; do
  grep -qw "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

echo "== installing $(basename "$DEB")"
dpkg --install "$DEB" >/dev/null
installed=yes
mapfile -t package_files < <(dpkg-query -L vaskor-vpn)
getcap "$HELPER" | grep -q 'cap_net_admin=ep' || fail "the adapter helper has no CAP_NET_ADMIN"
[ "$(getcap "$LAN_HELPER" | awk '{print $2}')" = cap_net_raw=ep ] ||
  fail "the LAN helper does not hold CAP_NET_RAW alone: $(getcap "$LAN_HELPER")"
for program_file in /usr/bin/vaskor-vpn /usr/bin/vaskor-sdk-client; do
  [ -z "$(getcap "$program_file")" ] || fail "$program_file has a capability: $(getcap "$program_file")"
done
[ "$(stat -c '%U:%G %a' /usr/bin/vaskor-vpn)" = "root:root 755" ] ||
  fail "the program is not an ordinary root:root 0755 program: $(stat -c '%U:%G %a' /usr/bin/vaskor-vpn)"
libraries=$(printf '%s\n' "${package_files[@]}" | grep -E '\.so(\.|$)' || true)
[ -z "$libraries" ] || fail "the package installs library files: $libraries"
for size in 16 22 24 32 48 64 128 256; do
  [ -s "/usr/share/icons/hicolor/${size}x${size}/apps/vaskor-vpn.png" ] || fail "no ${size}px icon"
done
desktop-file-validate /usr/share/applications/vaskor-vpn.desktop || fail "the desktop entry"
grep -qx 'Exec=vaskor-vpn' /usr/share/applications/vaskor-vpn.desktop || fail "the menu entry does not start vaskor-vpn"
echo "   the helper alone has the capability; icons and desktop entry as expected"

# Debian's udev rules open /dev/net/tun to everyone (the kernel still asks for
# CAP_NET_ADMIN to create an interface); a container's /dev may not.
if [ "$(stat -c %a /dev/net/tun)" != 666 ]; then
  tun_mode=$(stat -c %a /dev/net/tun)
  chmod 0666 /dev/net/tun
fi

echo "== a normal user, $PERSON, starts the installed program in two machines"
useradd --create-home --shell /bin/bash "$PERSON"
created_user=yes
# Only the netdev group may start the helper that holds the capability.
for file in "$HELPER" "$LAN_HELPER"; do
  [ "$(stat -c '%U:%G %a' "$file")" = "root:netdev 750" ] ||
    fail "$file is not root:netdev 0750: $(stat -c '%U:%G %a' "$file")"
done
# Some file systems (a virtual machine's shared folder) ignore execute
# permission for everyone; the refusal is checked where it is kept.
probe=$(mktemp -p /usr/bin vaskor-probe.XXXXXX)
cp /bin/true "$probe"
chmod 0750 "$probe"
if setpriv --reuid="$PERSON" --regid="$PERSON" --init-groups "$probe" 2>/dev/null; then
  echo "   (this file system ignores execute permission: the group's refusal is not checked here)"
else
  refusal=$(setpriv --reuid="$PERSON" --regid="$PERSON" --init-groups \
    "$HELPER" </dev/null 2>&1 || true)
  grep -q 'Permission denied' <<<"$refusal" ||
    fail "a user outside netdev could start the adapter helper: $refusal"
fi
rm -f "$probe"
usermod --append --groups netdev "$PERSON"
HOME_DIR=$(getent passwd "$PERSON" | cut -d: -f6)
# Each machine's runtime directory, as a login session gives it.
for i in 1 2; do install -d -m 0700 -o "$PERSON" -g "$PERSON" "$HOME_DIR/run-$i"; done
netns_create "$PREFIX" 2
# A default route on each machine's LAN, as at home: the system sends a
# multicast whose program chose no interface that way. Its gateway is no one:
# only broadcasts and multicasts cross, and they stay on the test's switch.
for i in 1 2; do ip -n "$PREFIX-$i" route add default via 10.231.0.254; done
for i in 1 2; do
  n=$(free_display)
  Xvfb ":$n" -screen 0 800x600x24 -noreset -nolisten tcp >/dev/null 2>&1 &
  echo $! >"$WORK/xvfb$i.pid"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  display[$i]=":$n"
  # The package's entry point, found on PATH as the menu's Exec= finds it.
  # Machine 1's user names a GTK module of their own, as anyone may.
  extra_env=()
  [ "$i" = 1 ] && extra_env=(GTK_MODULES="$WORK/privilege-probe.so" VASKOR_PROBE_OUT="$HOME_DIR/probe-1")
  as_person "$i"
  extra_env=()
  "${person[@]}" vaskor-vpn >"$WORK/m$i.log" 2>&1 &
  program[$i]=$!
done
declare -A window
for i in 1 2; do window[$i]=$(DISPLAY="${display[$i]}" wait_for_window "Vaskor VPN" 20); done

for i in 1 2; do
  pid=${program[$i]}
  runs_as_person "$pid" || fail "machine $i's program does not run as $PERSON"
done
echo "   both programs run as $PERSON"

echo "== machine 1 hosts, machine 2 joins"
DISPLAY="${display[1]}" click_at "${window[1]}" 60 60
DISPLAY="${display[2]}" click_at "${window[2]}" 180 60
wait_for_address 1 192.168.42.1/24
DISPLAY="${display[1]}" click_at "${window[1]}" 120 100
# No --socket: the command finds the user's one running core by itself.
as_person 1
secret=$("${person[@]}" vaskor-sdk-client invitation --timeout 20) || fail "no invitation"
as_person 2
"${person[@]}" vaskor-sdk-client join "$secret" --timeout 10 >/dev/null || fail "join refused"
wait_for_address 2 192.168.42.2/24
netns_exec "$PREFIX" 1 ping -q -c 3 -i 0.2 -W 2 192.168.42.2 >/dev/null || fail "no ping 1 -> 2"
netns_exec "$PREFIX" 2 ping -q -c 3 -i 0.2 -W 2 192.168.42.1 >/dev/null || fail "no ping 2 -> 1"
echo "   ping crosses the virtual network both ways"

echo "== the privilege stays in the adapter helper"
for i in 1 2; do
  pid=${program[$i]}
  for set in CapPrm CapEff CapAmb; do
    [ "$(capability "$set" "$pid")" = 0000000000000000 ] ||
      fail "machine $i's program holds a capability while its adapter carries traffic ($set $(capability "$set" "$pid"))"
  done
  helper_pid=$(pgrep -P "$pid" -x vaskor-adapter- || true)
  [ -n "$helper_pid" ] || fail "machine $i: no adapter helper beside the program"
  runs_as_person "$helper_pid" || fail "machine $i: the adapter helper does not run as $PERSON"
  has_net_admin "$(capability CapEff "$helper_pid")" || fail "machine $i: the adapter helper lacks CAP_NET_ADMIN"
done
[ -s "$HOME_DIR/probe-1" ] || fail "the GTK module was not loaded into the program"
grep -qx 'refused EPERM' "$HOME_DIR/probe-1" ||
  fail "a GTK module inside the program was not refused a privileged request: $(cat "$HOME_DIR/probe-1")"
echo "   the programs hold no capability; a GTK module inside one was refused"
as_person 1
probe_output=$("${person[@]}" "$WORK/helper-probe" "$HELPER" 2>&1) ||
  fail "the adapter helper did what it must refuse: $probe_output"
sed 's/^/   /' <<<"$probe_output"

echo "== LAN games find each other through the LAN helper"
GROUP=224.0.2.60
for i in 1 2; do
  mkfifo "$WORK/g$i.in"
  ip netns exec "$PREFIX-$i" "$GAME" 4445 "$GROUP" <"$WORK/g$i.in" >"$WORK/g$i.log" 2>&1 &
  game[$i]=$!
  exec {fd}>"$WORK/g$i.in"
  eval "game_in_$i=$fd"
done
wait_game() {
  for _ in $(seq 200); do grep -q -E "$2" "$WORK/g$1.log" && return 0; sleep 0.1; done
  fail "machine $1's game never printed '$2': $(cat "$WORK/g$1.log")"
}
for i in 1 2; do wait_game "$i" '^listening$'; done
# The member's run holds the game's group on its adapter too, so that the
# VPN's copies reach the game.
for _ in $(seq 100); do
  ip -n "$PREFIX-2" maddr show dev Orvanti-VPN | grep -q -E "inet +$GROUP\b" && break
  sleep 0.1
done
ip -n "$PREFIX-2" maddr show dev Orvanti-VPN | grep -q -E "inet +$GROUP\b" ||
  fail "machine 2's adapter never held $GROUP: $(cat "$WORK/m2.log")"
# Machine 1's multicast leaves on its LAN; its helper hands it to the run,
# which copies it into the VPN.
echo "send $GROUP pkg-multicast" >&"$game_in_1"
wait_game 2 '^heard pkg-multicast from 192\.168\.42\.1$'
# Machine 2's broadcast goes into the VPN; its helper puts a copy on its LAN.
echo "send 255.255.255.255 pkg-broadcast" >&"$game_in_2"
wait_game 1 '^heard pkg-broadcast from 192\.168\.42\.2$'
wait_game 1 '^heard pkg-broadcast from 10\.231\.0\.2$'
for i in 1 2; do
  lan_helper_pid=$(pgrep -P "${program[$i]}" -x vaskor-lan-help || true)
  [ -n "$lan_helper_pid" ] || fail "machine $i: no LAN helper beside the program: $(cat "$WORK/m$i.log")"
  runs_as_person "$lan_helper_pid" || fail "machine $i: the LAN helper does not run as $PERSON"
  for set in CapPrm CapEff CapAmb; do
    [ "$(capability "$set" "$lan_helper_pid")" = 0000000000000000 ] ||
      fail "machine $i: the LAN helper kept a capability once its tap was open ($set $(capability "$set" "$lan_helper_pid"))"
  done
done
echo "   each side heard the other through the VPN, and on the LAN; the LAN helpers kept no capability"
as_person 1
probe_output=$("${person[@]}" "$WORK/lan-helper-probe" "$LAN_HELPER" 10.231.0.1 2>&1) ||
  fail "the LAN helper sent what it must refuse: $probe_output"
sed 's/^/   /' <<<"$probe_output"

echo "== what the user's programs own"
for i in 1 2; do
  sockets="$HOME_DIR/run-$i/vaskor-sdk"
  [ "$(stat -c '%U %a' "$sockets")" = "$PERSON 700" ] || fail "machine $i: $sockets is $(stat -c '%U %a' "$sockets")"
  socket=$(find "$sockets" -name '*.sock' | head -1)
  if [ -z "$socket" ] || [ "$(stat -c '%U %a' "$socket")" != "$PERSON 600" ]; then
    fail "machine $i: no private socket of $PERSON in $sockets"
  fi
  client=$(pgrep -P "${program[$i]}" -x vaskor-sdk-clie || true)
  [ -n "$client" ] || fail "machine $i: no client window process"
  runs_as_person "$client" ||
    fail "machine $i: the client window does not run as $PERSON"
  for set in CapPrm CapEff CapAmb; do
    [ "$(capability "$set" "$client")" = 0000000000000000 ] ||
      fail "machine $i: the client window inherited a capability ($set $(capability "$set" "$client"))"
  done
  DISPLAY="${display[$i]}" wait_for_window "Vaskor SDK" 10 >/dev/null
done
outside=$(files_of_person)
[ -z "$outside" ] || fail "files of $PERSON outside its home: $outside"
echo "   sockets and client windows belong to $PERSON; the client windows have no capability"

echo "== machine 2's program is killed"
kill -KILL "${program[2]}"
wait "${program[2]}" 2>/dev/null || true
unset "program[2]"
for _ in $(seq 100); do
  netns_exec "$PREFIX" 2 ip -o link show | grep -q 'Orvanti-VPN' || break
  sleep 0.1
done
netns_exec "$PREFIX" 2 ip -o link show | grep -q 'Orvanti-VPN' &&
  fail "the killed program's adapter remains: $(netns_exec "$PREFIX" 2 ip -o link show)"
echo "   its adapter went with it"

echo "== the user closes machine 1's window"
for i in 1; do
  DISPLAY="${display[$i]}" "$CLOSE_WINDOW" "${window[$i]}"
  for _ in $(seq 100); do kill -0 "${program[$i]}" 2>/dev/null || break; sleep 0.1; done
  kill -0 "${program[$i]}" 2>/dev/null && fail "machine $i's program did not end"
  wait "${program[$i]}" || fail "machine $i's program ended with an error: $(cat "$WORK/m$i.log")"
  unset "program[$i]"
  [ ! -e "$HOME_DIR/run-$i/vaskor-sdk" ] || fail "machine $i left its control socket directory"
done
# Machine 2's client window ends by itself once its program is gone.
for _ in $(seq 100); do pgrep -u "$PERSON" >/dev/null || break; sleep 0.1; done
pgrep -u "$PERSON" >/dev/null && fail "processes of $PERSON remain: $(pgrep -u "$PERSON" -a)"
outside=$(files_of_person)
[ -z "$outside" ] || fail "files of $PERSON outside its home: $outside"
echo "   the program ended and removed its control socket directory"

echo "== purging the package"
dpkg --purge vaskor-vpn >/dev/null
installed=""
dpkg-query -W vaskor-vpn >/dev/null 2>&1 && fail "dpkg still knows the package"
for file in "${package_files[@]}"; do
  [ -d "$file" ] && continue
  [ ! -e "$file" ] || fail "$file remains"
done
remains=$(find /usr /etc /var/lib/dpkg/info /opt -xdev -iname '*vaskor*' 2>/dev/null || true)
[ -z "$remains" ] || fail "left behind: $remains"
remains=$(getcap -r /usr/bin /usr/sbin /usr/local 2>/dev/null | grep -i vaskor || true)
[ -z "$remains" ] || fail "a capability remains: $remains"
for file in /usr/bin/vaskor-vpn "$HELPER" "$LAN_HELPER"; do
  dpkg-statoverride --list "$file" >/dev/null && fail "the owner and mode override of $file remains"
done
echo "   nothing of the package remains"
