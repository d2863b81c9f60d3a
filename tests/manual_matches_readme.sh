#!/usr/bin/env bash
# Checks that the README and the manual page list the same messages.
# Usage: manual_matches_readme.sh README PAGE
#
# In the README, a message is each code span in the first column of the first
# table under the "Messages" heading, placeholders in capitals (`cannot read PATH`).
# In the page, a message is each .TP tag in DIAGNOSTICS, placeholders in
# italics (.BI "cannot read " path); italic text counts as capitals. The two
# sets must be equal and not empty; exit 1 lists what only one side has.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 README PAGE" >&2
  exit 2
fi

readme_messages() {
  awk '
    /^#+ / { inside = ($0 ~ /^#+ Messages *$/); row = 0; next }
    !inside { next }
    !/^\|/ { if (row > 0) inside = 0; next }  # the first table only
    {
      row++
      if (row == 1 || $0 ~ /^\|[-|: ]+\|? *$/) next  # column names, rule
      cell = substr($0, 2)
      cell = substr(cell, 1, index(cell, "|") - 1)
      while (match(cell, /`[^`]*`/)) {
        print substr(cell, RSTART + 1, RLENGTH - 2)
        cell = substr(cell, RSTART + RLENGTH)
      }
    }
  ' "$1"
}

page_messages() {
  awk '
    function unescape(s) {
      gsub(/\\-/, "-", s); gsub(/\\&/, "", s); gsub(/\\\(dq/, "\"", s)
      gsub(/\\\(aq/, "\047", s); gsub(/\\ /, " ", s); gsub(/\\e/, "\\", s)
      return s
    }
    # Text with inline font changes; italic runs become capitals.
    function inline_fonts(s, font,   out, piece) {
      out = ""
      while (match(s, /\\f[BIRP]/)) {
        piece = unescape(substr(s, 1, RSTART - 1))
        out = out (font == "I" ? toupper(piece) : piece)
        font = substr(s, RSTART + 2, 1)
        s = substr(s, RSTART + RLENGTH)
      }
      piece = unescape(s)
      return out (font == "I" ? toupper(piece) : piece)
    }
    # Splits the arguments of a macro line into args[1..n], as roff does:
    # by blanks, except inside double quotes, where "" is one quote.
    function split_args(s, args,   n, c, arg, quoted, i) {
      n = 0; arg = ""; quoted = 0; i = 1
      while (i <= length(s)) {
        c = substr(s, i, 1)
        if (quoted && c == "\"" && substr(s, i + 1, 1) == "\"") {
          arg = arg "\""; i += 2; continue
        }
        if (c == "\"" && (quoted || arg == "")) {
          if (quoted) { args[++n] = arg; arg = "" }
          quoted = !quoted
        } else if (!quoted && (c == " " || c == "\t")) {
          if (arg != "") { args[++n] = arg; arg = "" }
        } else {
          arg = arg c
        }
        i++
      }
      if (arg != "" || quoted) args[++n] = arg
      return n
    }
    # One tag line as printed: .B and .I join their arguments with spaces,
    # .BI, .IR and the like alternate two fonts and join without.
    function tag_text(line,   macro, rest, n, args, i, font, out) {
      if (line !~ /^\./) return inline_fonts(line, "R")
      macro = line; sub(/[ \t].*/, "", macro); macro = substr(macro, 2)
      rest = line; sub(/^\.[A-Za-z]+[ \t]*/, "", rest)
      n = split_args(rest, args)
      out = ""
      for (i = 1; i <= n; i++) {
        if (length(macro) == 1) {
          out = out (i > 1 ? " " : "") inline_fonts(args[i], macro)
        } else {
          font = substr(macro, (i - 1) % 2 + 1, 1)
          out = out inline_fonts(args[i], font)
        }
      }
      return out
    }
    /^\.SH/ { inside = ($0 ~ /^\.SH +"?DIAGNOSTICS"? *$/); next }
    !inside || /^\.\\"/ { next }
    tag { print tag_text($0); tag = 0; next }
    /^\.TP/ { tag = 1 }
  ' "$1"
}

readme=$(readme_messages "$1" | LC_ALL=C sort -u)
page=$(page_messages "$2" | LC_ALL=C sort -u)

status=0
if [ -z "$readme" ]; then
  echo "$1: no messages table found" >&2
  status=1
fi
if [ -z "$page" ]; then
  echo "$2: no DIAGNOSTICS items found" >&2
  status=1
fi
report_only_in() {
  local where=$1 messages=$2
  [ -n "$messages" ] || return 0
  while IFS= read -r m; do
    echo "only in $where: \"$m\"" >&2
  done <<<"$messages"
  status=1
}
report_only_in "$1" "$(LC_ALL=C comm -23 <(echo "$readme") <(echo "$page"))"
report_only_in "$2" "$(LC_ALL=C comm -13 <(echo "$readme") <(echo "$page"))"
if [ $status -eq 0 ]; then
  echo "$(echo "$readme" | wc -l) messages, the same in both"
fi
exit $status
