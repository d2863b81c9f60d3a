#!/usr/bin/env bash
# Runs scripts/check-layers.sh on small source trees and checks its verdict:
# the exit status and the include it names.
set -euo pipefail

checker="$(dirname "$0")/../scripts/check-layers.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# tree FILE:INCLUDE...: a fresh tree in which each FILE holds one include.
tree() {
  rm -rf "$scratch/src"
  local entry
  for entry in "$@"; do
    mkdir -p "$scratch/src/$(dirname "${entry%%:*}")"
    printf '// a file\n#include "%s"\n' "${entry#*:}" >>"$scratch/src/${entry%%:*}"
  done
}

failures=0
# case_is NAME EXPECTED_STATUS EXPECTED_TEXT: runs the checker on the tree;
# EXPECTED_TEXT must appear in its output.
case_is() {
  local name=$1 want_status=$2 want_text=$3 status=0 out
  out=$(bash "$checker" "$scratch/src" 2>&1) || status=$?
  if [ "$status" -ne "$want_status" ] || [[ "$out" != *"$want_text"* ]]; then
    echo "FAIL $name: exit $status (want $want_status), output:" >&2
    echo "$out" >&2
    failures=$((failures + 1))
  fi
}

tree driver/run.cpp:tape/view.h tape/view.h:signal/decode.h \
  signal/decode.cpp:signal/decode.h signal/decode.h:bytes/input.h \
  naming/name.h:platform/platform.h
case_is "includes downwards and of a folder itself" 0 "every include keeps"

tree tape/view.h:signal/decode.h signal/decode.h:tape/view.h
case_is "an include back up" 1 "signal/decode.h:2: signal/ includes tape/"

tree bytes/input.cpp:fileio/file.h
case_is "the bottom includes nothing" 1 "bytes/ may include: nothing"

tree fileio/file.cpp:tests/fake.h
case_is "product code includes no test code" 1 "fileio/ includes tests/"

tree signal/decode_test.cpp:driver/run.h tests/builder.h:driver/run.h \
  fuzz/fuzzer.cpp:tape/view.h
case_is "tests, fuzzers and benchmarks may include anything" 0 \
  "every include keeps"

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed" >&2
  exit 1
fi
echo "every case gave the expected verdict"
