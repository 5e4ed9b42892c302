#!/bin/sh
# bigtiff_a0.sh — a manual run, not part of CI: an A0 colour scan at 1,200 dpi
# (39,732 x 56,173 RGB pixels, 6.7 GB uncompressed) written as BigTIFF by
# tifffile, converted to LZW and rotated by vxtiff, beside a 6 MB page; each
# run's time and peak memory (GNU time's maximum resident set). Needs about
# 25 GB free under DIR at 1,200 dpi; a lower DPI makes a smaller scan.
#
# usage: bench/bigtiff_a0.sh VXTIFF_TOOL DIR [DPI]
set -eu
TOOL=$1
DIR=$2
DPI=${3:-1200}
mkdir -p "$DIR"
/usr/bin/python3 - "$DIR" "$DPI" <<'PY'
import sys

import numpy as np
import tifffile

d, dpi = sys.argv[1], int(sys.argv[2])


def strips(width, height, rows=64):
    x = np.arange(width, dtype=np.uint32)
    for y0 in range(0, height, rows):
        y = np.arange(y0, min(y0 + rows, height), dtype=np.uint32)[:, None]
        yield np.stack([(x * 3 + y) % 251, (x ^ y) % 253, (x + 5 * y) % 241], axis=2).astype(np.uint8)


a0 = (round(841 / 25.4 * dpi), round(1189 / 25.4 * dpi))
for name, (w, h) in (("a0", a0), ("page", (1414, 1414))):  # the page: 6.0 MB
    tifffile.imwrite(f"{d}/{name}.tif", strips(w, h), shape=(h, w, 3), dtype=np.uint8, photometric="rgb",
                     rowsperstrip=64, bigtiff=name == "a0", resolution=(dpi, dpi))
PY
for name in page a0; do
    for job in "convert $DIR/$name.tif $DIR/$name-lzw.tif --compression lzw" \
               "convert $DIR/$name.tif $DIR/$name-raw.tif --compression none" \
               "rotate $DIR/$name.tif $DIR/$name-r90.tif 90"; do
        /usr/bin/time -f "$name ${job%% *} ${job##* }: %e s, peak %M KiB" "$TOOL" $job
    done
    for out in lzw raw r90; do
        printf '%s-%s.tif: ' "$name" "$out"
        head -c 4 "$DIR/$name-$out.tif" | od -An -tx1   # 2b 00: BigTIFF, 2a 00: classic
    done
done
