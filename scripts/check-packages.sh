#!/usr/bin/env bash
# Checks the packages in dist/ as a user would meet them: the Debian package
# passes lintian, and unpacked into a scratch root its vetrik extracts the
# sample tape, its vetrik-batch a small tree of the sample tapes, and both
# manual pages render cleanly; the Windows zip holds just the two programs
# and two CR LF text files, and its programs, run under Wine straight from
# the unpacked zip, do the same. Both ship the users' README, which agrees
# with the vetrik page and points to nothing they lack.
# Usage: scripts/check-packages.sh VERSION   (the packages' version)
set -euo pipefail
cd "$(dirname "$0")/.."

version=${1:?usage: $0 VERSION}
repo=$PWD
deb=dist/vetrik_${version}_$(dpkg --print-architecture).deb
zip=dist/vetrik-${version}-win32.zip
scratch=$(mktemp -d /tmp/vetrik-check.XXXXXX)
wine_prefix=""
cleanup() {
  if [ -n "$wine_prefix" ]; then
    WINEPREFIX=$wine_prefix timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The console text and files of a run on the sample tape.
SAMPLE_OUTPUT=$'Extracting hello     .B\r\nExtracting screen    .C\r\n'
SAMPLE_OUTPUT+=$'Extracting a_b_c     .1\r\nExtracting hello     (1).B\r\ndone!'

# check_extracts_sample WHAT DIR COMMAND...: runs COMMAND in the empty
# directory DIR and checks its exit status, its exact console text and the
# bytes of every file it leaves there.
check_extracts_sample() {
  local what=$1 dir=$2 status=0 out
  shift 2
  mkdir "$dir"
  out=$(cd "$dir" && "$@" </dev/null 2>"$scratch/stderr"; echo "[$?]") || status=$?
  [ "$status" -eq 0 ] || fail "$what: could not be run"
  [ "$out" = "$SAMPLE_OUTPUT[0]" ] ||
    fail "$what: console text and exit status differ:"$'\n'"$(printf '%s' "$out" | od -c | head -20)"
  [ "$(find "$dir" -mindepth 1 | wc -l)" -eq "$(wc -l <samples/sample.sha256)" ] ||
    fail "$what: left other files than the sample's: $(ls -A "$dir")"
  (cd "$dir" && sha256sum --quiet --strict -c "$repo/samples/sample.sha256") ||
    fail "$what: extracted files differ from the sample's"
  echo "ok: $what extracts the sample tape"
}

# check_batch WHAT DIR COMMAND...: makes in the new directory DIR a tree of
# the three sample tapes (one of them in a folder below, one named in capitals),
# runs COMMAND -o out tree there and checks its exit status, its summary,
# report.jsonl and every image's folder: the console text of vetrik, the
# files matching the sample's, the record written. Then runs it again, which
# must skip all three.
check_batch() {
  local what=$1 dir=$2 status=0 folder line
  shift 2
  mkdir -p "$dir/tree/sub"
  cp samples/sample.tap "$dir/tree/sample.tap"
  cp samples/sample.tzx "$dir/tree/sub/SAMPLE.TZX"
  cp samples/sample.csw "$dir/tree/sample.csw"
  echo "not a tape" >"$dir/tree/notes.txt"
  (cd "$dir" && "$@" -j 2 -o out tree </dev/null >"$scratch/batch.out" 2>"$scratch/batch.err") ||
    status=$?
  [ "$status" -eq 0 ] || fail "$what: exit status $status: $(cat "$scratch/batch.err")"
  [ ! -s "$scratch/batch.out" ] || fail "$what: printed on standard output: $(cat "$scratch/batch.out")"
  tr -d '\r' <"$scratch/batch.err" | grep -qx "vetrik-batch: 3 images: 3 ok, 0 with a problem, 0 unreadable" ||
    fail "$what: no summary of 3 images ok: $(cat "$scratch/batch.err")"
  [ "$(wc -l <"$dir/out/report.jsonl")" -eq 3 ] || fail "$what: report.jsonl is not 3 lines"
  for folder in sample.tap sub/SAMPLE.TZX sample.csw; do
    line=$(grep -F "\"folder\":\"out/$folder\"" "$dir/out/report.jsonl") ||
      fail "$what: no line in report.jsonl for out/$folder"
    [[ $line == *'"outcome":"ok"'* && $line == *'"skipped":false'* ]] ||
      fail "$what: out/$folder is not recorded as ok: $line"
    [ "$(cat "$dir/out/$folder/.vetrik-done.json")" = "$line" ] ||
      fail "$what: out/$folder/.vetrik-done.json is not its line of report.jsonl"
    [ "$(cat "$dir/out/$folder/.vetrik-report.txt")" = "$SAMPLE_OUTPUT" ] ||
      fail "$what: out/$folder/.vetrik-report.txt is not the console text of vetrik"
    [ "$(find "$dir/out/$folder" -mindepth 1 ! -name '.vetrik-*' | wc -l)" -eq \
      "$(wc -l <samples/sample.sha256)" ] || fail "$what: out/$folder holds other files than the sample's"
    (cd "$dir/out/$folder" && sha256sum --quiet --strict -c "$repo/samples/sample.sha256") ||
      fail "$what: the files in out/$folder differ from the sample's"
  done
  [ ! -e "$dir/out/notes.txt" ] || fail "$what: took notes.txt for an image"
  status=0
  (cd "$dir" && "$@" -o out tree </dev/null >/dev/null 2>"$scratch/batch.err") || status=$?
  [ "$status" -eq 0 ] || fail "$what: the rerun's exit status is $status"
  [ "$(grep -c '"skipped":true' "$dir/out/report.jsonl")" -eq 3 ] ||
    fail "$what: the rerun did not skip the three images done"
  echo "ok: $what extracts a tree of the sample tapes, and skips them on a rerun"
}

# check_page WHAT PAGE.gz NAME: the packaged page renders with man -l,
# without a warning, under its heading and with the version; mandoc -Tlint
# and groff -ww print nothing on it.
check_page() {
  local what=$1 page=$2 name=$3 lint
  MANWIDTH=80 man -l "$page" >"$scratch/page.txt" 2>"$scratch/man.err" || fail "man -l $what failed"
  [ ! -s "$scratch/man.err" ] || fail "man -l $what warns: $(cat "$scratch/man.err")"
  grep -q "^$name(1)" "$scratch/page.txt" && grep -q "^EXIT STATUS" "$scratch/page.txt" &&
    grep -q "vetrik $version" "$scratch/page.txt" ||
    fail "$what rendered without its heading, EXIT STATUS or version"
  zcat "$page" >"$scratch/page.1"
  lint=$(mandoc -Tlint "$scratch/page.1" 2>&1 || true)
  [ -z "$lint" ] || fail "mandoc -Tlint on $what: $lint"
  lint=$(groff -man -ww -z "$scratch/page.1" 2>&1 || true)
  [ -z "$lint" ] || fail "groff -man -ww -z on $what: $lint"
  echo "ok: man -l renders $what; mandoc -Tlint and groff -ww are silent"
}

# --- The install rule, which both packages are made from ---
DESTDIR=$scratch/destdir cmake --install build/release --prefix /usr/local >/dev/null
installed=$(cd "$scratch/destdir" && find . -type f | LC_ALL=C sort)
expected=$'./usr/local/bin/vetrik\n./usr/local/bin/vetrik-batch\n'
expected+=$'./usr/local/share/doc/vetrik/LICENSE\n./usr/local/share/doc/vetrik/README.md\n'
expected+=$'./usr/local/share/man/man1/vetrik-batch.1\n./usr/local/share/man/man1/vetrik.1'
[ "$installed" = "$expected" ] || fail "cmake --install puts in place:"$'\n'"$installed"
echo "ok: cmake --install puts in place both programs, their pages, README and LICENSE, under DESTDIR"

# The users' README: README.md without its sections for those with the
# sources; it must still list what the page lists, and name no file, script
# or command that only the sources have.
user_readme=$scratch/README.user.md
bash packaging/user_readme.sh README.md >"$user_readme"
cmp -s "$scratch/destdir/usr/local/share/doc/vetrik/README.md" "$user_readme" ||
  fail "the installed README is not the users' part of README.md"
bash tests/manual_matches_readme.sh "$user_readme" \
  "$scratch/destdir/usr/local/share/man/man1/vetrik.1" >/dev/null ||
  fail "the users' README and the page disagree"
if grep -nE 'scripts/|bench/|sudo|HACKING|CMakeLists|sources only' "$user_readme"; then
  fail "the users' README points to what the packages do not hold (lines above)"
fi
echo "ok: the installed README is the users' part of README.md, and agrees with the page"

# --- The Debian package ---
[ -f "$deb" ] || fail "$deb is missing"
status=0
lintian --fail-on error,warning "$deb" >"$scratch/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$scratch/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings"
echo "ok: lintian reports no error and no warning"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section is not utils"
[[ "$(dpkg-deb -f "$deb" Depends)" == *libc6* ]] || fail "no dependencies computed"

root=$scratch/root
dpkg -x "$deb" "$root"
cmp -s "$root/usr/share/doc/vetrik/README.md" "$user_readme" ||
  fail "the package's README is not the users' part of README.md"
check_extracts_sample "the packaged vetrik" "$scratch/deb-out" "$root/usr/bin/vetrik" \
  "$PWD/samples/sample.tap"

[ "$("$root/usr/bin/vetrik-batch" --version)" = "vetrik-batch $version" ] ||
  fail "the packaged vetrik-batch --version does not print vetrik-batch $version"
check_batch "the packaged vetrik-batch" "$scratch/deb-batch" "$root/usr/bin/vetrik-batch"

check_page "the vetrik page" "$root/usr/share/man/man1/vetrik.1.gz" VETRIK
grep -q "^DIAGNOSTICS" "$scratch/page.txt" || fail "the vetrik page rendered without DIAGNOSTICS"
check_page "the vetrik-batch page" "$root/usr/share/man/man1/vetrik-batch.1.gz" VETRIK-BATCH

zcat "$root/usr/share/doc/vetrik/changelog.gz" >"$scratch/changelog"
changelog_version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "the newest CHANGELOG.md entry is $changelog_version, the project is $version"
echo "ok: the changelog's newest entry is $version"

# --- The Windows zip ---
[ -f "$zip" ] || fail "$zip is missing"
top=vetrik-${version}-win32
listing=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$listing" = "$top/LICENSE.txt"$'\n'"$top/README.txt"$'\n'"$top/vetrik-batch.exe"$'\n'"$top/vetrik.exe" ] ||
  fail "the zip holds: $listing"
unzip -q "$zip" -d "$scratch/zip"
for pair in "README.txt:$user_readme" LICENSE.txt:LICENSE; do
  text=$scratch/zip/$top/${pair%%:*}
  [ "$(grep -c $'\r$' "$text")" -eq "$(wc -l <"$text")" ] || fail "${pair%%:*} has a line end without CR"
  tr -d '\r' <"$text" | cmp -s - "${pair#*:}" || fail "${pair%%:*} is not ${pair#*:}"
done
echo "ok: the zip holds vetrik.exe, vetrik-batch.exe, README.txt (the users' README) and LICENSE.txt, the texts with CR LF"

exe=$scratch/zip/$top/vetrik.exe
batch_exe=$scratch/zip/$top/vetrik-batch.exe
for program in "$exe" "$batch_exe"; do
  dlls=$(i686-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  for dll in $dlls; do
    case $dll in
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll | ntdll.dll) ;;
      *) fail "${program##*/} needs $dll, which Windows does not have" ;;
    esac
  done
  echo "ok: ${program##*/} needs only $(echo $dlls)"
done

# The zip's programs are 32-bit: a machine whose kernel cannot run 32-bit
# programs cannot run them under Wine either (scripts/test-windows.sh then
# tests the 64-bit build of the same sources), so there they are not run.
if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo "not run: the zip's programs under Wine (this machine cannot run 32-bit programs)"
  echo "all package checks passed that this machine can make"
  exit 0
fi

# A fresh prefix, no debug chatter, no offer to install Mono or Gecko; the
# server is started with its streams elsewhere so that it holds no pipe of ours.
wine_prefix=$scratch/wine
mkdir "$wine_prefix"
export WINEPREFIX=$wine_prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 120 wineserver -p </dev/null >/dev/null 2>&1
timeout 600 wineboot --init </dev/null >/dev/null 2>&1
cp samples/sample.tap "$scratch/sample.tap"
check_extracts_sample "vetrik.exe from the zip, under Wine" "$scratch/wine-out" \
  timeout 300 wine "$exe" ../sample.tap
[ "$(timeout 300 wine "$batch_exe" --version </dev/null | tr -d '\r')" = "vetrik-batch $version" ] ||
  fail "vetrik-batch.exe --version does not print vetrik-batch $version"
check_batch "vetrik-batch.exe from the zip, under Wine" "$scratch/wine-batch" \
  timeout 300 wine "$batch_exe"
echo "all package checks passed"
