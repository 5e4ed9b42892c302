#!/usr/bin/env python3
"""other_readers.py — files written by `vxtiff convert` in every compression,
layout and predictor, read back by two other readers: Pillow decodes each one,
tifffile parses each one and decodes those whose codecs it has without extra
packages (none, PackBits, Deflate). Every decoded image must equal the source. JPEG pages Pillow writes are
read by vxtiff as Pillow decodes them, JPEG pages tifffile writes as libtiff decodes them; JPEG pages vxtiff
writes are decoded by Pillow and ImageMagick near the source, and by vxtiff exactly as Pillow decodes them.

usage: other_readers.py VXTIFF_TOOL SCRATCH_DIR
Sources are made here with tifffile, uncompressed; only vxtiff writes the rest."""
import io
import itertools
import os
import subprocess
import sys

import numpy as np
import tifffile
from PIL import Image

TOOL, WORK = sys.argv[1], sys.argv[2]
os.makedirs(WORK, exist_ok=True)
rng = np.random.default_rng(7)


def source(name, data, **kw):
    path = os.path.join(WORK, name + ".tif")
    tifffile.imwrite(path, data, resolution=(300, 300), **kw)
    return path


def smooth(shape, dtype, top):
    y, x = np.indices(shape[:2])
    base = (x * 7 + y * 3) % top
    if len(shape) == 3:
        base = np.stack([(base + 40 * c) % top for c in range(shape[2])], axis=2)
    noise = rng.integers(0, 3, size=shape)
    return ((base + noise) % top).astype(dtype)


bits = rng.random((61, 203)) < 0.1
bits[20:30, :] = True
images = {
    "bilevel": (source("bilevel", bits, photometric="minisblack"), bits),
    "grey8": (source("grey8", smooth((45, 77), np.uint8, 256)), None),
    "grey16": (source("grey16", smooth((33, 50), np.uint16, 65536)), None),
    "rgb8": (source("rgb8", smooth((40, 70, 3), np.uint8, 256), photometric="rgb"), None),
    "palette8": (source("palette8", smooth((30, 41), np.uint8, 256), photometric="palette",
                        colormap=np.arange(3 * 256, dtype=np.uint16).reshape(3, 256) * 85), None),
}
compressions = {
    "bilevel": ["none", "packbits", "deflate", "deflate-legacy", "lzw", "mh", "g3", "g3-2d", "g4"],
    "grey8": ["none", "packbits", "deflate", "deflate-legacy", "lzw"],
}
layouts = [[], ["--rows-per-strip", "7"], ["--tile", "32x32"]]
failures, checked = [], 0
for name, (path, want) in images.items():
    if want is None:
        want = tifffile.imread(path)
    for c, layout in itertools.product(compressions.get(name, compressions["grey8"]), layouts):
        predictors = [[], ["--predictor", "2"]] if c in ("deflate", "deflate-legacy", "lzw") and name != "bilevel" else [[]]
        for pred in predictors:
            label = " ".join([name, c] + layout + pred)
            out = os.path.join(WORK, "out.tif")
            run = subprocess.run([TOOL, "convert", path, out, "--compression", c] + layout + pred,
                                 capture_output=True, text=True)
            if run.returncode != 0:
                failures.append(f"{label}: vxtiff convert failed: {run.stderr.strip()}")
                continue
            with Image.open(out) as im:
                got = np.array(im)
            if name == "palette8":
                got = np.array(Image.open(out).convert("P"))  # indices, not colours
            if not np.array_equal(got.astype(want.dtype), want):
                failures.append(f"{label}: Pillow reads other pixels")
            with tifffile.TiffFile(out) as t:
                page = t.pages[0]
                if c in ("none", "packbits", "deflate", "deflate-legacy") and not np.array_equal(page.asarray(), want):
                    failures.append(f"{label}: tifffile reads other pixels")
                if page.shape[:2] != want.shape[:2]:
                    failures.append(f"{label}: tifffile sees shape {page.shape}")
            checked += 1
# BigTIFF pages tifffile writes (both byte orders, strips and tiles) read by
# vxtiff as libtiff reads them; vxtiff's --bigtiff output read by tifffile.
for order, tile, c in itertools.product("<>", (None, (32, 32)), (None, "zlib")):
    data = images["rgb8"][1] if images["rgb8"][1] is not None else tifffile.imread(images["rgb8"][0])
    path, out, ref, big = (os.path.join(WORK, n) for n in ("tf-big.tif", "out.tif", "ref.tif", "big.tif"))
    tifffile.imwrite(path, data, bigtiff=True, byteorder=order, tile=tile, rowsperstrip=7, compression=c,
                     photometric="rgb")
    subprocess.run(["tiffcp", "-c", "none", path, ref], check=True)
    label = f"tifffile BigTIFF {order} tile {tile} {c}"
    run = subprocess.run([TOOL, "convert", path, out, "--compression", "none"], capture_output=True, text=True)
    if run.returncode != 0 or not np.array_equal(tifffile.imread(out), tifffile.imread(ref)):
        failures.append(f"{label}: vxtiff reads other pixels than libtiff {run.stderr.strip()}")
    run = subprocess.run([TOOL, "convert", path, big, "--bigtiff", "--compression", "deflate"], capture_output=True, text=True)
    with tifffile.TiffFile(big) as t:
        if run.returncode != 0 or not t.is_bigtiff or not np.array_equal(t.asarray(), data):
            failures.append(f"{label}: vxtiff's BigTIFF is not read back by tifffile {run.stderr.strip()}")
    checked += 1
# The other way: JPEG pages Pillow writes (YCbCr 2x2 and grey) read by vxtiff
# as Pillow decodes them, unless this build reads no JPEG.
for name, mode in (("rgb8", "RGB"), ("grey8", "L")):
    path, out = os.path.join(WORK, "pil-jpeg.tif"), os.path.join(WORK, "out.tif")
    src = Image.fromarray(tifffile.imread(images[name][0])).convert(mode)
    src.save(path, compression="jpeg", quality=90)
    run = subprocess.run([TOOL, "convert", path, out, "--compression", "none"], capture_output=True, text=True)
    if run.returncode != 0 and "compression 7" in run.stderr:
        continue
    with Image.open(path) as a, Image.open(out) as b:
        if run.returncode != 0 or not np.array_equal(np.array(a.convert(mode)), np.array(b)):
            failures.append(f"Pillow's JPEG {name}: vxtiff reads other pixels {run.stderr.strip()}")
    checked += 1
# JPEG pages tifffile lays out (YCbCr 2x2 and 2x1, RGB, grey; strips and
# padded tiles) read by vxtiff as libtiff's tiff2rgba decodes them. tifffile
# encodes JPEG only through imagecodecs, which Debian lacks: Pillow encodes
# each segment and tifffile writes them as pre-compressed segments, its
# encoder stood in for by one that must never run. An RGB segment is made from
# an image Pillow takes for YCbCr, so that libjpeg stores the samples as given.
codecs = getattr(tifffile.TIFF.COMPRESSORS, "_codecs", None)
if codecs is None:
    print("tifffile's JPEG pages not made: this tifffile has no table of encoders to stand in for")
else:
    codecs[7] = lambda *a, **k: sys.exit("tifffile encoded a segment")


def jpeg_segment(a, mode, subsampling):
    buf = io.BytesIO()
    Image.frombytes(mode, (a.shape[1], a.shape[0]), a.tobytes()).save(buf, "JPEG", quality=90, subsampling=subsampling)
    return buf.getvalue()


rgb, grey = smooth((45, 77, 3), np.uint8, 256), smooth((45, 77), np.uint8, 256)
for kind, a, mode, subsampling, kw in (
        ("ycbcr-2x2", rgb, "RGB", 2, {"photometric": "rgb"}),
        ("ycbcr-2x1", rgb, "RGB", 1, {"photometric": "rgb", "subsampling": (2, 1)}),
        ("rgb", rgb, "YCbCr", 0, {"photometric": "rgb", "compressionargs": {"outcolorspace": "rgb"}}),
        ("grey", grey, "L", 0, {"photometric": "minisblack"})) if codecs is not None else ():
    for tile in (0, 32):
        size = tile or 16
        padded = np.zeros((-(-45 // size) * size, -(-77 // (tile or 77)) * (tile or 77)) + a.shape[2:], np.uint8)
        padded[:45, :77] = a
        cuts = [padded[y:y + size, x:x + (tile or 77)] for y in range(0, 45, size) for x in range(0, 77, tile or 77)]
        segments = (jpeg_segment(c if tile else c[:45 - i * size], mode, subsampling) for i, c in enumerate(cuts))
        path, out, ref = (os.path.join(WORK, n) for n in ("tf-jpeg.tif", "out.tif", "ref.tif"))
        layout = {"tile": (tile, tile)} if tile else {"rowsperstrip": size}
        tifffile.imwrite(path, segments, shape=a.shape, dtype=np.uint8, compression="jpeg", **layout, **kw)
        run = subprocess.run([TOOL, "convert", path, out, "--compression", "none"], capture_output=True, text=True)
        if run.returncode != 0 and "compression 7" in run.stderr:
            break
        subprocess.run(["tiff2rgba", "-c", "none", path, ref], check=True)
        want = tifffile.imread(ref)[..., :3 if a.ndim == 3 else 1].reshape(a.shape)
        if run.returncode != 0 or not np.array_equal(tifffile.imread(out), want):
            failures.append(f"tifffile's JPEG {kind} tile {tile}: vxtiff reads other pixels {run.stderr.strip()}")
        checked += 1
# JPEG pages vxtiff writes, at quality 90: Pillow (libtiff) and ImageMagick
# decode them within JPEG's error of the source, and vxtiff reads back
# exactly what Pillow decodes (the same libjpeg underneath).
def psnr(a, b):
    mse = np.mean((a.astype(float) - b.astype(float)) ** 2)
    return 99.0 if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def magick(path, grey):
    run = subprocess.run(["convert", path + "[0]", "-depth", "8", "pgm:-" if grey else "ppm:-"], capture_output=True)
    if run.returncode != 0 or not run.stdout.startswith(b"P5" if grey else b"P6"):
        return None
    with Image.open(io.BytesIO(run.stdout)) as im:
        return np.array(im)


y, x = np.indices((777, 1001))
photo = np.stack([128 + 100 * np.sin(x / 37) * np.cos(y / 23), 128 + 90 * np.sin((x + y) / 50),
                  128 + 80 * np.cos(x / 70 - y / 41)], axis=2).astype(np.uint8)
has_magick = b"ImageMagick" in subprocess.run(["convert", "-version"], capture_output=True).stdout
for name, data in (("photo-rgb", photo), ("photo-grey", photo[:, :, 1].copy()), ("photo-small", photo[:5, :9])):
    path = source(name, data, photometric="rgb" if data.ndim == 3 else "minisblack")
    for layout in layouts:
        label, out, back = " ".join([name, "jpeg:90"] + layout), os.path.join(WORK, "out.tif"), os.path.join(WORK, "back.tif")
        run = subprocess.run([TOOL, "convert", path, out, "--compression", "jpeg:90"] + layout, capture_output=True, text=True)
        if run.returncode != 0 and "jpeg" in run.stderr and "takes" in run.stderr:
            break  # this build writes no JPEG
        if run.returncode != 0 or subprocess.run([TOOL, "convert", out, back, "--compression", "none"]).returncode != 0:
            failures.append(f"{label}: vxtiff failed: {run.stderr.strip()}")
            continue
        with Image.open(out) as a, Image.open(back) as b:
            pil, ours = np.array(a), np.array(b)
        if psnr(pil, data) < 40 or (data.size > 100 and psnr(pil, data) < 45):
            failures.append(f"{label}: Pillow decodes it at {psnr(pil, data):.1f} dB")
        if not np.array_equal(pil, ours):
            failures.append(f"{label}: vxtiff reads other pixels than Pillow")
        im = magick(out, data.ndim == 2) if has_magick else data
        if im is None or psnr(im, data) < 40:
            failures.append(f"{label}: ImageMagick cannot read it, or reads it far from the source")
        checked += 1
print(f"{checked} files read by Pillow and tifffile" + ("" if has_magick else " (ImageMagick absent: not asked)"))
for f in failures:
    print("FAIL", f)
print(f"{checked - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
