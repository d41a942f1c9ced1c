#!/usr/bin/env bash
# Installs the library from a build and builds the program of examples/
# against it three ways: with find_package from the installed copy, with
# its pkg-config file, and with add_subdirectory of this source tree. Each
# build also compiles and links the examples of docs/library.md, and runs
# packls on a small archive (the Windows builds under Wine). Prints one
# "check NAME: passed" or "check NAME: FAILED" line per build and exits
# non-zero when one failed.
#
# Usage: bash scripts/check-consumers.sh native|windows
#   native   installs build/bench (Release, built by run-tests.sh)
#   windows  installs build/windows; runs through its Wine prefix
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
kind=${1:?native or windows}
work=$repo/build/consumers/$kind
prefix=$repo/build/install/$kind
case $kind in
  native)
    from=build/bench
    cross=()
    pkg_env=(PKG_CONFIG_PATH=$prefix/lib/pkgconfig)
    package_args=(-DCMAKE_PREFIX_PATH=$prefix)
    run=()
    ;;
  windows)
    from=build/windows
    cross=(-DCMAKE_TOOLCHAIN_FILE=$repo/cmake/mingw-w64.cmake)
    # Only the cross libraries: never the host's .pc files.
    pkg_env=(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig)
    # The toolchain confines package searches to the cross root; the
    # package's own folder is named instead.
    package_args=(-Dgamefile_DIR=$prefix/lib/cmake/gamefile)
    run=("$repo/build/windows/wine/run.sh")
    ;;
  *) echo "usage: $0 native|windows" >&2; exit 2 ;;
esac

rm -rf "$work" "$prefix"
mkdir -p "$work"
log=$work/log.txt
cmake --install "$from" --prefix "$prefix" >"$log" 2>&1 || { echo "check $kind install: FAILED (see $log)"; exit 1; }

# The guide's examples, one file each, and a main that only links them.
python3 - docs/library.md "$work/doc-examples" <<'PY'
import os, re, sys
page, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
blocks = re.findall(r"^```cpp\n(.*?)^```", open(page, encoding="utf-8").read(), re.S | re.M)
if not blocks:
    sys.exit("no C++ examples in " + page)
for i, code in enumerate(blocks, 1):
    open(os.path.join(out, "example%02d.cpp" % i), "w", encoding="utf-8").write(code)
open(os.path.join(out, "main.cpp"), "w").write("int main() { return 0; }\n")
PY

# A small archive for every build to list and read, and what packls says.
mkdir -p "$work/tree"
printf 'hello from a pack\n' >"$work/tree/hello.txt"
seq 1 3000 >"$work/tree/numbers.txt"
"$repo/build/bench/tools/packtool" create "$work/demo.pac" "$work/tree" >>"$log" 2>&1
{ printf '%10d  %s\n' 18 hello.txt "$(wc -c <"$work/tree/numbers.txt")" numbers.txt; printf 'hello from a pack\n'; } >"$work/expected.txt"

failed=0
for way in package pkg-config source; do
  dir=$work/$way
  args=(-DGAMEFILE_FROM=$way -DDOC_EXAMPLES=$work/doc-examples)
  [ $way = package ] && args+=("${package_args[@]}")
  [ $way = source ] && args+=(-DGAMEFILE_SOURCE_DIR=$repo)
  if env "${pkg_env[@]}" cmake -S examples -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${cross[@]}" "${args[@]}" >>"$log" 2>&1 &&
     cmake --build "$dir" -j2 >>"$log" 2>&1 &&
     (cd "$work" && "${run[@]}" "$dir/packls$([ $kind = windows ] && echo .exe)" demo.pac HELLO.TXT) >"$dir/out.txt" 2>>"$log" &&
     tr -d '\r' <"$dir/out.txt" | cmp -s - "$work/expected.txt"; then
    echo "check consumer $kind $way: passed"
  else
    echo "check consumer $kind $way: FAILED (see $log)"
    failed=1
  fi
done
exit $failed
