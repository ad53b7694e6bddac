# Sourced by the scripts that run Windows programs: starts a virtual X server
# on a free display and a Wine prefix of its own in a temporary folder,
# exports DISPLAY and WINEPREFIX, and removes both when the shell exits.
# Fails at once, with one line, when either cannot start. Needs fail().
#
# WINE_SCREEN: the screen (default 1024x768x24); WINE_MANAGED: see below.
wine_session=$(mktemp -d -t pixmora-wine.XXXXXX)
xvfb=""
cleanup() {
    WINEPREFIX="$wine_session/prefix" wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$wine_session"
}
trap cleanup EXIT

# A virtual X server on a free display, which it reports through fd 3.
Xvfb -displayfd 3 -screen 0 "${WINE_SCREEN:-1024x768x24}" -nolisten tcp 3>"$wine_session/display" 2>"$wine_session/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
    [ -s "$wine_session/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
[ -s "$wine_session/display" ] || fail "Xvfb did not start: $(tail -n 1 "$wine_session/xvfb.log")"
export DISPLAY=":$(head -n 1 "$wine_session/display")"

export WINEPREFIX="$wine_session/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if ! timeout 180 wineboot -i >"$wine_session/wineboot.log" 2>&1 || ! timeout 60 wineserver -w; then
    fail "Wine cannot start: wineboot -i failed: $(tail -n 1 "$wine_session/wineboot.log")"
fi
# Wine's windows stay managed by default: with no window manager running
# they get no frame, so a top-level window's X window is its client area.
# WINE_MANAGED=N has Wine draw the frames itself, as on Windows.
if [ -n "${WINE_MANAGED:-}" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$WINE_MANAGED" /f >/dev/null 2>&1 ||
        fail "Wine cannot start: its registry cannot be written"
    timeout 60 wineserver -w
fi
# A persistent server, already running when ctest starts its programs, keeps
# ctest from waiting on an output pipe that a server started by a test holds.
wineserver -p
timeout 60 wine cmd /c exit 0 || fail "Wine cannot start: 'wine cmd /c exit 0' failed"

