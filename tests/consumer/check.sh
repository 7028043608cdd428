#!/usr/bin/env bash
# Builds the program of another project against an installed libtessarn twice, once finding it
# as a CMake package and once with pkg-config, and runs both.
#
#   tests/consumer/check.sh         the system's installation (the Debian package)
#   tests/consumer/check.sh STAGE   an installation under STAGE (DESTDIR=STAGE cmake --install)
set -euo pipefail
source=$(cd "$(dirname "$0")" && pwd)
stage=${1:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarn-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake_hints=()
if [ -n "$stage" ]; then
    stage=$(realpath "$stage")
    config=$(find "$stage" -name TessarnConfig.cmake -print -quit)
    pc=$(find "$stage" -name tessarn.pc -print -quit)
    if [ -z "$config" ] || [ -z "$pc" ]; then
        echo "no TessarnConfig.cmake or tessarn.pc under $stage" >&2
        exit 1
    fi
    cmake_hints=(-DTessarn_DIR="$(dirname "$config")")
    export PKG_CONFIG_PATH=$(dirname "$pc") PKG_CONFIG_SYSROOT_DIR=$stage
fi

echo "With find_package(Tessarn):"
cmake -S "$source" -B "$work/cmake" "${cmake_hints[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/reads_a_record" "$work/by-cmake"

echo "With pkg-config tessarn $(pkg-config --modversion tessarn):"
# shellcheck disable=SC2046 # the flags are words
g++ -std=c++17 -o "$work/by-pkg-config" "$source/reads_a_record.cpp" \
    $(pkg-config --cflags --libs tessarn)
# pkg-config puts the stage before every path it prints, libdir too.
LD_LIBRARY_PATH=$(pkg-config --variable=libdir tessarn) \
    "$work/by-pkg-config" "$work/by-pkg-config.placeholder"
