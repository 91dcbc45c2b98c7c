# Source after window.sh, with windows_says() defined (the window probe under
# Wine): the notice a test build (the stand-in adapter library) shows in a box
# over its window.

# answer_test_build_notice: waits for the "Test build" box, checks that it
# says what a person must know (no traffic, and what to do instead) and
# answers it with its OK.
answer_test_build_notice() {
  local box boxWindow
  box=$(windows_says box "Test build" 30) || return 1
  printf '%s\n' "$box"
  grep -qF "text This is a test build of Vaskor VPN. It cannot carry any traffic" <<<"$box" &&
    grep -qF "install a release build" <<<"$box" ||
    { echo "the test build's box does not say that it carries no traffic and what to do" >&2; return 1; }
  boxWindow=$(wait_for_window "Test build" 10) || return 1
  xdotool mousemove --window "$boxWindow" 5 5
  xdotool key Return
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Test build$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "the test build's box did not close on Return" >&2
  return 1
}
