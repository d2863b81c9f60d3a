#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on), then runs each one from its seed corpus for
# a bounded time. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# New inputs collect in build/fuzz/corpus/, crashing ones in
# build/fuzz/artifacts/; the first crash stops the script with exit 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
bash scripts/deps.sh clang-14 libclang-rt-14-dev

build=build/fuzz
CXX=${CXX:-clang++-14} cmake -S . -B "$build" -G Ninja -DVETRIK_FUZZ=ON \
  -DVETRIK_TESTS=OFF -DVETRIK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build "$build" -j2

# A small quarantine still catches a use after free within a run; the
# default 256 MB makes every run touch cold memory and halves the speed.
export ASAN_OPTIONS=quarantine_size_mb=8:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

mkdir -p "$build/artifacts" "$build/logs"
for target in extraction formats command_line naming recording; do
  mkdir -p "$build/corpus/$target"
  log=$build/logs/$target.log
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target failed; the input is in $build/artifacts/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: $runs runs in $seconds s, no failure"
done
