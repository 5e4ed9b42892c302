#!/usr/bin/env python3
"""make_sample.py — draws the bundled sample page and has libtiff write it.

A letter-like bilevel page at 200 dpi (1728 pixels wide, as a fax line) with a
frame, a heading, paragraphs of word-like blocks, a table and a circle, written
by libtiff's ppm2tiff as CCITT Group 4 in strips of 64 rows:

    python3 scripts/make_sample.py        # writes samples/page-g4.tif
"""
import os
import random
import subprocess
import tempfile

W, H = 1728, 2200


def draw():
    img = [bytearray(W) for _ in range(H)]

    def rect(x0, y0, x1, y1):
        for y in range(max(0, y0), min(H, y1)):
            img[y][max(0, x0):min(W, x1)] = b"\x01" * (min(W, x1) - max(0, x0))

    rng = random.Random(1728)
    # Frame.
    rect(60, 60, W - 60, 66); rect(60, H - 66, W - 60, H - 60)
    rect(60, 60, 66, H - 60); rect(W - 66, 60, W - 60, H - 60)
    # Heading: tall blocks.
    x = 140
    for _ in range(9):
        w = rng.randint(40, 90)
        rect(x, 140, x + w, 200)
        x += w + 24
    # Paragraphs of words.
    y = 280
    for para in range(3):
        for line in range(rng.randint(4, 7)):
            x = 140 + (60 if line == 0 else 0)
            while True:
                w = rng.randint(18, 120)
                if x + w > W - 140:
                    break
                rect(x, y + rng.randint(0, 4), x + w, y + 26)
                x += w + rng.randint(14, 22)
            y += 44
        y += 40
    # A table.
    top, left, rows, cols, cw, ch = y + 20, 140, 6, 5, 280, 56
    for r in range(rows + 1):
        rect(left, top + r * ch, left + cols * cw + 3, top + r * ch + 3)
    for c in range(cols + 1):
        rect(left + c * cw, top, left + c * cw + 3, top + rows * ch + 3)
    for r in range(rows):
        for c in range(cols):
            w = rng.randint(60, cw - 40)
            rect(left + c * cw + 20, top + r * ch + 18, left + c * cw + 20 + w, top + r * ch + 38)
    # A circle and a signature-like stroke.
    cx, cy, rad = W - 360, H - 330, 150
    for yy in range(cy - rad - 3, cy + rad + 4):
        for xx in range(cx - rad - 3, cx + rad + 4):
            d = ((xx - cx) ** 2 + (yy - cy) ** 2) ** 0.5
            if rad - 3 <= d <= rad + 3:
                img[yy][xx] = 1
    for xx in range(200, 700):
        yy = H - 300 + int(40 * ((xx - 200) / 80.0 % 2 - 1) ** 2)
        rect(xx, yy, xx + 4, yy + 4)
    return img


def main():
    img = draw()
    out = os.path.join("samples", "page-g4.tif")
    os.makedirs("samples", exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        pbm = os.path.join(tmp, "page.pbm")
        with open(pbm, "wb") as f:
            f.write(b"P4\n%d %d\n" % (W, H))
            for row in img:
                packed = bytearray((W + 7) // 8)
                for x, v in enumerate(row):
                    if v:
                        packed[x >> 3] |= 0x80 >> (x & 7)
                f.write(packed)
        subprocess.run(["ppm2tiff", "-c", "g4", "-r", "64", "-R", "200", pbm, out], check=True)
    print(out, os.path.getsize(out), "bytes")


if __name__ == "__main__":
    main()
