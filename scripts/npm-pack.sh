#!/usr/bin/env bash
# Builds the npm package pixmora: the library's codec calls compiled to
# WebAssembly with Emscripten in build-js/, written with the package's files
# into build-js/package/, packed by `npm pack` into dist/pixmora-VERSION.tgz.
# Nothing is fetched: the package has no dependencies.
#
#   scripts/npm-pack.sh        (make npm)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${JS_BUILD:-build-js}

scripts/setup-deps.sh --web --js

# emcc runs JavaScript passes that need the acorn parser. Debian installs it
# for its own Node.js; a node from elsewhere on PATH does not look there.
acorn=$(dpkg -L node-acorn | grep '/acorn/package.json$')
NODE_PATH="$(dirname "$(dirname "$acorn")")${NODE_PATH:+:$NODE_PATH}"
export NODE_PATH

emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMORA_PROGRAMS=OFF -DPIXMORA_JS=ON \
    -DPIXMORA_WERROR="${WERROR:-OFF}" \
    -DPIXMORA_JS_PACKAGE="$PWD/$build/package" >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target pixmora-js

mkdir -p dist
(cd "$build/package" && npm pack --pack-destination "$OLDPWD/dist" --silent >/dev/null)
version=$(sed -n 's/^  "version": "\(.*\)",$/\1/p' "$build/package/package.json")
tarball="dist/pixmora-$version.tgz"
[ -f "$tarball" ] || { echo "npm-pack: $tarball was not written" >&2; exit 1; }
echo "$tarball: $(stat -c %s "$tarball") bytes (gzipped)"
