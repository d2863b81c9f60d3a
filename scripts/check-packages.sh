#!/usr/bin/env bash
# Checks the packages in dist/ as a user would meet them: the Debian package
# passes lintian, and unpacked into a scratch root its program extracts the
# sample tape and its manual page renders cleanly; the Windows zip holds just
# the program and two CR LF text files, and its program, run under Wine
# straight from the unpacked zip, extracts the sample tape too. Both ship the
# users' README, which agrees with the page and points to nothing they lack.
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

# --- The install rule, which both packages are made from ---
DESTDIR=$scratch/destdir cmake --install build/release --prefix /usr/local >/dev/null
installed=$(cd "$scratch/destdir" && find . -type f | LC_ALL=C sort)
expected=$'./usr/local/bin/vetrik\n./usr/local/share/doc/vetrik/LICENSE\n'
expected+=$'./usr/local/share/doc/vetrik/README.md\n./usr/local/share/man/man1/vetrik.1'
[ "$installed" = "$expected" ] || fail "cmake --install puts in place:"$'\n'"$installed"
echo "ok: cmake --install puts in place the program, its page, README and LICENSE, under DESTDIR"

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

page=$root/usr/share/man/man1/vetrik.1.gz
MANWIDTH=80 man -l "$page" >"$scratch/page.txt" 2>"$scratch/man.err" || fail "man -l failed"
[ ! -s "$scratch/man.err" ] || fail "man -l warns: $(cat "$scratch/man.err")"
grep -q "^VETRIK(1)" "$scratch/page.txt" && grep -q "^DIAGNOSTICS" "$scratch/page.txt" &&
  grep -q "vetrik $version" "$scratch/page.txt" || fail "the page rendered without its heading, DIAGNOSTICS or version"
zcat "$page" >"$scratch/vetrik.1"
lint=$(mandoc -Tlint "$scratch/vetrik.1" 2>&1 || true)
[ -z "$lint" ] || fail "mandoc -Tlint: $lint"
lint=$(groff -man -ww -z "$scratch/vetrik.1" 2>&1 || true)
[ -z "$lint" ] || fail "groff -man -ww -z: $lint"
echo "ok: man -l renders the page; mandoc -Tlint and groff -ww are silent"

zcat "$root/usr/share/doc/vetrik/changelog.gz" >"$scratch/changelog"
changelog_version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "the newest CHANGELOG.md entry is $changelog_version, the project is $version"
echo "ok: the changelog's newest entry is $version"

# --- The Windows zip ---
[ -f "$zip" ] || fail "$zip is missing"
top=vetrik-${version}-win32
listing=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$listing" = "$top/LICENSE.txt"$'\n'"$top/README.txt"$'\n'"$top/vetrik.exe" ] ||
  fail "the zip holds: $listing"
unzip -q "$zip" -d "$scratch/zip"
for pair in "README.txt:$user_readme" LICENSE.txt:LICENSE; do
  text=$scratch/zip/$top/${pair%%:*}
  [ "$(grep -c $'\r$' "$text")" -eq "$(wc -l <"$text")" ] || fail "${pair%%:*} has a line end without CR"
  tr -d '\r' <"$text" | cmp -s - "${pair#*:}" || fail "${pair%%:*} is not ${pair#*:}"
done
echo "ok: the zip holds vetrik.exe, README.txt (the users' README) and LICENSE.txt, the texts with CR LF"

exe=$scratch/zip/$top/vetrik.exe
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
for dll in $dlls; do
  case $dll in
    kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll | ntdll.dll) ;;
    *) fail "vetrik.exe needs $dll, which Windows does not have" ;;
  esac
done
echo "ok: vetrik.exe needs only $(echo $dlls)"

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
echo "all package checks passed"
