#!/usr/bin/env python3
"""Writes the patch authors' zip: the programs and the guide in one
folder. The guide is stored as UTF-8 with a byte-order mark and CRLF line
ends, so that Notepad on any Japanese Windows shows it.

Usage: make_bundle.py OUT.zip FOLDER GUIDE PROGRAM...
"""
import os
import sys
import zipfile


def main():
    out, folder, guide, programs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    with open(guide, encoding="utf-8") as fp:
        text = fp.read().replace("\n", "\r\n")
    part = out + ".part"
    with zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED) as z:
        for program in programs:
            z.write(program, folder + "/" + os.path.basename(program))
        z.writestr(folder + "/" + os.path.basename(guide), text.encode("utf-8-sig"))
    os.replace(part, out)


if __name__ == "__main__":
    main()
