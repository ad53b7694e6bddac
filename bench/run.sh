#!/bin/sh
# Builds the benchmarks in build-bench, runs ours with the C and C++ peers
# (Allegro 4 in a program of its own), times Pillow, the Python module,
# whole demo frames and the npm package in Node (bench/js_bench.mjs, with
# pcx-js), and prints the table of ratios from this one run; the bar chart
# goes to docs/bench.png (BENCH_CHART overrides). Extra arguments go to every
# benchmark program; without any, each benchmark is repeated five times and
# its median kept, which steadies the figures on a busy machine.
set -eu
cd "$(dirname "$0")/.."
build=build-bench
chart=${BENCH_CHART:-docs/bench.png}
if [ $# -eq 0 ]; then
    set -- --benchmark_repetitions=5 --benchmark_min_time=0.1
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMORA_BENCH=ON -DPIXMORA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pixmora_bench frame_bench >/dev/null
# Built when Allegro 4 was found.
cmake --build "$build" -j2 --target allegro4_bench >/dev/null 2>&1 || true

out="$build/bench"
echo "CPU: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n 1), load: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)"
# pixmora_bench leaves the PCX pictures it decodes here, for Allegro 4 and Pillow.
pictures="$out/pcx"
rm -rf "$pictures"
results="$out/results.json"
PIXMORA_BENCH_PCX_DIR="$pictures" "$build/bench/pixmora_bench" --benchmark_out="$results" \
    --benchmark_out_format=json "$@"
allegro4=""
if [ -x "$build/bench/allegro4_bench" ]; then
    allegro4="$out/allegro4.json"
    PIXMORA_BENCH_PCX_DIR="$pictures" "$build/bench/allegro4_bench" --benchmark_out="$allegro4" \
        --benchmark_out_format=json "$@"
fi
frames="$out/frames.json"
"$build/bench/frame_bench" --benchmark_out="$frames" --benchmark_out_format=json "$@"

# The first Python that imports module $1 (PYTHON, then every python3 on PATH):
# Pillow and matplotlib may live under another interpreter than the first.
python_with() {
    for python in ${PYTHON:-} $(which -a python3 2>/dev/null); do
        if "$python" -c "import $1" 2>/dev/null; then
            echo "$python"
            return
        fi
    done
}

pillow="$out/pillow.txt"
: >"$pillow"
found=$(python_with PIL)
if [ -n "$found" ]; then
    echo "Pillow ($("$found" -c 'import PIL; print(PIL.__version__)')) with $found"
    "$found" bench/peers_pillow.py "$pictures" | tee "$pillow"
else
    echo "Pillow not found; its column is left out"
fi

# The Python module (its wheel, built with the library in Release) against
# Pillow's own plugin, in a virtual environment that sees the system's numpy
# and Pillow.
python_rows="$out/python.txt"
: >"$python_rows"
found=$(python_with "numpy, PIL, setuptools, build")
if [ -n "$found" ]; then
    rm -rf "$out/wheel" "$out/venv"
    PIXMORA_CMAKE_BUILD="$(pwd)/$build/python-library" "$found" -m build --no-isolation --wheel \
        --outdir "$out/wheel" python >"$out/wheel.log" 2>&1 || { cat "$out/wheel.log" >&2; exit 1; }
    "$found" -m venv --system-site-packages "$out/venv"
    "$out/venv/bin/python" -m pip install --quiet --no-index --no-deps "$out"/wheel/pixmora-*.whl
    echo "The Python module with $found"
    "$out/venv/bin/python" bench/python_bench.py "$pictures" | tee "$python_rows"
else
    echo "numpy, Pillow or python3-build not found; the Python rows are left out"
fi

# The npm package's decode() in Node, beside the native decode and beside
# pcx-js, which is installed from the npm registry into $build for this
# comparison alone (the package and its tests never fetch anything).
js="$out/js.md"
: >"$js"
if JS_BUILD=build-js scripts/npm-pack.sh >/dev/null; then
    peers="$build/js-peers"
    mkdir -p "$peers"
    [ -d "$peers/node_modules/pcx-js" ] ||
        (cd "$peers" && npm install --no-audit --no-fund --no-save pcx-js >/dev/null) ||
        echo "pcx-js cannot be installed; its column is left out"
    node bench/js_bench.mjs build-js/package "$peers/node_modules/pcx-js" "$pictures" "$results" | tee "$js"
else
    echo "The npm package cannot be built; its table is left out"
fi

# The chart needs matplotlib, which may also live under another interpreter.
report=$(python_with matplotlib)
report=${report:-python3}
echo
"$report" bench/ratio_table.py --chart "$chart" "$results" $allegro4 "$frames" "$pillow" "$python_rows"
"$report" bench/ratio_table.py --markdown "$results" $allegro4 "$frames" "$pillow" "$python_rows" >"$out/table.md"
echo "Chart: $chart; Markdown table: $out/table.md"
