#!/usr/bin/env bash
# Takes a picture of the Windows demo running under Wine, its window framed
# by Wine as on Windows, for the README (docs/windows.png).
#
#   scripts/windows-screenshot.sh [OUT.png] [SECONDS]
#
# SECONDS (default 3) is how long the demo runs before the picture is taken.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/windows.png}")
wait_seconds=${2:-3}
native=${BUILD:-build}
win=${WIN_BUILD:-build-win}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

scripts/windows-build.sh scaling-and-scrolling >/dev/null
WINE_SCREEN=800x600x24 WINE_MANAGED=N . scripts/wine-session.sh

mkdir "$wine_session/demo"
cp "$win/demo/scaling-and-scrolling.exe" "$native/demo/Sky.pcx" "$native/demo/Logo1.pcx" \
    "$native/demo/Logo2.pcx" "$wine_session/demo/"
(cd "$wine_session/demo" && exec wine scaling-and-scrolling.exe) &
window=""
for _ in $(seq 1 80); do
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"Scaling and Scrolling"/ { print $1; exit }')
    [ -n "$window" ] && break
    sleep 0.25
done
[ -n "$window" ] || fail "the demo's window did not appear"
sleep "$wait_seconds"
# The X window holds the whole Windows window, frame and title included.
import -window "$window" "$out"
echo "$out: $(identify -format '%wx%h' "$out")"
