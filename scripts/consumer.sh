#!/usr/bin/env bash
# consumer.sh — the library as a user gets it: installs a build tree into a
# temporary prefix, moves the prefix, and checks that
#   - every installed header compiles on its own (the conversions' as C too);
#   - the shared library exports only the public API and has a SONAME;
#   - a consumer builds with find_package(vxtiff) (shared and static) and with
#     pkg-config, and runs on samples/page-g4.tif;
#   - the README's "Reading lines" program builds with the README's line;
#   - the installed tool runs;
#   - the source tree as a subproject configures without GoogleTest or libtiff
#     and brings neither tests nor fuzzers.
# Usage: scripts/consumer.sh [BUILD_DIR]   (default: a fresh Release build in build-consumer/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
build=${1:-}
if [[ -z $build ]]; then
    build=build-consumer
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTIF_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$jobs" >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "consumer.sh: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"  # nothing may depend on where it was installed
prefix=$work/prefix
sample=$root/samples/page-g4.tif

echo "-- headers compile on their own"
for h in tif/tif_file.h tif/tif_export.h convert/tif2bmp.h convert/tif2pdf.h; do
    echo "#include \"$h\"" | g++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include/vxtiff" -x c++ - ||
        fail "$h does not compile alone"
done
echo "#include <vxtiff/vxtiff.h>" | g++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ - ||
    fail "vxtiff/vxtiff.h does not compile alone with -I<prefix>/include"
for h in convert/tif2bmp.h convert/tif2pdf.h; do
    echo "#include \"$h\"" | gcc -std=c99 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include/vxtiff" -x c - ||
        fail "$h does not compile as C"
done

echo "-- exports and SONAME"
lib=$(readlink -f "$prefix/lib/libvxtiff.so")
readelf -d "$lib" | grep -q 'SONAME.*libvxtiff\.so\.0\]' || fail "no SONAME libvxtiff.so.0"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt | sed 's/(.*//' | sort -u)
stray=$(grep -Ev '^(CTifFile::[A-Za-z0-9_~]+|VXTiff2Bmp|VXTiff2BmpEx|VXTiff2BmpOpt|VXTiff2Pdf)$' <<<"$exports" || true)
[[ -z $stray ]] || fail "exported beyond the public API: $stray"
for s in CTifFile::Open CTifFile::OpenPage CTifFile::CountPages CTifFile::DescribePage CTifFile::GetLastFailure \
         CTifFile::GetLastFailureValue CTifFile::GetFailureText CTifFile::GetLastFailureText \
         VXTiff2Bmp VXTiff2BmpEx VXTiff2BmpOpt; do
    grep -qx "$s" <<<"$exports" || fail "$s is not exported"
done

echo "-- find_package(vxtiff)"
cmake -S scripts/consumer -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" -j"$jobs" >/dev/null
"$work/cmake/consumer" "$sample" "$work/shared.bmp"
"$work/cmake/consumer_static" "$sample" "$work/static.bmp"
cmp "$work/shared.bmp" "$work/static.bmp" || fail "shared and static builds differ"

echo "-- pkg-config vxtiff"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
g++ -std=c++17 -o "$work/pc-consumer" scripts/consumer/consumer.cpp $(pkg-config --cflags --libs vxtiff) \
    -Wl,-rpath,"$prefix/lib"
"$work/pc-consumer" "$sample" "$work/pc.bmp"
cmp "$work/shared.bmp" "$work/pc.bmp" || fail "pkg-config build differs"
[[ $(pkg-config --modversion vxtiff) == $(sed -n 's/^project(vxtiff VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) ]] ||
    fail "vxtiff.pc has another version than the project"

echo "-- the README's example, with the README's line"
sed -n '/^`readlines.cpp`, a whole program:/,/^```$/p' README.md | sed '1,3d;$d' >"$work/readlines.cpp"
grep -q 'int main' "$work/readlines.cpp" || fail "no example program found in README.md"
line=$(grep -m1 '^    g++ .*-o readlines readlines.cpp' README.md | sed 's/^    //')
(cd "$work" && eval "$line -Wall -Wextra -Werror -Wl,-rpath,$prefix/lib") || fail "the README's example does not build"
"$work/readlines" "$sample"

echo "-- installed tool"
"$prefix/bin/vxtiff" info "$sample" >/dev/null || fail "the installed tool does not run"

echo "-- subproject"
cmake -S scripts/consumer -B "$work/sub" -DVXTIFF_SOURCE_DIR="$root" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON --no-warn-unused-cli >/dev/null ||
    fail "the subproject needs more than zlib"
targets=$(cmake --build "$work/sub" --target help)
for t in vxtiff vxtiff_static vxtiff_tool consumer; do
    grep -q "\.\.\. $t\$" <<<"$targets" || fail "subproject lacks target $t"
done
if grep -Eq '\.\.\. (vxtiff_tests|fuzz_|vxtiff_bench)' <<<"$targets"; then
    fail "subproject builds tests, fuzzers or the benchmark"
fi
echo "consumer.sh: all passed"
