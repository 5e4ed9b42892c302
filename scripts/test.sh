#!/usr/bin/env bash
# test.sh — the whole test suite, as CI runs it:
#   0. the Debian packages it needs, installed when missing (as root, or with sudo);
#   1. RelWithDebInfo with -Werror (and the benchmark, compile only): ctest;
#      then the install tree and a consumer built against it (scripts/consumer.sh);
#   2. Debug under AddressSanitizer and UndefinedBehaviorSanitizer, with zlib
#      alone (TIF_WITH_LIBDEFLATE=OFF: the fallback every platform has): ctest;
#   2a. Release with TIF_PORTABLE=ON (plain C++17: no compiler builtins, inline
#      assembly or code picked per processor), checked for AVX2/BMI2 code, and
#      without libjpeg (TIF_WITH_JPEG=OFF, as the DLL): ctest;
#   2b. the 32-bit Windows DLL, cross-built with MinGW-w64, its tests under Wine
#      (scripts/test_windows.sh);
#   3. the libFuzzer targets (clang), each run for a bounded time.
# Build trees go to build-ci*/. Environment: JOBS (default 2), FUZZ_SECONDS
# (per target; default shares about 4 minutes among the targets, 15 to 60 s each).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
root=$PWD

step() { printf '\n==== %s\n' "$*"; }

# The same list as .ci/run.
packages=(make cmake g++ clang libclang-rt-14-dev zlib1g-dev libdeflate-dev libjpeg62-turbo-dev libgtest-dev libbenchmark-dev
          libtiff-dev libtiff-tools libpng-dev libcli11-dev python3-pil python3-tifffile pkg-config
          qpdf ghostscript poppler-utils img2pdf imagemagick
          g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    step "installing: ${missing[*]}"
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    # wine32 (the Windows tests) is an i386 package: the architecture first.
    dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386
    "${sudo[@]}" apt-get update
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Runs ctest in build tree $1 and adds the number of tests it passed to $passed.
passed=0
run_ctest() {
    local log
    log=$(mktemp)
    (cd "$1" && ctest --output-on-failure -j"$jobs") | tee "$log"
    local n
    n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
    passed=$((passed + ${n:-0}))
    rm -f "$log"
}

bench=OFF
[[ -f bench/CMakeLists.txt ]] && bench=ON

step "release build (-Werror, benchmark $bench)"
cmake -S . -B build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIF_WERROR=ON -DTIF_BUILD_BENCH=$bench
cmake --build build-ci -j"$jobs"
run_ctest build-ci

step "install tree and consumers"
bash scripts/consumer.sh build-ci
passed=$((passed + 1))

step "sanitizer build (address, undefined; zlib alone)"
cmake -S . -B build-ci-asan -DCMAKE_BUILD_TYPE=Debug -DTIF_WERROR=ON -DTIF_SANITIZER=address,undefined \
    -DTIF_WITH_LIBDEFLATE=OFF
cmake --build build-ci-asan -j"$jobs"
run_ctest build-ci-asan

step "portable build (TIF_PORTABLE=ON, TIF_WITH_JPEG=OFF, Release)"
cmake -S . -B build-ci-portable -DCMAKE_BUILD_TYPE=Release -DTIF_WERROR=ON -DTIF_PORTABLE=ON -DTIF_WITH_JPEG=OFF
cmake --build build-ci-portable -j"$jobs"
# None of the per-processor code may remain: AVX registers, BMI2 instructions.
if objdump -d build-ci-portable/libvxtiff.a | grep -Eq '%ymm|\b(shlx|shrx|sarx|bzhi|pdep|pext|rorx|mulx)\b'; then
    echo "test.sh: the TIF_PORTABLE build holds AVX2 or BMI2 code"
    exit 1
fi
run_ctest build-ci-portable

step "Windows DLL (MinGW-w64 cross build, tests under Wine)"
log=$(mktemp)
bash scripts/test_windows.sh build-ci-win | tee "$log"
n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
passed=$((passed + ${n:-0} + 1))  # the ctest runs, then the consumer
rm -f "$log"

step "fuzzers (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build-ci-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTIF_BUILD_FUZZERS=ON -DTIF_BUILD_TESTS=OFF -DTIF_BUILD_TOOLS=OFF
cmake --build build-ci-fuzz -j"$jobs"
targets=()
for src in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
done
seconds=${FUZZ_SECONDS:-$((240 / ${#targets[@]}))}
((seconds > 60)) && seconds=60
((seconds < 15)) && [[ -z ${FUZZ_SECONDS:-} ]] && seconds=15
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
    # New inputs go to a scratch copy; the committed corpus stays as it is.
    mkdir -p "$work/$t"
    [[ -d fuzz/corpus/$t ]] && cp -r "fuzz/corpus/$t/." "$work/$t/"
    echo "-- $t: ${seconds}s"
    if ! (cd "$work" && "$root/build-ci-fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 "$work/$t" "$root/tests/data/crashers" \
            >"$work/$t.log" 2>&1); then
        cat "$work/$t.log"
        echo "test.sh: fuzz target $t failed"
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$work/$t.log" || tail -n 3 "$work/$t.log"
    passed=$((passed + 1))
done

echo
echo "test.sh: $passed passed, 0 failed"
