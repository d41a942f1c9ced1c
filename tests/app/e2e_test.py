#!/usr/bin/env python3
"""End-to-end tests of update.exe: the real program under Wine, on the
test fixture's Xvfb, beside a real Updateinf.dat and data folder, against
an install folder named in the test prefix's registry. A console program
running in the same prefix (uidriver.exe) waits for the dialogs and
message boxes, reads their texts and presses their buttons; this script
lays out the files, checks the install folder and Uninstallinf.dat byte
for byte afterwards, and saves a screenshot of every dialog and message
box it meets.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import unittest

ARGS = None
TIMEOUT_MS = "30000"
KILL_TIMEOUT_MS = "60000"

CANNOT_OPEN = "アップデート情報ファイルが開けませんでした"
WRONG_EDITION = "このアップデートファイルは「Velmora」通常版用です。初回版には適用できません。"
COMPLETED = "アップデートが完了しました"
FAILED = "アップデートに失敗しました"
IN_USE = "次のファイルが使用中のため、アップデートできません。\nゲームを終了してから［再試行］を押してください。\n\n"
CANNOT_WRITE = "アンインストール情報ファイルを書き込めませんでした\nアンインストール時に今回の更新が削除されない場合があります"
REFUSES_WRITE = "次のファイルまたはフォルダに書き込めないため、アップデートできません。\n"
DAMAGED = "アップデートデータが壊れています。もう一度ダウンロードしてください。\n"
BASE_DIFFERS = "次のファイルがこのアップデートの対象のものと異なるため、アップデートできません。\n"
TOO_DEEP = "インストール先のフォルダの場所が深すぎるため、アップデートできません。\n"
UNUSABLE_FOLDER = "インストール先のフォルダ名に、このアップデートでは扱えない文字が含まれています。\n"
# The package lies in a folder whose name has no code page 932 form, as a
# download folder of a player named José does.
PACKAGE_FOLDER = "Jos\u00e9"


NO_SPACE = re.compile("インストール先のドライブに空き容量が足りません\n必要な空き容量：([0-9,]+) MB\n"
                      "現在の空き容量：([0-9,]+) MB")
MIB = 1 << 20
# File attributes.
RO, HIDDEN, SYSTEM = 0x1, 0x2, 0x4
# The largest size a file record can claim.
MAX_RECORD = 0xFFFFFFFF


def free_bytes(path):
    """What the user may still write on the volume holding path, as Wine
    reports it to update.exe."""
    st = os.statvfs(path)
    return st.f_bavail * st.f_frsize


def not_installed(title):
    return title + "が正常にインストールされていません\nインストール後、実行してください"


# --- The two file formats ------------------------------------------------

def cp932(text):
    return text.encode("cp932") if isinstance(text, str) else text


def field(text, size):
    data = cp932(text)
    assert len(data) <= size
    return data.ljust(size, b"\0")


def record(path, size, extra=0):
    return field(path, 260) + struct.pack("<II", size, extra)


def update_info(title, key, value, records, count=None):
    count = len(records) if count is None else count
    return (field(title, 128) + field(key, 128) + field(value, 128) +
            struct.pack("<III", count, 0xAAAAAAAA, 0x55555555) + b"".join(records))


HEAD = bytes((i * 7 + 1) & 0xFF for i in range(128))
TAIL = bytes((i * 13 + 5) & 0xFF for i in range(4928))


def uninstall_info(records, file_count, total):
    return HEAD + struct.pack("<III", len(records), file_count, total) + TAIL + b"".join(records)


def merge(uninstall, update_records):
    """The uninstall file as it must look after the given update records
    were installed: the merge rules, written independently of the program."""
    count, file_count, total = struct.unpack_from("<III", uninstall, 128)
    recs = [bytearray(uninstall[5068 + i * 268:5068 + (i + 1) * 268]) for i in range(count)]

    def path_of(r):
        return bytes(r[:260]).split(b"\0", 1)[0]

    def fold(p):
        return bytes(c + 0x20 if 0x41 <= c <= 0x5A else c for c in p)

    for new in update_records:
        p = path_of(new)
        folder = p.endswith(b"\\")
        match = next((r for r in recs if fold(path_of(r)) == fold(p)), None)
        size, extra = struct.unpack_from("<II", new, 260)
        if match is None:
            recs.append(bytearray(new))
            if not folder:
                file_count += 1
                total = (total + size) & 0xFFFFFFFF
        elif not folder:
            old = struct.unpack_from("<I", match, 260)[0]
            total = (total + size - old) & 0xFFFFFFFF
            struct.pack_into("<II", match, 260, size, extra)
    return (uninstall[:128] + struct.pack("<III", len(recs), file_count, total) +
            uninstall[140:5068] + b"".join(bytes(r) for r in recs))


def pattern(n, seed):
    block = bytes((i * 31 + seed) & 0xFF for i in range(65536))
    return (block * (n // len(block) + 1))[:n]


def renumber_dialog(exe, dialog_id, new_id):
    """Gives dialog template dialog_id of a copy of update.exe another
    number, so that the program cannot create that dialog. new_id must
    keep the template directory in order (the loader searches it
    halving)."""
    with open(exe, "r+b") as fp:
        pe = bytearray(fp.read())
        at = struct.unpack_from("<I", pe, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<H", pe, at + 6)[0], struct.unpack_from("<H", pe, at + 20)[0]
        optional = at + 24
        assert struct.unpack_from("<H", pe, optional)[0] == 0x20B, "not a 64-bit program"
        rva = struct.unpack_from("<I", pe, optional + 112 + 2 * 8)[0]
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", pe, optional + optional_size + i * 40 + 8)
            if address <= rva < address + size:
                base = raw + rva - address

        def entry(directory, wanted):
            named, ids = struct.unpack_from("<HH", pe, directory + 12)
            for k in range(named + ids):
                pos = directory + 16 + k * 8
                name, target = struct.unpack_from("<II", pe, pos)
                if name == wanted:
                    return pos, base + (target & 0x7FFFFFFF)
            raise AssertionError("no resource %d" % wanted)

        _, dialogs = entry(base, 5)  # RT_DIALOG
        pos, _ = entry(dialogs, dialog_id)
        struct.pack_into("<I", pe, pos, new_id)
        fp.seek(0)
        fp.write(pe)


# --- Paths -----------------------------------------------------------------

def host(base, rel):
    """A record path (backslashes) as a path on this machine."""
    return os.path.join(base, *[c for c in rel.split("\\") if c])


def windows(path):
    """The name Wine gives a path on this machine: drive Z: is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tree(root):
    """Every folder and file below root: relative name -> bytes, or None
    for a folder."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(folder, d), root)] = None
        for f in files:
            with open(os.path.join(folder, f), "rb") as fp:
                out[os.path.relpath(os.path.join(folder, f), root)] = fp.read()
    return out


# --- The driver --------------------------------------------------------------

class Driver:
    def __init__(self):
        self.log = open(os.path.join(ARGS.artifacts, "driver.log"), "w")
        self.proc = subprocess.Popen([ARGS.run, ARGS.driver], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.log)

    def call(self, *fields):
        line = "\t".join(fields) + "\n"
        self.log.write("> " + line)
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().decode("utf-8").rstrip("\r\n")
        self.log.write("< " + reply + "\n")
        self.log.flush()
        if not reply:
            raise RuntimeError("the driver ended")
        parts = reply.split("\t")
        return parts[0], [unescape(p) for p in parts[1:]]

    def ok(self, *fields):
        status, values = self.call(*fields)
        if status != "ok":
            raise AssertionError("driver: %s -> %s" % (" ".join(fields), " ".join([status] + values)))
        return values

    def close(self):
        try:
            self.call("quit")
        except (RuntimeError, BrokenPipeError):
            pass
        self.proc.wait(timeout=60)
        self.log.close()


def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(s[i + 1], s[i + 1]))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


DRIVER = None
DISPLAY = None


class Window:
    def __init__(self, values):
        self.hwnd, self.caption, self.text, self.rect = values


# --- One run of update.exe -------------------------------------------------------

class Scenario:
    """A package (update.exe, Updateinf.dat, data) and an install folder
    named in the registry, laid out for one run."""

    KEY_ROOT = "Software\\GamepatchE2E"

    def __init__(self, name, install_name="Game"):
        self.name = name
        self.root = os.path.join(ARGS.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        self.pkg = os.path.join(self.root, PACKAGE_FOLDER)
        self.inst = os.path.join(self.root, install_name)
        os.makedirs(os.path.join(self.pkg, "data"))
        os.makedirs(self.inst)
        shutil.copy(ARGS.update, os.path.join(self.pkg, "update.exe"))
        self.key = self.KEY_ROOT + "\\" + name
        self.shots = 0
        DRIVER.ok("regdel", self.key)

    def update(self, records, title="ABC", count=None):
        self.records = records
        self.write(os.path.join(self.pkg, "Updateinf.dat"),
                   update_info(title, self.key, "InstallDir", records, count))

    def sums(self, version=1, cut=0):
        """Writes Updateinf.sum for the data as it is now, the list's
        sizes made the files' own, as updatelist make does; version and cut
        spoil it."""
        entries, records = [], []
        for r in self.records:
            path = r[:260].split(b"\0", 1)[0]
            if path.endswith(b"\\"):
                entries.append(bytes(80))
                records.append(r)
                continue
            with open(host(os.path.join(self.pkg, "data"), path.decode("cp932")), "rb") as fp:
                content = fp.read()
            digest = hashlib.sha256(content).digest()
            entries.append(struct.pack("<Q", len(content)) + digest + struct.pack("<Q", len(content)) + digest)
            records.append(r[:260] + struct.pack("<I", len(content)) + r[264:])
        self.update(records)
        data = b"UPDSUM\r\n" + struct.pack("<II", version, len(entries)) + b"".join(entries)
        self.write(os.path.join(self.pkg, "Updateinf.sum"), data[:len(data) - cut])

    def data(self, rel, content):
        self.write(host(os.path.join(self.pkg, "data"), rel), content)

    def installed(self, rel, content, readonly=False):
        path = host(self.inst, rel)
        self.write(path, content)
        if readonly:
            os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)

    def uninstall(self, content):
        self.write(os.path.join(self.inst, "Uninstallinf.dat"), content)

    def register(self, value=None):
        DRIVER.ok("regset", self.key, "InstallDir", windows(self.inst) + "\\" if value is None else value)

    @staticmethod
    def write(path, content):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as fp:
            fp.write(content)

    def start(self, *env):
        # A run left behind by a failed case must not fail the next one.
        DRIVER.call("kill")
        self.before = tree(self.inst)
        return DRIVER.ok("start", windows(os.path.join(self.pkg, "update.exe")), windows(self.root), *env)[0]

    def find(self, kind, shot=True):
        w = Window(DRIVER.ok("find", kind, TIMEOUT_MS))
        if shot:
            self.screenshot(kind, w)
        return w

    def screenshot(self, kind, w):
        self.shots += 1
        size, x, y = w.rect.split("+")
        out = os.path.join(ARGS.artifacts, "%s-%d-%s.png" % (self.name, self.shots, kind))
        subprocess.run(["import", "-display", DISPLAY, "-window", "root", "-crop", "%s+%s+%s" % (size, x, y),
                        "+repage", out], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def text(self, w, control_id):
        return DRIVER.ok("text", w.hwnd, str(control_id))[0]

    def click(self, w, control_id):
        DRIVER.ok("click", w.hwnd, str(control_id))

    def close_box(self, w):
        self.click(w, 1)
        DRIVER.ok("gone", w.hwnd, TIMEOUT_MS)

    def finish(self, tc):
        """Waits for the program to end: it must return 0 with no window
        left open."""
        code = DRIVER.ok("exit", TIMEOUT_MS)[0]
        tc.assertEqual("0", code)
        tc.assertEqual([], [n for n in tree(self.inst) if n.lower().endswith(".tmp")], "temporary files left")

    def expect_box(self, tc, text, caption):
        box = self.find("msgbox")
        tc.assertEqual(text, box.text)
        tc.assertEqual(caption, box.caption)
        return box

    def unchanged(self, tc):
        tc.assertEqual(self.before, tree(self.inst), "the install folder changed")


class UpdateRun(unittest.TestCase):
    default_caption = None

    @classmethod
    def setUpClass(cls):
        # A message box given no caption shows the system's default one.
        cls.default_caption = DRIVER.ok("defcaption")[0]

    def tearDown(self):
        DRIVER.call("kill")

    def refused(self, s, text):
        """The run shows text in one box before any dialog and changes
        nothing."""
        s.start()
        box = s.expect_box(self, text, self.default_caption)
        s.close_box(box)
        s.finish(self)
        s.unchanged(self)

    def basic(self, name, title="ABC", **kw):
        s = Scenario(name, **kw)
        s.data("a.txt", b"new a")
        s.update([record("a.txt", 5)], title=title)
        s.uninstall(uninstall_info([record("old.txt", 3)], 1, 3))
        s.installed("old.txt", b"old")
        s.register()
        return s

    # --- the full path ---------------------------------------------------------

    def test_success_with_folders_files_and_case_only_match(self):
        # An install folder whose name ends in a character with a 0x5C
        # second byte, and names of the same kind in the list.
        s = Scenario("success", install_name="ゲーム表")
        big, exact = pattern(250000, 1), pattern(100000, 2)
        s.data("Movie\\op.bin", big)
        s.data("ソフト\\表.dat", exact)
        s.data("empty.dat", b"")
        s.data("readme.txt", b"read me\r\n")
        s.data("ro.txt", b"replaced")
        s.data("hidden.sys", b"new hidden")
        records = [
            record("Movie\\", 0, 1),
            record("Movie\\op.bin", len(big), 2),
            record("ソフト\\", 0, 3),
            record("ソフト\\表.dat", len(exact), 4),
            record("empty.dat", 0, 5),
            record("readme.txt", 9, 6),
            record("ro.txt", 8, 7),
            record("hidden.sys", 10, 8),
        ]
        s.update(records, title="ABC")
        # Listed already: the folder, the movie in other letter case, the
        # read-only file.
        original = uninstall_info([record("MOVIE\\", 0, 9), record("MOVIE\\OP.BIN", 1000, 9),
                                   record("ro.txt", 3, 9), record("keep.txt", 4, 9)], 3, 1007)
        s.uninstall(original)
        s.installed("Movie\\op.bin", b"old movie")
        s.installed("ro.txt", b"old", readonly=True)
        s.installed("keep.txt", b"keep")
        s.installed("hidden.sys", b"old hidden")
        DRIVER.ok("attr", windows(host(s.inst, "hidden.sys")), "%x" % (RO | HIDDEN | SYSTEM))
        s.register()
        s.start()

        confirm = s.find("confirm")
        self.assertEqual("ABC アップデート", confirm.caption)
        self.assertEqual("ABCのアップデートを行います", confirm.text)
        self.assertEqual("よろしいですか？", s.text(confirm, 65535))
        self.assertEqual("OK", s.text(confirm, 1))
        self.assertEqual("ｷｬﾝｾﾙ", s.text(confirm, 2))
        s.click(confirm, 1)

        box = s.expect_box(self, COMPLETED, "完了")
        self.assertEqual(["完了"], DRIVER.ok("windows"), "the progress dialog is still there")
        # The uninstall file is written only once the box is closed.
        with open(os.path.join(s.inst, "Uninstallinf.dat"), "rb") as fp:
            self.assertEqual(original, fp.read())
        s.close_box(box)
        s.finish(self)

        after = tree(s.inst)
        self.assertEqual(big, after[os.path.join("Movie", "op.bin")])
        self.assertEqual(exact, after[os.path.join("ソフト", "表.dat")])
        self.assertEqual(b"", after["empty.dat"])
        self.assertEqual(b"read me\r\n", after["readme.txt"])
        self.assertEqual(b"replaced", after["ro.txt"])
        # The copy has ordinary attributes, whatever the file it replaced had.
        self.assertTrue(os.stat(os.path.join(s.inst, "ro.txt")).st_mode & stat.S_IWUSR)
        self.assertEqual(b"new hidden", after["hidden.sys"])
        # A hidden system file stays both, but is no longer read-only.
        self.assertEqual("%x" % (HIDDEN | SYSTEM), "%x" % (self.attributes(s, "hidden.sys") & (RO | HIDDEN | SYSTEM)))
        self.assertEqual(0, self.attributes(s, "ro.txt") & (RO | HIDDEN | SYSTEM))
        self.assertEqual(b"keep", after["keep.txt"])
        self.assertEqual(merge(original, records), after["Uninstallinf.dat"])
        self.assertEqual(10, len(after), sorted(after))

    @staticmethod
    def attributes(s, rel):
        return int(DRIVER.ok("attr", windows(host(s.inst, rel)))[0], 16)

    # --- declining ---------------------------------------------------------------

    def test_confirmation_declined_with_cancel_or_escape(self):
        for how in ("cancel", "escape"):
            with self.subTest(how=how):
                s = self.basic("declined-" + how)
                s.start()
                confirm = s.find("confirm", shot=how == "cancel")
                if how == "cancel":
                    s.click(confirm, 2)
                else:
                    DRIVER.ok("escape", confirm.hwnd)
                s.finish(self)
                s.unchanged(self)

    # --- a dialog that cannot be created -----------------------------------------

    def test_dialog_that_cannot_be_created_shows_the_failure(self):
        for name, dialog_id, new_id in (("confirm", 101, 100), ("progress", 102, 103)):
            with self.subTest(dialog=name):
                s = self.basic("no-dialog-" + name)
                renumber_dialog(os.path.join(s.pkg, "update.exe"), dialog_id, new_id)
                s.start()
                if name == "progress":
                    s.click(s.find("confirm", shot=False), 1)
                box = s.expect_box(self, FAILED, self.default_caption)
                self.assertEqual([self.default_caption], DRIVER.ok("windows"))
                s.close_box(box)
                s.finish(self)
                # Nothing was copied; the rewritten list is the old one.
                s.unchanged(self)

    # --- Cancel, or a destination locked, during the copy ----------------------

    def test_cancel_or_a_lock_during_a_large_file(self):
        for how in ("click", "escape", "lock"):
            with self.subTest(how=how):
                self.held_in_a_large_file(how)

    def held_in_a_large_file(self, how):
        s = Scenario("held-" + how)
        # The driver waits until the program has shown this file's label,
        # stops it once inside the file (its temporary copy has a first
        # block) and posts the Cancel while it stands still; the program
        # sees it at its next look at the queue, at most 10 ms of copying
        # later. Those two waits copy some tens of MB at most, far from
        # the file's end. Or, while it stands still, another program locks
        # the installed file that comes next, which the checks before the
        # pass saw unlocked.
        big = pattern(150 * 1000 * 1000, 3)
        s.data("new\\a.txt", b"small")
        s.data("big.bin", big)
        s.data("after.txt", b"after")
        records = [record("new\\", 0), record("new\\a.txt", 5), record("big.bin", len(big)),
                   record("after.txt", 5)]
        s.update(records)
        original = uninstall_info([record("big.bin", 7), record("after.txt", 9)], 2, 16)
        s.uninstall(original)
        s.installed("big.bin", b"old big")
        s.installed("after.txt", b"old after")
        s.register()
        s.start()
        s.click(s.find("confirm", shot=False), 1)

        progress = s.find("progress", shot=False)
        DRIVER.ok("hold", progress.hwnd, "1002", "big.binをコピー中...", windows(s.inst), "100000", TIMEOUT_MS)
        try:
            self.assertEqual(["アップデート中"], DRIVER.ok("windows"))
            self.assertEqual("ｷｬﾝｾﾙ", s.text(progress, 2))
            if how == "click":
                s.screenshot("progress", progress)
                s.click(progress, 2)
            elif how == "escape":
                # Keys reach the dialog only through the dialog manager.
                DRIVER.ok("escape", progress.hwnd)
            else:
                DRIVER.ok("lock", windows(host(s.inst, "after.txt")))
        finally:
            DRIVER.ok("resume")

        try:
            box = s.expect_box(self, FAILED, self.default_caption)
            self.assertEqual([self.default_caption], DRIVER.ok("windows"), "the progress dialog is still there")
            s.close_box(box)
            s.finish(self)
        finally:
            DRIVER.ok("unlock")
        after = tree(s.inst)
        # Cancelled, the large file is not installed; with the next one
        # locked, it is, and the locked one fails.
        done = 3 if how == "lock" else 2
        self.assertEqual(big if how == "lock" else b"old big", after["big.bin"])
        self.assertEqual(b"small", after[os.path.join("new", "a.txt")])
        self.assertEqual(b"old after", after["after.txt"], "the installed file was touched")
        self.assertEqual(merge(original, records[:done]), after["Uninstallinf.dat"])
        shutil.rmtree(s.root)  # 150 MB or more that no later look needs

    def test_cancel_during_a_run_of_small_files(self):
        # The driver stops the program inside the run and posts Cancel; the
        # program must see it within its next look at the queue, long
        # before the run is over, although no file is larger than a block.
        s = Scenario("cancel-small")
        names = ["s\\f%04d.txt" % i for i in range(2000)]
        records = [record("s\\", 0)] + [record(n, 5) for n in names]
        for n in names:
            s.data(n, b"small")
        s.update(records)
        original = uninstall_info([], 0, 0)
        s.uninstall(original)
        s.register()
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        progress = s.find("progress", shot=False)
        DRIVER.ok("catch", progress.hwnd, "1002", "s\\f*", "0", TIMEOUT_MS)
        try:
            s.click(progress, 2)
        finally:
            DRIVER.ok("resume")
        s.close_box(s.expect_box(self, FAILED, self.default_caption))
        s.finish(self)
        after = tree(s.inst)
        copied = sorted(n for n in after if n.startswith("s" + os.sep))
        self.assertLess(len(copied), len(names), "the run was not cancelled")
        # The files copied are the first ones, and those are listed.
        self.assertEqual([host("", n) for n in names[:len(copied)]], copied)
        self.assertEqual(merge(original, records[:1 + len(copied)]), after["Uninstallinf.dat"])

    # --- no planted DLL ------------------------------------------------------------

    # Windows' known DLLs and what they load: Windows takes them from its
    # own folder only, whatever a program does (Wine does not).
    KNOWN_DLLS = {
        "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp",
        "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4",
        "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32",
        "ntdll", "kernelbase", "win32u", "gdi32full", "ucrtbase", "msvcp_win", "bcryptprimitives",
    }

    def succeed(self, s, *env):
        s.start(*env)
        s.click(s.find("confirm", shot=False), 1)
        s.close_box(s.expect_box(self, COMPLETED, "完了"))
        s.finish(self)

    # The DLLs a whole successful run loads, from Wine's loader trace,
    # each planted beside update.exe and preferred by Wine to its own: the
    # run loads none of them.
    def test_no_planted_dll_is_loaded(self):
        s = self.basic("dlls-listed")
        DRIVER.log.flush()
        with open(DRIVER.log.name, "rb") as fp:
            fp.seek(0, 2)
            self.succeed(s, "WINEDEBUG=+loaddll")
            trace = fp.read().decode("utf-8", "replace")
        loaded = set(n.lower() for n in re.findall(r'Loaded L"[^"]*\\\\([^"\\\\]+)\.dll"', trace))
        planted = sorted(loaded - self.KNOWN_DLLS)
        self.assertIn("comctl32", planted, "no trace of the DLLs loaded")
        s = self.basic("dlls-planted")
        overrides = "Software\\Wine\\AppDefaults\\update.exe\\DllOverrides"
        try:
            for name in planted:
                shutil.copy(ARGS.planted, os.path.join(s.pkg, name + ".dll"))
                DRIVER.ok("regset", overrides, name, "native,builtin")
            # A planted DLL that is loaded may end the run early (it lacks
            # the functions asked for): the markers are the finding.
            failure = None
            try:
                self.succeed(s)
            except AssertionError as e:
                failure = e
        finally:
            DRIVER.ok("regdel", "Software\\Wine\\AppDefaults\\update.exe")
        self.assertEqual([], sorted(n for n in os.listdir(s.pkg) if n.endswith(".loaded")), planted)
        if failure:
            raise failure

    # --- killed at any moment ----------------------------------------------------

    # The program is ended (as TerminateProcess does) at points spread over
    # a run: between records, inside a large file, during the rewrite of a
    # long Uninstallinf.dat. Each point is a file seen at a size while the
    # program stands still, so it ends exactly there. After each kill every
    # file is whole, old or new, and the list is the old one or the new one;
    # a run after it ends as a clean run does, with no temporary file left.
    def test_killed_at_any_moment_then_run_again(self):
        big = pattern(16 * MIB, 5)
        small = ["d\\f%02d.txt" % i for i in range(12)]
        late = ["late%d.txt" % i for i in range(3)]
        records = ([record("d\\", 0)] + [record(n, 6) for n in small] + [record("big.bin", len(big))] +
                   [record(n, 6) for n in late])
        # Long enough for its rewrite to be caught half-way.
        original = uninstall_info([record("old\\%05d.dat" % i, i) for i in range(40000)] +
                                  [record("big.bin", 7), record("late0.txt", 3)], 40002, 0)
        expected_list = merge(original, records)
        copy_points = ([(host("d", small[i][2:]), 0) for i in (0, 2, 4, 6, 8, 10, 11)] +
                       [("upd*.tmp", n * MIB) for n in (1, 4, 7, 10, 13, 15)] +
                       [(n, 6) for n in late])
        list_points = [("Uninstallinf.tmp", n) for n in (0, MIB, 3 * MIB, 5 * MIB, 8 * MIB, len(expected_list))]
        for name, size in copy_points + list_points:
            with self.subTest(at=name, size=size):
                s = Scenario("killed")
                for n in small + late:
                    s.data(n, b"new %s" % n[-6:].encode())
                s.data("big.bin", big)
                s.update(records)
                s.uninstall(original)
                s.installed("big.bin", b"old big")
                s.installed("late0.txt", b"old")
                s.register()
                s.start()
                s.click(s.find("confirm", shot=False), 1)
                if (name, size) in list_points:
                    s.click(s.expect_box(self, COMPLETED, "完了"), 1)
                DRIVER.ok("killwhen", windows(os.path.join(s.inst, name)), str(size), KILL_TIMEOUT_MS)
                now = tree(s.inst)
                for n in small + late + ["big.bin"]:
                    new = big if n == "big.bin" else b"new %s" % n[-6:].encode()
                    self.assertIn(now.get(host("", n)), (s.before.get(host("", n)), new), n)
                self.assertIn(now["Uninstallinf.dat"], (original, expected_list), "a torn list")
                self.succeed(s)
                after = tree(s.inst)
                self.assertEqual(expected_list, after.pop("Uninstallinf.dat"))
                clean = {host("", n): b"new %s" % n[-6:].encode() for n in small + late}
                clean.update({"d": None, "big.bin": big})
                self.assertEqual(sorted(clean), sorted(after))
                self.assertEqual(clean, after)

    # --- the other edition ------------------------------------------------------

    def test_edition_marker_as_file_or_folder(self):
        for kind in ("file", "folder"):
            with self.subTest(kind=kind):
                s = self.basic("edition-" + kind)
                marker = os.path.join(s.inst, "VaruvEreza.exe")
                if kind == "file":
                    s.write(marker, b"MZ")
                else:
                    os.makedirs(marker)
                self.refused(s, WRONG_EDITION)

    # --- not installed -------------------------------------------------------------

    def test_not_installed(self):
        # A title whose first character has a 0x5C second byte.
        title = "ソフト"
        cases = {
            "key-missing": lambda s: DRIVER.ok("regdel", s.key),
            "value-missing": lambda s: DRIVER.ok("regdelvalue", s.key, "InstallDir"),
            # The marker and the uninstall file are then looked for under
            # names glued to the folder's own name.
            "no-backslash": lambda s: s.register(windows(s.inst)),
            "uninstall-missing": lambda s: os.remove(os.path.join(s.inst, "Uninstallinf.dat")),
            "uninstall-short": lambda s: s.uninstall(uninstall_info([record("x", 1)], 1, 1)[:-1]),
            "folder-too-long": lambda s: s.register("C:\\" + "f" * 240 + "\\"),
        }
        for name, spoil in cases.items():
            with self.subTest(case=name):
                s = self.basic("not-installed-" + name, title=title)
                spoil(s)
                self.refused(s, not_installed(title))

    def test_install_folder_the_update_cannot_name(self):
        # No code-page-932 form: the update says so, showing the folder.
        s = self.basic("install-cafe", install_name="Caf\u00e9")
        self.refused(s, UNUSABLE_FOLDER + windows(s.inst) + "\\")

    # --- damaged Updateinf.dat ------------------------------------------------------

    def test_damaged_update_information_is_refused_before_asking(self):
        good = [record("a.txt", 5)]
        cases = {
            "missing": None,
            "short-header": lambda s: update_info("ABC", s.key, "InstallDir", good)[:300],
            "count-too-large": lambda s: update_info("ABC", s.key, "InstallDir", good, count=2),
            "parent-folder": lambda s: update_info("ABC", s.key, "InstallDir", [record("..\\a.txt", 5)]),
            "drive": lambda s: update_info("ABC", s.key, "InstallDir", [record("C:\\a.txt", 5)]),
            # The updater's own files in the install folder, which its
            # rewrite of the list would overwrite.
            "own-list": lambda s: update_info("ABC", s.key, "InstallDir", good + [record("UNINSTALLINF.dat", 5)]),
            "own-temporary": lambda s: update_info("ABC", s.key, "InstallDir", [record("Uninstallinf.tmp.", 5)]),
            # A name the copies' temporary files take, which a later run
            # would delete as a leftover.
            "copy-temporary": lambda s: update_info("ABC", s.key, "InstallDir", good + [record("d\\UPD1a.TMP", 5)]),
            "too-long-behind-folder": lambda s: update_info("ABC", s.key, "InstallDir",
                                                            [record("d" * 200 + "\\" + "f" * 50, 5)]),
            # The sums beside a sound list: cut short, or of a later version.
            "sums-cut-short": lambda s: s.sums(cut=1) or update_info("ABC", s.key, "InstallDir", good),
            "sums-unknown-version": lambda s: s.sums(version=3) or update_info("ABC", s.key, "InstallDir", good),
        }
        for name, content in cases.items():
            with self.subTest(case=name):
                s = self.basic("damaged-" + name)
                path = os.path.join(s.pkg, "Updateinf.dat")
                if content is None:
                    os.remove(path)
                else:
                    s.write(path, content(s))
                # A record that fits the list but not behind this install
                # folder is the folder's fault, not the download's.
                self.refused(s, TOO_DEEP + windows(s.inst) + "\\" if name == "too-long-behind-folder" else CANNOT_OPEN)

    # --- free space ---------------------------------------------------------------

    # The install folder lies on the build machine's own disk, and the
    # update's sources take more than that disk has free: they are sparse
    # files, large by their size only, which is what the check reads. It
    # runs before any byte is copied.
    def test_update_larger_than_the_free_space_is_refused_before_copying(self):
        s = Scenario("no-space")
        s.data("a.txt", b"new a")
        # A margin of 8 GiB, so that other programs freeing space meanwhile
        # cannot make the update fit.
        count = (free_bytes(s.inst) + (8 << 30)) // MAX_RECORD + 1
        records = [record("a.txt", 5)] + [record("big%03d.bin" % i, 1) for i in range(count)]
        for i in range(count):
            with open(host(os.path.join(s.pkg, "data"), "big%03d.bin" % i), "wb") as fp:
                fp.truncate(MAX_RECORD)
        s.update(records)
        s.uninstall(uninstall_info([record("a.txt", 3)], 1, 3))
        s.installed("a.txt", b"old")
        s.register()
        # In whole clusters: a.txt's copy beside the old one, every large
        # file, then the rewritten uninstall list beside the old one.
        c = os.statvfs(s.inst).f_frsize
        r = lambda n: -(-n // c) * c
        needed = max(r(5), r(5) - r(3) + count * r(MAX_RECORD) + r(5068 + (1 + len(records)) * 268))
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        free_before = free_bytes(s.inst)
        box = s.find("msgbox")
        free_after = free_bytes(s.inst)
        self.assertEqual(self.default_caption, box.caption)
        self.assertEqual([self.default_caption], DRIVER.ok("windows"), "the progress dialog was shown")
        shown = NO_SPACE.fullmatch(box.text)
        self.assertIsNotNone(shown, box.text)
        self.assertEqual("{:,}".format(-(-needed // MIB)), shown.group(1))
        self.assertRegex(shown.group(2), r"^\d{1,3}(,\d{3})*$")
        free_shown = int(shown.group(2).replace(",", ""))
        # Others write to the same disk: the number lies within what the
        # disk had around the moment it was read, give or take 256 MiB.
        self.assertGreaterEqual(free_shown, min(free_before, free_after) // MIB - 256)
        self.assertLessEqual(free_shown, max(free_before, free_after) // MIB + 256)
        s.close_box(box)
        s.finish(self)
        s.unchanged(self)

    # On a volume of 30 MiB of its own: one new file of 20 MiB fits, as its
    # temporary copy becomes the file; two of 16 MiB do not, and the need
    # shown is theirs and the rewritten list's, in the volume's clusters.
    def test_new_files_on_a_small_volume(self):
        for name, sizes in (("fits", [20 * MIB]), ("too-large", [16 * MIB, 16 * MIB])):
            with self.subTest(case=name):
                self.on_small_volume("small-volume-" + name, self.new_files_on_a_small_volume, sizes)

    def on_small_volume(self, name, case, *args, mib=30):
        """Runs case(s, *args) with the scenario's install folder on a
        volume of mib MiB of its own."""
        s = Scenario(name)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % mib, "tmpfs", s.inst],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("a volume of %d MiB cannot be mounted here (needs root)" % mib)
        try:
            case(s, *args)
        finally:
            DRIVER.call("kill")
            DRIVER.call("unlock")
            subprocess.run(["umount", s.inst], check=True)

    @staticmethod
    def fill(path):
        """Another program fills the volume holding path to the last byte."""
        with open(path, "wb", buffering=0) as fp:
            for chunk in (MIB, 4096, 1):
                try:
                    while True:
                        fp.write(b"\0" * chunk)
                except OSError:
                    pass

    # The disk fills while a large file is copied: the copy fails, the
    # installed file stays, its temporary copy goes (which makes room for
    # the list), and the list names exactly what was installed. Or it is
    # full when the list is rewritten: that failure is reported, the old
    # list stays.
    def test_disk_filling_during_the_run(self):
        for when in ("copy", "list"):
            with self.subTest(when=when):
                self.on_small_volume("disk-fills-" + when, self.disk_fills, when, mib=128)

    def disk_fills(self, s, when):
        # Large enough that the driver holds the program far from its end.
        big = pattern(100 * MIB, 6)
        s.data("a.txt", b"new a")
        s.data("big.bin", big)
        s.data("c.txt", b"new c")
        records = [record("a.txt", 5), record("big.bin", len(big)), record("c.txt", 5)]
        s.update(records)
        original = uninstall_info([record("big.bin", 7)], 1, 7)
        s.uninstall(original)
        s.installed("big.bin", b"old big")
        s.register()
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        filler = os.path.join(s.inst, "filler.bin")
        if when == "copy":
            progress = s.find("progress", shot=False)
            DRIVER.ok("hold", progress.hwnd, "1002", "big.binをコピー中...", windows(s.inst), str(4 * MIB), TIMEOUT_MS)
            try:
                self.fill(filler)
            finally:
                DRIVER.ok("resume")
            box = s.expect_box(self, FAILED, self.default_caption)
            self.assertEqual([], [n for n in os.listdir(s.inst) if n.lower().endswith(".tmp")])
            s.close_box(box)
            expected, done = merge(original, records[:1]), b"new a"
        else:
            box = s.expect_box(self, COMPLETED, "完了")
            self.fill(filler)
            s.close_box(box)
            s.close_box(s.expect_box(self, CANNOT_WRITE, self.default_caption))
            expected, done = original, b"new a"
        s.finish(self)
        os.remove(filler)
        after = tree(s.inst)
        self.assertEqual(done, after["a.txt"])
        self.assertEqual(big if when == "list" else b"old big", after["big.bin"])
        self.assertEqual(expected, after["Uninstallinf.dat"])

    def new_files_on_a_small_volume(self, s, sizes):
        records = []
        for i, size in enumerate(sizes):
            s.data("f%d.bin" % i, pattern(size, i))
            records.append(record("f%d.bin" % i, size))
        s.update(records)
        original = uninstall_info([], 0, 0)
        s.uninstall(original)
        s.register()
        c = os.statvfs(s.inst).f_frsize
        r = lambda n: -(-n // c) * c
        needed = sum(r(n) for n in sizes) + r(5068 + len(records) * 268)
        fits = needed <= free_bytes(s.inst)
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        if fits:
            s.close_box(s.expect_box(self, COMPLETED, "完了"))
            s.finish(self)
            after = tree(s.inst)
            self.assertEqual([pattern(n, i) for i, n in enumerate(sizes)],
                             [after["f%d.bin" % i] for i in range(len(sizes))])
            self.assertEqual(merge(original, records), after["Uninstallinf.dat"])
        else:
            box = s.find("msgbox")
            shown = NO_SPACE.fullmatch(box.text)
            self.assertIsNotNone(shown, box.text)
            self.assertEqual("{:,}".format(-(-needed // MIB)), shown.group(1))
            s.close_box(box)
            s.finish(self)
            s.unchanged(self)
        self.assertEqual(len(sizes) == 1, fits, "the volume is not as the case needs")

    # Records that claim together more than the disk has free, replacing
    # installed files of those sizes by small ones: the copy needs room for
    # what it copies, the sources, and the old files go. The installed
    # files are sparse: large by their size, free of blocks on the disk.
    def test_files_replacing_installed_ones_of_their_size_fit(self):
        s = Scenario("replaced-fits")
        free = free_bytes(s.inst)
        probe = host(s.inst, "probe.bin")
        with open(probe, "wb") as fp:
            fp.truncate(MAX_RECORD)
        sparse = os.stat(probe).st_blocks == 0
        os.remove(probe)
        if not sparse:
            self.skipTest("the file system holding the work folder has no sparse files")
        try:
            names = ["big%03d.bin" % i for i in range(free // MAX_RECORD + 2)]
            records = [record(n, MAX_RECORD) for n in names]
            s.update(records)
            for i, n in enumerate(names):
                s.data(n, b"new %d" % i)
                with open(host(s.inst, n), "wb") as fp:
                    fp.truncate(MAX_RECORD)
            original = uninstall_info(records, len(records), len(records) * MAX_RECORD & 0xFFFFFFFF)
            s.uninstall(original)
            s.register()
            # The install folder is not read whole: its files are gigabytes
            # by their size.
            DRIVER.ok("start", windows(os.path.join(s.pkg, "update.exe")), windows(s.root))
            s.click(s.find("confirm", shot=False), 1)
            s.close_box(s.expect_box(self, COMPLETED, "完了"))
            s.finish(self)
            for i, n in enumerate(names):
                with open(host(s.inst, n), "rb") as fp:
                    self.assertEqual(b"new %d" % i, fp.read())
            with open(os.path.join(s.inst, "Uninstallinf.dat"), "rb") as fp:
                self.assertEqual(merge(original, records), fp.read())
        finally:
            DRIVER.call("kill")
            shutil.rmtree(s.root)

    # --- failures during the copy --------------------------------------------------

    # --- checked before anything is copied -------------------------------------

    # A record in the middle of the list that the pass could not handle, or
    # a place the copy could not write: the failure is shown after OK, the
    # progress dialog gone, and nothing is copied, not even the records
    # before it.
    def test_fault_found_before_copying(self):
        def immutable(path):
            return subprocess.run(["chattr", "+i", path], capture_output=True).returncode == 0

        cases = {
            "missing-source": (lambda s: os.remove(host(os.path.join(s.pkg, "data"), "b.txt")), FAILED),
            # Held open with no sharing by another program: not readable.
            "unreadable-source": (lambda s: DRIVER.ok("lock", windows(host(os.path.join(s.pkg, "data"), "b.txt"))),
                                  FAILED),
            "file-where-a-folder-goes": (lambda s: s.installed("d", b"a file"), FAILED),
            "folder-where-a-file-goes": (lambda s: os.makedirs(host(s.inst, "b.txt")), FAILED),
            # What the system refuses this player, found by trying it.
            "folder-refuses-new-files": (lambda s: os.makedirs(host(s.inst, "d")) or immutable(host(s.inst, "d")),
                                         REFUSES_WRITE + "d\\"),
            "file-cannot-be-replaced": (lambda s: immutable(host(s.inst, "a.txt")), REFUSES_WRITE + "a.txt"),
            "install-folder-refuses": (lambda s: immutable(s.inst), None),
            # With Updateinf.sum: a download damaged or cut short.
            "damaged-source": (lambda s: s.sums() or s.data("b.txt", b"new B.txt"), DAMAGED + "b.txt"),
            "truncated-source": (lambda s: s.sums() or s.data("d\\e.txt", b"new d"), DAMAGED + "d\\e.txt"),
        }
        for name, (spoil, text) in cases.items():
            with self.subTest(case=name):
                s = Scenario("fault-" + name)
                for n in ("a.txt", "b.txt", "c.txt", "d\\e.txt"):
                    s.data(n, b"new " + n.encode())
                s.update([record("a.txt", 9), record("b.txt", 9), record("d\\", 0), record("d\\e.txt", 9),
                          record("c.txt", 9)])
                s.uninstall(uninstall_info([record("b.txt", 5)], 1, 5))
                s.installed("a.txt", b"old a")
                if spoil(s) is False:
                    print("skipped %s: chattr refused (needs root and a file system that takes it)" % name)
                    continue
                s.register()
                try:
                    s.start()
                    s.click(s.find("confirm", shot=False), 1)
                    box = s.expect_box(self, text or REFUSES_WRITE + windows(s.inst) + "\\", self.default_caption)
                    self.assertEqual([self.default_caption], DRIVER.ok("windows"), "the progress dialog was shown")
                    s.close_box(box)
                    s.finish(self)
                finally:
                    DRIVER.ok("unlock")
                    subprocess.run(["chattr", "-R", "-i", s.root], capture_output=True)
                s.unchanged(self)

    # --- patches made against an older release ------------------------------------

    # A patch made with --base installs the same files and the same
    # Uninstallinf.dat as the whole-file patch of the same release. A
    # damaged download, or an installed file that is not the one the patch
    # was made against, is refused with nothing changed.
    def test_delta_patch_installs_what_a_whole_patch_does(self):
        if not os.environ.get("WINE_LOCALE", "ja_JP.UTF-8").startswith("ja_JP"):
            self.skipTest("deltas do not depend on the code page; they run under the Japanese one")
        work = os.path.join(ARGS.work, "releases")
        shutil.rmtree(work, ignore_errors=True)
        old = {"Movie\\op.bin": pattern(250000, 1), "ソフト\\表.dat": pattern(100000, 2), "a.txt": b"old a",
               "same.txt": b"same"}
        new = dict(old)
        new["Movie\\op.bin"] = old["Movie\\op.bin"][:120000] + b"patched" + old["Movie\\op.bin"][120000:]
        new["ソフト\\表.dat"] = old["ソフト\\表.dat"] + pattern(3000, 7)
        new.update({"a.txt": b"new a, longer", "n.txt": b"brand new"})
        # A pack archive whose members all changed a little: it travels as
        # its members' deltas and is written again whole.
        for name, files in (("old", old), ("new", new)):
            members = os.path.join(work, "members-" + name)
            for i in range(4):
                text = b"".join(b"line %d of member %d%s\r\n" % (k, i, b" (new)" if name == "new" and k % 50 == 0
                                                                    else b"") for k in range(400))
                Scenario.write(os.path.join(members, "m%d.txt" % i), text)
            archive = os.path.join(work, name + ".pac")
            subprocess.run([ARGS.run, ARGS.packtool, "create", "--method", "slide", windows(archive), windows(members)],
                           check=True, capture_output=True, timeout=60)
            with open(archive, "rb") as fp:
                files["Data\\game.pac"] = fp.read()
        for name, files in (("old", old), ("new", new), ("whole/data", new)):
            for rel, content in files.items():
                Scenario.write(host(os.path.join(work, name), rel), content)
        key = Scenario.KEY_ROOT + "\\releases"
        for args in (["whole/data"], ["new", "--base", windows(os.path.join(work, "old")), "-o",
                                      windows(os.path.join(work, "delta"))]):
            made = subprocess.run([ARGS.run, ARGS.updatelist, "make", windows(os.path.join(work, args[0])), "ABC", key,
                                   "InstallDir"] + args[1:], capture_output=True, timeout=120)
            self.assertEqual(0, made.returncode, made.stderr.decode("utf-8", "replace"))
        with open(os.path.join(work, "delta", "Updateinf.sum"), "rb") as fp:
            sums = fp.read()
        kinds = {sums[16 + i * 392 + 128:16 + i * 392 + 388].split(b"\0")[0].decode("cp932"): sums[16 + i * 392 + 80]
                 for i in range((len(sums) - 16) // 392)}
        self.assertEqual(2, kinds.get("Data\\game.pac.dlt"), "no archive delta: %s" % kinds)
        original = uninstall_info([record("a.txt", 5)], 1, 5)

        def scenario(kind):
            s = Scenario("release-" + kind)
            shutil.copytree(os.path.join(work, "whole" if kind == "whole" else "delta"), s.pkg, dirs_exist_ok=True)
            for rel, content in old.items():
                s.installed(rel, content)
            s.uninstall(original)
            s.key = key
            s.register()
            return s

        def damage(path):
            with open(path, "r+b") as fp:
                fp.seek(os.path.getsize(path) // 2)
                fp.write(b"\xff\x00\xff")

        trees = {}
        for kind in ("whole", "delta"):
            s = scenario(kind)
            self.succeed(s)
            trees[kind] = tree(s.inst)
        self.assertEqual(new["Movie\\op.bin"], trees["delta"][host("", "Movie\\op.bin")])
        self.assertEqual(trees["whole"], trees["delta"])
        data = lambda s, rel: host(os.path.join(s.pkg, "data"), rel)
        cases = {
            "base-differs": (lambda s: s.installed("Movie\\op.bin", b"modded"), BASE_DIFFERS + "Movie\\op.bin"),
            "base-missing": (lambda s: os.remove(host(s.inst, "ソフト\\表.dat")), BASE_DIFFERS + "ソフト\\表.dat"),
            "damaged-delta": (lambda s: damage(data(s, "Movie\\op.bin.dlt")), DAMAGED + "Movie\\op.bin"),
            "damaged-source": (lambda s: damage(data(s, "n.txt")), DAMAGED + "n.txt"),
            # Refused as a damaged list is, before the confirmation.
            "damaged-sums": (lambda s: os.truncate(os.path.join(s.pkg, "Updateinf.sum"), 400), None),
        }
        for name, (spoil, text) in cases.items():
            with self.subTest(case=name):
                s = scenario(name)
                spoil(s)
                if text is None:
                    self.refused(s, CANNOT_OPEN)
                    continue
                s.start()
                s.click(s.find("confirm", shot=False), 1)
                s.close_box(s.expect_box(self, text, self.default_caption))
                s.finish(self)
                s.unchanged(self)

    # Installed files the update replaces are held open by the game: a box
    # names the first and counts the others; Retry looks again, and once
    # the game let go the update runs; Cancel ends it with nothing done.
    def test_files_in_use_retry_or_cancel(self):
        for how in ("retry", "cancel"):
            with self.subTest(how=how):
                s = Scenario("in-use-" + how)
                names = ["a.txt", "ソフト\\表.dat", "c.txt", "ro.txt"]
                for n in names:
                    s.data(n, b"new")
                    s.installed(n, b"old", readonly=n == "ro.txt")
                records = [record("ソフト\\", 0)] + [record(n, 3) for n in names]
                s.update(records)
                original = uninstall_info([], 0, 0)
                s.uninstall(original)
                s.register()
                try:
                    for n in names[1:3]:
                        DRIVER.ok("lock", windows(host(s.inst, n)))
                    s.start()
                    s.click(s.find("confirm", shot=False), 1)
                    box = s.expect_box(self, IN_USE + "ソフト\\表.dat ほか1件", "ABC アップデート")
                    # The checks run under the progress dialog, which waits
                    # behind the box.
                    self.assertEqual(["ABC アップデート", "アップデート中"], DRIVER.ok("windows"))
                    # The buttons are the system's, in its own language.
                    if os.environ.get("WINE_LOCALE", "ja_JP.UTF-8").startswith("ja_JP"):
                        self.assertEqual(("再試行(&R)", "キャンセル"), (s.text(box, 4), s.text(box, 2)))
                    self.assertEqual(tree(s.inst), s.before, "something was copied before the answer")
                    # The authoring tool reports the same, in the same words. It
                    # takes library paths, which cannot spell the package's
                    # folder: it is given a copy under a plain name.
                    authored = os.path.join(s.root, "authored")
                    shutil.copytree(s.pkg, authored, dirs_exist_ok=True)
                    check = subprocess.run([ARGS.run, ARGS.updatelist, "check", "--json", windows(authored),
                                            windows(s.inst)], capture_output=True, timeout=60)
                    self.assertEqual(box.text, json.loads(check.stdout.decode("utf-8"))["refused"]["message"])
                    if how == "cancel":
                        s.click(box, 2)
                        DRIVER.ok("gone", box.hwnd, TIMEOUT_MS)
                        s.finish(self)
                        s.unchanged(self)
                        continue
                    # Still held: the box comes again, now for the one left.
                    DRIVER.ok("unlock")
                    DRIVER.ok("lock", windows(host(s.inst, "c.txt")))
                    s.click(box, 4)
                    DRIVER.ok("gone", box.hwnd, TIMEOUT_MS)
                    box = s.expect_box(self, IN_USE + "c.txt", "ABC アップデート")
                    DRIVER.ok("unlock")
                    s.click(box, 4)
                    DRIVER.ok("gone", box.hwnd, TIMEOUT_MS)
                    s.close_box(s.expect_box(self, COMPLETED, "完了"))
                    s.finish(self)
                finally:
                    DRIVER.ok("unlock")
                after = tree(s.inst)
                self.assertEqual([b"new"] * len(names), [after[host("", n)] for n in names])
                self.assertEqual(merge(original, records), after["Uninstallinf.dat"])

    # --- one updater at a time per game ---------------------------------------------

    # An updater for the same install folder started again while the first
    # asks (a double double-click, or an add-on's patch whose registry key
    # differs but names the game's folder) brings the first one's dialog to
    # the front, shows nothing and ends; another game's update runs beside
    # it. The lock is the folder as the file system identifies it.
    def test_one_updater_per_game(self):
        a, b = self.basic("lock-a"), self.basic("lock-b")
        pid_a = DRIVER.ok("start", windows(os.path.join(a.pkg, "update.exe")), windows(a.root))[0]
        confirm_a = a.find("confirm", shot=False)
        a.before = tree(a.inst)
        b.before = tree(b.inst)
        again = Scenario("lock-a-again")
        again.update(a.records)
        again.register(windows(a.inst) + "\\")
        pid_b = DRIVER.ok("start", windows(os.path.join(b.pkg, "update.exe")), windows(b.root))[0]
        confirm_b = b.find("confirm", shot=False)
        self.assertEqual([confirm_b.hwnd], DRIVER.ok("foreground"))
        DRIVER.ok("start", windows(os.path.join(again.pkg, "update.exe")), windows(again.root))
        self.assertEqual(["0"], DRIVER.ok("exit", TIMEOUT_MS), "the second updater of a game did not end")
        self.assertEqual([confirm_a.hwnd], DRIVER.ok("foreground"))
        for s, pid, confirm in ((a, pid_a, confirm_a), (b, pid_b, confirm_b)):
            DRIVER.ok("use", pid)
            s.click(confirm, 1)
            s.close_box(s.expect_box(self, COMPLETED, "完了"))
            s.finish(self)
            after = tree(s.inst)
            self.assertEqual(b"new a", after["a.txt"])
            self.assertEqual(merge(uninstall_info([record("old.txt", 3)], 1, 3), s.records), after["Uninstallinf.dat"])

    def test_empty_list_completes_and_rewrites_the_same_file(self):
        s = Scenario("empty-list")
        s.update([])
        original = uninstall_info([record("x\\", 0), record("x\\y", 9)], 1, 9)
        s.uninstall(original + b"ignored tail")
        s.register()
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        s.close_box(s.expect_box(self, COMPLETED, "完了"))
        s.finish(self)
        with open(os.path.join(s.inst, "Uninstallinf.dat"), "rb") as fp:
            self.assertEqual(original, fp.read())

    def test_uninstall_information_that_cannot_be_rewritten_is_reported(self):
        s = self.basic("rewrite-fails")
        uninstall = os.path.join(s.inst, "Uninstallinf.dat")
        with open(uninstall, "rb") as fp:
            original = fp.read()
        s.start()
        s.click(s.find("confirm", shot=False), 1)
        box = s.expect_box(self, COMPLETED, "完了")
        # Held open without sharing by another program, the file cannot
        # be replaced.
        DRIVER.ok("lock", windows(uninstall))
        try:
            s.close_box(box)
            s.close_box(s.expect_box(self, CANNOT_WRITE, self.default_caption))
            s.finish(self)
        finally:
            DRIVER.ok("unlock")
        after = tree(s.inst)
        self.assertEqual(original, after["Uninstallinf.dat"])
        self.assertEqual(b"new a", after["a.txt"])
        self.assertNotIn("Uninstallinf.tmp", after)


def main():
    global ARGS, DRIVER, DISPLAY
    parser = argparse.ArgumentParser()
    for name in ("run", "update", "driver", "planted", "updatelist", "packtool", "work", "artifacts"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    display_file = os.path.join(os.path.dirname(ARGS.run), "display")
    if not os.path.exists(display_file):
        print("no Xvfb display: the Wine fixture did not start one (is xvfb installed?)", file=sys.stderr)
        return 1
    with open(display_file) as fp:
        DISPLAY = ":" + fp.read().strip()
    shutil.rmtree(ARGS.artifacts, ignore_errors=True)
    os.makedirs(ARGS.artifacts)
    os.makedirs(ARGS.work, exist_ok=True)
    DRIVER = Driver()
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        DRIVER.close()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
