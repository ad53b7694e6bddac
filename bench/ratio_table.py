#!/usr/bin/env python3
"""Prints our time against each peer's for every operation.

Usage: ratio_table.py <benchmark json> [<peer lines>...]
The json is pixmora_bench's --benchmark_out; peer lines files hold
"<operation> <library> <ns per operation>" lines (peers_pillow.py's output).
The ratio is the peer's CPU time over ours: above 1, we are faster. With
repetitions, the median of each benchmark's repetitions is used.
"""
import json
import sys


def read_benchmark(path):
    times = {}
    with open(path) as f:
        for run in json.load(f)["benchmarks"]:
            if run.get("error_occurred"):
                continue
            # With --benchmark_repetitions the median of the repetitions
            # stands for the operation; the single runs and other aggregates
            # are left out.
            if run.get("run_type") == "aggregate":
                if run.get("aggregate_name") != "median":
                    continue
            elif run.get("repetitions", 1) > 1:
                continue
            operation, library = run.get("run_name", run["name"]).split("/", 1)
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
            times[(operation, library)] = run["cpu_time"] * scale
    return times


def read_lines(path, times):
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 3:
                times[(fields[0], fields[1])] = float(fields[2])


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    times = read_benchmark(argv[1])
    for path in argv[2:]:
        read_lines(path, times)
    operations = dict.fromkeys(op for op, _ in times)  # in order of appearance
    print(f"{'operation':<18} {'ours (us)':>10}  {'peer':<16} {'peer (us)':>10} {'peer/ours':>10}")
    for op in operations:
        ours = times.get((op, "pixmora"))
        for (o, library), peer in times.items():
            if o != op or library == "pixmora":
                continue
            ours_text = f"{ours / 1e3:10.1f}" if ours else f"{'-':>10}"
            ratio = f"{peer / ours:10.2f}" if ours else f"{'-':>10}"
            print(f"{op:<18} {ours_text}  {library:<16} {peer / 1e3:10.1f} {ratio}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
