#!/usr/bin/env python3
"""make_corpus.py — writes the seed corpus of fuzz_open: small, valid,
uncompressed TIFF files in both byte orders, by strips and by tiles, with a
palette among them, and compressed copies of some made by libtiff's tiffcp.
Run from the repository root; the files are committed."""
import os
import struct
import subprocess

OUT = "fuzz/corpus/fuzz_open"


def tiff(big, width, height, bits, samples, photometric, rows, tile=None, colormap=None):
    e = ">" if big else "<"
    row_bytes = (width * bits * samples + 7) // 8
    data = bytearray(b"MM\x00\x2a" if big else b"II\x2a\x00") + b"\0\0\0\0"
    entries = []

    def pixels(n, seed):
        return bytes((i * 7 + seed * 31) & 0xFF for i in range(n))

    offsets, counts = [], []
    if tile:
        tw, tl = tile
        tile_bytes = (tw * bits * samples + 7) // 8 * tl
        for t in range(((width + tw - 1) // tw) * ((height + tl - 1) // tl)):
            offsets.append(len(data))
            counts.append(tile_bytes)
            data += pixels(tile_bytes, t)
    else:
        for s in range(0, height, rows):
            n = row_bytes * min(rows, height - s)
            offsets.append(len(data))
            counts.append(n)
            data += pixels(n, s)
    if len(data) % 2:
        data += b"\0"

    entries += [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * samples),
                (259, 3, [1]), (262, 3, [photometric]), (277, 3, [samples]),
                (282, 5, [300, 1]), (283, 5, [300, 1]), (296, 3, [2])]
    if tile:
        entries += [(322, 4, [tile[0]]), (323, 4, [tile[1]]), (324, 4, offsets), (325, 4, counts)]
    else:
        entries += [(273, 4, offsets), (278, 4, [rows]), (279, 4, counts)]
    if colormap:
        entries.append((320, 3, colormap))
    entries.sort()

    ifd = len(data)
    extra = ifd + 2 + 12 * len(entries) + 4
    block = bytearray(struct.pack(e + "H", len(entries)))
    tail = bytearray()
    for tag, typ, values in entries:
        fmt = {3: "H", 4: "I", 5: "I"}[typ]
        raw = struct.pack(e + fmt * len(values), *values)
        count = len(values) // 2 if typ == 5 else len(values)
        if len(raw) <= 4:
            field = raw.ljust(4, b"\0")
        else:
            field = struct.pack(e + "I", extra + len(tail))
            tail += raw
        block += struct.pack(e + "HHI", tag, typ, count) + field
    block += b"\0\0\0\0"
    data += block + tail
    data[4:8] = struct.pack(e + "I", ifd)
    return bytes(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    ramp = [i * 4369 for i in range(16)]
    files = {
        "gray8_ii_strips.tif": tiff(False, 21, 13, 8, 1, 1, 4),
        "gray16_mm_strips.tif": tiff(True, 9, 7, 16, 1, 1, 3),
        "bilevel_ii_strips.tif": tiff(False, 61, 17, 1, 1, 0, 5),
        "rgb8_mm_tiles.tif": tiff(True, 40, 20, 8, 3, 2, 0, tile=(16, 16)),
        "gray4_ii_tiles.tif": tiff(False, 35, 33, 4, 1, 1, 0, tile=(16, 8)),
        "palette4_mm_strips.tif": tiff(True, 12, 6, 4, 1, 3, 6, colormap=ramp + ramp[::-1] + ramp),
        "cmyk8_ii_tiles.tif": tiff(False, 16, 16, 8, 4, 5, 0, tile=(16, 16)),
    }
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    copies = [
        ("bilevel_ii_strips.tif", "bilevel_g4.tif", ["-c", "g4"]),
        ("bilevel_ii_strips.tif", "bilevel_g3_2d_mm.tif", ["-c", "g3:2d", "-B"]),
        ("bilevel_ii_strips.tif", "bilevel_g3_1d.tif", ["-c", "g3:1d"]),
        ("gray8_ii_strips.tif", "gray8_lzw_pred.tif", ["-c", "lzw:2"]),
        ("rgb8_mm_tiles.tif", "rgb8_packbits_tiles.tif", ["-c", "packbits"]),
        ("gray16_mm_strips.tif", "gray16_zip_pred_mm.tif", ["-c", "zip:2"]),
    ]
    for src, dst, options in copies:
        subprocess.run(["tiffcp", *options, os.path.join(OUT, src), os.path.join(OUT, dst)], check=True)


if __name__ == "__main__":
    main()
