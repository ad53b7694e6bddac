#!/usr/bin/env bash
# Builds the browser pages into build-web/, a folder any static web server can
# serve: the library on the software display and the demo compiled to
# WebAssembly with Emscripten, the PCX viewer, and the pages themselves. The
# demo's three pictures come from the native generator and are packed into
# the demo's virtual file system.
#
#   scripts/web-build.sh        (make web)
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD:-build}
site=build-web

scripts/setup-deps.sh --web

# emcc runs JavaScript passes that need the acorn parser. Debian installs it
# for its own Node.js; a node from elsewhere on PATH does not look there.
acorn=$(dpkg -L node-acorn | grep '/acorn/package.json$')
NODE_PATH="$(dirname "$(dirname "$acorn")")${NODE_PATH:+:$NODE_PATH}"
export NODE_PATH

cmake -S . -B "$native" >/dev/null
cmake --build "$native" -j2 --target demo_pictures

emcmake cmake -S . -B "$site/cmake" -DCMAKE_BUILD_TYPE=Release \
    -DPIXMORA_WEB_SITE="$PWD/$site" -DPIXMORA_WEB_PICTURES="$PWD/$native/demo" >/dev/null
cmake --build "$site/cmake" -j2
