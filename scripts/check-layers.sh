#!/usr/bin/env bash
# Fails when a product file includes a file of a layer above its own, or of a
# sibling layer, and when anything but the sound engine itself, its tests and
# its fuzzer includes an engine header: the rest of the program reaches the
# engine only through the module it loads. Lower numbers are lower layers; a
# folder may include its own files and those of any lower layer.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    datetime) echo 0 ;;
    platform) echo 1 ;;
    platform/linux | sound/engine) echo 2 ;;
    platform/widgets | sound) echo 3 ;;
    config) echo 4 ;;
    awareness | shell) echo 5 ;;
    app) echo 6 ;;
    *) echo "" ;;
  esac
}

# The files, outside sound/engine/, that may include an engine header.
engine_clients='^(tests/tst_sound\.cpp|tests/tst_wavdecode\.cpp|fuzz/fuzz_wavdecode\.cpp)$'

includes() {
  grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' "$1" |
    sed -E 's/^([0-9]+):.*"([^"]*)".*/\1:\2/'
}

status=0
while IFS= read -r file; do
  from=$(dirname "$file")
  from_rank=$(rank "$from")
  if [ -z "$from_rank" ]; then
    echo "$file: folder '$from' has no layer in scripts/check-layers.sh"
    status=1
    continue
  fi
  while IFS=: read -r line target; do
    to=$(dirname "$target")
    [ "$to" = "$from" ] && continue
    to_rank=$(rank "$to")
    if [ -z "$to_rank" ] || [ "$to_rank" -ge "$from_rank" ]; then
      echo "$file:$line: includes $target, which is not below $from"
      status=1
    fi
  done < <(includes "$file")
done < <(git ls-files 'app/*' 'config/*' 'awareness/*' 'shell/*' 'platform/*' 'datetime/*' 'sound/*' |
           grep -E '\.(cpp|h)$')

while IFS= read -r file; do
  case "$file" in sound/engine/*) continue ;; esac
  [[ $file =~ $engine_clients ]] && continue
  while IFS=: read -r line target; do
    case "$target" in
      sound/engine/*)
        echo "$file:$line: includes $target; only the engine, its tests and its fuzzer may"
        status=1
        ;;
    esac
  done < <(includes "$file")
done < <(git ls-files | grep -E '\.(cpp|h)$')

[ $status -eq 0 ] && echo "layers: every include points down; only the engine's own files include it"
exit $status
