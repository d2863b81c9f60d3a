#!/usr/bin/env bash
# Writes CHANGELOG.md as a Debian changelog, one entry per "## VERSION (DATE)"
# heading, for the changelog.gz of the Debian package. DATE is YYYY-MM-DD,
# with the time of day (HH:MM, UTC) after it when two releases share a day.
# Usage: debian_changelog.sh CHANGELOG.md "NAME <EMAIL>"
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 CHANGELOG.md 'NAME <EMAIL>'" >&2
  exit 2
fi

# Markdown list items become "  * ", their continuation lines and other text
# are indented under them, and blank lines at either end of an entry go.
awk -v maintainer="$2" '
  function close_entry() {
    if (version == "") return
    while (n > 0 && lines[n] == "") n--
    print ""
    for (i = 1; i <= n; i++) print lines[i]
    print ""
    cmd = "date -R -u -d \"" date "\""
    if ((cmd | getline stamp) <= 0) {
      print "bad date \"" date "\" for " version > "/dev/stderr"; failed = 1
    }
    close(cmd)
    print " -- " maintainer "  " stamp
    n = 0; first = 0
  }
  /^## / {
    close_entry()
    if (!match($0, /^## [^ ]+ \([0-9]+-[0-9]+-[0-9]+( [0-9]+:[0-9]+)?\) *$/)) {
      print "heading is not \"## VERSION (YYYY-MM-DD[ HH:MM])\": " $0 > "/dev/stderr"
      failed = 1; version = ""; next
    }
    version = $2; date = substr($0, index($0, "(") + 1)
    sub(/\).*/, "", date)
    if (date ~ / /) date = date " UTC"
    if (entries++) print ""
    print "vetrik (" version ") unstable; urgency=medium"
    next
  }
  version == "" { next }
  /^[-*] / { lines[++n] = "  * " substr($0, 3); next }
  /^ *$/ { if (n > 0) lines[++n] = ""; next }
  { lines[++n] = "  " $0 }
  END {
    close_entry()
    if (entries == 0) { print "no release headings" > "/dev/stderr"; failed = 1 }
    exit failed
  }
' "$1"
