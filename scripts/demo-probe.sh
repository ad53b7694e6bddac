# Helpers of measure-demo.sh and soak-demo.sh, sourced inside the virtual X
# server: start a window manager and the demo, ask the demo for its figures
# (it prints them on SIGUSR1 when run with --stats), read its CPU time and
# resident memory.

probe_dir=$(mktemp -d)
trap 'stop_demo; kill "${wm_pid:-}" 2>/dev/null || true; rm -rf "$probe_dir"' EXIT
xserver_pid=$(pgrep -P "$PPID" Xvfb || echo "$PPID")
demo_pid=""

start_window_manager() {
    # No title bars and no asking where to put a window: the client area is
    # the window, placed at once. The X server's built-in font is the only
    # one there may be.
    printf 'RandomPlacement\nNoTitle\nUsePPosition "on"\n' >"$probe_dir/twmrc"
    for font in TitleFont ResizeFont MenuFont IconFont IconManagerFont; do
        printf '%s "fixed"\n' "$font" >>"$probe_dir/twmrc"
    done
    twm -f "$probe_dir/twmrc" >/dev/null 2>&1 &
    wm_pid=$!
    sleep 0.5
}

start_demo() {
    demo_errors="$probe_dir/demo.err"
    "$@" 2>"$demo_errors" &
    demo_pid=$!
    window=$(xdotool search --sync --pid "$demo_pid" --name "Scaling and Scrolling" | head -n 1)
}

stop_demo() {
    [ -n "$demo_pid" ] || return 0
    kill -TERM "$demo_pid" 2>/dev/null || true
    local code=0
    wait "$demo_pid" || code=$?
    demo_pid=""
    [ "$code" -eq 0 ] || echo "the demo exited with code $code"
}

# The demo's last report line after asking for a new one.
demo_report() {
    local before
    before=$(wc -l <"$demo_errors")
    kill -USR1 "$demo_pid"
    for _ in $(seq 1 100); do
        [ "$(wc -l <"$demo_errors")" -gt "$before" ] && break
        sleep 0.02
    done
    tail -n 1 "$demo_errors"
}

demo_frames() { demo_report | awk '{print $1}'; }
demo_live_objects() { demo_report | sed -n 's/.*live display objects \([0-9]*\).*/\1/p'; }
resident_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now_ns() { date +%s%N; }

# CPU time of a process in nanoseconds: from the scheduler's own count when
# the kernel offers it, else from clock ticks.
cpu_ns() {
    if [ -r "/proc/$1/schedstat" ]; then
        cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{sum += $1} END {printf "%d\n", sum}'
    else
        awk -v hz="$(getconf CLK_TCK)" '{printf "%d\n", ($14 + $15) * 1e9 / hz}' "/proc/$1/stat"
    fi
}
