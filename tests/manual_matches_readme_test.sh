#!/usr/bin/env bash
# Runs manual_matches_readme.sh on small README and page pairs and checks its
# verdict: the exit status and the message it names. Unless a case says
# otherwise, both sides list exit statuses 0 and 1 and the formats TAP and WAV.
set -euo pipefail

checker="$(dirname "$0")/manual_matches_readme.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The README's lists of exit statuses and formats, and the page's.
readme_statuses='- **0**: all went well.\n- **1** when not.\n'
readme_formats='- **TAP**: blocks.\n- **WAV**: sound.\n'
page_statuses='.TP\n.B 0\nAll went well.\n.TP\n.B 1\nNot.\n'
page_formats='.TP\n.B TAP\nBlocks.\n.TP\n.B WAV\nSound.\n'

readme_with() { # table rows...
  printf '# tool\n\n- **CSW**: not a format, under no heading\n\n### Messages\n\n'
  printf '| Output | When |\n|---|---|\n'
  printf '%s\n' "$@"
  printf '\nExit status: 0.\n\n| `not a message` | a later table |\n|---|---|\n'
  printf '| `nor this` | x |\n\n## Next\n\n| A | B |\n|---|---|\n| `no message` | x |\n'
  printf '\n## Formats\n\n'"$readme_formats"'\n## Exit status\n\n'"$readme_statuses"
  printf '\n## Install\n\n- **2** and **PZX** are neither statuses nor formats here\n'
}

page_with() { # DIAGNOSTICS lines...
  printf '.TH T 1\n.SH DESCRIPTION\n.SS Formats\n'"$page_formats"
  printf '.SS Recordings\n.TP\n.B PZX\nNot a format here.\n.SH DIAGNOSTICS\n'
  printf '%s\n' "$@"
  printf '.SH EXIT STATUS\n'"$page_statuses"'.SH EXAMPLES\n.TP\n.B 2\nNo status.\n'
}

failures=0
# case NAME EXPECTED_STATUS EXPECTED_TEXT: runs the checker on the files
# written for the case; EXPECTED_TEXT must appear in its output.
case_is() {
  local name=$1 want_status=$2 want_text=$3 status=0 out
  out=$(bash "$checker" "$scratch/README.md" "$scratch/page.1" 2>&1) || status=$?
  if [ "$status" -ne "$want_status" ] || [[ "$out" != *"$want_text"* ]]; then
    echo "FAIL $name: exit $status (want $want_status), output:" >&2
    echo "$out" >&2
    failures=$((failures + 1))
  fi
}

readme_with '| `cannot read PATH` | x |' '| `Write Error NAME.EXT` + CR LF | x |' \
  '| `a "quoted" \ name` | x |' '| `done!` | x |' >"$scratch/README.md"
page_with '.TP' '.BI "cannot read " path' 'Text.' '.TP' '\fBWrite Error \fIname.ext\fR' \
  '.TP' '.B "a \(dqquoted\(dq \e name"' '.TP' '.B done!' >"$scratch/page.1"
case_is "placeholders, fonts and escapes agree" 0 "4 messages, the same in both"
case_is "exit statuses listed alike agree" 0 "exit statuses 0 1, the same in both"
case_is "formats listed alike agree, items elsewhere do not count" 0 \
  "formats TAP WAV, the same in both"

page_with '.TP' '.BI "cannot read " path' '.TP' '.BI "Write Error " name.ext' \
  '.TP' '.B done!' >"$scratch/page.1"
case_is "a message missing from the page" 1 'only in '"$scratch"'/README.md: "a "quoted" \ name"'

readme_with '| `Not a header` | x |' >"$scratch/README.md"
page_with '.TP' '.B "not a header"' >"$scratch/page.1"
case_is "messages differing in case are different" 1 'only in '"$scratch"'/page.1: "not a header"'

readme_with '| `truncated block 0xNN`, `truncated block TAG` | x |' >"$scratch/README.md"
page_with '.TP' '.BI "truncated block 0x" NN' >"$scratch/page.1"
case_is "every code span of the first column is a message" 1 \
  'only in '"$scratch"'/README.md: "truncated block TAG"'

printf '# tool\n\nNo table here.\n' >"$scratch/README.md"
case_is "no messages table" 1 "no messages table found"

readme_with '| `done!` | x |' >"$scratch/README.md"
printf '.TH T 1\n.SH DESCRIPTION\n.TP\n.B done!\n' >"$scratch/page.1"
case_is "tags outside DIAGNOSTICS do not count" 1 "no DIAGNOSTICS items found"

readme_with '| `done!` | x |' >"$scratch/README.md"
page_statuses='.TP\n.B 0\nAll went well.\n.TP\n.B 1\nNot.\n.TP\n.B 2\nNo image.\n'
page_with '.TP' '.B done!' >"$scratch/page.1"
case_is "an exit status missing from the README" 1 \
  'only in '"$scratch"'/page.1: exit status "2"'

readme_formats='- **TAP**: blocks.\n- **WAV**: sound.\n- **CSW**: pulses.\n'
readme_with '| `done!` | x |' >"$scratch/README.md"
case_is "a format missing from the page" 1 'only in '"$scratch"'/README.md: format "CSW"'

printf '# tool\n\n## Messages\n\n| A | B |\n|---|---|\n| `done!` | x |\n' >"$scratch/README.md"
case_is "no exit status list" 1 "no exit status list found"
case_is "no formats list" 1 "no formats list found"

readme_with '| `done!` | x |' >"$scratch/README.md"
printf '.TH T 1\n.SH DIAGNOSTICS\n.TP\n.B done!\n.SH EXIT STATUS\n.PP\nAlways 0.\n' >"$scratch/page.1"
case_is "no EXIT STATUS items" 1 "no EXIT STATUS items found"
case_is "no Formats subsection" 1 "no Formats items found"

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed" >&2
  exit 1
fi
echo "every case gave the expected verdict"
