#!/usr/bin/env python3
"""The pack tool under careless and hostile use: one table of cases, each
a folder laid out, one command run in it, its exit status, words of its
messages and what must hold on disk afterwards.

Usage: packtool_test.py WORK COMMAND... (COMMAND runs the tool; for the
Windows build it starts with the emulator). Output to a pipe is UTF-8 on
every side.
"""
import os
import pty
import re
import select
import shutil
import signal
import stat
import subprocess
import sys
import time

WORK = None
TOOL = None
WINDOWS = False


def write(path, content=b"x", mode=None):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as fp:
        fp.write(content)
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path, "rb") as fp:
        return fp.read()


def decode(data):
    return data.decode("utf-8").replace("\r\n", "\n")


def run(cwd, *args, stdout=subprocess.PIPE, timeout=60):
    env = dict(os.environ, ASAN_OPTIONS="exitcode=86", UBSAN_OPTIONS="exitcode=87")
    p = subprocess.run(TOOL + list(args), cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, env=env,
                       timeout=timeout)
    return p.returncode, decode(p.stdout or b""), decode(p.stderr)


def tree(d, files):
    for name, content in files.items():
        write(os.path.join(d, *name.split("/")), content)


def packed(d, archive="a.pac", files=None, *extra):
    """Makes an archive of the files below d/src."""
    tree(os.path.join(d, "src"), files or {"a.txt": b"alpha", "b.txt": b"beta"})
    code, _, err = run(d, "create", *extra, archive, "src")
    assert code == 0, err


def members(d, archive="a.pac"):
    code, out, err = run(d, "list", "--", archive)
    assert code == 0, err
    return [re.match(r" *\d+ +\d+ +[\d.]+% +\d+  (.*)$", line).group(1) for line in out.splitlines()[2:-1]]


def leftovers(d):
    return [n for _, _, names in os.walk(d) for n in names if ".~" in n]


# --- Set-ups -----------------------------------------------------------

def kana_twins(d):
    tree(os.path.join(d, "src"), {"ア.txt": b"a", "ヂ.txt": b"di"})


def temp_names_taken(d):
    packed(d)
    # The old temporary names: a file of the user's and a planted link.
    write(os.path.join(d, "out", "a.txt.~part"), b"mine")
    write(os.path.join(d, "b.pac.~0"), b"mine too")
    if not WINDOWS:
        os.symlink("../outside1", os.path.join(d, "out", "b.txt.~part"))
        os.symlink("outside2", os.path.join(d, "b.pac.~1"))


def existing(d, mode=None, link=False):
    packed(d)
    if link:
        write(os.path.join(d, "victim"), b"victim")
        os.makedirs(os.path.join(d, "out"))
        os.symlink("../victim", os.path.join(d, "out", "a.txt"))
    else:
        write(os.path.join(d, "out", "a.txt"), b"old", mode)


def omissions(d):
    src = os.path.join(d, "src")
    tree(src, {"good.txt": b"good", ".git/config": b"c", "sub/.cache/x": b"x", "x\U0001F600.txt": b"e"})
    os.symlink("nowhere", os.path.join(src, "broken"))
    os.symlink("loop", os.path.join(src, "loop"))
    os.mkfifo(os.path.join(src, "fifo"))


def control_names(d):
    tree(os.path.join(d, "src"), {"ok.txt": b"ok", "bad\x1b[31m\r.txt": b"bad"})


def deep_cwd(d):
    packed(d)
    deep = d
    while len(deep.encode()) < 300:
        deep = os.path.join(deep, "d" * 60)
    os.makedirs(deep)
    shutil.copy(os.path.join(d, "a.pac"), deep)
    return deep


def odd_cwd(d):
    packed(d)
    odd = os.path.join(d, "x\U0001F600")
    os.makedirs(odd)
    shutil.copy(os.path.join(d, "a.pac"), odd)
    return odd


def duplicates(d):
    tree(d, {"src/x/same.txt": b"first", "src/y/SAME.TXT": b"second"})
    assert run(d, "create", "a.pac", "src")[0] == 0


def link_loops(d):
    tree(d, {"src/a/f.txt": b"f"})
    os.makedirs(os.path.join(d, "src", "b"))
    os.symlink("..", os.path.join(d, "src", "a", "up"))
    os.symlink("..", os.path.join(d, "src", "b", "up"))


def count_lowered(d):
    packed(d)
    data = bytearray(read(os.path.join(d, "a.pac")))
    data[4] -= 1
    write(os.path.join(d, "a.pac"), bytes(data))


def too_large(d):
    tree(d, {"src/small.txt": b"small"})
    with open(os.path.join(d, "src", "huge.bin"), "wb") as fp:
        fp.truncate((4 << 30) + (1 << 20))


def wide_case_twins(d):
    """Full-width A and a: one file on Windows, two elsewhere."""
    tree(d, {"p/\uff21.bin": b"first", "q/\uff41.bin": b"second"})
    assert run(d, "create", "a.pac", "p", "q")[0] == 0
class Skip(Exception):
    """A case the machine cannot set up (not root, no mknod)."""


def null_device(d):
    tree(d, {"src/a.txt": b"alpha"})
    try:
        os.mknod(os.path.join(d, "null"), stat.S_IFCHR | 0o666, os.makedev(1, 3))
    except OSError as e:
        raise Skip("mknod refused: %s" % e)


def is_device(path):
    return stat.S_ISCHR(os.lstat(path).st_mode)


# --- Checks ------------------------------------------------------------

def both_twins_extracted(d):
    assert run(d, "extract", "-C", "out", "a.pac")[0] == 0
    return read(os.path.join(d, "out", "ア.txt")) == b"a" and read(os.path.join(d, "out", "ヂ.txt")) == b"di"


def temp_names_kept(d):
    links_alone = WINDOWS or not any(os.path.lexists(os.path.join(d, n)) for n in ("outside1", "outside2"))
    return (read(os.path.join(d, "out", "a.txt.~part")) == b"mine" and read(os.path.join(d, "b.pac.~0")) == b"mine too"
            and links_alone and read(os.path.join(d, "out", "b.txt")) == b"beta"
            and not os.path.islink(os.path.join(d, "b.pac")) and members(d, "b.pac") == ["a.txt", "b.txt"])


def nothing_written(d):
    return read(os.path.join(d, "out", "a.txt")) == b"old" and not os.path.exists(os.path.join(d, "out", "b.txt"))


def cases():
    out = lambda *p: os.path.join(*p)
    c = {
        # name: (set-up, arguments, exit status, words on stderr, check, runs under Wine)
        # 1. Names that differ only in a second byte are two members.
        "kana-twins": (kana_twins, ["create", "a.pac", "src"], 0, [], both_twins_extracted, True),
        # 3. Temporary files meet no file of the user's and no link.
        "temp-names": (temp_names_taken, ["extract", "-C", "out", "a.pac"], 0, [],
                       lambda d: run(d, "create", "b.pac", "src")[0] == 0 and temp_names_kept(d), True),
        # 4. Existing files.
        "existing-kept": (existing, ["extract", "-C", "out", "a.pac"], 1, ["a.txt", "exists"], nothing_written, True),
        "existing-forced": (existing, ["extract", "-C", "out", "-f", "a.pac"], 0, [],
                            lambda d: read(out(d, "out", "a.txt")) == b"alpha", True),
        "read-only-kept": (lambda d: existing(d, mode=0o444), ["extract", "--force", "-C", "out", "a.pac"], 1,
                           ["a.txt", "read-only"],
                           lambda d: read(out(d, "out", "a.txt")) == b"old" and read(out(d, "out", "b.txt")) == b"beta",
                           True),
        "link-replaced": (lambda d: existing(d, link=True), ["extract", "-f", "-C", "out", "a.pac"], 0, [],
                          lambda d: read(out(d, "victim")) == b"victim" and not os.path.islink(out(d, "out", "a.txt"))
                          and read(out(d, "out", "a.txt")) == b"alpha", False),
        # 5. The archive among its inputs.
        "archive-in-input": (lambda d: tree(d, {"f/a.txt": b"a"}) or run(d, "create", "f/out.pac", "f"),
                             ["create", "f/out.pac", "f"], 0, [], lambda d: members(d, "f/out.pac") == ["a.txt"], True),
        "archive-is-input": (lambda d: tree(d, {"f/a": b"a"}), ["create", "f/a", "f/a"], 1, ["inputs"],
                             lambda d: read(out(d, "f", "a")) == b"a", True),
        "archive-forgotten": (lambda d: tree(d, {"file1": b"one", "file2": b"two"}), ["create", "file1", "file2"], 1,
                              ["file1", "not a pack archive"], lambda d: read(out(d, "file1")) == b"one", True),
        "archive-forced": (lambda d: tree(d, {"file1": b"one", "file2": b"two"}), ["create", "-f", "file1", "file2"],
                           0, [], lambda d: members(d, "file1") == ["file2"], True),
        # 6. Omissions are named; dot folders are counted.
        "omissions": (omissions, ["create", "a.pac", "src"], 1,
                      ["broken: left out", "loop: left out", "fifo: left out", "code page 932",
                       "skipped 2 folders whose name begins with a dot"],
                      lambda d: members(d) == ["good.txt"], False),
        # Folder-link loops, empty folders and files too large are named.
        "link-loops": (link_loops, ["create", "a.pac", "src"], 1, ["src/a/up: left out: a link loop", "src/b/up"],
                       lambda d: members(d) == ["f.txt"], False),
        "empty-folders": (lambda d: os.makedirs(os.path.join(d, "src", "e1")) or os.makedirs(os.path.join(d, "src", "e2")),
                          ["create", "a.pac", "src"], 1, ["e1: an empty folder", "nothing to pack"],
                          lambda d: not os.path.exists(os.path.join(d, "a.pac")), True),
        "too-large": (too_large, ["create", "--method", "store", "a.pac", "src"], 1, ["huge.bin: left out", "4 GiB"],
                      lambda d: members(d) == ["small.txt"], True),
        # A directory hiding its last member is damaged.
        "count-lowered": (count_lowered, ["test", "a.pac"], 1, ["not a readable pack archive"], None, True),
        # Members that land on one file here: the first is written.
        "wide-case-twins": (wide_case_twins, ["extract", "-j", "2", "-C", "out", "a.pac"], 1 if WINDOWS else 0,
                            ["not extracted"] if WINDOWS else [],
                            lambda d: sorted(os.listdir(os.path.join(d, "out"))) ==
                            (["\uff21.bin"] if WINDOWS else ["\uff21.bin", "\uff41.bin"]), True),
        # Names iconv would take one way only: the same refusal as on Windows.
        "one-way-names": (lambda d: tree(d, {"src/good.txt": b"g", "src/a\u00a5.txt": b"y", "src/b\u301c.txt": b"w",
                                             "src/c\u2212.txt": b"m"}), ["create", "a.pac", "src"], 1,
                          ["a\u00a5.txt: left out", "b\u301c.txt: left out", "c\u2212.txt: left out"],
                          lambda d: members(d) == ["good.txt"], True),
        # Outputs that are not regular files are written, never renamed over.
        "device-targets": (null_device, ["compress", "--method", "zlib", "src/a.txt", "null"], 0, [],
                           lambda d: run(d, "create", "-f", "null", "src")[0] == 0 and is_device(out(d, "null")),
                           True),
        "dot-folders": (lambda d: tree(d, {"src/a.txt": b"a", "src/.git/x": b"x"}), ["create", "a.pac", "src"], 0,
                        ["skipped 1 folder whose"], lambda d: members(d) == ["a.txt"], True),
        # 7. Duplicates on extraction: the first is written, later ones named.
        "duplicates": (duplicates, ["extract", "-C", "out", "a.pac"], 1, ["not extracted: SAME.TXT"],
                       lambda d: read(out(d, "out", "same.txt")) == b"first", True),
        # 8. Names from the file system reach the terminal escaped.
        "control-names": (control_names, ["create", "a.pac", "src"], 1, ["bad?[31m?.txt: left out"],
                          lambda d: members(d) == ["ok.txt"], False),
        # 9. test says what it checks and what it cannot.
        "test-honest": (lambda d: packed(d, "a.pac", None, "--method", "store"), ["test", "a.pac"], 0, [],
                        lambda d: "no checksum" in run(d, "test", "a.pac")[1]
                        and "no checksum" in run(d, "test", "--help")[1], True),
        # 10. Paths the library cannot take: the real cause and the path.
        "cwd-too-long": (deep_cwd, ["list", "a.pac"], 1, ["current folder", "longer than 259 bytes"], None, False),
        "cwd-no-cp932": (odd_cwd, ["list", "a.pac"], 1, ["current folder", "x\U0001F600", "code page 932"], None,
                         False),
        "folder-in-the-way": (lambda d: tree(d, {"src/a": b"a", "out.pac/x": b"x"}), ["create", "out.pac", "src"], 1,
                              ["out.pac", "folder"], None, True),
        # 11. The command line.
        "double-dash": (lambda d: tree(d, {"src/a": b"a"}), ["create", "--", "-a.pac", "src"], 0, [],
                        lambda d: members(d, "-a.pac") == ["a"], True),
        "options-last": (packed, ["extract", "a.pac", "-C", "out"], 0, [],
                         lambda d: read(out(d, "out", "a.txt")) == b"alpha", True),
        "option-value-missing": (packed, ["extract", "a.pac", "-C"], 2, ["-C needs a value"], None, True),
        "command-help": (None, ["extract", "--help"], 0, [],
                         lambda d: "extract [-C DIR]" in run(d, "extract", "--help")[1]
                         and "create [" not in run(d, "extract", "--help")[1], True),
    }
    return c


def check_case(name, setup, args, code, words, check):
    d = os.path.join(WORK, name)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    cwd = setup(d) if setup else None
    cwd = cwd if isinstance(cwd, str) else d
    got, _, err = run(cwd, *args)
    problems = []
    if got != code:
        problems.append("exit %d, expected %d" % (got, code))
    problems += ["no '%s' in stderr" % w for w in words if w not in err]
    if "\x1b" in err or "\r" in err:
        problems.append("raw control characters reached the terminal")
    if check and not problems and not check(d):
        problems.append("the files afterwards are wrong")
    if leftovers(d) and name != "temp-names":
        problems.append("temporary files left: %s" % leftovers(d))
    return problems, err


def interrupts_and_exits():
    """Interrupts with every thread count, signals the caller ignored, and
    failures with their reasons, one row each: nothing temporary is ever
    left. A signal is sent once a temporary file shows (the runs are long
    enough to be caught in the middle); the test never waits a fixed time.
    Rows needing root (a tmpfs mount, chattr) are skipped where refused."""
    many = os.path.join(WORK, "many.pac")
    if not os.path.exists(many):
        tree(os.path.join(WORK, "many"), {"m%04d.bin" % i: os.urandom(16 << 10) for i in range(2000)})
        assert run(WORK, "create", "--method", "store", many, "many")[0] == 0

    def big_input(d):
        write(os.path.join(d, "src", "big.bin"), os.urandom(1 << 20) * 48)

    def full_volume(d):
        os.makedirs(os.path.join(d, "vol"))
        write(os.path.join(d, "src", "r.bin"), os.urandom(1 << 20))
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", os.path.join(d, "vol")],
                          stderr=subprocess.DEVNULL).returncode != 0:
            raise Skip("no tmpfs mount here")
        return lambda: subprocess.run(["umount", os.path.join(d, "vol")])

    def immutable_folder(d):
        os.makedirs(os.path.join(d, "out"))
        if subprocess.run(["chattr", "+i", os.path.join(d, "out")], stderr=subprocess.DEVNULL).returncode != 0:
            raise Skip("chattr +i refused here")
        return lambda: subprocess.run(["chattr", "-i", os.path.join(d, "out")])

    extract = lambda j: ["extract", "-j", str(j), "-C", "out", many]
    all_extracted = lambda d: len(os.listdir(os.path.join(d, "out"))) == 2000
    no_archive = lambda d: not os.path.exists(os.path.join(d, "a.pac"))
    INT, TERM, HUP, PIPE = signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE
    rows = [
        # (name, set-up, arguments, signal sent, signals ignored at start, umask, exit, words, check)
        ("create, Ctrl+C", big_input, ["create", "--method", "huffman", "a.pac", "src"], INT, (), None, -INT, [],
         no_archive),
        ("create, SIGTERM", big_input, ["create", "--method", "huffman", "a.pac", "src"], TERM, (), None, -TERM, [],
         no_archive),
        ("extract -j 4, Ctrl+C", None, extract(4), INT, (), None, -INT, [], None),
        ("extract -j 8, SIGTERM", None, extract(8), TERM, (), None, -TERM, [], None),
        ("extract -j 32, SIGHUP", None, extract(32), HUP, (), None, -HUP, [], None),
        ("extract under nohup", None, extract(4), HUP, (HUP,), None, 0, [], all_extracted),
        ("list, SIGPIPE ignored, reader gone", None, ["list", many], None, (PIPE,), None, 1,
         ["cannot write to standard output"], None),
        ("failed save, umask 0277", full_volume, ["create", "--method", "store", "vol/x.pac", "src"], None, (),
         0o277, 1, ["vol/x.pac: disk full"], lambda d: os.listdir(os.path.join(d, "vol")) == []),
        ("folder that refuses new files", immutable_folder, extract(2), None, (), None, 1,
         ["cannot write out/m0000.bin: access denied"], None),
    ]
    problems = []
    for name, setup, args, sig, ignored, umask, code, words, check in rows:
        d = os.path.join(WORK, "interrupt", name.replace(" ", "_"))
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        undo = None
        try:
            undo = setup(d) if setup else None
        except Skip as e:
            print("skipped %s: %s" % (name, e))
            continue

        def child():
            for s in (INT, TERM, HUP, PIPE):
                signal.signal(s, signal.SIG_IGN if s in ignored else signal.SIG_DFL)
            if umask is not None:
                os.umask(umask)
        # A pipe with no reader left, for the row about standard output.
        r, w = os.pipe()
        os.close(r)
        p = subprocess.Popen(TOOL + args, cwd=d, stdout=w if PIPE in ignored else subprocess.DEVNULL,
                             stderr=subprocess.PIPE, preexec_fn=child, restore_signals=False)
        os.close(w)
        if sig:
            deadline = time.time() + 60
            while not leftovers(d) and p.poll() is None and time.time() < deadline:
                time.sleep(0.002)
            if p.poll() is not None:
                problems.append("%s: the run ended before a temporary file was seen" % name)
                continue
            p.send_signal(sig)
        err = decode(p.communicate(timeout=120)[1])
        if undo:
            undo()
        missing = [w for w in words if w not in err]
        if p.returncode != code or missing or leftovers(d) or (check and not check(d)):
            problems.append("%s: exit %s (expected %s), left %s, %s" % (name, p.returncode, code, leftovers(d),
                                                                        err.strip()[-200:]))
    return problems


def stored_members_in_blocks():
    """A stored member is copied in blocks: packing 256 MiB costs far less
    memory than the file (the whole file was held before)."""
    d = os.path.join(WORK, "memory")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(os.path.join(d, "src"))
    with open(os.path.join(d, "src", "big.bin"), "wb") as fp:
        fp.truncate(256 << 20)
    # A sanitizer's quarantine would keep every freed block resident.
    env = dict(os.environ, ASAN_OPTIONS="exitcode=86:quarantine_size_mb=0")
    p = subprocess.Popen(TOOL + ["create", "--method", "store", "a.pac", "src"], cwd=d, env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = status
    shutil.rmtree(d)
    if status != 0:
        return ["store create failed: status %d" % status]
    return [] if usage.ru_maxrss < 128 << 10 else ["peak resident size %d KiB" % usage.ru_maxrss]


def reads_bounded_by_memory():
    """Under a memory limit below a member's size a stored member is still
    tested and extracted (in blocks), and a coded one that cannot be
    decoded for want of memory is reported so, never as damaged. Not under
    a sanitizer, whose own reservations take the address space."""
    if b"__asan_init" in read(TOOL[-1]):
        return None
    import resource
    d = os.path.join(WORK, "memory-limit")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(os.path.join(d, "src"))
    with open(os.path.join(d, "src", "big.bin"), "wb") as fp:
        fp.truncate(200 << 20)
    problems = []
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (150 << 20, 150 << 20))
    for method, args, code, words in (("store", ["test", "a.pac"], 0, []),
                                      ("store", ["extract", "-C", "out", "a.pac"], 0, []),
                                      ("zlib", ["test", "a.pac"], 1, ["out of memory"])):
        if run(d, "create", "-f", "--method", method, "a.pac", "src")[0] != 0:
            return ["create --method %s failed" % method]
        p = subprocess.run(TOOL + args, cwd=d, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                           preexec_fn=limit)
        err = decode(p.stderr)
        if p.returncode != code or any(w not in err for w in words) or "damaged" in err:
            problems.append("%s %s: exit %d, %s" % (method, args[0], p.returncode, err.strip()))
    if not problems and os.path.getsize(os.path.join(d, "out", "big.bin")) != 200 << 20:
        problems.append("the extracted file is cut")
    shutil.rmtree(d)
    return problems


def output_errors():
    """A failed write to standard output is an error."""
    d = os.path.join(WORK, "full")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    packed(d)
    problems = []
    with open("/dev/full", "wb") as full:
        for args in (["list", "a.pac"], ["--help"], ["cat", "a.pac", "a.txt"]):
            code, _, err = run(d, *args, stdout=full)
            if code != 1 or "standard output" not in err:
                problems.append("%s: exit %d, %s" % (" ".join(args), code, err.strip()))
    return problems


def terminal_output():
    """On a terminal (a console under Wine) names show as their characters,
    whatever the system's code page: the Windows build writes the console
    in UTF-16, and the argument comes from the wide command line."""
    d = os.path.join(WORK, "terminal")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    packed(d, "\u30bd\u30d5\u30c8.pac", {"\u30bd.txt": b"so"})
    master, slave = pty.openpty()
    p = subprocess.Popen(TOOL + ["list", "\u30bd\u30d5\u30c8.pac"], cwd=d, stdin=slave, stdout=slave, stderr=slave)
    os.close(slave)
    shown = b""
    while select.select([master], [], [], 60)[0]:
        try:
            data = os.read(master, 4096)
        except OSError:  # the terminal's other end closed
            break
        if not data:
            break
        shown += data
    os.close(master)
    code = p.wait(timeout=60)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown).decode("utf-8", "replace")
    return [] if code == 0 and "\u30bd.txt" in text else ["exit %d, shown %r" % (code, text)]


def main():
    global WORK, TOOL, WINDOWS
    WORK = os.path.abspath(sys.argv[1])
    TOOL = sys.argv[2:]
    WINDOWS = TOOL[-1].lower().endswith(".exe")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    failed = passed = skipped = 0
    for name, (setup, args, code, words, check, under_wine) in cases().items():
        if WINDOWS and not under_wine:
            # Links, FIFOs and names with no code page 932 form reach a
            # Windows program through Wine differently; tested natively.
            skipped += 1
            continue
        try:
            problems, err = check_case(name, setup, args, code, words, check)
        except Skip as e:
            print("skipped %s: %s" % (name, e))
            skipped += 1
            continue
        except (AssertionError, OSError, subprocess.TimeoutExpired) as e:
            problems, err = ["%s: %s" % (type(e).__name__, e)], ""

        if problems:
            failed += 1
            print("FAIL %s: %s\n%s" % (name, "; ".join(problems), err))
        else:
            passed += 1
    extra = [output_errors, terminal_output]
    if not WINDOWS:
        extra += [interrupts_and_exits, stored_members_in_blocks, reads_bounded_by_memory]
    for test in extra:
        problems = test()
        if problems is None:
            skipped += 1
        elif problems:
            failed += 1
            print("FAIL %s: %s" % (test.__name__, "; ".join(problems)))
        else:
            passed += 1
    print("packtool cases: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
