#!/usr/bin/env bash
# Takes the README's screenshots of the two pages in headless Chromium:
# docs/web-demo.png (the demo page's canvas after 40 frames, read by the
# browser tests' harness once the page has stopped) and docs/web-viewer.png
# (the viewer showing one of the demo's pictures). Run after make web.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD:-build}
site=build-web

work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The pages and one of the demo's own pictures, served from a free port.
cp -r "$site"/*.html "$site"/*.js "$site"/*.css "$site"/*.wasm "$site"/*.data "$work"/
cp "$native/demo/Sky.pcx" "$work/"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/index.html')" 2>/dev/null && break
    sleep 0.1
done

shoot() { # URL OUT WIDTHxHEIGHT
    chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$work/profile" \
        --window-size="${3/x/,}" --virtual-time-budget=30000 --screenshot="$2" "$1" >/dev/null 2>&1
    echo "wrote $2"
}
shoot "http://127.0.0.1:$port/viewer.html?open=Sky.pcx&depth=8&zoom=fit" docs/web-viewer.png 1280x600
python3 tests/web/web_test.py --site "$site" --native "$native" --demo-shot docs/web-demo.png >/dev/null
echo "wrote docs/web-demo.png"
