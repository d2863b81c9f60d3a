#!/usr/bin/env bash
# Builds vetrik and unpacks the bundled sample tapes, the TAP image into
# sample-out/tap/, the TZX image of the same files into sample-out/tzx/ and
# a recording of them into sample-out/csw/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/demo -G Ninja -DVETRIK_TESTS=OFF >/dev/null
cmake --build build/demo -j2 >/dev/null

rm -rf sample-out
for format in tap tzx csw; do
  mkdir -p "sample-out/$format"
  status=0
  (cd "sample-out/$format" && ../../build/demo/vetrik "../../samples/sample.$format") ||
    status=$?
  printf '\n\nexit status %d; files in sample-out/%s/:\n' "$status" "$format"
  ls -l "sample-out/$format"
  echo
done
