#!/usr/bin/env python3
"""make_hostile.py — writes small hostile TIFF files that once made reading or
conversion misbehave: images declaring far more lines than their data holds,
strips whose byte count runs past the end of the file, streams that stop on
an invalid code, resolutions whose RATIONAL numerator is above 2^31. Each goes
to tests/data/crashers/ (replayed by every fuzz runner) and seeds fuzz_open.
Run from the repository root; needs libtiff's tiffcp. The files are committed."""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import zlib

from make_corpus import tiff

CRASHERS = "tests/data/crashers"
CORPUS = "fuzz/corpus/fuzz_open"


def one_strip(width, height, bits, compression, photometric, data, xres=(200, 1), unit=2):
    """A little-endian file of one strip holding `data`."""
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits]), (259, 3, [compression]),
               (262, 3, [photometric]), (273, 4, [8]), (277, 3, [1]), (278, 4, [height]),
               (279, 4, [len(data)]), (282, 5, list(xres)), (283, 5, list(xres)), (296, 3, [unit])]
    out = bytearray(b"II\x2a\x00\0\0\0\0") + data
    if len(out) % 2:
        out += b"\0"
    ifd = len(out)
    extra = ifd + 2 + 12 * len(entries) + 4
    block, tail = bytearray(struct.pack("<H", len(entries))), bytearray()
    for tag, typ, values in entries:
        raw = struct.pack("<" + {3: "H", 4: "I", 5: "I"}[typ] * len(values), *values)
        count = len(values) // 2 if typ == 5 else len(values)
        field = raw.ljust(4, b"\0") if len(raw) <= 4 else struct.pack("<I", extra + len(tail))
        if len(raw) > 4:
            tail += raw
        block += struct.pack("<HHI", tag, typ, count) + field
    out += block + b"\0\0\0\0" + tail
    out[4:8] = struct.pack("<I", ifd)
    return bytes(out)


def cut_third_strip(data):
    """Sets StripByteCounts[2] of a little-endian file to 0x7FFF0000 (0xFFFF when SHORT)."""
    data = bytearray(data)
    ifd = struct.unpack_from("<I", data, 4)[0]
    for i in range(struct.unpack_from("<H", data, ifd)[0]):
        tag, typ, _, value = struct.unpack_from("<HHII", data, ifd + 2 + 12 * i)
        if tag == 279:
            if typ == 3:
                struct.pack_into("<H", data, value + 4, 0xFFFF)
            else:
                struct.pack_into("<I", data, value + 8, 0x7FFF0000)
    return bytes(data)


def with_tiffcp(source, options):
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.tif"), os.path.join(d, "out.tif")
        with open(src, "wb") as f:
            f.write(source)
        subprocess.run(["tiffcp", *options, src, dst], check=True)
        with open(dst, "rb") as f:
            return f.read()


def main():
    rng = random.Random(1)
    noise = bytes(rng.getrandbits(8) for _ in range(600))
    bilevel = tiff(False, 64, 8, 1, 1, 0, 8)
    grey = tiff(False, 16, 8, 8, 1, 1, 8)
    files = {
        "deflate-stream-ends-before-declared-rows": one_strip(64, 2**31 - 1, 8, 32946, 1, zlib.compress(bytes(160))),
        "mh-invalid-code-then-declared-rows": one_strip(8, 2**30 - 100, 1, 2, 0, noise),
        "g4-noise-declared-rows": one_strip(8, 2**30 - 100, 1, 4, 0, noise),
        "g4-strip-past-end-of-file": cut_third_strip(with_tiffcp(bilevel, ["-c", "g4", "-r", "2"])),
        "deflate-strip-past-end-of-file": cut_third_strip(with_tiffcp(grey, ["-c", "zip", "-r", "2"])),
        "rational-numerator-above-2-31": one_strip(64, 8, 1, 1, 0, bytes(64), (4294967295, 54546194), 3),
    }
    for name, data in files.items():
        for folder, prefix in ((CRASHERS, "fuzz_open-"), (CORPUS, "hostile-")):
            with open(os.path.join(folder, prefix + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
