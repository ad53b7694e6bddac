#!/bin/sh
# The demo's signals, with its window unmapped (so that it waits for events
# with no time limit): 100 times, starts the demo under a virtual X server,
# and has CLOSE_WINDOW unmap its window, wake it with a varying number of
# property changes and send SIGTERM a varying moment after them, so that
# the signal meets the demo anywhere between taking an event and waiting for
# the next. Each time the demo must end, with code 0 and nothing on standard
# error. It should end within 0.2 s; 2 s are allowed, so that a loaded
# machine does not fail a check that is about ending at all.
#
#   signals_end_to_end.sh DEMO CLOSE_WINDOW WORK_DIRECTORY
#
# Exit 77 (skipped) when xvfb-run is not installed.
set -u

if [ "${1:-}" != "--inside" ]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "SKIP: xvfb-run is not installed (Debian package xvfb)"
        exit 77
    fi
    mkdir -p "$3" || exit 1
    exec xvfb-run -a -s "-screen 0 640x400x24 -nolisten tcp" sh "$0" --inside "$@"
fi

shift
demo=$1
close_window=$2
work=$3
tries=100
slow=0
try=1
while [ "$try" -le "$tries" ]; do
    err="$work/signal-$try.err"
    "$demo" 2>"$err" &
    pid=$!
    events=$((1 + try % 5))
    microseconds=$((try * 13 % 250))
    if ! "$close_window" --signal "$pid" "$events" "$microseconds" "Scaling and Scrolling" 10; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        echo "FAIL: try $try: the demo's window was not found"
        cat "$err"
        exit 1
    fi
    # Hundredths of a second until it ends, at most 200.
    waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 200 ]; do
        sleep 0.01
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        echo "FAIL: try $try ($events events, SIGTERM $microseconds us after them): the demo did not end within 2 s"
        exit 1
    fi
    wait "$pid"
    code=$?
    if [ "$code" -ne 0 ] || [ -s "$err" ]; then
        echo "FAIL: try $try: the demo exited with code $code after SIGTERM"
        cat "$err"
        exit 1
    fi
    [ "$waited" -le 20 ] || slow=$((slow + 1))
    try=$((try + 1))
done
echo "PASS: the demo, its window unmapped, ended with code 0 after each of $tries SIGTERMs"
echo "($slow of them took more than about 0.2 s)"
exit 0
