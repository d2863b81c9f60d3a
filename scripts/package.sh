#!/usr/bin/env bash
# Builds the release packages into dist/: vetrik_VERSION_ARCH.deb from the
# Linux build and vetrik-VERSION-win32.zip from the 32-bit mingw-w64 build,
# with a SHA256SUMS file, then checks them (scripts/check-packages.sh).
# The build directories are the ones scripts/test.sh uses, with the same
# options, so after the tests nothing is built again and the programs packed
# are the ones that were tested. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh dpkg-dev file gzip lintian mandoc groff-base man-db zip unzip \
  g++-mingw-w64-i686-posix googletest wine wine32:i386

# pack DIR GENERATOR PACKAGE CMAKE_OPTIONS...: configures and builds DIR,
# packs it with CPack and copies PACKAGE (a name CPack makes) to dist/.
pack() {
  local dir=$1 generator=$2 package=$3
  shift 3
  cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DVETRIK_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  timeout 1800 cmake --build "$dir" -j2
  rm -f "$dir/$package"
  if ! (cd "$dir" && cpack -G "$generator" >cpack.log 2>&1); then
    cat "$dir/cpack.log" >&2
    exit 1
  fi
  cp "$dir/$package" dist/
}

version=$(sed -n 's/^project(vetrik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
rm -rf dist
mkdir dist
pack build/release DEB "vetrik_${version}_$(dpkg --print-architecture).deb"
pack build/win32 ZIP "vetrik-${version}-win32.zip" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
(cd dist && sha256sum -- * >SHA256SUMS)

bash scripts/check-packages.sh "$version"
echo "packages in dist/:"
ls -l dist
