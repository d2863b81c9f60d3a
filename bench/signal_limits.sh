#!/usr/bin/env bash
# Builds the recording limits benchmark optimised and runs it: its tables go
# to bench/SIGNAL_RESULTS.md under "Limits by kind of damage: SECTION".
# Arguments: the section (before or after; before when none), then any
# options of vetrik_signal_limits (--trials N, --jobs N, --only TEXT).
set -euo pipefail
cd "$(dirname "$0")/.."

section="${1:-before}"
shift || true
# The encoders of the lossy copies; rows without them are skipped.
bash scripts/deps.sh lame vorbis-tools
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVETRIK_BENCH=ON -DVETRIK_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target vetrik_signal_limits >/dev/null
build/bench/vetrik_signal_limits --results bench/SIGNAL_RESULTS.md --section "$section" "$@"
