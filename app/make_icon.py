"""Draws the updater's icon: a green arrow pointing down into a blue box,
32 x 32 pixels in the 16 standard colours, written as a .ico file.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16 standard colours (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, NAVY, SILVER, GREY, GREEN, BLUE, WHITE = 0, 2, 4, 7, 8, 10, 12, 15
SIZE = 32


def draw():
    """Returns SIZE rows of palette indices, None where transparent."""
    px = [[None] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = c

    # The box: a lid in light blue, the front in navy, a black outline.
    fill(3, 17, 28, 30, BLACK)
    fill(4, 18, 27, 21, BLUE)
    fill(4, 22, 27, 29, NAVY)
    fill(4, 22, 27, 22, BLACK)
    fill(13, 18, 18, 21, NAVY)          # the opening the arrow goes into
    fill(6, 25, 12, 26, SILVER)         # a label on the front
    fill(6, 27, 10, 27, GREY)

    # The arrow: a shaft and a head narrowing to a point, outlined.
    for y in range(1, 13):
        fill(12, y, 19, y, DARK_GREEN)
        fill(13, y, 18, y, GREEN)
    fill(12, 1, 19, 1, DARK_GREEN)
    for i, y in enumerate(range(11, 20)):
        x0, x1 = 7 + i, 24 - i
        if x0 > x1:
            break
        fill(x0, y, x1, y, DARK_GREEN)
        if x0 + 1 <= x1 - 1 and y > 11:
            fill(x0 + 1, y, x1 - 1, y, GREEN)
    fill(14, 3, 15, 9, WHITE)           # a highlight on the shaft
    return px


def ico(px):
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):            # bitmaps are stored bottom-up
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(ico(draw()))
