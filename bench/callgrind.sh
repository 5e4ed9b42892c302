#!/usr/bin/env bash
# callgrind.sh — instructions per decoded byte, vxtiff against libtiff, counted
# by callgrind: the inclusive cost of the two sides of vxtiff_bench's `lines`
# job (VxReadLineByLine, LtReadLineByLine; for a tiled file the latter reads
# tile rows with TIFFReadEncodedTile), each run once, over the file's output
# bytes (row bytes x height).
#
# usage: [JOB=seek] bench/callgrind.sh <path to vxtiff_bench> [file ...]
# Any file of the bench's table (e.g. grey-raw-t256, fax-g4-mm). JOB=seek
# counts the `seek` job instead (VxSeekLastLine, LtSeekLastLine: the last row
# of a JPEG strip file; Ir/B then over the whole image's bytes). Needs
# valgrind. Takes a few minutes; the images are generated natively first.
set -euo pipefail
bench=${1:?usage: callgrind.sh <path to vxtiff_bench> [file ...]}
shift
files=("$@")
if ((${#files[@]} == 0)); then
    files=(fax-mh fax-g3-1d fax-g3-2d fax-g4 fax-g4-s64 grey-raw grey-raw-t256 grey-packbits camera-grey-lzw
           rgb-lzw rgb-lzw-pred grey-lzw-pred grey-deflate grey-deflate-pred)
fi
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "=LABEL" matches that label only (grey-raw lines, not camera-grey-raw lines).
job=${JOB:-lines}
case $job in
lines) vxfn=VxReadLineByLine ltfn=LtReadLineByLine ;;
seek) vxfn=VxSeekLastLine ltfn=LtSeekLastLine ;;
*) echo "callgrind.sh: JOB is lines or seek" >&2; exit 1 ;;
esac
filter=$(printf "=%s $job," "${files[@]}")
"$bench" --verify-only --filter "${filter%,}" >/dev/null

# Inclusive instruction count of function $2 (awk stops early: ignore the broken pipe).
cost() {
    callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
        awk -v fn="$2" 'index($0, ":" fn "(") || index($0, " " fn "(") { gsub(",", "", $1); print $1; exit }' || true
}

row='%-29s %14s %14s %9s %9s %7s\n'
printf "$row" file "vxtiff Ir" "libtiff Ir" "vx Ir/B" "lt Ir/B" "ratio"
for f in "${files[@]}"; do
    out=$work/$f.out
    valgrind --tool=callgrind --callgrind-out-file="$out" "$bench" --verify-only --filter "=$f $job" \
        >"$work/$f.txt" 2>/dev/null || { printf '%-29s valgrind failed\n' "$f"; continue; }
    # The bench's verification line: file, job, output bytes, status.
    bytes=$(awk -v f="$f" -v j="$job" '$1 == f && $2 == j { print $3 }' "$work/$f.txt")
    status=$(awk -v f="$f" -v j="$job" '$1 == f && $2 == j { $1 = $2 = $3 = ""; sub(/^ +/, ""); print }' "$work/$f.txt")
    if [[ $status != "same bytes" ]]; then
        printf '%-29s %14s\n' "$f" "${status:-missing}"
        continue
    fi
    vx=$(cost "$out" $vxfn)
    lt=$(cost "$out" $ltfn)
    if [[ -n $vx && -n $lt && $vx -gt 0 && $bytes -gt 0 ]]; then
        printf "$row" "$f" "$vx" "$lt" "$(awk -v a="$vx" -v n="$bytes" 'BEGIN { printf "%.2f", a / n }')" \
            "$(awk -v a="$lt" -v n="$bytes" 'BEGIN { printf "%.2f", a / n }')" \
            "$(awk -v a="$lt" -v b="$vx" 'BEGIN { printf "%.2f", a / b }')"
    else
        printf "$row" "$f" "${vx:-?}" "${lt:-?}" "-" "-" "-"
    fi
done
echo "Ir/B = instructions per output byte (row bytes x height); ratio = libtiff Ir / vxtiff Ir (above 1: vxtiff executes fewer)"
