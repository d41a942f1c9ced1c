#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs every test:
# the native build under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Windows build under Wine, a short run of each fuzz target, and a
# build of the benchmarks. Exits non-zero on any failure.
set -eo pipefail
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
step() { printf '\n=== %s\n' "$*"; }
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_ctest() { ctest --preset "$@" 2>&1 | tee -a "$log"; }

step "native tests (sanitizers)"
build native-asan
run_ctest native-asan

step "Windows tests (Wine)"
build windows
run_ctest windows

step "fuzz targets (short runs)"
build fuzz
run_ctest fuzz --no-tests=ignore

step "benchmarks (build only)"
build bench

step "summary"
# ctest closes each run with "N% tests passed, F tests failed out of T".
awk '/tests passed, [0-9]+ tests? failed out of/ { f += $4; t += $NF }
     END { printf "%d passed, %d failed\n", t - f, f }' "$log"
