#!/usr/bin/env bash
# Builds Tessarn (see build.sh; --sanitize is passed on) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh "$@"
build=build
[ "${1:-}" = --sanitize ] && build=build-asan
ctest --test-dir "$build" --output-on-failure --timeout 600
