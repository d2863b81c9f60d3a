#!/usr/bin/env bash
# Installs what building and testing vetrik needs, when it is missing, and
# any further Debian packages named as arguments (NAME:i386 adds the i386
# architecture first). Waits for a dpkg lock that another install holds.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev zlib1g-dev nlohmann-json3-dev libcli11-dev
  librsvg2-bin "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
if [[ " ${missing[*]}" == *:i386* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
apt=(apt-get -o DPkg::Lock::Timeout=900)
$sudo "${apt[@]}" update -q
DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y -q \
  --no-install-recommends "${missing[@]}"
