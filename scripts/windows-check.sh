#!/usr/bin/env bash
# Cross-builds the demo for Windows with mingw-w64, runs it under Wine in a
# virtual X server, and checks that what the real GDI path shows in the
# window matches, pixel for pixel, a frame that the software display
# computes for the same client size.
#
#   scripts/windows-check.sh
#
# Exits 0 on a match, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD:-build}
win=build-win

scripts/setup-deps.sh --windows

cmake -S . -B "$native" >/dev/null
cmake --build "$native" -j2 --target demo-snapshot demo_pictures >/dev/null
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build "$win" -j2 --target scaling-and-scrolling >/dev/null
# The generator cannot run on the build machine for a Windows build: the
# pictures come from the native one.
cp "$native"/demo/*.pcx "$win/demo/"

if [ "${1:-}" != "--inside" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --inside
fi

export WINEPREFIX="$PWD/$win/wineprefix" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1 || true
wine "$win/demo/scaling-and-scrolling.exe" &
pid=$!
sleep 5

work="$win/check"
mkdir -p "$work"
result=1
for attempt in $(seq 1 15); do
    shot="$work/shot-$attempt.png"
    client="$work/client-$attempt.png"
    import -window root "$shot"
    # The window stands undecorated on a black screen: trimming the black
    # leaves its client area.
    convert "$shot" -trim +repage "$client"
    size=$(identify -format '%wx%h' "$client")
    if "$native/tools/snapshot/demo-snapshot" --size "$size" --match "$client" --tolerance 0 --require-logos; then
        echo "the Windows build's window ($size) matches the software display"
        result=0
        break
    fi
    sleep 0.5
done

wineserver -k || true
wait "$pid" 2>/dev/null || true
exit "$result"
