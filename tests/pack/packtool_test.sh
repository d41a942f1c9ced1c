#!/bin/sh
# The pack tool as its users run it: an archive of a real folder tree made,
# listed, tested and extracted with every method; raw codec streams; and
# the errors a user meets. Arguments: the command that runs the tool (an
# emulator first, for the Windows build).
set -u
work=packtool_work
rm -rf "$work"
mkdir -p "$work/tree/sub/deeper" "$work/tree/.git"
cd "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# A Windows build (run through an emulator) prints UTF-8 into a pipe, as
# the native one does, with CRLF line ends.
if [ $# -gt 1 ]; then
  run() { "$@" >raw.txt 2>err.txt; r=$?; tr -d '\r' <raw.txt >out.txt; return $r; }
else
  run() { "$@" >out.txt 2>err.txt; }
fi

printf 'hello\n' >tree/a.txt
printf 'katakana so\n' >"tree/sub/ソ.txt"
head -c 200000 /dev/zero >tree/sub/zeros.bin
seq 1 20000 >tree/sub/deeper/numbers.txt
: >tree/empty.bin
printf 'ignored\n' >tree/.git/config

run "$@" --help && grep -q 'Usage: packtool' out.txt || fail "--help"
run "$@" frobnicate; [ $? -eq 2 ] && grep -q 'unknown command' err.txt || fail "unknown command"

for method in store slide huffman zlib; do
  run "$@" create --method $method $method.pac tree || fail "create $method: $(cat err.txt)"
  run "$@" list $method.pac || fail "list $method"
  grep -q "method: $method" out.txt || fail "list $method: method line"
  for name in a.txt ソ.txt zeros.bin numbers.txt empty.bin; do
    grep -q " $name\$" out.txt || fail "list $method: $name missing"
  done
  grep -q config out.txt && fail "list $method: a folder beginning with a dot was packed"
  grep -q ' 5 members' out.txt || fail "list $method: count"
  run "$@" test $method.pac && grep -q '5 members OK' out.txt || fail "test $method"
  # The same facts for scripts, names in UTF-8 on every console.
  "$@" list --json $method.pac >list.json && python3 - $method <<'EOF' || fail "list --json $method"
import json, os, sys
j = json.load(open("list.json", encoding="utf-8"))
files = {n: os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk("tree") if ".git" not in d for n in ns}
assert j["method"] == sys.argv[1], j["method"]
assert {m["name"]: m["size"] for m in j["members"]} == files, j["members"]
ends = sorted((m["offset"], m["offset"] + m["stored"]) for m in j["members"])
assert ends[0][0] == 12 and all(a[1] == b[0] for a, b in zip(ends, ends[1:])), ends
EOF
  run "$@" extract -C out_$method $method.pac || fail "extract $method: $(cat err.txt)"
  cmp -s out_$method/a.txt tree/a.txt || fail "extract $method: a.txt"
  cmp -s "out_$method/ソ.txt" "tree/sub/ソ.txt" || fail "extract $method: ソ.txt"
  cmp -s out_$method/zeros.bin tree/sub/zeros.bin || fail "extract $method: zeros.bin"
  cmp -s out_$method/numbers.txt tree/sub/deeper/numbers.txt || fail "extract $method: numbers.txt"
  cmp -s out_$method/empty.bin tree/empty.bin || fail "extract $method: empty.bin"
  "$@" cat $method.pac NUMBERS.TXT >cat.txt && cmp -s cat.txt tree/sub/deeper/numbers.txt || fail "cat $method"
done

run "$@" extract -C named zlib.pac a.txt && [ -f named/a.txt ] && [ ! -f named/zeros.bin ] || fail "extract one member"
run "$@" extract -C named zlib.pac nothing.txt; [ $? -eq 1 ] && grep -q 'no such member' err.txt || fail "extract a missing member"
run "$@" list tree/a.txt; [ $? -eq 1 ] && grep -q 'not a readable pack archive' err.txt || fail "list a non-archive"

# Folders are flattened: a name packed twice is pointed out.
mkdir -p dup/x dup/y && printf 1 >dup/x/same.txt && printf 2 >dup/y/same.txt
run "$@" create dup.pac dup && grep -q 'same.txt is packed twice' err.txt || fail "duplicate names not reported"

# A name Windows would take for a device is not packed.
mkdir -p dev && printf x >dev/nul.txt
run "$@" create dev.pac dev; [ $? -eq 1 ] && grep -q 'nul.txt: left out' err.txt || fail "a device name was packed"

# Threads change nothing but speed: the same archive, files and reports.
run "$@" create -j 1 --method slide j1.pac tree && run "$@" create -j 3 --method slide j3.pac tree &&
  cmp -s j1.pac j3.pac || fail "create -j 3 differs from -j 1"
run "$@" extract -j 3 -C out_j3 zlib.pac && diff -r out_j3 out_zlib >/dev/null || fail "extract -j 3"
run "$@" create -j 0 x.pac tree; [ $? -eq 2 ] || fail "-j 0 accepted"

# A damaged archive is reported, and a failed create leaves nothing behind.
cp zlib.pac bad.pac
printf 'XXXXXXXX' | dd of=bad.pac bs=1 seek=20 conv=notrunc 2>/dev/null
run "$@" test -j 1 bad.pac; [ $? -eq 1 ] && grep -q 'damaged' err.txt || fail "test a damaged archive"
cp err.txt err1.txt
run "$@" test -j 3 bad.pac; [ $? -eq 1 ] && cmp -s err.txt err1.txt || fail "test -j 3 reports otherwise"
run "$@" create --method zip x.pac tree; [ $? -eq 2 ] || fail "create with an unknown method"
run "$@" create nofolder/x.pac tree; [ $? -eq 1 ] || fail "create into a missing folder"
ls nofolder 2>/dev/null && fail "create left something behind"

# Raw streams round trip through every codec.
for method in slide huffman zlib; do
  run "$@" compress --method $method tree/sub/deeper/numbers.txt n.$method || fail "compress $method"
  size=$(wc -c <tree/sub/deeper/numbers.txt)
  run "$@" decompress --method $method --size $size n.$method n.out || fail "decompress $method"
  cmp -s n.out tree/sub/deeper/numbers.txt || fail "round trip $method"
done
run "$@" decompress --method slide n.slide n.out; [ $? -eq 2 ] && grep -q -- '--size' err.txt || fail "decompress without --size"
run "$@" decompress --method zlib --size 5 n.slide n.out; [ $? -eq 1 ] || fail "decompress a wrong stream"

cd ..
[ $failures -eq 0 ] && rm -rf "$work"
echo "packtool: $failures failures"
[ $failures -eq 0 ]
