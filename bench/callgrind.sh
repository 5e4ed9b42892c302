#!/usr/bin/env bash
# callgrind.sh — instructions per decoded byte, vxtiff against libtiff, one
# file per codec, counted by callgrind (inclusive cost of the two line-by-line
# job functions of vxtiff_bench, each run once).
#
# usage: bench/callgrind.sh <path to vxtiff_bench> [file ...]
# Needs valgrind. Takes a minute or two; the images are generated natively first.
set -euo pipefail
bench=${1:?usage: callgrind.sh <path to vxtiff_bench> [file ...]}
shift
files=("$@")
if ((${#files[@]} == 0)); then
    files=(fax-mh fax-g3-1d fax-g3-2d fax-g4 grey-raw grey-packbits grey-lzw grey-lzw-pred grey-deflate
           grey-deflate-pred)
fi
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

filter=$(printf '%s lines,' "${files[@]}")
"$bench" --verify-only --filter "${filter%,}" >/dev/null

# Inclusive instruction count of function $2 (awk stops early: ignore the broken pipe).
cost() {
    callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
        awk -v fn="$2" 'index($0, ":" fn "(") || index($0, " " fn "(") { gsub(",", "", $1); print $1; exit }' || true
}

printf '%-19s %14s %14s %8s\n' file "vxtiff Ir" "libtiff Ir" "ratio"
for f in "${files[@]}"; do
    out=$work/$f.out
    valgrind --tool=callgrind --callgrind-out-file="$out" "$bench" --verify-only --filter "$f lines" \
        >"$work/$f.txt" 2>/dev/null || { printf '%-19s valgrind failed\n' "$f"; continue; }
    status=$(awk -v f="$f" '$1 == f && $2 == "lines" { $1 = $2 = ""; sub(/^ +/, ""); print }' "$work/$f.txt")
    if [[ $status != "same bytes" ]]; then
        printf '%-19s %14s\n' "$f" "${status:-missing}"
        continue
    fi
    vx=$(cost "$out" VxReadLineByLine)
    lt=$(cost "$out" LtReadLineByLine)
    if [[ -n $vx && -n $lt && $vx -gt 0 ]]; then
        printf '%-19s %14s %14s %8s\n' "$f" "$vx" "$lt" "$(awk -v a="$lt" -v b="$vx" 'BEGIN { printf "%.2f", a / b }')"
    else
        printf '%-19s %14s %14s %8s\n' "$f" "${vx:-?}" "${lt:-?}" "-"
    fi
done
echo "ratio = libtiff instructions / vxtiff instructions (above 1: vxtiff executes fewer)"
