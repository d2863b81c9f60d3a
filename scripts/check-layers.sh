#!/usr/bin/env bash
# Checks that the product code keeps to its layers: every #include "folder/..."
# in a product folder must name the folder itself or one the table below
# allows it, and the table itself must hold no cycle. Tests, fuzzers and the
# benchmark (tests/, fuzz/, bench/ and every *_test.cpp) may include anything.
# Usage: scripts/check-layers.sh [SOURCE_DIR]   (default: this repository)
set -euo pipefail

root=${1:-"$(dirname "$0")/.."}
cd "$root"

# The product folders from top to bottom, and which folders below each one
# it may include.
folders=(batch driver naming tape signal fileio bytes platform)
declare -A allowed=(
  [batch]="driver naming tape signal fileio bytes platform"
  [driver]="naming tape fileio bytes platform"
  [naming]="fileio bytes platform"
  [tape]="signal bytes"
  [signal]="bytes"
  [fileio]="bytes platform"
  [bytes]=""
  [platform]=""
)

failures=0

# The table must order the folders: take away, again and again, the folders
# that include only folders already taken away; a cycle leaves some behind.
declare -A placed=()
progress=1
while [ "$progress" -eq 1 ]; do
  progress=0
  for folder in "${folders[@]}"; do
    [ -n "${placed[$folder]:-}" ] && continue
    ready=1
    for below in ${allowed[$folder]}; do
      [ -n "${placed[$below]:-}" ] || ready=0
    done
    if [ "$ready" -eq 1 ]; then
      placed[$folder]=1
      progress=1
    fi
  done
done
unplaced=""
for folder in "${folders[@]}"; do
  [ -n "${placed[$folder]:-}" ] || unplaced+=" $folder/"
done
if [ -n "$unplaced" ]; then
  echo "the layer table holds a cycle: no order puts each of$unplaced" \
    "below the folders it may include" >&2
  failures=$((failures + 1))
fi

for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r file; do
    while IFS=: read -r line target; do
      [ "$target" = "$folder" ] && continue
      case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *)
        echo "$file:$line: $folder/ includes $target/, which it may not" \
          "($folder/ may include: ${allowed[$folder]:-nothing})" >&2
        failures=$((failures + 1))
        ;;
      esac
    done < <(awk '
      match($0, /^[ \t]*#[ \t]*include[ \t]*"[^"\/]+\//) {
        target = substr($0, RSTART, RLENGTH - 1)
        sub(/.*"/, "", target)
        print FNR ":" target
      }' "$file")
  done < <(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) \
    ! -name '*_test.cpp' | LC_ALL=C sort)
done

if [ "$failures" -ne 0 ]; then
  echo "$failures include(s) or table entries break the layers" >&2
  exit 1
fi
echo "every include keeps to the layers"
