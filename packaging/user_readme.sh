#!/usr/bin/env bash
# Writes the README that the packages ship: README.md without the sections
# meant for those who have the sources (building, set-up, where the code is
# described). Such a section's heading ends in "<!-- sources only -->"; it
# runs to the next heading of its level or above.
# Usage: user_readme.sh README.md >README.user.md
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 README.md" >&2
  exit 2
fi

awk '
  /^ *(```|~~~)/ { fenced = !fenced }
  !fenced && /^#+ / {
    level = match($0, /[^#]/) - 1
    if (cut && level <= cut) cut = 0
    if (!cut && index($0, "<!-- sources only -->")) { cut = level; next }
  }
  cut { next }
  !fenced && index($0, "sources only -->") {
    print FILENAME ":" FNR ": the sources-only mark belongs at the end of a heading" > "/dev/stderr"
    failed = 1
  }
  { lines[++n] = $0 }
  END {
    while (n > 0 && lines[n] == "") n--
    if (n == 0) { print FILENAME ": nothing is left" > "/dev/stderr"; failed = 1 }
    if (failed) exit 1
    for (i = 1; i <= n; i++) print lines[i]
  }
' "$1"
