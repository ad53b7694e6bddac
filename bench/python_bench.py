#!/usr/bin/env python3
"""Times the Python module against Pillow's own PCX plugin, and its threads.

Usage: python_bench.py <pcx dir>
Prints "<operation> <library> <ns per picture>" lines for ratio_table.py:
  py_decode_<picture>:   pixmora.decode(path) against
                         numpy.asarray(Image.open(path).convert("RGBA"))
                         with Pillow's own plugin (CPU time, best of rounds);
  py_threads4_<picture>: wall time per picture with 4 threads decoding at
                         once, against one thread (the "one-thread" column),
                         so the ratio is the speed-up.
The pictures are those pixmora_bench leaves in PIXMORA_BENCH_PCX_DIR.
"""
import concurrent.futures
import pathlib
import sys
import time

import numpy
from PIL import Image

import pixmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from peers_pillow import cpu_ns_per_call  # noqa: E402

THREAD_PICTURES = ("sky256", "sky16planes", "sky24")
THREADS = 4
ROUNDS = 5


def pillow_rgba(path):
    with Image.open(path) as im:
        return numpy.asarray(im.convert("RGBA"))


def wall_ns_per_picture(path, pictures):
    """The best wall time per picture of `pictures` decodes on one thread and
    spread over THREADS threads, the two timed in turn round after round so
    that both see the same load on a shared machine."""
    best = {}
    with concurrent.futures.ThreadPoolExecutor(1) as one, concurrent.futures.ThreadPoolExecutor(THREADS) as many:
        for _ in range(2 * ROUNDS):
            for threads, pool in ((1, one), (THREADS, many)):
                start = time.perf_counter_ns()
                list(pool.map(lambda _: pixmora.decode(path), range(pictures)))
                elapsed = (time.perf_counter_ns() - start) / pictures
                best[threads] = min(best.get(threads, elapsed), elapsed)
    return best[1], best[THREADS]


def main(argv):
    directory = pathlib.Path(argv[1])
    for path in sorted(directory.glob("*.pcx")):
        name = str(path)
        print(f"py_decode_{path.stem} pixmora {cpu_ns_per_call(lambda: pixmora.decode(name)):.1f}")
        try:
            pillow_rgba(name)
        except (OSError, ValueError) as error:
            print(f"{path.name}: Pillow's own plugin refuses it ({error})", file=sys.stderr)
        else:
            print(f"py_decode_{path.stem} pillow {cpu_ns_per_call(lambda: pillow_rgba(name)):.1f}")
    for stem in THREAD_PICTURES:
        path = directory / f"{stem}.pcx"
        if not path.exists():
            continue
        # Enough pictures for about a tenth of a second on one thread.
        one = cpu_ns_per_call(lambda: pixmora.decode(str(path)))
        pictures = max(THREADS * 4, int(1e8 / one))
        alone, together = wall_ns_per_picture(str(path), pictures)
        print(f"py_threads{THREADS}_{stem} one-thread {alone:.1f}")
        print(f"py_threads{THREADS}_{stem} pixmora {together:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
