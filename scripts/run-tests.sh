#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs every test:
# the native build under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Windows build under Wine (the release bundle's check among them), a
# short run of each fuzz target, a build of the benchmarks, and programs
# built on the installed library three ways. Exits non-zero on any
# failure, after running everything else.
set -eo pipefail
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
step() { printf '\n=== %s\n' "$*"; }
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_ctest() { ctest --preset "$@" 2>&1 | tee -a "$log"; }
status=0

step "native tests (sanitizers)"
build native-asan
run_ctest native-asan || status=1

step "Windows tests (Wine)"
build windows
run_ctest windows || status=1

step "fuzz targets (short runs)"
build fuzz
run_ctest fuzz --no-tests=ignore || status=1

step "benchmarks (build only)"
build bench

step "library consumers (installed package, pkg-config, source tree)"
# The native install comes from the benchmarks' plain Release build.
bash scripts/check-consumers.sh native 2>&1 | tee -a "$log" || status=1
bash scripts/check-consumers.sh windows 2>&1 | tee -a "$log" || status=1

step "summary"
# ctest closes each run with "N% tests passed, F tests failed out of T";
# the consumer builds print "check NAME: passed" or "check NAME: FAILED".
awk '/tests passed, [0-9]+ tests? failed out of/ { f += $4; t += $NF }
     /^check .*: passed$/ { t++ }
     /^check .*: FAILED/ { t++; f++ }
     END { printf "%d passed, %d failed\n", t - f, f }' "$log"
exit $status
