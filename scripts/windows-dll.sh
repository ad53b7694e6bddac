#!/usr/bin/env bash
# Cross-builds Pixmora as a DLL with mingw-w64 (BUILD_SHARED_LIBS=ON, the
# library alone), installs it into PREFIX (bin/pixmora.dll, the import
# library lib/libpixmora.dll.a, the headers, the CMake package and
# pixmora.pc) and checks the DLL: it exports exactly the pm_ functions that
# the installed headers declare and pm_state, and imports only DLLs that
# every Windows has.
#
#   scripts/windows-dll.sh PREFIX
#
# WIN_DLL_BUILD names the build directory (build-win-dll), JOBS the parallel
# jobs, WERROR ON to treat warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 1 ]; then
    echo "usage: scripts/windows-dll.sh PREFIX" >&2
    exit 2
fi
prefix=$1
build=${WIN_DLL_BUILD:-build-win-dll}
jobs=${JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DBUILD_SHARED_LIBS=ON \
        -DPIXMORA_PROGRAMS=OFF -DPIXMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
        -DPIXMORA_WERROR="${WERROR:-OFF}" >/dev/null
fi
cmake --build "$build" -j"$jobs"
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

dll="$prefix/bin/pixmora.dll"
for f in "$dll" "$prefix/lib/libpixmora.dll.a" "$prefix/include/pixmora/pixmora.h"; do
    [ -f "$f" ] || { echo "FAIL: the DLL's install lacks ${f#"$prefix"/}" >&2; exit 1; }
done
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk 'NR > 1 && NF { print $NF }' | sort)
declared=$({ grep -ho '\bpm_[a-z0-9_]*(' "$prefix"/include/pixmora/*.h | tr -d '('; echo pm_state; } | sort -u)
if [ "$exported" != "$declared" ]; then
    echo "FAIL: pixmora.dll's exports differ from what the headers declare (< exported, > declared):" >&2
    diff <(echo "$exported") <(echo "$declared") | grep '^[<>]' >&2 || true
    exit 1
fi
imports=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$dump" | sort -u | tr '\n' ' ')
for name in $imports; do
    case "$name" in
    GDI32.DLL | KERNEL32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *) echo "FAIL: pixmora.dll needs $name, which Windows does not ship" >&2; exit 1 ;;
    esac
done
echo "pixmora.dll exports the $(wc -l <<<"$exported") names the headers declare; it imports $imports"
