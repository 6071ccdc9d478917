#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs them side by side for a while.
#   scripts/fuzz.sh [seconds-per-target]      (default 60)
# Build directory: $ROUSTABELL_FUZZ_BUILD_DIR, default build-fuzz. Each target
# runs on its own corpus there, seeded from fuzz/corpus/<name>, so the seeds
# in the repository stay as they are; the corpus grows from run to run.
# Exits non-zero on any crash, leak, timeout, memory limit or failed property;
# the input that caused it is kept as <build>/artifacts/<target>-*.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
build=${ROUSTABELL_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${ROUSTABELL_JOBS:-2}
targets=(fuzz_configstore fuzz_configread fuzz_datevalue fuzz_wavdecode)
# ROUSTABELL_FUZZ_TARGETS="fuzz_configread" runs only those named, for a long run of one.
if [ -n "${ROUSTABELL_FUZZ_TARGETS:-}" ]; then
  read -ra targets <<<"$ROUSTABELL_FUZZ_TARGETS"
fi

if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds-per-target]" >&2
  exit 2
fi

bash scripts/deps.sh build
# shellcheck source=scripts/lib/install-missing.sh
. scripts/lib/install-missing.sh
install_missing clang-14 libclang-rt-14-dev

if [ -f "$build/CMakeCache.txt" ] &&
  ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++-14$' "$build/CMakeCache.txt"; then
  echo "fuzz: $build was configured with another compiler; remove it or set ROUSTABELL_FUZZ_BUILD_DIR" >&2
  exit 2
fi

start=$SECONDS
# -O1 and frame pointers as in scripts/sanitize.sh; a debug build keeps Qt's
# own assertions in its inline code.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DROUSTABELL_FUZZ=ON -DROUSTABELL_TESTS=OFF -DROUSTABELL_SANITIZE=OFF >/dev/null
# The build runs tools of its own (the icon renderer), instrumented as well;
# what they leave at exit is not under test.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$build" --parallel "$jobs" --target "${targets[@]}"
echo "fuzz: built in $((SECONDS - start)) s"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp:print_suppressions=0
# The store syncs each file to disk before it renames it; on a memory file
# system that costs nothing.
scratch=$(mktemp -d "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/roustabell-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

mkdir -p "$build/artifacts" "$build/logs"
# All targets side by side (more of them than cores share the cores, so the
# stage takes the seconds given whatever their number); each writes its
# summary line to a file.
fuzz_one() {
  local target=$1 status=0
  local name=${target#fuzz_} seeds dict corpus log before after found runs rate files bytes rc took began kinds findings max_len options
  name=${target#fuzz_}
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  # The in-memory reader of the configuration starts from the same files as
  # the round trip through the disk, and from its own findings.
  seeds=("$root/fuzz/corpus/$name/"*)
  dict=$root/fuzz/$name.dict
  if [ "$name" = configread ]; then
    seeds+=("$root/fuzz/corpus/configstore/"*)
    dict=$root/fuzz/configstore.dict
  fi
  for seed in "${seeds[@]}"; do
    [ -f "$seed" ] && ! [ -e "$corpus/${seed##*/}" ] && cp "$seed" "$corpus/"
  done
  log=$build/logs/$target.log
  before=$(find "$build/artifacts" -name "$target-*" ! -name "$target-slow-unit-*" | wc -l)
  case $name in
    configstore) max_len=65536 ;;
    configread) max_len=1024 ;;
    wavdecode) max_len=8192 ;;
    *) max_len=1024 ;;
  esac
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len"
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-")
  [ -f "$dict" ] && options+=(-dict="$dict")

  echo "fuzz: running $target for $seconds s (log: $log)"
  began=$SECONDS
  rc=0
  "$build/fuzz/$target" "${options[@]}" "$corpus" >"$log" 2>&1 || rc=$?
  took=$((SECONDS - began))

  after=$(find "$build/artifacts" -name "$target-*" ! -name "$target-slow-unit-*" | wc -l)
  found=$((after - before))
  final_stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
  runs=$(final_stat number_of_executed_units)
  rate=$(final_stat average_exec_per_sec)
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    kinds=$(grep -Eo '(ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer): [a-z -]+|runtime error|fuzz_[a-z]+: [^[]*|ALARM: working on the last Unit for [0-9]+ seconds)' "$log" | head -n 3 | paste -sd ';' -)
    findings="exit $rc, $found new artifact(s): ${kinds:-see log}"
    echo "----- $log (last 40 lines) -----"
    tail -n 40 "$log"
    echo "-----"
  else
    findings=none
  fi
  echo "$target: ${runs:-?} executions, ${rate:-?} exec/s, $took s, corpus $files files ($bytes bytes), findings: $findings" >"$build/logs/$target.summary"
  return $status
}

status=0
pids=()
for target in "${targets[@]}"; do
  fuzz_one "$target" &
  pids+=($!)
done
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done

for target in "${targets[@]}"; do
  cat "$build/logs/$target.summary"
done
echo "fuzz: $((SECONDS - start)) s in all"
exit $status
