#!/usr/bin/env bash
# Builds vetrik and runs every test, warnings as errors: on Linux once
# optimised and once with AddressSanitizer and UndefinedBehaviorSanitizer,
# then the 32-bit Windows program under Wine (VETRIK_LINUX_ONLY=1 skips it).
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
echo "all tests passed in both Linux builds"

if [ "${VETRIK_LINUX_ONLY:-0}" != 1 ]; then
  bash scripts/test-windows.sh
fi
