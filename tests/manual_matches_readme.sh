#!/usr/bin/env bash
# Checks that the README and the manual page agree on what both list: the
# messages, the exit statuses and the image formats.
# Usage: manual_matches_readme.sh README PAGE
#
# In the README, a message is each code span in the first column of the first
# table under the "Messages" heading, placeholders in capitals (`cannot read PATH`);
# an exit status or a format is the bold text that opens a list item under the
# "Exit status" or "Formats" heading (`- **0**: ...`, `- **TAP**: ...`).
# In the page, a message is each .TP tag in DIAGNOSTICS, placeholders in
# italics (.BI "cannot read " path); italic text counts as capitals. An exit
# status is each .TP tag in EXIT STATUS, a format each .TP tag under
# ".SS Formats". Each pair of sets must be equal and not empty; exit 1 lists
# what only one side has.
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

# The bold text opening each list item under the heading $2.
readme_leads() {
  awk -v heading="$2" '
    /^#+ / {
      title = $0; sub(/^#+ +/, "", title); sub(/ +$/, "", title)
      inside = (title == heading); next
    }
    inside && match($0, /^[-*] \*\*[^*]+\*\*/) {
      print substr($0, RSTART + 4, RLENGTH - 6)
    }
  ' "$1"
}

# The .TP tags of the page's section $2, a .SH section or, with $3 = SS, a
# .SS subsection.
page_tags() {
  awk -v section="$2" -v level="${3:-SH}" '
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
    /^\.S[HS]/ {
      macro = substr($0, 2, 2)
      if (macro != "SH" && macro != level) next
      title = $0; sub(/^\.S[HS] +/, "", title); gsub(/"/, "", title); sub(/ +$/, "", title)
      inside = (macro == level && title == section); next
    }
    !inside || /^\.\\"/ { next }
    tag { print tag_text($0); tag = 0; next }
    /^\.TP/ { tag = 1 }
  ' "$1"
}

status=0
# compare WHAT README_SET PAGE_SET README_EMPTY PAGE_EMPTY: reports what only
# one side has (WHAT put before each, when not empty) and an empty side.
compare() {
  local what=$1 readme=$2 page=$3
  if [ -z "$readme" ]; then
    echo "$4" >&2
    status=1
  fi
  if [ -z "$page" ]; then
    echo "$5" >&2
    status=1
  fi
  report_only_in "$readme_file" "$what" "$(LC_ALL=C comm -23 <(echo "$readme") <(echo "$page"))"
  report_only_in "$page_file" "$what" "$(LC_ALL=C comm -13 <(echo "$readme") <(echo "$page"))"
}
report_only_in() {
  local where=$1 what=$2 items=$3
  [ -n "$items" ] || return 0
  while IFS= read -r m; do
    [ -n "$m" ] || continue
    echo "only in $where: $what\"$m\"" >&2
  done <<<"$items"
  status=1
}

readme_file=$1
page_file=$2
messages=$(readme_messages "$1" | LC_ALL=C sort -u)
statuses=$(readme_leads "$1" "Exit status" | LC_ALL=C sort -u)
formats=$(readme_leads "$1" "Formats" | LC_ALL=C sort -u)
compare "" "$messages" "$(page_tags "$2" DIAGNOSTICS | LC_ALL=C sort -u)" \
  "$1: no messages table found" "$2: no DIAGNOSTICS items found"
compare "exit status " "$statuses" "$(page_tags "$2" "EXIT STATUS" | LC_ALL=C sort -u)" \
  "$1: no exit status list found" "$2: no EXIT STATUS items found"
compare "format " "$formats" "$(page_tags "$2" Formats SS | LC_ALL=C sort -u)" \
  "$1: no formats list found" "$2: no Formats items found"
if [ $status -eq 0 ]; then
  echo "$(echo "$messages" | wc -l) messages, the same in both"
  echo "exit statuses" $statuses", the same in both"
  echo "formats" $formats", the same in both"
fi
exit $status
