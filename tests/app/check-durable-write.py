#!/usr/bin/env python3
"""Uninstallinf.dat is rewritten so that a power cut leaves the old list or
the new one: the temporary file's data is synced before it is renamed over
the list, and the folder after. No test can cut the power; this one reads
the order of the system calls of the write-back test from strace.
Usage: check-durable-write.py STRACE updateinfo_tests
"""
import os
import re
import subprocess
import sys
import tempfile

strace, tests = sys.argv[1:3]
with tempfile.TemporaryDirectory() as tmp:
    log = os.path.join(tmp, "trace")
    subprocess.run([strace, "-f", "-qq", "-o", log, "-e", "trace=openat,fsync,fdatasync,rename,renameat,renameat2",
                    tests, "--gtest_filter=UninstallInfo.WriteBack*"], check=True, cwd=tmp,
                   # The leak checker cannot run under ptrace.
                   env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
    with open(log) as fp:
        lines = fp.read().splitlines()

opened = {}  # fd -> path, as last opened
events = []
for line in lines:
    m = re.search(r'openat\(AT_FDCWD, "([^"]*)", [^)]*\) = (\d+)', line)
    if m:
        opened[m.group(2)] = m.group(1)
        continue
    m = re.search(r'f(?:data)?sync\((\d+)\) += 0', line)
    if m:
        events.append(("sync", opened.get(m.group(1), "?")))
        continue
    m = re.search(r'rename(?:at2?)?\((?:AT_FDCWD, )?"([^"]*)", (?:AT_FDCWD, )?"([^"]*)"', line)
    if m and m.group(2).endswith("/Uninstallinf.dat"):
        events.append(("rename", m.group(1), m.group(2)))

renames = [i for i, e in enumerate(events) if e[0] == "rename"]
if len(renames) != 1:
    sys.exit("expected one rename over Uninstallinf.dat, saw: %s" % events)
i = renames[0]
temp, target = events[i][1], events[i][2]
if ("sync", temp) not in events[:i]:
    sys.exit("the temporary list was not synced before it was renamed: %s" % events)
if ("sync", os.path.dirname(target)) not in events[i + 1:]:
    sys.exit("the folder was not synced after the rename: %s" % events)
print("sync %s, rename, sync %s" % (temp, os.path.dirname(target)))
