#!/usr/bin/env bash
# Builds the Windows demo and packs it for people to run:
# dist/scaling-and-scrolling-windows-x86_64.zip, holding one folder with the
# statically linked executable, the three pictures from the native
# generator and a short README.txt. Packs the library as a DLL for
# developers too: dist/pixmora-dev-windows-x86_64.zip, holding pixmora.dll,
# its import library, the headers, the CMake and pkg-config files and a
# README.txt (scripts/windows-dll.sh builds and checks them).
#
#   scripts/package-windows.sh
#
# BUILD, WIN_BUILD, JOBS as for scripts/windows-build.sh; WIN_DLL_BUILD as for
# scripts/windows-dll.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD:-build}
win=${WIN_BUILD:-build-win}
name=scaling-and-scrolling-windows-x86_64

scripts/windows-build.sh scaling-and-scrolling
exe="$win/demo/scaling-and-scrolling.exe"

# Nothing beyond what every Windows has: a DLL of the compiler's runtime
# here would stop the program on a machine without the compiler.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print toupper($3) }' | sort | tr '\n' ' ')
for dll in $dlls; do
    case "$dll" in
    GDI32.DLL | KERNEL32.DLL | USER32.DLL | WINMM.DLL | MSVCRT.DLL) ;;
    *) echo "FAIL: $exe needs $dll, which Windows does not ship; link it statically" >&2; exit 1 ;;
    esac
done

stage="dist/$name"
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/scaling-and-scrolling.exe" "$exe"
cp "$native/demo/Sky.pcx" "$native/demo/Logo1.pcx" "$native/demo/Logo2.pcx" "$stage/"
# Windows line endings, so that Notepad shows the lines.
sed 's/$/\r/' docs/windows-README.txt >"$stage/README.txt"
(cd dist && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"
echo "dist/$name.zip: $(wc -c <"dist/$name.zip") bytes; the program imports only $dlls"

dev=pixmora-dev-windows-x86_64
rm -rf "dist/$dev" "dist/$dev.zip"
scripts/windows-dll.sh "dist/$dev"
x86_64-w64-mingw32-strip --strip-unneeded "dist/$dev/bin/pixmora.dll"
sed 's/$/\r/' docs/windows-dev-README.txt >"dist/$dev/README.txt"
(cd dist && cmake -E tar cf "$dev.zip" --format=zip "$dev")
rm -rf "dist/$dev"
echo "dist/$dev.zip: $(wc -c <"dist/$dev.zip") bytes"
