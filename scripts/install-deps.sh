#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo of Tessarn need, or the
# packages named as arguments instead; only those missing.
set -euo pipefail

packages=(build-essential cmake pkg-config g++ clang libclang-rt-14-dev libfuse3-dev fuse3
          nlohmann-json3-dev libfmt-dev libgtest-dev libgmock-dev libsqlite3-dev qt6-base-dev bindfs attr
          procps man-db groff-base dpkg-dev file python3)
[ $# -eq 0 ] || packages=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
