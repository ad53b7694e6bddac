#!/bin/sh
# The demo in a real window: starts it under a virtual X server, takes
# screenshots of the screen (the window fills it), requires one of them to
# match, nearly pixel for pixel, a frame that the software display computes
# for the same client size with both logos shown, then asks the window to
# close (SIGTERM, which the window layer turns into a quit) and requires exit
# code 0. Then closes the window as a window manager does, 40 times over:
# starts the demo, lets it run a moment, has CLOSE_WINDOW send the close
# message, and requires exit code 0 with nothing on standard error.
#
#   window_end_to_end.sh DEMO SNAPSHOT_TOOL WORK_DIRECTORY [CLOSE_WINDOW]
#
# Without CLOSE_WINDOW the closes are left out. Exit 77 (skipped) when
# xvfb-run is not installed.
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
close_window=${4:-}
rm -f "$work"/shot-*.png "$work"/demo.err "$work"/close-*.err

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

if [ -z "$close_window" ]; then
    echo "PASS: the window showed a computed frame and the demo exited with 0"
    echo "(not closed as a window manager does: close-window was not built)"
    exit 0
fi

# A close arrives at any point of the demo's loop, mostly while it waits
# for the next frame; the moment it runs first varies a little.
closes=40
run=1
while [ "$run" -le "$closes" ]; do
    err="$work/close-$run.err"
    "$demo" 2>"$err" &
    pid=$!
    sleep "0.$((1 + run % 3))"
    if ! "$close_window" "Scaling and Scrolling" 10; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        echo "FAIL: close $run: the demo's window was not found"
        cat "$err"
        exit 1
    fi
    # Ten seconds to end, then it is taken for hung.
    waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        echo "FAIL: close $run: the demo did not end after its window was closed"
        exit 1
    fi
    wait "$pid"
    code=$?
    if [ "$code" -ne 0 ] || [ -s "$err" ]; then
        echo "FAIL: close $run: the demo exited with code $code after a window manager's close"
        cat "$err"
        exit 1
    fi
    run=$((run + 1))
done
echo "PASS: the window showed a computed frame, and the demo exited with 0"
echo "after SIGTERM and after $closes closes as a window manager sends them"
exit 0
