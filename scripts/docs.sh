#!/usr/bin/env bash
# Writes the reference of the public headers with Doxygen (docs/Doxyfile)
# into DOCS_BUILD/html (build-docs). Fails on any warning, and shows them.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${DOCS_BUILD:-build-docs}
command -v doxygen >/dev/null || { echo "doxygen is missing; scripts/setup-deps.sh --package installs it" >&2; exit 1; }

version=$(sed -n 's/^project(Pixmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf "$out"
mkdir -p "$out"
status=0
DOCS_BUILD="$out" PIXMORA_VERSION="$version" doxygen docs/Doxyfile || status=$?
if [ -s "$out/doxygen-warnings.log" ]; then
    cat "$out/doxygen-warnings.log" >&2
    status=1
fi
if [ "$status" -ne 0 ] || [ ! -f "$out/html/index.html" ]; then
    echo "make docs: Doxygen warned or failed" >&2
    exit 1
fi
echo "Reference of the public headers: $out/html/index.html"
