#!/usr/bin/env python3
"""CDelta against Debian's bsdiff, xdelta3 and zstd on real updates.

For each package, fetches two versions that apt offers here (the oldest and
the newest `apt-cache madison` lists), unpacks both as trees, and for every
file present in both whose bytes changed makes a delta with each tool,
applies it, checks the result is the new file, and sums per package: delta
bytes, make and apply wall time (process start included, the same for
every tool). `ours apply MB/s` is CDelta::Apply's own throughput, timed
inside delta_bench.

The tools are installed here if missing (only this benchmark needs them).

usage: python3 bench/delta-bench.py [--build build/bench] [--work DIR] [PACKAGE...]
"""
import argparse
import filecmp
import functools
import os
import shutil
import subprocess
import sys
import time

DEFAULT_PACKAGES = ["libssl3", "python3.11-minimal", "libpython3.11-stdlib"]
TOOLS = {"bsdiff": "bsdiff", "xdelta3": "xdelta3", "zstd": "zstd"}
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def install_tools():
    missing = [pkg for pkg, exe in TOOLS.items() if shutil.which(exe) is None]
    if missing:
        print("installing " + " ".join(missing), file=sys.stderr)
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing, env=env)


def build(build_dir):
    subprocess.run(["cmake", "--preset", "bench", "-B", build_dir], check=True, cwd=ROOT, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "delta_bench"], check=True, cwd=ROOT,
                   stdout=sys.stderr)
    return os.path.join(build_dir, "bench", "delta_bench")


def versions(package):
    out = run(["apt-cache", "madison", package]).stdout.decode()
    found = []
    for line in out.splitlines():
        parts = [p.strip() for p in line.split("|")]
        if len(parts) >= 2 and parts[1] not in found:
            found.append(parts[1])
    if len(found) < 2:
        return None
    def older(a, b):
        return -1 if subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0 else 1
    found.sort(key=functools.cmp_to_key(older))
    return found[0], found[-1]


def unpack(package, version, work):
    tree = os.path.join(work, package, version.replace(":", "_"))
    if os.path.isdir(tree):
        return tree
    debs = os.path.join(work, "debs")
    os.makedirs(debs, exist_ok=True)
    before = set(os.listdir(debs))
    run(["apt-get", "download", "%s=%s" % (package, version)], cwd=debs)
    deb = [f for f in os.listdir(debs) if f not in before and f.endswith(".deb")]
    os.makedirs(tree + ".tmp", exist_ok=True)
    run(["dpkg-deb", "-x", os.path.join(debs, deb[0]), tree + ".tmp"])
    os.rename(tree + ".tmp", tree)
    return tree


def changed_files(old_tree, new_tree):
    pairs = []
    for folder, _, files in os.walk(new_tree):
        for name in files:
            new = os.path.join(folder, name)
            old = os.path.join(old_tree, os.path.relpath(new, new_tree))
            if os.path.islink(new) or not os.path.isfile(old) or os.path.islink(old):
                continue
            if not filecmp.cmp(old, new, shallow=False):
                pairs.append((old, new))
    return sorted(pairs, key=lambda p: p[1])


def tool_commands(ours):
    # name: (make(old, new, delta), apply(old, delta, out))
    return {
        "ours": (lambda o, n, d: [ours, "make", o, n, d], lambda o, d, r: [ours, "apply", o, d, r]),
        "bsdiff": (lambda o, n, d: ["bsdiff", o, n, d], lambda o, d, r: ["bspatch", o, r, d]),
        "xdelta3 -9 -S djw": (lambda o, n, d: ["xdelta3", "-9", "-S", "djw", "-D", "-f", "-e", "-s", o, n, d],
                              lambda o, d, r: ["xdelta3", "-D", "-f", "-d", "-s", o, d, r]),
        "zstd -19 --long=31": (lambda o, n, d: ["zstd", "-q", "-f", "-19", "--long=31", "--patch-from=" + o, n, "-o", d],
                               lambda o, d, r: ["zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + o, d, "-o", r]),
    }


def timed(cmd):
    start = time.perf_counter()
    result = run(cmd)
    return time.perf_counter() - start, result.stdout


def bench_package(package, work, tools, scratch):
    pair = versions(package)
    if pair is None:
        print("%s: apt offers fewer than two versions, skipped" % package, file=sys.stderr)
        return None
    old_tree, new_tree = unpack(package, pair[0], work), unpack(package, pair[1], work)
    files = changed_files(old_tree, new_tree)
    sums = {name: [0, 0.0, 0.0] for name in tools}
    new_bytes = 0
    ours_apply = 0.0
    for old, new in files:
        new_bytes += os.path.getsize(new)
        for name, (make, apply) in tools.items():
            delta, out = os.path.join(scratch, "delta"), os.path.join(scratch, "out")
            make_s, _ = timed(make(old, new, delta))
            apply_s, stdout = timed(apply(old, delta, out))
            if not filecmp.cmp(out, new, shallow=False):
                sys.exit("%s rebuilt %s wrong" % (name, new))
            if name == "ours":
                ours_apply += float(stdout.decode().strip())
            sums[name][0] += os.path.getsize(delta)
            sums[name][1] += make_s
            sums[name][2] += apply_s
        print(".", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)
    return {"package": package, "from": pair[0], "to": pair[1], "files": len(files), "new": new_bytes,
            "sums": sums, "ours_apply_mbs": new_bytes / 1e6 / ours_apply if ours_apply else 0}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--work", default=None, help="downloads and trees (default BUILD/delta)")
    parser.add_argument("packages", nargs="*", default=DEFAULT_PACKAGES)
    args = parser.parse_args()
    work = os.path.abspath(args.work or os.path.join(args.build, "delta"))
    os.makedirs(work, exist_ok=True)
    install_tools()
    tools = tool_commands(os.path.abspath(build(args.build)))
    scratch = os.path.join(work, "scratch")
    os.makedirs(scratch, exist_ok=True)

    rows = [r for r in (bench_package(p, work, tools, scratch) for p in args.packages) if r]
    print("| package (from → to) | changed files, new bytes | tool | delta bytes | vs smallest other | make s | apply s |")
    print("|---|---|---|---:|---:|---:|---:|")
    for r in rows:
        smallest = min(v[0] for k, v in r["sums"].items() if k != "ours")
        for name, (size, make_s, apply_s) in r["sums"].items():
            print("| %s (%s → %s) | %d, %d | %s | %d | %+.1f%% | %.2f | %.2f |" % (
                r["package"], r["from"], r["to"], r["files"], r["new"], name, size,
                100.0 * (size - smallest) / smallest if smallest else 0, make_s, apply_s))
        print("| | | ours: CDelta::Apply alone | %.0f MB/s | | | |" % r["ours_apply_mbs"])


if __name__ == "__main__":
    main()
