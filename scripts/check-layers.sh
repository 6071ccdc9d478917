#!/usr/bin/env bash
# Fails when a product file includes a file of a layer above its own, or of a
# sibling layer. Lower numbers are lower layers; a folder may include its own
# files and those of any lower layer.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    platform/date) echo 0 ;;
    platform) echo 1 ;;
    platform/widgets | platform/linux | platform/sound/module) echo 2 ;;
    platform/sound) echo 3 ;;
    config) echo 4 ;;
    awareness | shell) echo 5 ;;
    app) echo 6 ;;
    *) echo "" ;;
  esac
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
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' "$file" |
             sed -E 's/^([0-9]+):.*"([^"]*)".*/\1:\2/')
done < <(git ls-files 'app/*' 'config/*' 'awareness/*' 'shell/*' 'platform/*' | grep -E '\.(cpp|h)$')
[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
