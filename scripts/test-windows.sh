#!/usr/bin/env bash
# The Windows stage of `make test`: cross-builds the library, its Windows
# tests and the demo with mingw-w64, then runs those tests under Wine on a
# virtual X server: the platform layer against real GDI, and the demo's
# window against the frames the software display computes. Builds the
# library as pixmora.dll too, checks its exports, and runs an example built
# against it. Wine gets a
# prefix of its own in a temporary folder, removed afterwards.
#
#   scripts/test-windows.sh [CTEST_ARGUMENTS...]
#
# BUILD names the native build (the snapshot tool and the demo's pictures
# come from it), WIN_BUILD the Windows one, JOBS the parallel jobs (see
# scripts/windows-build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
win=${WIN_BUILD:-build-win}
jobs=${JOBS:-2}
started=$(date +%s)

fail() {
    echo "FAIL (Windows stage): $*" >&2
    exit 1
}

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump wine wineboot wineserver Xvfb xwininfo import \
    pcxtoppm pamenlarge; do
    command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup-deps.sh installs it"
done
[ -f /usr/src/googletest/CMakeLists.txt ] || fail "no GoogleTest sources in /usr/src/googletest (Debian package googletest)"

scripts/windows-build.sh

# The DLL, installed as a Windows developer gets it, and one example built
# against it through find_package, as any program would be.
dll_build=${WIN_DLL_BUILD:-build-win-dll}
dll_prefix="$dll_build/prefix"
WIN_DLL_BUILD=$dll_build scripts/windows-dll.sh "$dll_prefix"
example_dir="$dll_build/examples"
cmake -S examples -B "$example_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_PREFIX_PATH="$PWD/$dll_prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-Werror >/dev/null
cmake --build "$example_dir" -j"$jobs" --target present
example_imports=$(x86_64-w64-mingw32-objdump -p "$example_dir/present.exe")
grep -q 'DLL Name: pixmora.dll' <<<"$example_imports" || fail "the example present.exe does not use pixmora.dll"

. scripts/wine-session.sh

# The example runs beside the DLL and shows the logo as netpbm decodes it, at
# its own size and at twice its size.
native=${BUILD:-build}
run_dir="$wine_session/example"
mkdir -p "$run_dir"
cp "$example_dir/present.exe" "$dll_prefix/bin/pixmora.dll" "$native/demo/Logo1.pcx" "$run_dir/"
pcxtoppm "$run_dir/Logo1.pcx" >"$run_dir/expected.ppm"
pamenlarge 2 "$run_dir/expected.ppm" >"$run_dir/expected-x2.ppm"
read -r width height < <(sed -n 2p "$run_dir/expected.ppm")
(cd "$run_dir" && timeout 60 wine present.exe Logo1.pcx logo.ppm "$width" "$height" &&
    timeout 60 wine present.exe Logo1.pcx logo-x2.ppm $((2 * width)) $((2 * height))) ||
    fail "present.exe failed under Wine beside pixmora.dll"
cmp -s "$run_dir/logo.ppm" "$run_dir/expected.ppm" ||
    fail "present.exe with pixmora.dll does not show the logo as pcxtoppm decodes it"
cmp -s "$run_dir/logo-x2.ppm" "$run_dir/expected-x2.ppm" ||
    fail "present.exe with pixmora.dll does not show the logo twice as large as pamenlarge 2 does"
echo "Windows stage: present.exe with pixmora.dll shows the logo as netpbm does"

status=0
ctest --test-dir "$win" --output-on-failure -j"$jobs" "$@" || status=$?
echo "Windows stage: $(($(date +%s) - started)) s"
exit "$status"
