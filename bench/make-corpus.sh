#!/bin/sh
# Builds the benchmark corpus from files that Debian packages put on this
# machine, so no input has to be committed or downloaded:
#
#   text    English dictionary text (dict-gcide)
#   dll     Windows DLLs shipped with mingw-w64, debug info stripped as a
#           shipped program's would be
#   elf     Linux shared libraries, as installed
#   tar     a tar of /usr/include (many small text files with headers)
#   random  random bytes: nothing to find
#   zeros   zero bytes: nothing but one long run
#
# Every input is cut to the same size, so speeds compare across inputs.
# An input whose source is missing is left out with a warning.
#
# usage: make-corpus.sh OUTDIR [SIZE_BYTES]   (default 4 MiB)
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 OUTDIR [SIZE_BYTES]" >&2
    exit 2
fi
OUT=$1
SIZE=${2:-4194304}
mkdir -p "$OUT"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# cut_to_size NAME: takes SIZE bytes of stdin into OUT/NAME; a short source is
# repeated until it fills SIZE (a warning says so, the ratio then flatters).
cut_to_size() {
    cat >"$TMP/src"
    have=$(wc -c <"$TMP/src")
    if [ "$have" -eq 0 ]; then
        echo "warning: no data for $1, left out" >&2
        rm -f "$OUT/$1"
        return
    fi
    if [ "$have" -lt "$SIZE" ]; then
        echo "warning: only $have bytes for $1, repeated to $SIZE" >&2
        while [ "$(wc -c <"$TMP/src")" -lt "$SIZE" ]; do
            cat "$TMP/src" "$TMP/src" >"$TMP/src2"
            mv "$TMP/src2" "$TMP/src"
        done
    fi
    head -c "$SIZE" "$TMP/src" >"$OUT/$1"
    echo "$1: $(wc -c <"$OUT/$1") bytes"
}

# text: the dictionary is a dictzip file, which gzip reads.
if [ -f /usr/share/dictd/gcide.dict.dz ]; then
    gzip -dc /usr/share/dictd/gcide.dict.dz | head -c "$SIZE" | cut_to_size text
else
    echo "warning: /usr/share/dictd/gcide.dict.dz missing (apt-get install dict-gcide); text left out" >&2
fi

# dll: the posix thread variant's runtime DLLs, then mingw's own.
: >"$TMP/dll"
for f in /usr/lib/gcc/x86_64-w64-mingw32/*-posix/*.dll /usr/x86_64-w64-mingw32/lib/*.dll; do
    [ -f "$f" ] || continue
    if command -v x86_64-w64-mingw32-strip >/dev/null 2>&1 &&
        x86_64-w64-mingw32-strip --strip-debug -o "$TMP/one.dll" "$f" 2>/dev/null; then
        cat "$TMP/one.dll" >>"$TMP/dll"
    else
        cat "$f" >>"$TMP/dll"
    fi
    if [ "$(wc -c <"$TMP/dll")" -ge "$SIZE" ]; then break; fi
done
cut_to_size dll <"$TMP/dll"

# elf: whole libraries, so code, symbol tables and read-only data all count.
: >"$TMP/elf"
for f in libstdc++.so.6 libc.so.6 libm.so.6 libcrypto.so.3 libsqlite3.so.0 libxml2.so.2; do
    f=/usr/lib/x86_64-linux-gnu/$f
    [ -f "$f" ] || continue
    cat "$f" >>"$TMP/elf"
    if [ "$(wc -c <"$TMP/elf")" -ge "$SIZE" ]; then break; fi
done
cut_to_size elf <"$TMP/elf"

# tar: sorted and with fixed owners and times, so the bytes depend only on
# the installed headers. head closes the pipe early, which tar reports.
(tar -cf - --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -C /usr include \
    2>/dev/null || true) | head -c "$SIZE" | cut_to_size tar

head -c "$SIZE" /dev/urandom | cut_to_size random
head -c "$SIZE" /dev/zero | cut_to_size zeros
