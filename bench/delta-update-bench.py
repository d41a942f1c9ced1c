#!/usr/bin/env python3
"""The whole update under Wine: a patch made with `updatelist make --base`
against the whole-file patch of the same release, and that patch without
its Updateinf.sum (nothing verified): what deltas and what verification
cost.

Lays out an older release (--mb MB in files of mixed sizes), a newer one in
which most files changed a little (a few bytes overwritten and a few
inserted; some new files, some unchanged), writes both packages with the
Windows build's updatelist.exe, and times update.exe from OK to its
completion box on an install folder holding the older release, the two
packages interleaved. Prints the packages' sizes and the medians.

usage: bench/delta-update-bench.py --build BUILD_DIR [--work DIR] [--mb N] [--reps N]
  BUILD_DIR  a configured and built `windows` preset tree
"""
import argparse
import importlib.util
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("copy_pass_bench", os.path.join(HERE, "copy-pass-bench.py"))
cpb = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(cpb)


def releases(work, total):
    """The older and newer trees; returns nothing, writes work/old and work/new."""
    rnd = random.Random(3)
    for i, n in enumerate(cpb.mixed_sizes(total)):
        rel = os.path.join("d%03d" % (i // 50), "f%05d.bin" % i)
        content = bytearray(rnd.randbytes(n))
        for name in ("old", "new"):
            os.makedirs(os.path.join(work, name, os.path.dirname(rel)), exist_ok=True)
        with open(os.path.join(work, "old", rel), "wb") as fp:
            fp.write(content)
        kind = rnd.random()
        if kind < 0.8 and n > 64:
            for _ in range(3):
                at = rnd.randrange(n - 16)
                content[at:at + 8] = rnd.randbytes(8)
            at = rnd.randrange(n)
            content[at:at] = rnd.randbytes(rnd.randint(1, 100))
        with open(os.path.join(work, "new", rel), "wb") as fp:
            fp.write(content)
        if kind > 0.97:
            with open(os.path.join(work, "new", rel + ".new"), "wb") as fp:
                fp.write(rnd.randbytes(min(n, 1 << 20)))


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(folder) for f in files)


def time_update(driver, pkg, inst, old):
    shutil.rmtree(inst, ignore_errors=True)
    shutil.copytree(old, inst)
    with open(os.path.join(inst, "Uninstallinf.dat"), "wb") as fp:
        fp.write(cpb.uninstall_info())
    driver.ok("start", cpb.windows(os.path.join(pkg, "update.exe")), cpb.windows(os.path.dirname(pkg)))
    confirm = driver.ok("find", "confirm", cpb.TIMEOUT_MS)
    t0 = time.perf_counter()
    driver.ok("click", confirm[0], "1")
    box = driver.ok("find", "msgbox", cpb.TIMEOUT_MS)
    elapsed = time.perf_counter() - t0
    if box[2] != "アップデートが完了しました":
        raise RuntimeError("update.exe reported: " + box[2])
    driver.ok("click", box[0], "1")
    driver.ok("exit", cpb.TIMEOUT_MS)
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work")
    parser.add_argument("--mb", type=int, default=100)
    parser.add_argument("--reps", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work or os.path.join(build, "delta-update-bench"))
    run = os.path.join(build, "wine", "run.sh")
    update = os.path.join(build, "app", "update.exe")
    updatelist = os.path.join(build, "tools", "updatelist.exe")
    uidriver = os.path.join(build, "tests", "app", "uidriver.exe")
    for path in (run, update, updatelist, uidriver):
        if not os.path.exists(path):
            print("missing %s: configure and build the windows preset first" % path, file=sys.stderr)
            return 1
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    print("making two releases of %d MB ..." % args.mb, file=sys.stderr)
    releases(work, args.mb << 20)
    whole, delta = os.path.join(work, "whole"), os.path.join(work, "delta")
    shutil.copytree(os.path.join(work, "new"), os.path.join(whole, "data"))
    subprocess.run(["sh", os.path.join(build, "wine", "setup.sh")], check=True)
    driver = cpb.Driver(run, uidriver)
    try:
        made = {}
        for name, extra in (("whole", []), ("delta", ["--base", cpb.windows(os.path.join(work, "old")), "-o",
                                                      cpb.windows(delta)])):
            data = os.path.join(whole, "data") if name == "whole" else os.path.join(work, "new")
            t0 = time.perf_counter()
            subprocess.run([run, updatelist, "make", cpb.windows(data), "BENCH", cpb.KEY, "InstallDir"] + extra,
                           check=True, stdout=subprocess.DEVNULL)
            made[name] = time.perf_counter() - t0
        unverified = os.path.join(work, "unverified")
        shutil.copytree(whole, unverified, ignore=shutil.ignore_patterns("Updateinf.sum"))
        pkgs = {"whole": whole, "delta": delta, "unverified": unverified}
        for pkg in pkgs.values():
            shutil.copy(update, os.path.join(pkg, "update.exe"))
        inst = os.path.join(work, "Game")
        driver.ok("regset", cpb.KEY, "InstallDir", cpb.windows(inst) + "\\")
        times = {name: [] for name in pkgs}
        time_update(driver, whole, inst, os.path.join(work, "old"))
        names = list(pkgs)
        for rep in range(args.reps):
            print("repetition %d of %d" % (rep + 1, args.reps), file=sys.stderr)
            # Whichever runs first in a repetition must not always be the same.
            for name in names[rep % 3:] + names[:rep % 3]:
                times[name].append(time_update(driver, pkgs[name], inst, os.path.join(work, "old")))
        driver.ok("regdel", cpb.KEY)
    finally:
        driver.close()
        subprocess.run(["sh", os.path.join(build, "wine", "teardown.sh")])
    sizes = {name: folder_bytes(os.path.join(work, name, "data")) for name in times}
    made["unverified"] = made["whole"]
    print("%-10s %14s %12s %14s" % ("package", "data bytes", "make s", "update s"))
    for name in times:
        print("%-10s %14d %12.2f %14.2f" % (name, sizes[name], made[name], statistics.median(times[name])))
    median = {name: statistics.median(t) for name, t in times.items()}
    print("delta / whole: size %.4f, update time %.2fx" % (sizes["delta"] / sizes["whole"],
                                                          median["delta"] / median["whole"]))
    print("whole / unverified (the cost of verification): %.2fx" % (median["whole"] / median["unverified"]))
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
