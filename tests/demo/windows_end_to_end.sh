#!/bin/sh
# The Windows demo in its real window under Wine: waits for the window,
# takes screenshots of its client area and requires one of them to match,
# pixel for pixel, a frame that the software display computes for the same
# client size with both logos shown; then closes the window as a user would
# and requires exit code 0. Each failure ends the test at once, with a line
# that says what was seen.
#
#   windows_end_to_end.sh DEMO.exe NATIVE_BUILD WORK_DIRECTORY
#
# Runs inside the Windows stage (scripts/test-windows.sh), which provides the
# display and the Wine prefix. NATIVE_BUILD holds the snapshot tool and the
# pictures.
set -u
exe=$1
native=$2
work=$3
snapshot=$native/tools/snapshot/demo-snapshot

if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    echo "FAIL: needs the display and Wine prefix of scripts/test-windows.sh"
    exit 1
fi
rm -rf "$work"
mkdir -p "$work" || exit 1
for picture in Sky.pcx Logo1.pcx Logo2.pcx; do
    cp "$native/demo/$picture" "$work/" || exit 1
done
cp "$exe" "$work/demo.exe" || exit 1
cd "$work" || exit 1

wine demo.exe >demo.out 2>demo.err &
pid=$!
fail() {
    echo "FAIL: $*"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    exit 1
}

# The window, by its title; give up at once if the program ends. With no
# window manager, Wine's X window is exactly the client area.
window=""
tries=0
while [ -z "$window" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the demo ended before its window appeared: $(cat demo.err)"
    [ "$tries" -lt 80 ] || fail "no window titled 'Scaling and Scrolling' appeared within 20 s"
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"Scaling and Scrolling"/ { print $1; exit }')
    tries=$((tries + 1))
    sleep 0.25
done
size=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')

# One frame with both logos must match exactly. A blank client area or a
# frame without logos (early in the cycle) is looked at again, for a few
# seconds at most; a frame that matches nothing fails at once.
attempt=1
while :; do
    shot=shot-$attempt.png
    import -window "$window" "$shot" 2>import.err || fail "no screenshot of the window: $(cat import.err)"
    if [ "$(identify -format %k "$shot")" -gt 1 ]; then
        "$snapshot" --size "$size" --match "$shot" --tolerance 0 --require-logos
        result=$?
        [ "$result" -eq 0 ] && break
        [ "$result" -eq 3 ] || fail "$work/$shot ($size) matches no frame of the software display"
    fi
    [ "$attempt" -lt 12 ] || fail "after $attempt screenshots the window showed no frame with both logos"
    attempt=$((attempt + 1))
    sleep 0.4
done
echo "the window's client area ($size) shows a frame of the software display"

# Closing the window (taskkill without /f asks it to close) ends the demo
# with code 0.
wine taskkill /im demo.exe >/dev/null 2>&1
waited=0
while kill -0 "$pid" 2>/dev/null; do
    [ "$waited" -lt 40 ] || fail "the demo did not end within 10 s of its window being closed"
    waited=$((waited + 1))
    sleep 0.25
done
wait "$pid"
code=$?
[ "$code" -eq 0 ] || { echo "FAIL: the demo ended with code $code after its window was closed"; exit 1; }
if [ -s demo.err ]; then
    echo "FAIL: the demo wrote to standard error:"
    cat demo.err
    exit 1
fi
echo "PASS: the Windows demo showed a computed frame and ended with code 0"
