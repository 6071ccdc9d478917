#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, with a private X
# server, window manager and sound server that are stopped afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
bash scripts/build.sh
build=${ROUSTABELL_BUILD_DIR:-build}

cleanup() {
  bash scripts/sound-server.sh stop >/dev/null 2>&1 || true
  bash scripts/desktop.sh stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
eval "$(bash scripts/desktop.sh start)"
eval "$(bash scripts/sound-server.sh start)"
# With a sound server running, a sound test that cannot reach it is a failure.
export ROUSTABELL_REQUIRE_SOUND=1 ROUSTABELL_REQUIRE_DESKTOP=1 ROUSTABELL_REQUIRE_DBUS=1

ctest --test-dir "$build" --output-on-failure --timeout 600
