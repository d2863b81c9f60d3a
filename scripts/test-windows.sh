#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program and its tests with mingw-w64,
# warnings as errors, and runs every test under Wine, headless, in a
# throw-away Wine prefix. Installs what is missing (Debian, i386 added).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(cmake ninja-build g++-mingw-w64-i686-posix googletest libz-mingw-w64-dev
  wine wine32:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 ||
    $sudo dpkg --add-architecture i386
  timeout 600 $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive timeout 1800 $sudo apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
fi

# A machine whose kernel cannot run 32-bit x86 programs (no IA32 emulation)
# cannot run the 32-bit build under Wine either: there the 64-bit build is
# tested under 64-bit Wine instead, the same sources and tests.
if /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  build=build/win32 toolchain=cmake/mingw-i686.cmake loader=wine bits=32
else
  echo "this machine cannot run 32-bit programs: testing the 64-bit Windows build under 64-bit Wine"
  bash scripts/deps.sh g++-mingw-w64-x86-64-posix wine64
  build=build/win64 toolchain=cmake/mingw-x86_64.cmake loader=/usr/lib/wine/wine64 bits=64
  export WINELOADER=$loader
fi
cmake -S . -B "$build" -G Ninja -DVETRIK_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo
timeout 1800 cmake --build "$build" -j2

# A fresh prefix, no debug chatter, and no offer to install Mono or Gecko.
WINEPREFIX="$(mktemp -d /tmp/vetrik-wine.XXXXXX)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# The server and the prefix are started here with every stream redirected:
# started by the first test instead, the server would keep ctest's output
# pipe open and ctest would wait for it forever.
timeout 120 wineserver -p </dev/null >/dev/null 2>&1
timeout 600 "$loader" wineboot --init </dev/null >/dev/null 2>&1

(cd "$build" && timeout 1800 ctest --output-on-failure -j2 --timeout 300 </dev/null)
echo "all tests passed under Wine (the ${bits}-bit build)"
