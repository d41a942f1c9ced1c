#!/bin/sh
# Archive deltas against the delta tools on the archive files. Two releases
# of a Debian package (fetched with apt-get download into the work folder,
# never committed) give the members: the package's regular files below
# SUBDIR, packed by packtool into one archive per release and method. For
# each archive pair it prints the delta sizes of pack_delta_bench,
# bsdiff, xdelta3 -9 -S djw and zstd --patch-from -19 --long=31, the
# seconds each took to make and apply, and checks every result against
# the new archive.
#
# usage: pack-delta-bench.sh [PACKAGE OLDVERSION NEWVERSION SUBDIR [METHOD...]]
#   default: libssl3 3.0.17-1~deb12u2 3.0.22-1~deb12u2 usr/lib zlib slide
# Needs the bench preset's pack_delta_bench and packtool (BUILD, default
# build/bench) and the packages bsdiff, xdelta3 and zstd (installed here
# when missing).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
PKG=${1:-libssl3}
OLDV=${2:-3.0.17-1~deb12u2}
NEWV=${3:-3.0.22-1~deb12u2}
SUBDIR=${4:-usr/lib}
[ $# -gt 4 ] && shift 4 || set -- zlib slide
WORK=$BUILD/pack-delta/$PKG
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

for tool in bsdiff xdelta3 zstd; do
    command -v $tool >/dev/null || $SUDO apt-get install -y -qq --no-install-recommends $tool >/dev/null
done
cmake --build "$BUILD" --target pack_delta_bench packtool >/dev/null
DELTA=$BUILD/bench/pack_delta_bench
PACKTOOL=$BUILD/tools/packtool

mkdir -p "$WORK"
cd "$WORK"
for v in "$OLDV" "$NEWV"; do
    dir=tree-$(echo "$v" | tr -c 'A-Za-z0-9.\n' _)
    if [ ! -d "$dir" ]; then
        rm -f ./*.deb
        apt-get download -qq "$PKG=$v"
        dpkg-deb -x ./*.deb "$dir"
        rm -f ./*.deb
    fi
done
OLDTREE=tree-$(echo "$OLDV" | tr -c 'A-Za-z0-9.\n' _)
NEWTREE=tree-$(echo "$NEWV" | tr -c 'A-Za-z0-9.\n' _)

# now: seconds since the epoch with fractions, for the outside tools.
now() { date +%s.%N; }
size() { wc -c <"$1" | tr -d ' '; }
secs() { awk "BEGIN { print $2 - $1 }"; }

printf '%s %s -> %s (%s)\n' "$PKG" "$OLDV" "$NEWV" "$SUBDIR"
printf '%-8s %-28s %12s %9s %9s\n' method tool "delta bytes" "make s" "apply s"
for method in "$@"; do
    # packtool flattens trees; files only (links to them would be packed twice).
    for side in old new; do
        tree=$OLDTREE
        [ $side = new ] && tree=$NEWTREE
        rm -rf "members-$side" && mkdir "members-$side"
        find "$tree/$SUBDIR" -type f -exec cp {} "members-$side/" \;
        rm -f "$side.pac"
        "$PACKTOOL" create --method "$method" "$side.pac" "members-$side" >/dev/null
    done
    printf '%-8s %-28s %12s\n' "$method" "(old archive / new archive)" "$(size old.pac) / $(size new.pac)"

    m=$("$DELTA" make old.pac new.pac p.delta)
    a=$("$DELTA" apply old.pac p.delta p.out)
    cmp -s p.out new.pac || { echo "pack delta: wrong result" >&2; exit 1; }
    printf '%-8s %-28s %12s %9.2f %9.2f\n' "$method" pack_delta "$(size p.delta)" "$m" "$a"

    t0=$(now); bsdiff old.pac new.pac b.delta; t1=$(now); bspatch old.pac b.out b.delta; t2=$(now)
    cmp -s b.out new.pac || { echo "bsdiff: wrong result" >&2; exit 1; }
    printf '%-8s %-28s %12s %9.2f %9.2f\n' "$method" bsdiff "$(size b.delta)" "$(secs $t0 $t1)" "$(secs $t1 $t2)"

    t0=$(now); xdelta3 -9 -S djw -f -e -s old.pac new.pac x.delta; t1=$(now); xdelta3 -f -d -s old.pac x.delta x.out; t2=$(now)
    cmp -s x.out new.pac || { echo "xdelta3: wrong result" >&2; exit 1; }
    printf '%-8s %-28s %12s %9.2f %9.2f\n' "$method" "xdelta3 -9 -S djw" "$(size x.delta)" "$(secs $t0 $t1)" "$(secs $t1 $t2)"

    t0=$(now); zstd -q -f -19 --long=31 --patch-from=old.pac new.pac -o z.delta 2>/dev/null; t1=$(now)
    zstd -q -f -d --long=31 --patch-from=old.pac z.delta -o z.out; t2=$(now)
    cmp -s z.out new.pac || { echo "zstd: wrong result" >&2; exit 1; }
    printf '%-8s %-28s %12s %9.2f %9.2f\n' "$method" "zstd --patch-from -19" "$(size z.delta)" "$(secs $t0 $t1)" "$(secs $t1 $t2)"
done
