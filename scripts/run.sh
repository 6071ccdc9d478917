#!/usr/bin/env bash
# Installs what is missing, builds, and starts ROUSTABELL.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
bash scripts/build.sh
exec "${ROUSTABELL_BUILD_DIR:-build}/roustabell"
