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

. scripts/wine-session.sh

status=0
ctest --test-dir "$win" --output-on-failure -j"$jobs" "$@" || status=$?
echo "Windows stage: $(($(date +%s) - started)) s"
exit "$status"
