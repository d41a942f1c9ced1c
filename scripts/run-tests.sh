#!/bin/sh
# Sets everything up on a fresh Debian 12 machine and runs every test:
# the native build under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Windows build under Wine, a short run of each fuzz target, and a
# build of the benchmarks. Exits non-zero on any failure.
set -e
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh

step() { printf '\n=== %s\n' "$*"; }

step "native tests (sanitizers)"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan

step "Windows tests (Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

step "fuzz targets (short runs)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz --no-tests=ignore

step "benchmarks (build only)"
cmake --preset bench >/dev/null
cmake --build --preset bench

step "all tests passed"
