#!/usr/bin/env python3
"""The update-list tool as a patch author runs it: make on real folder
trees, show on made and damaged files, check against install folders.
Expected bytes and merges are worked out here from the file formats, not
by the tool's code.

Usage: updatelist_test.py WORK COMMAND... (COMMAND runs the tool; for the
Windows build it starts with the emulator; the tool's output to a pipe is
UTF-8 on every side).
"""
import hashlib
import json
import os
import shutil
import stat
import struct
import subprocess
import sys
import unittest

WORK = None
TOOL = None
WINDOWS = False


def cp932(text):
    return text.encode("cp932")


def record(path, size, extra=0):
    return cp932(path).ljust(260, b"\0") + struct.pack("<II", size, extra)


def update_info(title, key, value, records, count=None):
    count = len(records) if count is None else count
    return (cp932(title).ljust(128, b"\0") + cp932(key).ljust(128, b"\0") + cp932(value).ljust(128, b"\0") +
            struct.pack("<III", count, 0, 0) + b"".join(records))


HEAD, TAIL = bytes(range(128)), bytes(i & 0xFF for i in range(4928))


def uninstall_info(records, file_count, total):
    return HEAD + struct.pack("<III", len(records), file_count, total) + TAIL + b"".join(records)


def parse_update(data):
    title, key, value = (data[o:o + 128].split(b"\0")[0].decode("cp932") for o in (0, 128, 256))
    count, r1, r2 = struct.unpack_from("<III", data, 384)
    recs = []
    for i in range(count):
        raw = data[396 + i * 268:396 + (i + 1) * 268]
        path, pad = raw[:260].split(b"\0", 1)
        size, extra = struct.unpack_from("<II", raw, 260)
        recs.append((path.decode("cp932"), size, extra, pad.strip(b"\0") == b""))
    return title, key, value, (r1, r2), recs, len(data) == 396 + 268 * count


def write(path, content=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fp:
        fp.write(content)


def read(path):
    with open(path, "rb") as fp:
        return fp.read()


def snapshot(root):
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(folder, name)
            out[os.path.relpath(p, root)] = None if os.path.isdir(p) else read(p)
    return out


def decode(data):
    """The tool's text: UTF-8 into a pipe, on every side."""
    return data.decode("utf-8").replace("\r\n", "\n")


def run(*args, code=0, stdout=None):
    """Runs the tool; returns stdout and stderr as text. The exit status
    must be `code` (a sanitizer's report changes it)."""
    env = dict(os.environ, ASAN_OPTIONS="exitcode=86", UBSAN_OPTIONS="exitcode=87")
    p = subprocess.run(TOOL + list(args), stdout=stdout or subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                       timeout=120)
    out, err = (decode(s or b"") for s in (p.stdout, p.stderr))
    if p.returncode != code:
        raise AssertionError("%s: exit %d, expected %d\n%s%s" % (" ".join(args), p.returncode, code, out, err))
    return out, err


def to_stream_file(d):
    """make's list written to /dev/fd/1 with standard output a file."""
    with open(os.path.join(d, "out.bin"), "wb") as fp:
        run("make", "-o", "/dev/fd/1", os.path.join(d, "data"), "T", "K", "V", stdout=fp)
    return read(os.path.join(d, "out.bin"))


def run_json(*args, code=0):
    env = dict(os.environ, ASAN_OPTIONS="exitcode=86", UBSAN_OPTIONS="exitcode=87")
    p = subprocess.run(TOOL + list(args), capture_output=True, env=env, timeout=120)
    assert p.returncode == code, (args, p.returncode, p.stderr)
    return json.loads(p.stdout.decode("utf-8"))


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(WORK, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)


class Make(Case):
    def tree(self):
        data = self.path("patch", "data")
        # Names with a 0x5C second byte (ソ, 表) and letter cases that sort
        # differently by bytes than by the updater's comparison.
        write(os.path.join(data, "b.txt"), b"bbb")
        write(os.path.join(data, "A.txt"), b"a")
        write(os.path.join(data, "Movie", "op.bin"), bytes(150000))
        write(os.path.join(data, "ソフト", "表.dat"), b"hyou!")
        # 83 41 and 83 61: second bytes are no letters, so two names.
        write(os.path.join(data, "ソフト", "ア"), b"a")
        write(os.path.join(data, "ソフト", "ヂ"), b"di")
        os.makedirs(os.path.join(data, "empty"))
        write(os.path.join(data, "zero.dat"))
        return data

    def test_records_sorted_folders_first_and_stable(self):
        data = self.tree()
        # A trailing separator still names the folder: the list goes beside it.
        out, _ = run("make", data + os.sep, "ヴェルモラ", "HKCU\\Software\\Demo\\Velmora", "InstallDir")
        made = self.path("patch", "Updateinf.dat")
        self.assertIn("3 folders, 7 files, 150012 bytes", out)
        title, key, value, reserved, recs, exact = parse_update(read(made))
        self.assertEqual(("ヴェルモラ", "Software\\Demo\\Velmora", "InstallDir", (0, 0), True),
                         (title, key, value, reserved, exact))
        self.assertEqual([("A.txt", 1), ("b.txt", 3), ("empty\\", 0), ("Movie\\", 0), ("Movie\\op.bin", 150000),
                          ("zero.dat", 0), ("ソフト\\", 0), ("ソフト\\ア", 1), ("ソフト\\ヂ", 2),
                          ("ソフト\\表.dat", 5)], [r[:2] for r in recs])
        self.assertTrue(all(r[2] == 0 and r[3] for r in recs), "extra values or bytes behind the paths")
        # Beside it, each file's size and SHA-256 in the records' order.
        sums = json.loads(run("show", "--json", self.path("patch", "Updateinf.sum"))[0])["entries"]
        self.assertEqual([(0, "0" * 64) if r[0].endswith("\\") else
                          (r[1], hashlib.sha256(read(os.path.join(data, *r[0].split("\\")))).hexdigest())
                          for r in recs], [(e["size"], e["sha256"]) for e in sums])
        # The same folder gives the same bytes.
        run("make", "-o", self.path("again.dat"), data, "ヴェルモラ", "Software\\Demo\\Velmora", "InstallDir")
        self.assertEqual(read(made), read(self.path("again.dat")))

    def test_extra_values(self):
        data = self.tree()
        out = self.path("u.dat")
        run("make", "-o", out, "--extra", "5", "--extra", "Movie=7", "--extra", "ソフト/表.dat=0x10", data, "T", "K",
            "V")
        extras = {r[0]: r[2] for r in parse_update(read(out))[4]}
        self.assertEqual((7, 5, 16, 5), (extras["Movie\\"], extras["Movie\\op.bin"], extras["ソフト\\表.dat"],
                                         extras["A.txt"]))
        write(out, b"keep")
        _, err = run("make", "-o", out, "--extra", "nothere.txt=1", data, "T", "K", "V", code=1)
        self.assertIn("nothere.txt", err)
        self.assertEqual(b"keep", read(out))
        run("make", "--extra", "4294967296", data, "T", "K", "V", code=2)

    def test_refusals_leave_the_old_list(self):
        long_folder = "d" * 118 + os.sep + "e" * 118
        cases = {
            # name: (files to add below data, make's arguments after data, words of the error)
            "title-61-bytes": ([], ["あ" * 30 + "x", "K", "V"], "60"),
            "title-no-cp932": ([], ["\U0001F600", "K", "V"], "code page 932"),
            "title-empty": ([], ["", "K", "V"], "empty"),
            "other-hive": ([], ["T", "HKEY_LOCAL_MACHINE\\Software\\X", "V"], "HKEY_CURRENT_USER"),
            "key-too-long": ([], ["T", "k" * 128, "V"], "127"),
            "case-twins": (["a.txt", "A.TXT"], ["T", "K", "V"], "A to Z"),
            "no-cp932-name": (["x\U0001F600.txt"], ["T", "K", "V"], "code page 932"),
            "device-name": (["con.txt"], ["T", "K", "V"], "device"),
            # One file on Windows beyond A to Z; one name rule with packtool.
            "wide-case-twins": (["ａ.txt", "Ａ.TXT", "α", "Α"], ["T", "K", "V"], "Windows takes it for"),
            "console-device": (["CONIN$"], ["T", "K", "V"], "device"),
            # Its last byte is 0x5C: refused for that, not as too long.
            "ends-in-5c": (["一覧表"], ["T", "K", "V"], "0x5C"),
            # The updater's own files; one folder down they are ordinary.
            "own-list": (["uninstallINF.DAT", os.path.join("sub", "Uninstallinf.dat")], ["T", "K", "V"],
                         "uninstall list"),
            "own-temporary": ([os.path.join("UNINSTALLINF.TMP", "x")], ["T", "K", "V"], "uninstall list"),
            "copy-temporary": ([os.path.join("sub", "Upd9F.tmp")], ["T", "K", "V"], "temporary copies"),
            "too-long": ([os.path.join(long_folder + "d", "x")], ["T", "K", "V"], "too long"),
            "too-long-for-install-dir": ([os.path.join(long_folder, "x")],
                                         ["--install-dir", "C:\\" + "g" * 100, "T", "K", "V"], "install"),
        }
        for name, (files, args, words) in cases.items():
            with self.subTest(case=name):
                data = self.path(name, "data")
                os.makedirs(data)
                for f in files:
                    write(os.path.join(data, f), b"x")
                out = self.path(name, "Updateinf.dat")
                write(out, b"old list")
                _, err = run("make", data, *args, code=1)
                self.assertIn(words, err)
                self.assertEqual(b"old list", read(out))
        # Just inside the limits: 60 bytes of title, a folder part of 237
        # bytes behind the shortest source root.
        data = self.path("limits", "data")
        write(os.path.join(data, long_folder, "x"), b"x")
        out, _ = run("make", data, "あ" * 30, "K", "V")
        self.assertIn("install folder of up to 8 bytes", out)

    def test_large_files_and_misplaced_output(self):
        data = self.path("big", "data")
        os.makedirs(data)
        with open(os.path.join(data, "big.bin"), "wb") as fp:
            fp.truncate(0xFFFFFFFF)
        run("make", data, "T", "K", "V")
        self.assertEqual(0xFFFFFFFF, parse_update(read(self.path("big", "Updateinf.dat")))[4][0][1])
        with open(os.path.join(data, "big.bin"), "wb") as fp:
            fp.truncate(0x100000000)
        _, err = run("make", data, "T", "K", "V", code=1)
        self.assertIn("4 GiB", err)
        os.remove(os.path.join(data, "big.bin"))
        _, err = run("make", "-o", os.path.join(data, "Updateinf.dat"), data, "T", "K", "V", code=1)
        self.assertIn("inside the data folder", err)
        self.assertEqual([], os.listdir(data))
        run("make", self.path("nothere"), "T", "K", "V", code=1)
        run("make", data, "T", "K", code=2)


class Show(Case):
    def test_update_list(self):
        long_title = "t" * 70
        path = self.path("Updateinf.dat")
        write(path, update_info(long_title, "Software\\ソフト", "Dir",
                                [record("Movie\\", 0, 1), record("Movie\\表.bin", 1000, 2), record("a", 5)]))
        d = run_json("show", "--json", path)
        self.assertEqual(("t" * 60, True, "Software\\ソフト", 3, 1, 2, 1005),
                         (d["title"], d["title_cut"], d["registry_key"], d["count"], d["folders"], d["files"],
                          d["total_size"]))
        self.assertEqual({"path": "Movie\\表.bin", "folder": False, "size": 1000, "extra": 2}, d["records"][1])
        out, _ = run("show", path)
        self.assertIn("Movie\\表.bin", out)
        self.assertIn("cut to 60 bytes", out)

    def test_uninstall_list_with_counters_that_disagree(self):
        path = self.path("Uninstallinf.dat")
        # The uninstall list only needs terminated paths: bytes that are not
        # code page 932 and control bytes must still give valid JSON.
        odd = b"\x81\x20\x01\xff".ljust(260, b"\0") + struct.pack("<II", 1, 0)
        write(path, uninstall_info([record("x\\", 0), record("x\\y", 9), odd], 5, 7))
        d = run_json("show", "--json", path)
        self.assertEqual((3, 5, 7, {"folders": 1, "files": 2, "total_size": 10}),
                         (d["count"], d["file_count"], d["total_size"], d["counted"]))
        self.assertEqual("\ufffd \x01\ufffd", d["records"][2]["path"])
        out, _ = run("show", path)
        self.assertIn("but the records hold 2", out)

    def test_kind_from_name_size_or_option(self):
        upd = update_info("T", "K", "V", [record("a", 1)])
        uni = uninstall_info([record("a", 1)], 1, 1)
        write(self.path("u.bin"), upd)
        write(self.path("n.bin"), uni)
        write(self.path("odd.bin"), upd + b"x")
        self.assertEqual("update", run_json("show", "--json", self.path("u.bin"))["type"])
        self.assertEqual("uninstall", run_json("show", "--json", self.path("n.bin"))["type"])
        _, err = run("show", self.path("odd.bin"), code=1)
        self.assertIn("--type", err)
        self.assertEqual(1, run_json("show", "--json", "--type", "update", self.path("odd.bin"))["count"])

    def test_damaged_files_are_refused_with_a_reason(self):
        good = update_info("T", "K", "V", [record("a", 1)])
        cases = {
            "Updateinf.dat": [
                (b"", "396-byte header"),
                (good[:400], "promises 1 records"),
                (update_info("T", "K", "V", [record("a", 1)], count=0x7FFFFFFF), "promises 2147483647"),
                (update_info("T", "K", "V", [record("..\\a", 1)]), "refuses this path"),
                (update_info("T", "K", "V", [record("C:\\a", 1)]), "refuses this path"),
                (update_info("T", "K", "V", [record("a", 1), record("uninstallinf.Dat. ", 1)]),
                 "record 2 (uninstallinf.Dat. ): the updater refuses this path: it names the updater's own"),
                (good[:128] + b"k" * 128 + good[256:], "no terminator"),
            ],
            "Uninstallinf.dat": [
                (HEAD, "5068-byte header"),
                (uninstall_info([record("a", 1)], 1, 1)[:-1], "promises 1 records"),
                (uninstall_info([b"p" * 268], 1, 1), "no terminator"),
            ],
        }
        for name, items in cases.items():
            for i, (content, words) in enumerate(items):
                with self.subTest(file=name, case=i):
                    write(self.path(str(i), name), content)
                    _, err = run("show", self.path(str(i), name), code=1)
                    self.assertIn(words, err)


def merge(uninstall, update_records):
    """The uninstall records and counters after the update records were
    merged by the rules of the format."""
    count, files, total = struct.unpack_from("<III", uninstall, 128)
    recs = [[uninstall[5068 + i * 268:5068 + i * 268 + 260].split(b"\0")[0].decode("cp932")] +
            list(struct.unpack_from("<II", uninstall, 5068 + i * 268 + 260)) for i in range(count)]
    def fold(p):  # letters of single-byte characters only
        return "".join(c.lower() if "A" <= c <= "Z" else c for c in p)

    for path, size, extra in update_records:
        match = next((r for r in recs if fold(r[0]) == fold(path)), None)
        if match is None:
            recs.append([path, size, extra])
            if not path.endswith("\\"):
                files, total = files + 1, (total + size) & 0xFFFFFFFF
        elif not path.endswith("\\"):
            total = (total + size - match[1]) & 0xFFFFFFFF
            match[1:] = [size, extra]
    return recs, {"count": len(recs), "file_count": files, "total_size": total}


class Check(Case):
    def lay_out(self, records, data_files, installed, listed, base=""):
        patch, inst = self.path(base, "patch"), self.path(base, "inst")
        write(os.path.join(patch, "Updateinf.dat"), update_info("T", "K", "V", [record(*r) for r in records]))
        for rel, content in data_files.items():
            write(os.path.join(patch, "data", *rel.split("\\")), content)
        os.makedirs(inst, exist_ok=True)
        for rel, content in installed.items():
            write(os.path.join(inst, *rel.split("\\")), content)
        files = [r for r in listed if not r[0].endswith("\\")]
        write(os.path.join(inst, "Uninstallinf.dat"),
              uninstall_info([record(*r) for r in listed], len(files), sum(r[1] for r in files)))
        return patch, inst

    def test_plan_follows_the_merge_rules_and_changes_nothing(self):
        records = [("Movie\\", 0, 1), ("Movie\\op.bin", 300000, 2), ("ソフト\\表\\", 0, 3),
                   ("ソフト\\表\\a.dat", 4, 4), ("keep.txt", 2, 5)]
        data = {"Movie\\op.bin": bytes(300000), "ソフト\\表\\a.dat": b"aaaa", "keep.txt": b"kk"}
        listed = [("MOVIE\\", 0, 9), ("movie\\OP.BIN", 1000, 9), ("keep.txt", 7, 9)]
        patch, inst = self.lay_out(records, data, {"Movie\\op.bin": bytes(1000), "keep.txt": b"1234567"}, listed)
        before = snapshot(self.dir)
        plan = run_json("check", "--json", patch, inst)
        self.assertEqual(before, snapshot(self.dir), "check changed files")
        recs, counters = merge(read(os.path.join(inst, "Uninstallinf.dat")), records)
        self.assertEqual(["ソフト\\表\\"], plan["folders_to_create"])
        self.assertEqual([{"path": "ソフト\\表\\a.dat", "size": 4}], plan["files_to_add"])
        self.assertEqual([("Movie\\op.bin", 1000), ("keep.txt", 7)],
                         [(f["path"], f["installed_size"]) for f in plan["files_to_replace"]])
        self.assertEqual([r[0] for r in recs[3:]], [a["path"] for a in plan["appended"]])
        self.assertEqual([("movie\\OP.BIN", 1000, 300000, 9, 2), ("keep.txt", 7, 2, 9, 5)],
                         [(c["path"], c["size_before"], c["size"], c["extra_before"], c["extra"])
                          for c in plan["changed"]])
        self.assertEqual(counters, plan["counters_after"])
        # In whole clusters of the volume: the movie's copy beside the old
        # one, the new file, keep.txt's copy beside the old one, then the
        # rewritten uninstall list with every record appended beside the
        # old list; for these sizes the last step is the highest.
        c = plan["cluster_size"]
        self.assertEqual(os.statvfs(inst).f_frsize, c)
        r = lambda n: -(-n // c) * c
        self.assertEqual(r(300000) - r(1000) + r(4) + r(2) - r(7) + r(5068 + 8 * 268), plan["space_needed"])
        self.assertEqual(([], None, True, False), (plan["source_problems"], plan["stops_at"], plan["would_complete"],
                                                   plan["hashes_checked"]))
        out, _ = run("check", patch, inst)
        self.assertIn("records 3 -> 5, files 2 -> 3", out)

    def test_refusals(self):
        records = [("a.txt", 1)]
        cases = {
            "edition": (lambda p, i: os.makedirs(os.path.join(i, "VaruvEreza.exe")), "初回版には適用できません"),
            "not-installed": (lambda p, i: os.remove(os.path.join(i, "Uninstallinf.dat")), "インストールされていません"),
            "damaged-list": (lambda p, i: write(os.path.join(p, "Updateinf.dat"), b"short"), "開けませんでした"),
            "damaged-sums": (lambda p, i: run("make", os.path.join(p, "data"), "T", "K", "V") and
                             write(os.path.join(p, "Updateinf.sum"), b"UPDSUM\r\n"), "開けませんでした"),
            "damaged-source": (lambda p, i: run("make", os.path.join(p, "data"), "T", "K", "V") and
                               write(os.path.join(p, "data", "a.txt"), b"b"), "壊れています。もう一度ダウンロード"),
        }
        for name, (spoil, message) in cases.items():
            with self.subTest(case=name):
                patch, inst = self.lay_out(records, {"a.txt": b"a"}, {}, [], base=name)
                spoil(patch, inst)
                plan = run_json("check", "--json", patch, inst, code=1)
                self.assertIn(message, plan["refused"]["message"])
                self.assertFalse(plan["would_complete"])

    def test_update_that_does_not_fit_is_refused(self):
        # The sources count, so they are sparse files, large only by their
        # size; a margin of 8 GiB keeps others freeing space from making it
        # fit.
        st = os.statvfs(self.dir)
        count = (st.f_bavail * st.f_frsize + (8 << 30)) // 0xFFFFFFFF + 1
        records = [("big%04d.bin" % i, 1) for i in range(count)]
        patch, inst = self.lay_out(records, {}, {}, [])
        os.makedirs(os.path.join(patch, "data"))
        for name, _ in records:
            with open(os.path.join(patch, "data", name), "wb") as fp:
                fp.truncate(0xFFFFFFFF)
        plan = run_json("check", "--json", patch, inst, code=1)
        c = plan["cluster_size"]
        r = lambda n: -(-n // c) * c
        self.assertEqual(count * r(0xFFFFFFFF) + r(5068 + count * 268), plan["space_needed"])
        # update.exe's whole message: the need rounded up, the free space
        # down.
        mega = 1 << 20
        self.assertEqual("インストール先のドライブに空き容量が足りません\n"
                         "必要な空き容量：{:,} MB\n現在の空き容量：{:,} MB".format(
                             -(-plan["space_needed"] // mega), plan["free_space"] // mega),
                         plan["refused"]["message"])
        # What this user may write there, give or take what others wrote
        # meanwhile.
        st = os.statvfs(self.dir)
        self.assertLess(abs(plan["free_space"] - st.f_bavail * st.f_frsize), 256 << 20)

    def test_failures_found_before_copying_or_where_the_copy_would_stop(self):
        records = [("a.txt", 1), ("gone.txt", 3), ("sized.txt", 10), ("new\\b.txt", 1), ("blocked\\", 0)]
        patch, inst = self.lay_out(records, {"a.txt": b"a", "sized.txt": b"12345", "new\\b.txt": b"b"},
                                   {"blocked": b"file"}, [])
        # A missing source, a file whose folder nothing makes, then a file
        # where a folder record goes: the updater fails before copying
        # anything, and check lists every one.
        failed = "アップデートに失敗しました"
        fixes = [lambda: write(os.path.join(patch, "data", "gone.txt"), b"ggg"),
                 lambda: os.makedirs(os.path.join(inst, "new")),
                 lambda: os.remove(os.path.join(inst, "blocked"))]
        for count, reason, fix in zip((3, 2, 1), ("gone.txt its source cannot be opened for reading",
                                                  "new\\b.txt its folder is not in the install folder and no "
                                                  "folder record before it creates it",
                                                  "blocked\\ it is a folder record and a file of that name is there"),
                                      fixes):
            plan = run_json("check", "--json", patch, inst, code=1)
            self.assertEqual({"reason": "after OK, before copying: " + reason, "message": failed}, plan["refused"])
            self.assertEqual(count, len(plan["problems"]))
            fix()
        plan = run_json("check", "--json", patch, inst, code=1)
        self.assertEqual((None, True), (plan["refused"], plan["would_complete"]))
        self.assertEqual([("sized.txt", "size")], [(p["path"], p["problem"]) for p in plan["source_problems"]])


class Careless(Case):
    def test_one_table(self):
        """Misuse of every command, one case a row: what the tool says and
        what it leaves on disk."""
        def laid_out(d, files=("a.txt",)):
            for f in files:
                write(os.path.join(d, "data", f), b"x")

        def key_of(d):
            return parse_update(read(os.path.join(d, "Updateinf.dat")))[1]

        full = "/dev/full"
        cases = {
            # name: (files below data, arguments, exit status, words in stderr, check, native only)
            # Registry keys split with the double-byte rule: 能 is 94 5C.
            "key-5c-second-byte": ((), ["make", "data", "T", "Software\\Game可能", "V"], 0, [],
                                   lambda d: key_of(d) == "Software\\Game可能", False),
            "key-hkcu-so": ((), ["make", "data", "T", "HKCU\\ソ", "V"], 0, [], lambda d: key_of(d) == "ソ", False),
            "key-empty-part": ((), ["make", "data", "T", "Soft\\\\ware", "V"], 1, ["no empty part"], None, False),
            "key-control": ((), ["make", "data", "T", "Soft\x01ware", "V"], 1, ["control character"], None, False),
            "value-control": ((), ["make", "data", "T", "K", "Dir\x1b"], 1, ["control character"], None, False),
            # Entries that are not files are named and nothing is written.
            "dangling-link": ("link", ["make", "data", "T", "K", "V"], 1, ["broken", "leads nowhere"],
                              lambda d: not os.path.exists(os.path.join(d, "Updateinf.dat")), True),
            "fifo": ("fifo", ["make", "data", "T", "K", "V"], 1, ["fifo", "FIFO"],
                     lambda d: not os.path.exists(os.path.join(d, "Updateinf.dat")), True),
            # The command line.
            "double-dash": ("-u.dat", ["show", "--", "-u.dat"], 0, [], None, False),
            "options-last": ((), ["make", "data", "T", "K", "V", "-o", "out.dat"], 0, [],
                             lambda d: os.path.exists(os.path.join(d, "out.dat")), False),
            "value-missing": ((), ["make", "data", "T", "K", "V", "-o"], 2, ["-o needs a value"], None, False),
            "command-help": ((), ["show", "--help"], 0, [],
                             lambda d: "show [--json]" in run("show", "--help")[0]
                             and "make [" not in run("show", "--help")[0], False),
            "show-json-last": ((), ["make", "data", "T", "K", "V"], 0, [],
                               lambda d: '"type": "update"' in run("show", os.path.join(d, "Updateinf.dat"),
                                                                   "--json")[0], False),
            # A failed write to standard output.
            "stdout-full": ((), ["--help"], 1, ["standard output"], None, False),
            # The list never lands in the data folder, through a link or not;
            # on Linux another letter case is another folder.
            "output-through-link": ("to-data", ["make", "-o", "l/list.dat", "data", "T", "K", "V"], 1,
                                    ["inside the data folder"], None, True),
            "output-other-case": ("DATA", ["make", "-o", "DATA/list.dat", "data", "T", "K", "V"], 0, [],
                                  lambda d: os.path.exists(os.path.join(d, "DATA", "list.dat")), True),
            # Arguments reach the terminal escaped.
            "escaped-arguments": ((), ["make", "no\x1b[31mdir", "T", "K", "V"], 1, ["no?[31mdir"], None, False),
            "escaped-show": ((), ["show", "x\x1b[31m.dat"], 1, ["x?[31m.dat"], None, False),
            "escaped-check": ((), ["check", "no\x1b[31mdir", "."], 1, ["no?[31mdir"], None, False),
            # An output that is not a regular file is written, never renamed over.
            "output-device": ("null", ["make", "-o", "null", "data", "T", "K", "V"], 0, [],
                              lambda d: stat.S_ISCHR(os.lstat(os.path.join(d, "null")).st_mode), False),
            # A standard stream's name, the output redirected to a file: the
            # stream is written, the system's link left alone.
            "output-stream-to-file": (("a.txt",), ["make", "-o", "u.dat", "data", "T", "K", "V"], 0, [],
                                      lambda d: to_stream_file(d) == read(os.path.join(d, "u.dat")), True),
            # The patch folder given for its data folder.
            "patch-as-data": (("update.exe", "a.txt"), ["make", "-o", "u.dat", "data", "T", "K", "V"], 0,
                              ["warning", "update.exe"], None, False),
            "patch-as-data-other-case": (("Update.EXE", "UPDATEINF.DAT"), ["make", "-o", "u.dat", "data", "T", "K",
                                                                         "V"], 0,
                                         ["warning", "Update.EXE", "UPDATEINF.DAT"], None, False),
        }
        for name, (files, args, code, words, check, native_only) in cases.items():
            if WINDOWS and native_only:
                continue  # links and FIFOs reach a Windows program through Wine differently
            with self.subTest(case=name):
                d = self.path(name)
                if files == "link":
                    laid_out(d)
                    os.symlink("nowhere", os.path.join(d, "data", "broken"))
                elif files == "fifo":
                    laid_out(d)
                    os.mkfifo(os.path.join(d, "data", "fifo"))
                elif files == "-u.dat":
                    write(os.path.join(d, "-u.dat"), update_info("T", "K", "V", []))
                elif files == "to-data":
                    laid_out(d)
                    os.symlink("data", os.path.join(d, "l"))
                elif files == "null":
                    laid_out(d)
                    try:
                        os.mknod(os.path.join(d, "null"), stat.S_IFCHR | 0o666, os.makedev(1, 3))
                    except OSError as e:
                        self.skipTest("mknod refused: %s" % e)
                elif files == "DATA":
                    laid_out(d)
                    os.makedirs(os.path.join(d, "DATA"))
                else:
                    laid_out(d, files or ("a.txt",))
                cwd = os.getcwd()
                os.chdir(d)
                try:
                    if name == "stdout-full":
                        with open(full, "wb") as fp:
                            _, err = run(*args, code=code, stdout=fp)
                    else:
                        _, err = run(*args, code=code)
                finally:
                    os.chdir(cwd)
                for w in words:
                    self.assertIn(w, err)
                self.assertNotIn("\x1b", err)
                if check:
                    self.assertTrue(check(d))
                self.assertEqual([], [n for _, _, ns in os.walk(d) for n in ns if ".~" in n])


def main():
    global WORK, TOOL, WINDOWS
    WORK = os.path.abspath(sys.argv[1])
    TOOL = sys.argv[2:]
    WINDOWS = TOOL[-1].lower().endswith(".exe")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    result = unittest.main(argv=[sys.argv[0]], exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
