#!/usr/bin/env bash
# Builds the Debian package of Tessarn in build-deb/: the programs, the library and the plug-in
# under /usr, the configuration in /etc/xdg/tessarn. Its path is the last line of the output.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DTESSARN_WERROR="${TESSARN_WERROR:-OFF}" >/dev/null
cmake --build build-deb -j "${TESSARN_JOBS:-2}"
rm -f build-deb/tessarn_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
ls "$PWD"/build-deb/tessarn_*.deb
