#!/usr/bin/env bash
# Builds what the Windows stage and the Windows package need: from the native
# build, the picture generator's pictures and the snapshot tool; from the
# Windows build (cross-compiled with mingw-w64, configured once), the given
# targets (all when none are given).
#
#   scripts/windows-build.sh [TARGET...]
#
# BUILD names the native build, WIN_BUILD the Windows one, JOBS the parallel
# jobs, WERROR ON to treat warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD:-build}
win=${WIN_BUILD:-build-win}
jobs=${JOBS:-2}
googletest=/usr/src/googletest

[ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -DPIXMORA_WERROR="${WERROR:-OFF}" >/dev/null
cmake --build "$native" -j"$jobs" --target demo-snapshot demo_pictures >/dev/null

if [ ! -f "$win/CMakeCache.txt" ]; then
    cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPIXMORA_TESTS=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DPIXMORA_GOOGLETEST_SOURCE="$googletest" \
        -DPIXMORA_NATIVE_BUILD="$PWD/$native" -DPIXMORA_WERROR="${WERROR:-OFF}" >/dev/null
fi
if [ $# -eq 0 ]; then
    cmake --build "$win" -j"$jobs"
else
    for target in "$@"; do
        cmake --build "$win" -j"$jobs" --target "$target"
    done
fi
