# Runs of the program on the test "machines" of netns.sh, without windows:
# one vaskor-vpn-driver per namespace, its status lines in a log, its SDK's
# control socket at a known path. Source netns.sh and this file, and set
#   PREFIX  the namespaces' prefix       WORK    a private directory
#   DRIVER  the vaskor-vpn-driver binary CLIENT  the vaskor-sdk-client binary

# start_machine I host|member [NAME=VALUE...]: starts the run of machine I,
# with these variables added to its environment.
start_machine() {
  local i=$1 role=$2
  shift 2
  mkfifo "$WORK/m$i.in"
  VASKOR_SDK_CLIENT=0 VASKOR_SDK_USER_NAME="machine$i" \
    VASKOR_SDK_CONTROL_SOCKET="$WORK/m$i.sock" \
    ip netns exec "$PREFIX-$i" env "$@" "$DRIVER" "$role" \
    <"$WORK/m$i.in" >"$WORK/m$i.log" 2>"$WORK/m$i.err" &
  echo $! >"$WORK/m$i.pid"
  exec {fd}>"$WORK/m$i.in" # keeps the driver's input open
  echo "$fd" >"$WORK/m$i.infd"
}

# say_to I LINE: a line on machine I's standard input ("invite").
say_to() {
  echo "$2" >&"$(cat "$WORK/m$1.infd")"
}

# wait_log I PATTERN [SECONDS]: waits until machine I's log has a line matching.
wait_log() {
  local i=$1 pattern=$2 limit=${3:-20}
  for _ in $(seq $((limit * 10))); do
    grep -q -E "$pattern" "$WORK/m$i.log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "machine $i: no line matching '$pattern' within ${limit}s; its log:" >&2
  sed 's/^/  /' "$WORK/m$i.log" "$WORK/m$i.err" >&2
  return 1
}

# wait_until SECONDS WHAT CMD...: runs CMD every 0.1 s until it succeeds;
# after SECONDS it reports WHAT and fails.
wait_until() {
  local limit=$1 what=$2
  shift 2
  for _ in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  echo "not within ${limit}s: $what" >&2
  return 1
}

# status I: what machine I's SDK client shows (user, activity, party, invitation).
status() {
  "$CLIENT" status --socket "$WORK/m$1.sock" --timeout 2 2>/dev/null
}

# wait_control I: waits until machine I's SDK answers on its control socket.
wait_control() {
  wait_until 20 "machine $1 answering on its control socket" eval "status $1 >/dev/null"
}

# wait_status I PATTERN [SECONDS]: waits until machine I's status has a line matching.
wait_status() {
  wait_until "${3:-20}" "machine $1 showing '$2'" eval "status $1 | grep -q -E '$2'" ||
    { status "$1" | sed 's/^/  /' >&2; return 1; }
}

# received I / sent I: machine I's counters as its run last reported them.
received() { counters "$1" | cut -d' ' -f2; }
sent() { counters "$1" | cut -d' ' -f1; }

# wait_received I BYTES [SECONDS]: waits until machine I has received at least BYTES.
wait_received() {
  wait_until "${3:-20}" "machine $1 receiving $2 bytes" eval "[ \"\$(received $1)\" -ge $2 ] 2>/dev/null" ||
    { echo "  it has received $(received "$1")" >&2; return 1; }
}

# wait_sent I BYTES [SECONDS]: waits until machine I has sent at least BYTES.
wait_sent() {
  wait_until "${3:-20}" "machine $1 sending $2 bytes" eval "[ \"\$(sent $1)\" -ge $2 ] 2>/dev/null" ||
    { echo "  it has sent $(sent "$1")" >&2; return 1; }
}

# invitation I: the invitation of machine I's run, as its SDK client shows it.
invitation() {
  "$CLIENT" invitation --socket "$WORK/m$1.sock" --timeout 20
}

# join I INVITATION: machine I's user accepts an invitation, once machine I's
# SDK listens (a run just started may not have its control socket yet).
join() {
  local _
  for _ in $(seq 100); do
    [ -S "$WORK/m$1.sock" ] && break
    sleep 0.1
  done
  "$CLIENT" join "$2" --socket "$WORK/m$1.sock" --timeout 10
}

# counters I: "SENT RECEIVED" as machine I's run last reported them.
counters() {
  grep '^counters ' "$WORK/m$1.log" | tail -1 | cut -d' ' -f2-
}

# stop_machine I: ends machine I's run as closing the window would.
stop_machine() {
  local pid
  pid=$(cat "$WORK/m$1.pid" 2>/dev/null) || return 0
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -f "$WORK/m$1.pid"
}

# machines_begin TAG WHAT: the start of a test on these machines, as root:
# skips (as CTest reads it) without root, sets PREFIX and WORK, and on any
# exit, interruptions included, ends every run and removes the machines and
# WORK. Defines step and fail for the test's own lines.
machines_begin() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "[  SKIPPED ] $2 needs root (network namespaces, TUN devices)"
    exit 0
  fi
  PREFIX="$1$$"
  WORK=$(mktemp -d)
  trap _machines_cleanup EXIT
  trap 'exit 130' INT TERM
}

_machines_cleanup() {
  local status=$? pidfile
  set +e
  for pidfile in "$WORK"/m*.pid; do
    [ -e "$pidfile" ] && kill -TERM "$(cat "$pidfile")" 2>/dev/null
  done
  wait 2>/dev/null || true
  netns_remove "$PREFIX"
  rm -rf "$WORK"
  exit $status
}

step() { echo "== $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
