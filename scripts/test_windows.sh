#!/usr/bin/env bash
# test_windows.sh — the 32-bit Windows DLL: cross-built with MinGW-w64
# (cmake/mingw-i686.cmake), its exports and imports checked, and every test
# that needs no libtiff run under 32-bit Wine; then a consumer built against
# the installed headers and import library alone runs there too.
#   bash scripts/test_windows.sh [build-dir]      (default build-ci-win)
# Needs (installed when missing, as root or with sudo): the i386 architecture,
# g++-mingw-w64-i686-posix, libz-mingw-w64-dev, libgtest-dev (the GoogleTest
# sources), libcli11-dev (the tool's command line), wine and wine32:i386. No display is used. Environment: JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
build=$(realpath -m "${1:-build-ci-win}")

step() { printf '\n==== %s\n' "$*"; }

# Also in the lists of test.sh and .ci/run.
packages=(g++-mingw-w64-i686-posix libz-mingw-w64-dev libgtest-dev libcli11-dev wine wine32:i386)
sudo=()
((EUID == 0)) || sudo=(sudo)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    step "installing: ${missing[*]}"
    started=$SECONDS
    export DEBIAN_FRONTEND=noninteractive
    # wine32 is an i386 package: the architecture comes before the package lists.
    dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
    echo "installed in $((SECONDS - started)) s"
fi

step "cross build (MinGW-w64 i686)"
started=$SECONDS
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DTIF_WITH_LIBDEFLATE=OFF \
    -DTIF_WERROR=ON -DCMAKE_INSTALL_PREFIX="$build/install"
cmake --build "$build" -j"$jobs"
cmake --install "$build" >/dev/null
echo "built in $((SECONDS - started)) s"

step "exports and imports of vxtiff.dll"
dump=$(i686-w64-mingw32-objdump -p "$build/vxtiff.dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
fail() { echo "test_windows.sh: $*"; exit 1; }
for f in VXTiff2Bmp VXTiff2Pdf; do
    grep -qE "\\] $f\$" <<<"$exports" || fail "$f is not exported undecorated"
done
grep -q '@' <<<"$exports" && fail "decorated exports: $(grep '@' <<<"$exports")"
grep -qE '\] _ZN8CTifFile4OpenEPKc' <<<"$exports" || fail "the CTifFile members are not exported"
# Only the system's own DLLs: the C++ runtime, winpthread and zlib are linked in.
for exe in "$build/vxtiff.dll" "$build/tools/vxtiff.exe" "$build/tests/vxtiff_tests.exe"; do
    for dll in $(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
        case "${dll,,}" in
            kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | api-ms-win-*.dll | ucrtbase.dll) ;;
            *) fail "$exe imports $dll" ;;
        esac
    done
done
echo "exports: $(grep -c '\] ' <<<"$exports"), none decorated; imports: $(tr '\n' ' ' <<<"$imports")"

step "tests under Wine"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
started=$SECONDS
# The prefix made once; then, its first server gone, one server for every
# run, detached and silent (a server started by a test would hold ctest's
# output pipe open). It lingers only seconds after the last program: the
# helper processes a test starts (the desktop) end with it, and ctest waits
# for them.
timeout 180 wine wineboot --init >/dev/null 2>&1
timeout 30 wineserver -w
(setsid timeout 1800 wineserver -f -p5 >/dev/null 2>&1 &)
echo "prefix ready in $((SECONDS - started)) s"
started=$SECONDS
(cd "$build" && timeout 600 ctest --output-on-failure -j"$jobs")
echo "ctest under Wine in $((SECONDS - started)) s"

step "consumer of the installed DLL under Wine"
consumer=$work/consumer
mkdir -p "$consumer"
# The import library by name: -static would look for a static libvxtiff.a.
i686-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -static \
    -I"$build/install/include/vxtiff" scripts/consumer/windows_consumer.cpp \
    "$build/install/lib/libvxtiff.dll.a" -o "$consumer/consumer.exe"
cp "$build/install/bin/vxtiff.dll" "$consumer/"
sample=$(ls samples/*.tif | head -n 1)
cp "$sample" "$consumer/sample.tif"
(cd "$consumer" && timeout 60 wine consumer.exe sample.tif) || fail "the consumer failed under Wine"

echo
echo "test_windows.sh: done"
