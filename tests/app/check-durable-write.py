#!/usr/bin/env python3
"""Uninstallinf.dat is rewritten, and every installed file copied, so that
a power cut leaves the old file or the new one: the temporary file's data
reaches the disk before it is moved over its target, and the move itself
is made durable (natively the folder is synced after the rename; on
Windows the move writes through). Otherwise the list, which is flushed,
could name files whose data never reached the disk. No test can cut the
power; this one reads the order of the calls of the write-back test and
of an engine test that copies two files, from strace natively and from
Wine's relay trace for the .exe.
Usage: check-durable-write.py strace STRACE updateinfo_tests
       check-durable-write.py wine RUN_SH updateinfo_tests.exe   (RUN_SH beside
       the env.sh of the test prefix)
"""
import os
import re
import subprocess
import sys
import tempfile

MOVEFILE_WRITE_THROUGH = 0x8
mode, tool, tests = sys.argv[1:4]
test_args = [tests, "--gtest_filter=UninstallInfo.WriteBack*:EngineCheck.ReadOnly*"]


def trace(args, env, cwd=None):
    """Runs args with env added and returns the lines of its trace: the
    file named by the {log} argument, or else its standard error."""
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "trace")
        args = [a.format(log=log) for a in args]
        with open(log, "a") as err:
            subprocess.run(args, check=True, cwd=cwd or tmp, env=dict(os.environ, **env), stdout=subprocess.DEVNULL,
                           stderr=None if any(log in a for a in args) else err)
        with open(log, errors="replace") as fp:
            return fp.read().splitlines()


# Events in order: ("sync", name) and ("move", from, to, durable).
events = []
if mode == "strace":
    # The leak checker cannot run under ptrace.
    lines = trace([tool, "-f", "-qq", "-o", "{log}", "-e", "trace=openat,fsync,fdatasync,rename,renameat,renameat2"]
                  + test_args, {"ASAN_OPTIONS": "detect_leaks=0"})
    opened = {}  # fd -> path, as last opened
    for line in lines:
        m = re.search(r'openat\(AT_FDCWD, "([^"]*)", [^)]*\) = (\d+)', line)
        if m:
            opened[m.group(2)] = m.group(1)
        m = re.search(r'f(?:data)?sync\((\d+)\) += 0', line)
        if m:
            events.append(("sync", opened.get(m.group(1), "?")))
        m = re.search(r'rename(?:at2?)?\((?:AT_FDCWD, )?"([^"]*)", (?:AT_FDCWD, )?"([^"]*)"', line)
        if m:
            events.append(("move", m.group(1), m.group(2), False))
    # The rename is durable once its folder is synced after it.
    for i, e in enumerate(events):
        if e[0] == "move" and ("sync", os.path.dirname(e[2])) in events[i + 1:]:
            events[i] = e[:3] + (True,)
else:
    # run.sh's environment, with the relay trace its env.sh turns off.
    wine = 'root=$(dirname "$0"); . "$root/env.sh"; export WINEDEBUG=+relay LC_ALL=ja_JP.UTF-8; exec wine "$@"'
    lines = trace(["sh", "-c", wine, tool] + test_args, {}, cwd=os.path.dirname(os.path.abspath(tests)))
    handles, pending = {}, {}  # handle -> name; thread -> name being opened
    for line in lines:
        m = re.match(r'(\w+):Call KERNEL32\.CreateFile[AW]\(\w+ L?"([^"]*)"', line)
        if m:
            pending[m.group(1)] = m.group(2).replace("\\\\", "\\")
        m = re.match(r'(\w+):Ret  KERNEL32\.CreateFile[AW]\(\) retval=(\w+)', line)
        if m and m.group(1) in pending:
            handles[int(m.group(2), 16)] = pending.pop(m.group(1))
        m = re.match(r'\w+:Call KERNEL32\.FlushFileBuffers\((\w+)\)', line)
        if m:
            events.append(("sync", handles.get(int(m.group(1), 16), "?")))
        m = re.match(r'\w+:Call KERNEL32\.MoveFileEx[AW]\(\w+ L?"([^"]*)",\w+ L?"([^"]*)",(\w+)\)', line)
        if m:
            events.append(("move", m.group(1).replace("\\\\", "\\"), m.group(2).replace("\\\\", "\\"),
                           bool(int(m.group(3), 16) & MOVEFILE_WRITE_THROUGH)))

lists = [e for e in events if e[0] == "move" and re.search(r"[/\\]Uninstallinf\.dat$", e[2])]
copies = [e for e in events if e[0] == "move" and re.search(r"[/\\]upd[0-9A-F]{1,4}\.tmp$", e[1], re.I)]
if len(lists) != 2 or len(copies) != 2:
    sys.exit("expected a move over Uninstallinf.dat by each test and two copies' moves, saw: %s" % events)
for move in lists + copies:
    i = events.index(move)
    _, temp, target, durable = move
    if ("sync", temp) not in events[:i]:
        sys.exit("%s did not reach the disk before its move: %s" % (temp, events))
    if not durable:
        sys.exit("the move over %s was not made durable: %s" % (target, events))
    print("synced %s, then moved it over %s durably" % (temp, target))
