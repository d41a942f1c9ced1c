#!/usr/bin/env python3
"""make, check and a real run of update.exe agree on one patch: the list
that updatelist.exe makes from a data folder is what update.exe installs,
and what updatelist.exe check predicts (folders and files created or
replaced, uninstall entries appended or changed, counters) is what the
run does to the install folder and its Uninstallinf.dat. Runs under Wine
on the test fixture's Xvfb; the end-to-end tests' driver presses OK.
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import unittest

ARGS = None
TIMEOUT_MS = "30000"
KEY = "Software\\GamepatchTools\\agree"


def cp932(text):
    return text.encode("cp932")


def record(path, size, extra=0):
    return cp932(path).ljust(260, b"\0") + struct.pack("<II", size, extra)


def parse_uninstall(data):
    count, files, total = struct.unpack_from("<III", data, 128)
    recs = []
    for i in range(count):
        o = 5068 + i * 268
        size, extra = struct.unpack_from("<II", data, o + 260)
        recs.append((data[o:o + 260].split(b"\0")[0].decode("cp932"), size, extra))
    return data[:128] + data[140:5068], {"count": count, "file_count": files, "total_size": total}, recs


def write(path, content=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fp:
        fp.write(content)


def snapshot(root):
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(folder, name)
            rel = os.path.relpath(p, root).replace(os.sep, "\\")
            if os.path.isdir(p):
                out[rel + "\\"] = None
            else:
                with open(p, "rb") as fp:
                    out[rel] = fp.read()
    return out


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tool(*args, code=0):
    p = subprocess.run([ARGS.run, ARGS.tool] + list(args), capture_output=True, timeout=120)
    if p.returncode != code:
        raise AssertionError("updatelist %s: exit %d\n%s" % (" ".join(args), p.returncode,
                                                             p.stderr.decode("utf-8", "replace")))
    return p.stdout


class Driver:
    """The end-to-end tests' driver program, one command per line."""

    def __init__(self):
        self.proc = subprocess.Popen([ARGS.run, ARGS.driver], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ok(self, *fields):
        self.proc.stdin.write(("\t".join(fields) + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().decode("utf-8").rstrip("\r\n").split("\t")
        if reply[0] != "ok":
            raise AssertionError("driver: %s -> %s" % (" ".join(fields), " ".join(reply)))
        return reply[1:]

    def close(self):
        self.proc.stdin.write(b"quit\n")
        self.proc.stdin.flush()
        self.proc.wait(timeout=60)


class Agree(unittest.TestCase):
    def test_make_check_and_run_agree(self):
        root = ARGS.work
        shutil.rmtree(root, ignore_errors=True)
        pkg, inst = os.path.join(root, "pkg"), os.path.join(root, "ゲーム")
        data = os.path.join(pkg, "data")
        # Several blocks of the copy, a name with a 0x5C second byte, an
        # empty folder and file, a listed folder and file in other letter
        # case, a file in the install folder that is not listed.
        write(os.path.join(data, "Movie", "op.bin"), bytes(range(256)) * 1000)
        write(os.path.join(data, "ソフト", "表.dat"), b"hyou")
        os.makedirs(os.path.join(data, "ソフト", "空"))
        write(os.path.join(data, "zero.dat"))
        write(os.path.join(data, "readme.txt"), b"new readme\r\n")
        write(os.path.join(data, "save", "slot.txt"), b"slot")
        write(os.path.join(inst, "readme.txt"), b"old")
        write(os.path.join(inst, "other.txt"), b"other")
        os.makedirs(os.path.join(inst, "save"))
        listed = [record("SAVE\\", 0, 1), record("README.TXT", 3, 9), record("other.txt", 5, 2)]
        uninstall = os.path.join(inst, "Uninstallinf.dat")
        write(uninstall, bytes(range(128)) + struct.pack("<III", 3, 2, 8) + b"\x5a" * 4928 + b"".join(listed))
        shutil.copy(ARGS.update, os.path.join(pkg, "update.exe"))

        tool("make", "--extra", "3", data, "ヴェルモラ", KEY, "InstallDir")
        made = json.loads(tool("show", "--json", os.path.join(pkg, "Updateinf.dat")))
        plan = json.loads(tool("check", "--json", pkg, inst))
        self.assertTrue(plan["would_complete"], plan)

        with open(uninstall, "rb") as fp:
            head_before, counters_before, recs_before = parse_uninstall(fp.read())
        before = snapshot(inst)
        DRIVER.ok("regset", KEY, "InstallDir", windows(inst) + "\\")
        DRIVER.ok("start", windows(os.path.join(pkg, "update.exe")), windows(root))
        confirm = DRIVER.ok("find", "confirm", TIMEOUT_MS)
        self.assertEqual("ヴェルモラ アップデート", confirm[1])
        DRIVER.ok("click", confirm[0], "1")
        box = DRIVER.ok("find", "msgbox", TIMEOUT_MS)
        self.assertEqual("アップデートが完了しました", box[2])
        DRIVER.ok("click", box[0], "1")
        self.assertEqual(["0"], DRIVER.ok("exit", TIMEOUT_MS))
        after = snapshot(inst)

        # The install folder changed exactly as check said.
        created = [p for p in after if p not in before and after[p] is None]
        added = [p for p in after if p not in before and after[p] is not None]
        replaced = [p for p in before if p in after and before[p] != after[p] and p != "Uninstallinf.dat"]
        self.assertEqual(sorted(plan["folders_to_create"]), sorted(created))
        self.assertEqual(sorted(f["path"] for f in plan["files_to_add"]), sorted(added))
        self.assertEqual(sorted(f["path"] for f in plan["files_to_replace"]), sorted(replaced))
        self.assertEqual(set(before), set(after) - set(created) - set(added))

        # So did Uninstallinf.dat: the changed entries in place, the
        # appended ones behind, the counters, nothing else.
        with open(uninstall, "rb") as fp:
            head_after, counters_after, recs_after = parse_uninstall(fp.read())
        expected = [list(r) for r in recs_before]
        for c in plan["changed"]:
            entry = next(r for r in expected if r[0] == c["path"])
            self.assertEqual((c["size_before"], c["extra_before"]), tuple(entry[1:]))
            entry[1:] = [c["size"], c["extra"]]
        expected += [[a["path"], a["size"], a["extra"]] for a in plan["appended"]]
        self.assertEqual(expected, [list(r) for r in recs_after])
        self.assertEqual(plan["counters_before"], counters_before)
        self.assertEqual(plan["counters_after"], counters_after)
        self.assertEqual(head_before, head_after)

        # And every record make wrote is installed and listed with its size
        # and extra value.
        listed_after = {r[0].lower(): r for r in recs_after}
        for r in made["records"]:
            entry = listed_after[r["path"].lower()]
            if not r["folder"]:
                self.assertEqual((r["size"], r["extra"]), entry[1:], r["path"])
                self.assertEqual(r["size"], len(after[r["path"]]), r["path"])
            else:
                self.assertIn(r["path"], after)


DRIVER = None


def main():
    global ARGS, DRIVER
    parser = argparse.ArgumentParser()
    for name in ("run", "tool", "update", "driver", "work"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.work = os.path.abspath(ARGS.work)
    DRIVER = Driver()
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        DRIVER.ok("regdel", KEY)
        DRIVER.close()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
