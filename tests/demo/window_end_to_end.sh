#!/bin/sh
# The demo in a real window: starts it under a virtual X server, takes
# screenshots of the screen (the window fills it), requires one of them to
# match, nearly pixel for pixel, a frame that the software display computes
# for the same client size with both logos shown, then asks the window to
# close (SIGTERM, which the window layer turns into a quit) and requires exit
# code 0.
#
#   window_end_to_end.sh DEMO SNAPSHOT_TOOL WORK_DIRECTORY
#
# Exit 77 (skipped) when xvfb-run is not installed.
set -u

if [ "${1:-}" != "--inside" ]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "SKIP: xvfb-run is not installed (Debian package xvfb)"
        exit 77
    fi
    if ! command -v import >/dev/null 2>&1; then
        echo "FAIL: import is not installed (Debian package imagemagick)"
        exit 1
    fi
    mkdir -p "$3" || exit 1
    # The screen has exactly the window's size, so the window covers it.
    exec xvfb-run -a -s "-screen 0 640x400x24 -nolisten tcp" sh "$0" --inside "$@"
fi

shift
demo=$1
snapshot=$2
work=$3
rm -f "$work"/shot-*.png "$work"/demo.err

"$demo" 2>"$work/demo.err" &
pid=$!

# Let it run some frames first.
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    echo "FAIL: the demo ended early with code $?:"
    cat "$work/demo.err"
    exit 1
fi

matched=0
attempt=1
while [ "$attempt" -le 12 ]; do
    shot="$work/shot-$attempt.png"
    if import -window root "$shot" 2>"$work/import.err"; then
        # 0: matches a frame with both logos; 3: matches a frame without them
        # (too early in the cycle), so look again.
        "$snapshot" --size 640x400 --match "$shot" --tolerance 1 --require-logos
        result=$?
        if [ "$result" -eq 0 ]; then
            matched=1
            break
        fi
        if [ "$result" -ne 3 ] && [ "$attempt" -ge 4 ]; then
            echo "FAIL: screenshot $shot matches no frame of the demo"
            break
        fi
    else
        echo "screenshot $attempt failed: $(cat "$work/import.err")"
    fi
    attempt=$((attempt + 1))
    sleep 0.4
done

kill -TERM "$pid" 2>/dev/null
wait "$pid"
code=$?

if [ -s "$work/demo.err" ]; then
    echo "the demo wrote to standard error:"
    cat "$work/demo.err"
    matched=0
fi
if [ "$code" -ne 0 ]; then
    echo "FAIL: the demo exited with code $code after its window was closed"
    exit 1
fi
if [ "$matched" -ne 1 ]; then
    echo "FAIL: no screenshot showed the sky and both logos as computed"
    exit 1
fi
echo "PASS: the window showed a computed frame and the demo exited with 0"
exit 0
