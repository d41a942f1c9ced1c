#!/usr/bin/env python3
"""Speed of the updater's copy pass against a plain copy of the same tree.

Lays out a package (update.exe, Updateinf.dat, a data folder: a few
hundred MB in files of mixed sizes, or with --tree small 5,000 files of
10 bytes, where the cost per file shows) and an install folder, runs update.exe
under the Windows build's Wine prefix and Xvfb, presses OK in its
confirmation dialog and times until its completion box appears. In the same
run, and interleaved with it, the same tree is copied by `cp -r` (the
kernel's copy), by Wine's own `xcopy`, and by plaincopy.exe, which copies
the same list with nothing but CreateFileA/ReadFile/WriteFile in
update.exe's block size ("plain Win32") or with CopyFileA ("CopyFileA"):
what that costs under Wine every program pays, what update.exe takes
beyond it is its own. "plain+move" is the block copy into a temporary
file beside each destination, moved over it when complete: the file
operations update.exe makes so that a failed copy loses nothing, without
its dialog. "plain+flush" is plain+move with each temporary file
flushed to the disk (FlushFileBuffers) before a move that writes
through, as update.exe does so that a power cut loses nothing: the
flushes' own cost. "plain+poll" is the plain Win32 copy again while
uidriver.exe polls for a window every 2 ms, as it does throughout
update.exe's run: the harness's own share of the server and the two
cores. Every run starts from an empty
install folder; the source stays in the page cache (it is read once before
timing) and the copies without a flush go to the page cache too, so the
disk counts only where a program flushes: update.exe and plain+flush.

usage: bench/copy-pass-bench.py --build BUILD_DIR [--work DIR] [--tree large|small]
                                [--mb N] [--reps N] [--also NAME=EXE ...]
  BUILD_DIR  a configured and built `windows` preset tree (update.exe,
             plaincopy.exe, uidriver.exe and the wine/ scripts of its
             ctest fixture)
  --also     another update.exe (an older build, a variant) timed in the
             same repetitions as the built one, the order turning with each
             repetition, and shown as NAME: timings on a shared machine
             drift too much to compare separate runs
  --tree     large (the default): --mb MB (default 300) in files of mixed
             sizes; small: 5,000 files of 10 bytes
  --work     scratch folder (default BUILD_DIR/copy-bench, on the disk:
             a flush on tmpfs costs nothing); needs about three times
             the tree's size of free space
Prints one table of medians on stdout; progress goes to stderr.
"""
import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import time

KEY = "Software\\GamepatchCopyBench"
TIMEOUT_MS = "600000"
# How long the driver polls during the plain copy, at least: longer than
# the copy (three times the warm-up's plain copy when that is longer).
POLL_MS = 3000
# What every run times, in the order of the table.
PEERS = ["cp -r", "xcopy", "CopyFileA", "plain Win32", "plain+poll", "plain+move", "plain+flush", "update.exe"]
# The small tree: many files, each below any block.
SMALL_FILES = 5000
SMALL_SIZE = 10


def field(text, size):
    data = text.encode("cp932")
    return data.ljust(size, b"\0")


def record(path, size):
    return field(path, 260) + struct.pack("<II", size, 0)


def update_info(records):
    return (field("BENCH", 128) + field(KEY, 128) + field("InstallDir", 128) +
            struct.pack("<III", len(records), 0, 0) + b"".join(records))


def uninstall_info():
    return bytes(128) + struct.pack("<III", 0, 0, 0) + bytes(4928)


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def mixed_sizes(total):
    """Files of mixed sizes: most are small, most bytes are in the large
    ones."""
    rnd = random.Random(8)
    sizes, left = [], total
    while left > 0:
        kind = rnd.random()
        if kind < 0.70:
            n = rnd.randint(0, 64 << 10)           # small: below one block
        elif kind < 0.95:
            n = rnd.randint(100000, 4 << 20)       # a few blocks to 4 MB
        else:
            n = rnd.randint(16 << 20, 48 << 20)    # large
        n = min(n, left)
        sizes.append(n)
        left -= n
    return sizes


def make_tree(data, sizes):
    """The files of the given sizes, in folders of 50. Returns the update
    records in list order."""
    block = os.urandom(1 << 20)
    records = []
    for i, n in enumerate(sizes):
        folder = "d%03d\\" % (i // 50)
        if i % 50 == 0:
            records.append(record(folder, 0))
            os.makedirs(os.path.join(data, folder[:-1]), exist_ok=True)
        rel = folder + "f%05d.bin" % i
        with open(os.path.join(data, folder[:-1], "f%05d.bin" % i), "wb") as fp:
            for k in range(0, n, len(block)):
                fp.write(block[:min(len(block), n - k)])
        records.append(record(rel, n))
    return records


def filesystem_type(path):
    """The type of the file system that holds path (the longest mount
    point above it)."""
    best, kind = "", "?"
    path = os.path.realpath(path)
    with open("/proc/self/mounts") as fp:
        for line in fp:
            fields = line.split()
            point = fields[1].replace("\\040", " ")
            inside = path == point or path.startswith(point.rstrip("/") + "/")
            if inside and len(point) >= len(best):
                best, kind = point, fields[2]
    return kind


class Driver:
    def __init__(self, run, exe):
        self.proc = subprocess.Popen([run, exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)

    def ok(self, *fields):
        self.proc.stdin.write(("\t".join(fields) + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().decode("utf-8").rstrip("\r\n").split("\t")
        if reply[0] != "ok":
            raise RuntimeError("driver: %s -> %s" % (" ".join(fields), " ".join(reply)))
        return reply[1:]

    def close(self):
        try:
            self.ok("quit")
        except (RuntimeError, BrokenPipeError):
            pass
        self.proc.wait(timeout=60)


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def warm(data):
    for folder, _, files in os.walk(data):
        for f in files:
            with open(os.path.join(folder, f), "rb") as fp:
                while fp.read(1 << 20):
                    pass


def check_copy(name, inst, sizes):
    """A copy that left files out would only look fast: the warm-up run of
    each program must leave the whole tree."""
    found = sorted(os.path.getsize(os.path.join(folder, f)) for folder, _, files in os.walk(inst)
                   for f in files if f != "Uninstallinf.dat")
    if found != sorted(sizes):
        raise RuntimeError("%s left %d files of %d bytes, not %d of %d"
                           % (name, len(found), sum(found), len(sizes), sum(sizes)))


def time_update(driver, pkg, inst, exe="update.exe"):
    fresh(inst)
    with open(os.path.join(inst, "Uninstallinf.dat"), "wb") as fp:
        fp.write(uninstall_info())
    driver.ok("start", windows(os.path.join(pkg, exe)), windows(os.path.dirname(pkg)))
    confirm = driver.ok("find", "confirm", TIMEOUT_MS)
    t0 = time.perf_counter()
    driver.ok("click", confirm[0], "1")
    box = driver.ok("find", "msgbox", TIMEOUT_MS)
    elapsed = time.perf_counter() - t0
    if box[2] != "アップデートが完了しました":
        raise RuntimeError("update.exe reported: " + box[2])
    driver.ok("click", box[0], "1")
    driver.ok("exit", TIMEOUT_MS)
    return elapsed


def time_cp(data, inst):
    fresh(inst)
    t0 = time.perf_counter()
    subprocess.run(["cp", "-r", data + "/.", inst], check=True)
    return time.perf_counter() - t0


def time_xcopy(run, data, inst):
    fresh(inst)
    t0 = time.perf_counter()
    subprocess.run([run, "xcopy", "/E", "/I", "/Q", "/Y", windows(data), windows(inst)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t0


def time_plain(run, plaincopy, pkg, inst, mode):
    """plaincopy.exe over the update list, its Wine process start and exit
    included as xcopy's are."""
    fresh(inst)
    t0 = time.perf_counter()
    subprocess.run([run, plaincopy] + mode + [windows(os.path.join(pkg, "Updateinf.dat")),
                                              windows(os.path.join(pkg, "data")) + "\\", windows(inst) + "\\"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t0


def time_plain_polled(driver, run, plaincopy, pkg, inst, poll_ms):
    """time_plain while the driver looks for a message box that never
    comes, as it does while update.exe copies."""
    driver.proc.stdin.write(("find\tmsgbox\t%d\n" % poll_ms).encode("utf-8"))
    driver.proc.stdin.flush()
    elapsed = time_plain(run, plaincopy, pkg, inst, [])
    reply = driver.proc.stdout.readline().decode("utf-8")
    if reply.startswith("ok") or elapsed * 1000 > poll_ms:
        raise RuntimeError("the driver did not poll throughout the plain copy")
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work")
    parser.add_argument("--tree", choices=["large", "small"], default="large")
    parser.add_argument("--mb", type=int, default=300)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--also", action="append", default=[], metavar="NAME=EXE")
    args = parser.parse_args()
    also = []
    for option in args.also:
        name, sep, exe = option.partition("=")
        if not sep or not name or name in PEERS + [n for n, _ in also] or not os.path.isfile(exe):
            print("--also wants NAME=EXE of an existing file, not %s" % option, file=sys.stderr)
            return 1
        also.append((name, os.path.abspath(exe)))
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work or os.path.join(build, "copy-bench"))
    run = os.path.join(build, "wine", "run.sh")
    update = os.path.join(build, "app", "update.exe")
    uidriver = os.path.join(build, "tests", "app", "uidriver.exe")
    plaincopy = os.path.join(build, "bench", "plaincopy.exe")
    for path in (run, update, uidriver, plaincopy):
        if not os.path.exists(path):
            print("missing %s: configure and build the windows preset first" % path, file=sys.stderr)
            return 1

    pkg = os.path.join(work, "pkg")
    data = os.path.join(pkg, "data")
    inst = os.path.join(work, "Game")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(data)
    if filesystem_type(work) in ("tmpfs", "ramfs"):
        print("warning: %s is in memory, where a flush costs nothing" % work, file=sys.stderr)
    if args.tree == "small":
        sizes = [SMALL_SIZE] * SMALL_FILES
    else:
        sizes = mixed_sizes(args.mb << 20)
    print("making a tree of %d files, %d bytes ..." % (len(sizes), sum(sizes)), file=sys.stderr)
    records = make_tree(data, sizes)
    shutil.copy(update, os.path.join(pkg, "update.exe"))
    # Beside the list too: update.exe reads the files next to itself.
    for i, (_, exe) in enumerate(also):
        shutil.copy(exe, os.path.join(pkg, "also%d.exe" % i))
    with open(os.path.join(pkg, "Updateinf.dat"), "wb") as fp:
        fp.write(update_info(records))
    warm(data)

    subprocess.run(["sh", os.path.join(build, "wine", "setup.sh")], check=True)
    driver = Driver(run, uidriver)
    try:
        driver.ok("regset", KEY, "InstallDir", windows(inst) + "\\")
        times = {name: [] for name in PEERS}
        for name, _ in also:
            times[name] = []
        # Warm-up: Wine's own files, the dialogs.
        time_update(driver, pkg, inst)
        check_copy("update.exe", inst, sizes)
        for i, (name, _) in enumerate(also):
            time_update(driver, pkg, inst, "also%d.exe" % i)
            check_copy(name, inst, sizes)
        poll_ms = POLL_MS
        for mode in ([], ["--copyfile"], ["--replace"], ["--replace-flush"]):
            elapsed = time_plain(run, plaincopy, pkg, inst, mode)
            check_copy("plaincopy.exe " + " ".join(mode), inst, sizes)
            if not mode:
                poll_ms = max(POLL_MS, int(elapsed * 3000))
        for rep in range(args.reps):
            print("repetition %d of %d" % (rep + 1, args.reps), file=sys.stderr)
            times["cp -r"].append(time_cp(data, inst))
            times["plain Win32"].append(time_plain(run, plaincopy, pkg, inst, []))
            builds = [("update.exe", "update.exe")] + [(name, "also%d.exe" % i) for i, (name, _) in enumerate(also)]
            # Whichever runs first in a repetition must not always be the same.
            shift = rep % len(builds)
            for name, exe in builds[shift:] + builds[:shift]:
                times[name].append(time_update(driver, pkg, inst, exe))
            times["xcopy"].append(time_xcopy(run, data, inst))
            times["CopyFileA"].append(time_plain(run, plaincopy, pkg, inst, ["--copyfile"]))
            times["plain+poll"].append(time_plain_polled(driver, run, plaincopy, pkg, inst, poll_ms))
            times["plain+move"].append(time_plain(run, plaincopy, pkg, inst, ["--replace"]))
            times["plain+flush"].append(time_plain(run, plaincopy, pkg, inst, ["--replace-flush"]))
        driver.ok("regdel", KEY)
    finally:
        driver.close()
        # The prefix's wineserver and Xvfb, which setup.sh left running.
        subprocess.run(["sh", os.path.join(build, "wine", "teardown.sh")])
        shutil.rmtree(work, ignore_errors=True)

    total = sum(sizes)
    base = statistics.median(times["cp -r"])
    plain = statistics.median(times["plain Win32"])
    move = statistics.median(times["plain+move"])
    print("Copy pass: %d files in %d folders, %.1f MB, on %s; medians of %d runs, load %s"
          % (len(sizes), (len(sizes) + 49) // 50, total / 1e6, filesystem_type(work), args.reps,
             open("/proc/loadavg").read().split()[0]))
    print("%-12s %9s %9s %10s %10s %10s   %s" % ("copy", "seconds", "MB/s", "x cp -r", "x plain", "x p+move",
                                               "all runs"))
    for name in PEERS + [n for n, _ in also]:
        m = statistics.median(times[name])
        print("%-12s %9.3f %9.1f %9.2fx %9.2fx %9.2fx   %s" % (name, m, total / 1e6 / m, m / base, m / plain,
                                                           m / move, " ".join("%.3f" % t for t in times[name])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
