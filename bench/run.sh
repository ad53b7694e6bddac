#!/bin/sh
# Builds the benchmarks in build-bench, runs ours with the C and C++ peers,
# times Pillow, and prints the ratio table. Extra arguments go to
# pixmora_bench (for example --benchmark_min_time=1).
set -eu
cd "$(dirname "$0")/.."
build=build-bench

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMORA_BENCH=ON -DPIXMORA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pixmora_bench frame_bench >/dev/null

results="$build/bench/results.json"
# pixmora_bench leaves the PCX pictures it decodes here, for Pillow.
pictures="$build/bench/pcx"
rm -rf "$pictures"
PIXMORA_BENCH_PCX_DIR="$pictures" "$build/bench/pixmora_bench" --benchmark_out="$results" \
    --benchmark_out_format=json "$@"

# Pillow may live under another interpreter than the first python3 on PATH.
pillow="$build/bench/pillow.txt"
: >"$pillow"
found=""
for python in ${PYTHON:-} $(which -a python3 2>/dev/null); do
    if "$python" -c "import PIL" 2>/dev/null; then
        found="$python"
        break
    fi
done
if [ -n "$found" ]; then
    echo "Pillow ($("$found" -c 'import PIL; print(PIL.__version__)')) with $found"
    "$found" bench/peers_pillow.py "$pictures" | tee "$pillow"
else
    echo "Pillow not found; its column is left out"
fi

echo
python3 bench/ratio_table.py "$results" "$pillow"

echo
echo "Whole demo frames on the software display:"
"$build/bench/frame_bench"
