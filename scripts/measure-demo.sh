#!/usr/bin/env bash
# Measures the demo as people run it, in a real window under a virtual X
# server (with a small window manager to minimise it): frames per second and
# CPU use over
# SECONDS (default 10) with the window shown at 640 x 400, then unmapped,
# then minimised. Prints the figures beside their targets; not a test (the
# figures depend on the machine and on what else runs on it).
#
#   scripts/measure-demo.sh [SECONDS] [DEMO OPTIONS...]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside" ]; then
    build=${BUILD:-build}
    scripts/setup-deps.sh --measure
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target scaling-and-scrolling >/dev/null
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --inside "$build/demo/scaling-and-scrolling" "$@"
fi
shift
demo=$1
shift
seconds=${1:-10}
shift || true

source scripts/demo-probe.sh
start_demo "$demo" --stats "$@"

# One phase: frames per second and CPU use of the demo (and of the X server,
# which puts its frames on screen) over the given number of seconds.
measure() {
    local name=$1 fps_target=$2 cpu_target=$3
    local wall0 cpu0 xcpu0 frames0 wall1 cpu1 xcpu1 frames1
    frames0=$(demo_frames)
    wall0=$(now_ns)
    cpu0=$(cpu_ns "$demo_pid")
    xcpu0=$(cpu_ns "$xserver_pid")
    sleep "$seconds"
    frames1=$(demo_frames)
    wall1=$(now_ns)
    cpu1=$(cpu_ns "$demo_pid")
    xcpu1=$(cpu_ns "$xserver_pid")
    awk -v name="$name" -v f=$((frames1 - frames0)) -v w=$((wall1 - wall0)) -v c=$((cpu1 - cpu0)) \
        -v x=$((xcpu1 - xcpu0)) -v ft="$fps_target" -v ct="$cpu_target" 'BEGIN {
        printf "%-22s %7.2f frames/s (target %s)   demo CPU %6.2f %% of one core (target under %s %%)   X server %6.2f %%\n",
               name, f * 1e9 / w, ft, 100 * c / w, ct, 100 * x / w
    }'
}

echo "Each phase lasts $seconds s; the machine's cores may be shared with other work."
sleep 2 # past start-up
measure "shown, 640 x 400" "60 +/- 2" 10
# Unmapped with no window manager: a reparenting one answers the unmap by
# moving the window back to the root, and SDL may take the pair of events
# for a reparenting and miss the unmap.
xdotool windowunmap --sync "$window"
sleep 1
measure "unmapped" 0 1
xdotool windowmap --sync "$window"
# Minimising needs a window manager; it takes charge of the mapped window.
start_window_manager
sleep 1
xdotool windowminimize --sync "$window"
sleep 1
measure "minimised" 0 1
xdotool windowmap --sync "$window"
sleep 1
measure "restored" "60 +/- 2" 10
stop_demo
echo "at exit: $(tail -n 1 "$demo_errors")"
