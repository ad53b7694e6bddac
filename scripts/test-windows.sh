#!/usr/bin/env bash
# The Windows stage of `make test`: cross-builds the library, its Windows
# tests and the demo with mingw-w64, then runs those tests under Wine on a
# virtual X server: the platform layer against real GDI, and the demo's
# window against the frames the software display computes. Wine gets a
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

for tool in x86_64-w64-mingw32-g++-posix wine wineboot wineserver Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup-deps.sh installs it"
done
[ -f /usr/src/googletest/CMakeLists.txt ] || fail "no GoogleTest sources in /usr/src/googletest (Debian package googletest)"

scripts/windows-build.sh

work=$(mktemp -d -t pixmora-wine.XXXXXX)
xvfb=""
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A virtual X server on a free display, which it reports through fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(tail -n 1 "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"

export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if ! timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || ! timeout 60 wineserver -w; then
    fail "Wine cannot start: wineboot -i failed: $(tail -n 1 "$work/wineboot.log")"
fi
# Wine's windows stay managed (its default): with no window manager running
# they get no frame, so a top-level window's X window is its client area.
# A persistent server, already running when ctest starts its programs, keeps
# ctest from waiting on an output pipe that a server started by a test holds.
wineserver -p
timeout 60 wine cmd /c exit 0 || fail "Wine cannot start: 'wine cmd /c exit 0' failed"

status=0
ctest --test-dir "$win" --output-on-failure -j"$jobs" "$@" || status=$?
echo "Windows stage: $(($(date +%s) - started)) s"
exit "$status"
