#!/bin/sh
# Runs the fuzz targets for SECONDS seconds with libFuzzer, address and
# undefined-behaviour sanitizers (clang 14), on the machine's two cores:
# calls_fuzz (sequences of library calls with hostile arguments) for the
# whole time, and beside it pcx_fuzz (the PCX loader, from memory and from
# files, and the codec's decoding of the same bytes) for the first half, then
# codec_fuzz (pictures encoded in every layout and decoded back) for the
# second. Builds in build-fuzz and works on copies of the corpora there, so
# nothing in the repository is written; past findings in fuzz/regressions are
# replayed first.
# Exits non-zero when a target finds a crash; the input that caused it is left
# in build-fuzz/TARGET/ (crash-*, leak-*, timeout-*, oom-*): fix the fault,
# then add the input to fuzz/regressions/pcx/ (pcx_fuzz),
# fuzz/regressions/calls/ (calls_fuzz) or fuzz/regressions/codec/ (codec_fuzz).
# Each target's log is build-fuzz/TARGET.log; its final figures are printed.
# FUZZ_BUILD names another build directory than build-fuzz.
set -eu

if [ $# -ne 1 ] || ! [ "$1" -gt 1 ] 2>/dev/null; then
    echo "usage: scripts/fuzz.sh SECONDS (2 or more)" >&2
    exit 2
fi
seconds=$1
first_half=$((seconds / 2))
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FUZZ_BUILD:-$root/build-fuzz}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

mkdir -p "$build"
cmake -S "$root" -B "$build" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DPIXMORA_FUZZ=ON -DPIXMORA_TESTS=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2 --target pcx_fuzz calls_fuzz codec_fuzz

# Runs one target for its seconds: its corpus copy first (new inputs go
# there), then the regressions, which are read, never written. Leaves its
# exit status in build-fuzz/TARGET.status.
run() {
    target=$1 time=$2 corpus=$3 regressions=$4
    work="$build/$target"
    rm -rf "$work"
    mkdir -p "$work/corpus"
    cp "$corpus"/* "$work/corpus/"
    set -- "$work/corpus"
    [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ] && set -- "$@" "$regressions"
    status=0
    "$build/fuzz/$target" \
        -max_total_time="$time" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$@" >"$build/$target.log" 2>&1 || status=$?
    echo "$status" >"$build/$target.status"
}

targets="pcx_fuzz codec_fuzz calls_fuzz"
for target in $targets; do
    echo 1 >"$build/$target.status"
done
run calls_fuzz "$seconds" "$root/fuzz/corpus/calls" "$root/fuzz/regressions/calls" &
calls=$!
{
    run pcx_fuzz "$first_half" "$root/fuzz/corpus/pcx" "$root/fuzz/regressions/pcx"
    run codec_fuzz "$((seconds - first_half))" "$root/fuzz/corpus/codec" "$root/fuzz/regressions/codec"
} &
pictures=$!
wait "$calls" || true
wait "$pictures" || true

status=0
for target in $targets; do
    if [ "$(cat "$build/$target.status")" = 0 ]; then
        echo "$target: no finding"
    else
        status=1
        echo "$target: FINDING (see $build/$target.log and $build/$target/)" >&2
        grep -E "ERROR|SUMMARY|_fuzz:" "$build/$target.log" | head -20 >&2 || true
    fi
    grep -E "DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb" \
        "$build/$target.log" | sed "s/^/$target: /" || true
done
exit $status
