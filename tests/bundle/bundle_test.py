#!/usr/bin/env python3
"""Checks the patch authors' zip as they get it: it holds exactly the
files the build put in, the tools answer --help under Wine, update.exe
started alone shows that it cannot open its list, is closed by the
end-to-end tests' driver and exits with 0, and every command of the
guide (lines starting with "> ") runs under Wine's command prompt, in the
unpacked folder, on a sample patch and game.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zipfile

CANNOT_OPEN = "アップデート情報ファイルが開けませんでした"
FAILURES = []


def check(ok, what):
    print(("ok     " if ok else "FAILED ") + what)
    if not ok:
        FAILURES.append(what)
    return ok


def wine(args, cwd, *command):
    return subprocess.run([args.run] + list(command), cwd=cwd, capture_output=True, timeout=120)


def update_alone(args, folder):
    """update.exe with nothing beside it: the cannot-open message, closed
    by the driver, exit code 0. The box's screenshot must show the close
    button's cross."""
    driver = subprocess.Popen([args.run, args.driver], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)

    def call(*fields):
        driver.stdin.write(("\t".join(fields) + "\n").encode("utf-8"))
        driver.stdin.flush()
        reply = driver.stdout.readline().decode("utf-8").rstrip("\r\n").split("\t")
        if reply[0] != "ok":
            raise RuntimeError("driver: %s -> %s" % (" ".join(fields), " ".join(reply)))
        return reply[1:]

    windows = "Z:" + folder.replace("/", "\\")
    try:
        call("start", windows + "\\update.exe", windows)
        hwnd, _, text, rect = call("find", "msgbox", "30000")
        check(text == CANNOT_OPEN, "update.exe alone shows %r" % text)
        with open(os.path.join(os.path.dirname(args.run), "display")) as fp:
            display = ":" + fp.read().strip()
        size, x, y = rect.split("+")
        shot = os.path.join(args.work, "update-alone.png")
        subprocess.run(["import", "-display", display, "-window", "root", "-crop", "%s+%s+%s" % (size, x, y),
                        "+repage", shot], check=True)
        check(subprocess.run([sys.executable, args.glyph_check, shot]).returncode == 0,
              "the message box's close button is a cross")
        call("click", hwnd, "1")
        call("gone", hwnd, "30000")
        check(call("exit", "30000") == ["0"], "update.exe exits with 0")
    except RuntimeError as e:
        check(False, str(e))
        call("kill")
    finally:
        driver.stdin.write(b"quit\n")
        driver.stdin.close()
        driver.wait(timeout=60)


def sample_game(root):
    """An installed game as the guide's check expects it: a few files and
    the uninstall list its installer wrote."""
    os.makedirs(os.path.join(root, "save"), exist_ok=True)
    with open(os.path.join(root, "readme.txt"), "wb") as fp:
        fp.write(b"Velmora 1.00\r\n")
    entries = [(b"readme.txt", 14), (b"save\\", 0)]
    records = b"".join(p.ljust(260, b"\0") + struct.pack("<II", n, 0) for p, n in entries)
    with open(os.path.join(root, "Uninstallinf.dat"), "wb") as fp:
        fp.write(bytes(128) + struct.pack("<III", len(entries), 1, 14) + bytes(4928) + records)


def main():
    parser = argparse.ArgumentParser()
    for name in ("run", "driver", "zip", "folder", "files", "glyph-check", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    with zipfile.ZipFile(args.zip) as z:
        expected = sorted(args.folder + "/" + f for f in args.files.split(";"))
        check(sorted(z.namelist()) == expected, "the zip holds %s" % expected)
        check(all(i.file_size > 0 for i in z.infolist()), "no file in the zip is empty")
        z.extractall(args.work)
        guide = z.read(args.folder + "/README.txt").decode("utf-8-sig")
    folder = os.path.join(args.work, args.folder)

    for tool in ("updatelist.exe", "packtool.exe"):
        r = wine(args, folder, tool, "--help")
        ok = r.returncode == 0 and b"Usage: " in r.stdout
        check(ok, tool + " --help" + ("" if ok else " (exit %d, stdout %r, stderr %r)" %
                                      (r.returncode, r.stdout[:200], r.stderr[-400:])))

    update_alone(args, folder)

    # The guide's sample patch and the game it is checked against.
    data = os.path.join(folder, "MyPatch", "data")
    os.makedirs(os.path.join(data, "追加データ"))
    with open(os.path.join(data, "readme.txt"), "wb") as fp:
        fp.write(b"Velmora 1.01\r\n")
    with open(os.path.join(data, "追加データ", "stage7.dat"), "wb") as fp:
        fp.write(b"stage=7\r\n")
    # The previous release, which the guide's delta patch is made against.
    previous = os.path.join(folder, "Velmora100")
    os.makedirs(previous)
    with open(os.path.join(previous, "readme.txt"), "wb") as fp:
        fp.write(b"Velmora 1.00, the release before this one\r\n")
    game = os.path.join(os.path.dirname(args.run), "prefix", "drive_c", "Games", "Velmora")
    shutil.rmtree(game, ignore_errors=True)
    sample_game(game)
    try:
        commands = [line[2:] for line in guide.split("\r\n") if line.startswith("> ")]
        check(len(commands) >= 4, "the guide gives its commands (%d)" % len(commands))
        for command in commands:
            r = wine(args, folder, "cmd", "/c", command)
            if not check(r.returncode == 0, "guide: " + command):
                sys.stdout.write(r.stdout.decode("cp932", "replace") + r.stderr.decode("cp932", "replace"))
        for patch, name in (("MyPatch", "Updateinf.dat"), ("MyPatch", "update.exe"),
                            ("MyDeltaPatch", "Updateinf.sum"), ("MyDeltaPatch", "update.exe")):
            check(os.path.isfile(os.path.join(folder, patch, name)), "the guide's %s holds %s" % (patch, name))
    finally:
        shutil.rmtree(game, ignore_errors=True)

    print("%d failures" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
