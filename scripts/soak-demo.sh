#!/usr/bin/env bash
# A soak of the demo: runs it in a real window under a virtual X server with
# frames back to back (--fps 0) for MINUTES (default 10), resizing the window
# at random every few seconds, and reports its resident memory and the
# software display's live objects at the start (after a minute of resizes),
# every minute and at the end, all taken at 640 x 400. Targets: growth under
# 1 MB, objects unchanged.
# Not a test: it takes minutes and its figures depend on the machine.
#
#   scripts/soak-demo.sh [MINUTES]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside" ]; then
    build=${BUILD:-build}
    scripts/setup-deps.sh --measure
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target scaling-and-scrolling >/dev/null
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" --inside "$build/demo/scaling-and-scrolling" "$@"
fi
shift
demo=$1
minutes=${2:-10}

source scripts/demo-probe.sh
start_demo "$demo" --fps 0 --stats

# The figures at 640 x 400, once the window has settled there.
snapshot() {
    xdotool windowsize --sync "$window" 640 400 2>/dev/null || xdotool windowsize "$window" 640 400
    sleep 3
    resident=$(resident_kb "$demo_pid")
    report=$(demo_report)
    objects=$(echo "$report" | sed -n 's/.*live display objects \([0-9]*\).*/\1/p')
    frames=$(echo "$report" | awk '{print $1}')
}

RANDOM=20261207
resizes=0
resize_for() {
    local end_time=$(($(date +%s) + $1))
    while [ "$(date +%s)" -lt "$end_time" ]; do
        kill -0 "$demo_pid" 2>/dev/null || { echo "FAIL: the demo ended during the soak"; exit 1; }
        xdotool windowsize "$window" $((1 + RANDOM % 1200)) $((1 + RANDOM % 1000))
        resizes=$((resizes + 1))
        sleep $((2 + RANDOM % 4))
    done
}

snapshot
echo "before any resize: resident $resident kB, live display objects $objects"
# The heap first grows to hold the largest windows the run will see, and
# keeps what it freed for later: the start figures are taken after a minute
# of resizes, so that start and end compare what a long run adds.
resize_for 60
snapshot
start_resident=$resident start_objects=$objects start_frames=$frames
echo "start: resident $start_resident kB, live display objects $start_objects, after $start_frames frames"

resizes=0
for minute in $(seq 1 "$minutes"); do
    resize_for 60
    snapshot
    echo "minute $minute: resident $resident kB, live display objects $objects"
done

echo "end:   resident $resident kB, live display objects $objects, after $frames frames"
echo "$resizes resizes in $minutes min; $((frames - start_frames)) frames" \
     "($(( (frames - start_frames) / (minutes * 60) )) frames/s)"
growth=$((resident - start_resident))
verdict="within"
{ [ "$growth" -lt 1024 ] && [ "$objects" = "$start_objects" ]; } || verdict="OUTSIDE"
echo "resident memory grew by $growth kB (target under 1024 kB), live objects $start_objects -> $objects" \
     "(target unchanged): $verdict the targets"
stop_demo
[ "$verdict" = "within" ]
