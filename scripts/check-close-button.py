#!/usr/bin/env python3
"""Checks the close button in screenshots of windows whose frames Wine
draws itself: the glyph in the caption's top-right corner must be the
cross that Wine's Marlett font gives. Without that font Wine draws the
letter "r" there instead.

The cross is told from a letter by its shape: its dark pixels fill the
four corners of their bounding box and are mirror-symmetric left to
right and top to bottom; an "r" has an empty lower right and is lopsided.

Usage: check-close-button.py SCREENSHOT.png...  (exit 1 if one fails)
"""
import subprocess
import sys

# Wine draws frames with fixed metrics: the caption, with the close
# button at its right end, lies in the top 21 rows.
REGION_W, REGION_H = 40, 21
DARK = 110
# Dark runs this long are edges, not strokes of the glyph.
LINE = 8


def dark_pixels(path):
    """The dark pixels of the close button's glyph, as (x, y)."""
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
    magic, size, depth, pixels = ppm.split(b"\n", 3)
    assert magic == b"P6" and depth == b"255", path
    w, h = map(int, size.split())

    def rgb(x, y):
        i = (y * w + x) * 3
        return pixels[i:i + 3]

    dark = {(x, y) for y in range(min(REGION_H, h)) for x in range(max(0, w - REGION_W), w)
            if sum(rgb(x, y)) < 3 * DARK}
    # The button's shadow and the window's frame are straight lines; the
    # glyph is what is left.
    def on_line(x, y):
        for dx, dy in ((1, 0), (0, 1)):
            run = 1
            for sign in (1, -1):
                k = 1
                while (x + sign * k * dx, y + sign * k * dy) in dark:
                    run, k = run + 1, k + 1
            if run >= LINE:
                return True
        return False

    return {p for p in dark if not on_line(*p)}


def problem(dark):
    """Why these pixels are not a cross, or None."""
    if len(dark) < 8:
        return "no glyph (%d dark pixels)" % len(dark)
    xs = [x for x, _ in dark]
    ys = [y for _, y in dark]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    if not (4 <= x1 - x0 <= 14 and 4 <= y1 - y0 <= 14):
        return "the dark area is %dx%d, not a button glyph" % (x1 - x0 + 1, y1 - y0 + 1)

    def near(x, y):
        return any((x + dx, y + dy) in dark for dx in (-1, 0, 1) for dy in (-1, 0, 1))

    empty = [c for c in ((x0, y0), (x1, y0), (x0, y1), (x1, y1)) if not near(*c)]
    if empty:
        return "corners of the glyph left empty: %s" % empty
    for name, mirror in (("left to right", lambda x, y: (x0 + x1 - x, y)),
                         ("top to bottom", lambda x, y: (x, y0 + y1 - y))):
        matched = sum(near(*mirror(x, y)) for x, y in dark)
        if matched < 0.9 * len(dark):
            return "not symmetric %s (%d of %d pixels)" % (name, matched, len(dark))
    return None


def main():
    failed = 0
    for path in sys.argv[1:]:
        why = problem(dark_pixels(path))
        if why:
            print("%s: the close button shows no cross: %s" % (path, why))
            failed = 1
        else:
            print("%s: close button OK" % path)
    return failed


if __name__ == "__main__":
    sys.exit(main())
