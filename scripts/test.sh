#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, with a private X
# server, window manager and sound server that are stopped afterwards:
# the test suites, the package check, one pass of the benchmarks, the
# sanitizer build of the unit tests and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
bash scripts/build.sh
build=${ROUSTABELL_BUILD_DIR:-build}
fuzz_seconds=${ROUSTABELL_FUZZ_SECONDS:-60}

# shellcheck source=scripts/suite-services.sh
. scripts/suite-services.sh
trap stop_suite_services EXIT
start_suite_services

stage() { echo "== $* ($SECONDS s)"; }
stage "tests"
ctest --test-dir "$build" --output-on-failure --timeout 600
stage "package"
bash scripts/package-check.sh "$build"
stage "benchmarks, one pass"
bash bench/run.sh --smoke --build-dir "$build"
stage "sanitizers"
bash scripts/sanitize.sh "${ROUSTABELL_SANITIZE_BUILD_DIR:-build-asan}"
stage "fuzzing, $fuzz_seconds s a target"
bash scripts/fuzz.sh "$fuzz_seconds"
stage "done"
