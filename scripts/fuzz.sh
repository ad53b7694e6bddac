#!/bin/sh
# Fuzzes the PCX loader's memory source for SECONDS seconds with libFuzzer,
# address and undefined-behaviour sanitizers (clang 14). Builds in build-fuzz
# and works on a copy of the seed corpus there, so nothing in the repository
# is written; past findings in fuzz/regressions are replayed first.
# Exits non-zero when the fuzzer finds a crash; the input that caused it is
# left in build-fuzz/ (crash-*, leak-*, timeout-*): fix the fault, then add
# the input to fuzz/regressions/.
set -eu

if [ $# -ne 1 ] || ! [ "$1" -gt 0 ] 2>/dev/null; then
    echo "usage: scripts/fuzz.sh SECONDS" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

mkdir -p "$build"
cmake -S "$root" -B "$build" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DPIXMORA_FUZZ=ON -DPIXMORA_TESTS=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2 --target pcx_fuzz

corpus="$build/corpus-pcx"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$root"/fuzz/corpus/pcx/* "$corpus"/

# New inputs go to the first directory only (the copy); the regressions are
# read, never written.
regressions=""
[ -d "$root/fuzz/regressions" ] && regressions="$root/fuzz/regressions"
exec "$build/fuzz/pcx_fuzz" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/" \
    "$corpus" $regressions
