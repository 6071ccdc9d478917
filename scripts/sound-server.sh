#!/usr/bin/env bash
# A private PulseAudio server for tests, with a null sink whose monitor can be
# recorded, and nothing of the machine's own sound session.
#   eval "$(scripts/sound-server.sh start)"   prints the environment to export
#   scripts/sound-server.sh stop
# Starting again while it runs only prints the environment once more.
# State lives in ROUSTABELL_SOUND_DIR (default: a folder under /tmp).
set -euo pipefail

state=${ROUSTABELL_SOUND_DIR:-/tmp/roustabell-sound-$(id -u)}
runtime=$state/runtime
socket=$runtime/native
# The daemon writes its own pid file there.
pidfile=$runtime/pulse/pid
log=$state/pulseaudio.log
sink=roustabell_null
# shellcheck source=scripts/lib/install-missing.sh
. "$(dirname "$0")/lib/install-missing.sh"

# Everything the daemon and its clients look up in the environment points
# into the state folder, so that no session server is found or spawned.
server_env() {
  env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$state/home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$state/config" \
    XDG_STATE_HOME="$state/state" PULSE_RUNTIME_PATH="$runtime/pulse" \
    PULSE_STATE_PATH="$state/state/pulse" PULSE_CLIENTCONFIG="$state/client.conf" \
    PULSE_SERVER="unix:$socket" "$@"
}

print_env() {
  echo "export PULSE_SERVER=unix:$socket"
  echo "export PULSE_RUNTIME_PATH=$runtime/pulse"
  echo "export PULSE_CLIENTCONFIG=$state/client.conf"
}

running_pid() {
  [ -f "$pidfile" ] || return 1
  local pid
  pid=$(cat "$pidfile" 2>/dev/null) || return 1
  [[ "$pid" =~ ^[0-9]+$ ]] || return 1
  # Only a pulseaudio process counts: the number may have been reused.
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = pulseaudio ] || return 1
  echo "$pid"
}

answers() {
  server_env timeout 5 pactl info >/dev/null 2>&1
}

stop() {
  local pid
  if pid=$(running_pid); then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile" "$socket"
}

# A test that removes the sink to play a vanished device may have been killed
# before it put the sink back.
ensure_sink() {
  if ! server_env pactl list short sinks 2>/dev/null | awk '{print $2}' | grep -qx "$sink"; then
    server_env pactl load-module module-null-sink sink_name="$sink" \
      sink_properties=device.description=RoustabellNull >/dev/null
  fi
  server_env pactl set-default-sink "$sink" >/dev/null
}

start() {
  if running_pid >/dev/null && answers; then
    ensure_sink
    print_env
    return 0
  fi
  stop
  install_missing --no-install-recommends pulseaudio pulseaudio-utils
  mkdir -p "$state/home" "$state/config" "$state/state/pulse" "$runtime/pulse"
  chmod 700 "$runtime" "$runtime/pulse"
  printf 'autospawn = no\n' >"$state/client.conf"
  # -n: none of the machine's default.pa; only the modules named here. The
  # command-line protocol lets tests use pacmd to break streams and clients.
  # Its own session, so that a hangup of the caller's terminal does not end it.
  server_env setsid pulseaudio --daemonize=no --system=false -n \
    --exit-idle-time=-1 --use-pid-file=yes --disallow-module-loading=no \
    --realtime=no --high-priority=no --log-target=stderr --log-level=notice \
    --load="module-null-sink sink_name=$sink sink_properties=device.description=RoustabellNull" \
    --load="module-native-protocol-unix socket=$socket auth-anonymous=1" \
    --load="module-cli-protocol-unix" \
    >"$log" 2>&1 </dev/null &
  for _ in $(seq 100); do
    answers && break
    sleep 0.1
  done
  if ! answers; then
    echo "the sound server did not start:" >&2
    cat "$log" >&2 || true
    stop
    exit 1
  fi
  ensure_sink
  print_env
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
