#!/usr/bin/env bash
# Installs what building and testing vetrik needs, when it is missing, and
# any further Debian packages named as arguments.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev zlib1g-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
