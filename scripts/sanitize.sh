#!/usr/bin/env bash
# Builds the library and every unit test with AddressSanitizer, LeakSanitizer
# and UndefinedBehaviorSanitizer into a build of its own, and runs them.
#   scripts/sanitize.sh [build-dir]     (default build-asan)
# Any finding fails the run: the sanitizers abort the test that trips them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-asan}
jobs=${ROUSTABELL_JOBS:-2}

start=$SECONDS
# -O1 keeps the tests quick; frame pointers keep the stacks readable.
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1 -fno-omit-frame-pointer" \
  -DROUSTABELL_SANITIZE=ON -DROUSTABELL_WERROR=ON -DROUSTABELL_TESTS=ON >/dev/null

# Only the unit tests and what they link; the end-to-end tests need a desktop.
mapfile -t targets < <(ctest --test-dir "$build" -N -L unit | sed -n 's/^ *Test *#[0-9]*: *//p')
if [ ${#targets[@]} -eq 0 ]; then
  echo "sanitize: no unit tests found in $build" >&2
  exit 1
fi
cmake --build "$build" --parallel "$jobs" --target roustabell_core "${targets[@]}"
built=$SECONDS
echo "sanitize: built ${#targets[@]} unit tests in $((built - start)) s"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -L unit --output-on-failure --timeout 600 -j "$jobs"
echo "sanitize: tests ran in $((SECONDS - built)) s, $((SECONDS - start)) s in all"
