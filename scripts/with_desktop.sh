#!/usr/bin/env bash
# Runs a command on a desktop of its own: a virtual X display on a free number with the openbox window
# manager, both stopped when the command ends. The tests of window geometry, titles and focus need
# what only a real window system does; this gives them one on any machine, with or without a display.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 command [arguments]" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=""
wm_pid=""
stop() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT

# Xvfb picks a free display number itself and writes it to the descriptor it is given.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# The display number can come before the server takes connections: wait until it answers.
for _ in $(seq 100); do
  xprop -root >/dev/null 2>&1 && break
  sleep 0.05
done

# The window manager is up once it has named itself on the root window. One that could not open the
# display (seen once in many runs on a busy machine) is started again, at most three times.
start_wm() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$wm_pid" 2>/dev/null || { wait "$wm_pid" 2>/dev/null; wm_pid=""; return 1; }
    sleep 0.05
  done
  kill "$wm_pid" 2>/dev/null
  wait "$wm_pid" 2>/dev/null
  wm_pid=""
  return 1
}
started=0
for _ in 1 2 3; do
  if start_wm; then
    started=1
    break
  fi
  sleep 0.2
done
[ "$started" = 1 ] || {
  cat "$work/openbox.log" >&2
  echo "openbox did not start" >&2
  exit 1
}

export QT_QPA_PLATFORM=xcb
set +e
"$@"
status=$?
set -e
exit $status
