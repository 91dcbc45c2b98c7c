# Helpers for driving the program's window with xdotool on $DISPLAY.
# Source this file; every function fails loudly instead of guessing.

# wait_for_window NAME [SECONDS]: prints the id of the visible window NAME.
wait_for_window() {
  local name=$1 limit=${2:-15} id=""
  for _ in $(seq $((limit * 10))); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window named '$name' appeared within ${limit}s" >&2
  return 1
}

# window_size ID: prints WIDTHxHEIGHT of the window's client area.
window_size() {
  xdotool getwindowgeometry "$1" | awk '/Geometry:/ {print $2}'
}

# wait_for_size ID SIZE [SECONDS]: waits until the window has that size.
wait_for_size() {
  local id=$1 want=$2 limit=${3:-5} size=""
  for _ in $(seq $((limit * 10))); do
    size=$(window_size "$id")
    [ "$size" = "$want" ] && return 0
    sleep 0.1
  done
  echo "window $id is $size, expected $want" >&2
  return 1
}

# click_at ID X Y: a left click at window-relative coordinates.
click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

# screenshot ID FILE: saves what the window shows as a PNG.
screenshot() {
  import -window "$1" "$2"
}

# pixels_differing A B: how many pixels of two screenshots differ.
pixels_differing() {
  compare -metric AE "$1" "$2" /dev/null 2>&1 || true
}

# wait_for_screenshot ID FILE SECONDS CONDITION...: takes screenshots of the
# window into FILE until CONDITION (a command, run after each) succeeds.
wait_for_screenshot() {
  local id=$1 file=$2 limit=$3
  shift 3
  for _ in $(seq $((limit * 10))); do
    screenshot "$id" "$file"
    "$@" && return 0
    sleep 0.1
  done
  echo "window $id never showed what was awaited: $*" >&2
  return 1
}
