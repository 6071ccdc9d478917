#!/usr/bin/env bash
# Kills a process that saves the settings without pause (200 to 3,000
# question pairs a save, through the program's own store) with SIGKILL, a
# thousand times by default, and checks after every kill that
# AlarmClockConfig.xml is the document of the last save or of the one before,
# and that no temporary file a kill left outlasts the next save. The test
# command runs the same test with 100 kills.
#   scripts/kill-test.sh [kills]
# Build directory: $ROUSTABELL_BUILD_DIR, default build (configured if need be).
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-1000}
build=${ROUSTABELL_BUILD_DIR:-build}
if ! [[ $kills =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/kill-test.sh [kills]" >&2
  exit 2
fi

if ! [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --parallel "${ROUSTABELL_JOBS:-2}" --target tst_configfaults

log=$(mktemp "${TMPDIR:-/tmp}/roustabell-kill-test.XXXXXX")
trap 'rm -f "$log"' EXIT
echo "kill-test: $kills kills, log $log"
status=0
ROUSTABELL_KILLS=$kills QT_QPA_PLATFORM=offscreen "$build/tests/tst_configfaults" killedSavesLeaveAWholeFile \
  >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  grep -E '^(FAIL|   Loc|QWARN|QFATAL)' "$log" | head -n 20 || tail -n 20 "$log"
fi
sed -n 's/^QINFO *: *tst_ConfigFaults::killedSavesLeaveAWholeFile() /kill-test: /p' "$log"
grep -E '^Totals:' "$log" || true
echo "kill-test: $([ "$status" -eq 0 ] && echo passed || echo "FAILED (exit $status)")"
exit "$status"
