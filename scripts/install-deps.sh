#!/bin/sh
# Installs the Debian packages the builds, tests, fuzzers and benchmarks
# need, skipping the ones already there. Recommended packages are left
# out, so what Wine only recommends (fonts-wine, its Marlett that draws
# the caption buttons) is named here.
set -e
packages="cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
  libbenchmark-dev liblz4-dev zlib1g-dev nettle-dev mingw-w64 libz-mingw-w64-dev
  wine wine64 fonts-wine xvfb x11-utils fonts-ipafont-gothic imagemagick locales
  dict-gcide pigz python3 pkg-config strace"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
