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
      kill "$(cat "$state/$name.pid")" 2>/dev/null || true
      rm -f "$state/$name.pid"
    fi
  done
}

start() {
  stop
  mkdir -p "$state"
  local display=
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      display=$n
      break
    fi
  done
  [ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
  Xvfb ":$display" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do
    DISPLAY=":$display" xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
  DISPLAY=":$display" xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; cat "$state/xvfb.log" >&2; exit 1; }
  DISPLAY=":$display" openbox --sm-disable >"$state/openbox.log" 2>&1 &
  echo $! >"$state/openbox.pid"
  # Windows only become active once the window manager has taken over.
  for _ in $(seq 100); do
    DISPLAY=":$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  echo "export DISPLAY=:$display"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
