#!/usr/bin/env bash
# Builds vetrik twice, warnings as errors: once optimised, once with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DVETRIK_WERROR=ON "$@"
  cmake --build "$dir" -j2
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVETRIK_SANITIZE=ON
echo "all tests passed in both builds"
