#!/usr/bin/env bash
# Builds Tessarn into build/, or with --sanitize into build-asan/ with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and the fuzz target. TESSARN_WERROR=ON in the
# environment makes every warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."

options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARN_WERROR="${TESSARN_WERROR:-OFF}")
build=build
if [ "${1:-}" = --sanitize ]; then
    build=build-asan
    options+=(-DCMAKE_CXX_COMPILER=clang++ -DTESSARN_SANITIZE=ON -DTESSARN_FUZZ=ON)
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--sanitize]" >&2
    exit 2
fi

scripts/install-deps.sh
cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j "${TESSARN_JOBS:-2}"
