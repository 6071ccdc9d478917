#!/usr/bin/env bash
# A private desktop for tests: Xvfb with the openbox window manager.
#   eval "$(scripts/desktop.sh start)"   prints the DISPLAY to export
#   scripts/desktop.sh stop
# State lives in ROUSTABELL_DESKTOP_DIR (default: a folder under /tmp).
set -euo pipefail

state=${ROUSTABELL_DESKTOP_DIR:-/tmp/roustabell-desktop-$(id -u)}

stop() {
  for name in openbox xvfb; do
    if [ -f "$state/$name.pid" ]; then
      local pid
      pid=$(cat "$state/$name.pid")
      # A window manager gone during the run leaves every later window
      # without focus: say so, or its failures read as the program's.
      if kill "$pid" 2>/dev/null; then
        # Gone before returning, so that the next start finds its display free.
        for _ in $(seq 50); do
          kill -0 "$pid" 2>/dev/null || break
          sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
      else
        echo "the test desktop's $name had exited before it was stopped (log: $state/$name.log)" >&2
      fi
      rm -f "$state/$name.pid"
    fi
  done
}

# Starts Xvfb on display $1; true once it listens there. Xvfb itself refuses
# a display another server holds (or still holds while going away), and
# writes the number to -displayfd only when its own socket takes clients.
start_xvfb() {
  local n=$1 pid
  : >"$state/xvfb.display"
  Xvfb ":$n" -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp \
    3>"$state/xvfb.display" >"$state/xvfb.log" 2>&1 &
  pid=$!
  echo "$pid" >"$state/xvfb.pid"
  for _ in $(seq 100); do
    [ "$(cat "$state/xvfb.display")" = "$n" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  rm -f "$state/xvfb.pid"
  return 1
}

start() {
  stop
  mkdir -p "$state"
  # High numbers, clear of a person's own displays: -displayfd alone would
  # take the lowest free one, and with a number given it tries only that.
  local display=
  for n in $(seq 91 140); do
    if start_xvfb "$n"; then
      display=$n
      break
    fi
  done
  [ -n "$display" ] || { echo "Xvfb did not start on any free display from :91 to :140" >&2; cat "$state/xvfb.log" >&2; exit 1; }
  DISPLAY=":$display" openbox --sm-disable >"$state/openbox.log" 2>&1 &
  echo $! >"$state/openbox.pid"
  # Windows only become active once the window manager has taken over.
  for _ in $(seq 100); do
    DISPLAY=":$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  if ! DISPLAY=":$display" probe; then
    stop
    exit 1
  fi
  echo "export DISPLAY=:$display"
}

# A window manager that has taken over may still not map or focus a window
# yet; every desktop suite needs both, so a probe window must get the input
# focus before any suite runs. Says which of the two never happened.
probe() {
  local bound=${ROUSTABELL_DESKTOP_READY_SECONDS:-30} name=roustabell-probe-$$
  xmessage -name "$name" -title "$name" "ready?" >"$state/probe.log" 2>&1 &
  local pid=$! window= focus= asked=0 start=$SECONDS
  while [ $((SECONDS - start)) -lt "$bound" ]; do
    [ -n "$window" ] || window=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1)
    if [ -n "$window" ]; then
      focus=$(xdotool getwindowfocus 2>/dev/null || true)
      [ "$focus" = "$window" ] && break
      # The program asks for activation when it fires; the probe does the same
      # if the window manager did not focus the new window by itself.
      if [ $asked -eq 0 ] && [ $((SECONDS - start)) -ge 2 ]; then
        xdotool windowactivate "$window" >/dev/null 2>&1 || true
        asked=1
      fi
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -z "$window" ]; then
    echo "test desktop not ready: openbox did not map a new window within $bound s (see $state/openbox.log)" >&2
    return 1
  fi
  if [ "$focus" != "$window" ]; then
    echo "test desktop not ready: a new window was mapped but did not get the input focus within $bound s (focus: ${focus:-none}; see $state/openbox.log)" >&2
    return 1
  fi
  echo "test desktop ready in $((SECONDS - start)) s: a new window was mapped and focused" >&2
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
