#!/usr/bin/env bash
# Builds vetrik optimised and measures it against the floor program;
# the table goes to bench/RESULTS.md. Optional argument: runs per case.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVETRIK_BENCH=ON -DVETRIK_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target vetrik vetrik_floor vetrik_launch vetrik_bench >/dev/null
build/bench/vetrik_bench build/bench/vetrik build/bench/vetrik_floor build/bench/vetrik_launch \
  bench/RESULTS.md "${1:-5}"
cat bench/RESULTS.md
