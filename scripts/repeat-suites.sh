#!/usr/bin/env bash
# Runs the test suites N times in a row on a private desktop and sound
# server, keeping each run's full output, and prints the failures and the
# spread of every timing the suites report. With --parallel-build, a clean
# rebuild of the whole tree at -j2 goes round and round beside the runs, so
# that the timing bounds are shown to hold on a busy machine. With --fresh,
# each run starts like the first run on a new machine: the per-user caches
# and settings, the compiled keymaps and the test desktop's and sound
# server's state are removed, and the services started anew. -L LABEL runs
# only the suites with that CTest label (e2e: the desktop suites).
#   scripts/repeat-suites.sh [N] [--parallel-build] [--fresh] [-L LABEL] [--logs DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=20 parallel=0 fresh=0 logs= label=()
while [ $# -gt 0 ]; do
  case $1 in
  --parallel-build) parallel=1 ;;
  --fresh) fresh=1 ;;
  -L) label=(-L "$2"); shift ;;
  --logs) logs=$2; shift ;;
  [0-9]*) runs=$1 ;;
  *) echo "usage: $0 [N] [--parallel-build] [--fresh] [-L LABEL] [--logs DIR]" >&2; exit 2 ;;
  esac
  shift
done
build=${ROUSTABELL_BUILD_DIR:-build}
logs=${logs:-$(mktemp -d /tmp/roustabell-runs.XXXXXX)}
mkdir -p "$logs"
bash scripts/deps.sh test
bash scripts/build.sh

# shellcheck source=scripts/suite-services.sh
. scripts/suite-services.sh
side='' suites=''
cleanup() {
  [ -n "$suites" ] && kill "$suites" 2>/dev/null || true
  [ -n "$side" ] && kill -- -"$side" 2>/dev/null || true
  [ -n "${pb:-}" ] && rm -rf "$pb"
  stop_suite_services
}
trap cleanup EXIT
trap 'exit 130' INT TERM
start_suite_services

if [ "$parallel" = 1 ]; then
  pb=$(mktemp -d /tmp/roustabell-pb.XXXXXX)
  # Its own process group, so that cleanup stops the compilers too.
  set -m
  (while :; do
    rm -rf "$pb"/b
    cmake -S . -B "$pb"/b -G Ninja >/dev/null && ninja -C "$pb"/b -j2 >/dev/null || true
  done) &
  side=$!
  set +m
fi

# What a new machine has not made yet; the build and the packages stay.
forget_machine_state() {
  stop_suite_services
  rm -rf "$HOME/.cache" "$HOME/.dbus" "$HOME/.config/pulse" "$HOME/.config/QtProject.conf" \
    "$HOME/.config/openbox" "${ROUSTABELL_DESKTOP_DIR:-/tmp/roustabell-desktop-$(id -u)}" \
    "${ROUSTABELL_SOUND_DIR:-/tmp/roustabell-sound-$(id -u)}"
  rm -f /var/lib/xkb/*.xkm 2>/dev/null || true
  start_suite_services
}

failed=0
for i in $(seq "$runs"); do
  [ "$fresh" = 1 ] && forget_machine_state
  start=$SECONDS
  # In the background, so that a stop request ends the run at once.
  ctest --test-dir "$build" --timeout 600 -V "${label[@]}" >"$logs/run-$i.log" 2>&1 &
  suites=$!
  if wait "$suites"; then
    result=passed
  else
    result=FAILED failed=$((failed + 1))
  fi
  echo "run $i: $result in $((SECONDS - start)) s, load $(cut -d' ' -f1-3 /proc/loadavg)"
done
echo "$runs runs, $failed failed; logs in $logs"
python3 scripts/suite-spread.py "$logs"
[ "$failed" = 0 ]
