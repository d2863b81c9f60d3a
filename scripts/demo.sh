#!/usr/bin/env bash
# Builds vetrik and unpacks the bundled sample tape into sample-out/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/demo -G Ninja -DVETRIK_TESTS=OFF >/dev/null
cmake --build build/demo -j2 >/dev/null

rm -rf sample-out
mkdir sample-out
cd sample-out
status=0
../build/demo/vetrik ../samples/sample.tap || status=$?
printf '\n\nexit status %d; files in sample-out/:\n' "$status"
ls -l
