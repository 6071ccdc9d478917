#!/usr/bin/env bash
# Configures and builds into build/ (or $ROUSTABELL_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ROUSTABELL_BUILD_DIR:-build}
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROUSTABELL_WERROR=$werror "$@" >/dev/null
cmake --build "$build"
