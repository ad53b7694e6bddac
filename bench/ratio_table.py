#!/usr/bin/env python3
"""Prints, for every operation, our time beside the best peer's.

Usage: ratio_table.py [--markdown] [--chart PNG] <results>...
Each result is either a Google Benchmark json (--benchmark_out of
pixmora_bench, allegro4_bench or frame_bench) or a file of
"<operation> <library> <ns per operation>" lines (peers_pillow.py's output).

For each operation: our time, the fastest peer's time and name, the ratio
(peer time / ours: above 1, we are faster), and for bandwidth-bound
operations our share of what memcpy or memset reach on the same bytes
(their time / ours). An operation with a goal per peer has a row per peer.
The threaded decodings (decode_*_threads_N) are wall-clock times per
decoding, and their "peer" is our own single thread: the ratio is the
speed-up. With repetitions, the median of each benchmark is used.
Whole demo frames are listed in frames per second. Each row shows its goal
and whether this run meets it. --chart draws the ratios and shares as bars
with the goals marked (needs matplotlib).
"""
import argparse
import json
import sys

BASELINES = ("memcpy", "memset")

# Goals: ("ratio", x) against the best peer, ("peers", {peer: x}) against
# each peer named, ("share", percent) of memcpy or memset, ("fps", frames per
# second). Operations with a peer and no goal here are to stay ahead (ratio 1).
CODEC_PEERS = ("peers", {"pillow": 5.0, "sdl2_image": 3.0})
GOALS = {
    "decode_sky256_rgba": CODEC_PEERS,
    "decode_sky16planes_rgba": CODEC_PEERS,
    "decode_sky24_rgba": CODEC_PEERS,
    "decode_sky256_rgba_threads_2": ("ratio", 1.8),
    "scale_264x40_264x40": ("ratio", 0.9),
    "scale_264x40_26x4": ("ratio", 1.0),
    "scale_264x40_132x20": ("ratio", 1.2),
    "scale_264x40_528x80": ("ratio", 2.0),
    "scale_1000x1000_1500x1500": ("ratio", 1.5),
    "scale_1000x1000_500x500": ("ratio", 1.2),
    "present_640x400": ("ratio", 3.0),
    "present_1920x1080": ("share", 85.0),
    "copy_region": ("share", 85.0),
    "pcx_sky256_8": ("ratio", 8.0),
    "pcx_sky24_32": ("ratio", 5.0),
    # The Python module's decode against Pillow's, and 4 threads against
    # one on two cores (py_threads4_*).
    "py_decode_sky256": ("ratio", 3.0),
    "py_decode_sky16planes": ("ratio", 3.0),
    "py_decode_sky24": ("ratio", 3.0),
    "py_threads4_sky256": ("ratio", 1.8),
    "py_threads4_sky16planes": ("ratio", 1.8),
    "py_threads4_sky24": ("ratio", 1.8),
    "frames_640x400": ("fps", 25000.0),
    "frames_1920x1080": ("fps", 2900.0),
}


def read_benchmark(path, times, fps):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    for run in runs:
        if run.get("error_occurred"):
            continue
        # With --benchmark_repetitions the median of the repetitions stands
        # for the operation; the single runs and other aggregates are left out.
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") != "median":
                continue
        elif run.get("repetitions", 1) > 1:
            continue
        name = run.get("run_name", run["name"])
        if name.startswith("whole_frames/"):
            width, height = name.split("/")[1:3]
            fps[f"frames_{width}x{height}"] = run.get("fps", 0.0)
            continue
        # A row timed by its own clock is named "operation/library/manual_time".
        operation, library = name.split("/")[:2]
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
        # A threaded row's CPU time is only its first thread's: it is timed
        # on the wall clock.
        clock = "real_time" if threads_of(operation) else "cpu_time"
        times[(operation, library)] = run[clock] * scale


def threads_of(operation):
    """N for a threaded decoding (decode_..._threads_N), else None."""
    head, _, count = operation.rpartition("_threads_")
    return int(count) if head and count.isdigit() else None


def read_lines(path, times):
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 3:
                times[(fields[0], fields[1])] = float(fields[2])


def rows(times, fps):
    """One dict per operation, in order of first appearance."""
    result = []
    for op in dict.fromkeys(op for op, _ in times):
        ours = times.get((op, "pixmora"))
        if ours is None:
            continue
        peers = {lib: t for (o, lib), t in times.items() if o == op and lib != "pixmora" and lib not in BASELINES}
        threads = threads_of(op)
        if threads is not None:
            single = times.get((op.rpartition("_threads_")[0] + "_threads_1", "pixmora"))
            if threads == 1 or single is None:
                continue  # the reference of the others
            peers = {"1 thread": single}
        kind, value = GOALS.get(op, ("ratio", 1.0))
        if kind == "peers":
            for peer, goal in value.items():
                if peer in peers:
                    ratio = peers[peer] / ours
                    result.append({"operation": op, "label": f"{op} vs {peer}", "ours": ours, "peer": peer,
                                   "peer_time": peers[peer], "ratio": ratio, "share": None,
                                   "goal": ("ratio", goal), "met": ratio >= goal})
            continue
        row = {"operation": op, "ours": ours, "peer": None, "peer_time": None, "ratio": None, "share": None}
        if peers:
            row["peer"] = min(peers, key=peers.get)
            row["peer_time"] = peers[row["peer"]]
            row["ratio"] = row["peer_time"] / ours
        for base in BASELINES:
            if (op, base) in times:
                row["share"] = (base, 100.0 * times[(op, base)] / ours)
        if row["peer"] is None and row["share"] is None:
            continue  # nothing to compare with (reduce_colours)
        achieved = row["ratio"] if kind == "ratio" else row["share"][1] if row["share"] else None
        row["goal"] = (kind, value)
        row["met"] = achieved is not None and achieved >= value
        result.append(row)
    for name, value in fps.items():
        kind, goal = GOALS.get(name, ("fps", 0.0))
        result.append({"operation": name, "fps": value, "goal": (kind, goal), "met": value >= goal})
    return result


def goal_text(goal):
    kind, value = goal
    if kind == "ratio":
        return f">= {value:g}x"
    if kind == "share":
        return f">= {value:g} %"
    return f">= {value:,.0f} fps"


def cells(row):
    if "fps" in row:
        return [row["operation"], f"{1e6 / row['fps']:.1f}" if row["fps"] else "-", "", "", "",
                f"{row['fps']:,.0f} fps", goal_text(row["goal"]), "yes" if row["met"] else "NO"]
    share = f"{row['share'][1]:.0f} % of {row['share'][0]}" if row["share"] else ""
    return [
        row["operation"],
        f"{row['ours'] / 1e3:.2f}",
        row["peer"] or "",
        f"{row['peer_time'] / 1e3:.2f}" if row["peer"] else "",
        f"{row['ratio']:.2f}x" if row["ratio"] else "",
        share,
        goal_text(row["goal"]),
        "yes" if row["met"] else "NO",
    ]


HEADER = ["operation", "ours (us)", "best peer", "peer (us)", "peer/ours", "bandwidth / frames", "goal", "met"]


def print_table(table, markdown):
    lines = [HEADER] + [cells(row) for row in table]
    if markdown:
        print("| " + " | ".join(HEADER) + " |")
        print("|" + "|".join("---" if i in (0, 2) else "---:" for i in range(len(HEADER))) + "|")
        for line in lines[1:]:
            print("| " + " | ".join(line) + " |")
        return
    widths = [max(len(line[i]) for line in lines) for i in range(len(HEADER))]
    for line in lines:
        print("  ".join(cell.ljust(w) if i in (0, 2) else cell.rjust(w) for i, (cell, w) in enumerate(zip(line, widths))))


def draw_chart(table, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    ratios = [r for r in table if r.get("ratio")]
    shares = [r for r in table if r.get("share")] + [r for r in table if "fps" in r]
    fig, (left, right) = plt.subplots(1, 2, figsize=(13, 0.32 * max(len(ratios), len(shares)) + 1.6),
                                      gridspec_kw={"width_ratios": [3, 2]})
    names = [r.get("label", r["operation"]) for r in ratios]
    values = [r["ratio"] for r in ratios]
    # Green: at or past the ratio goal (or ahead, when the goal is a share).
    colours = ["tab:green" if r["ratio"] >= (r["goal"][1] if r["goal"][0] == "ratio" else 1.0) else "tab:red"
               for r in ratios]
    left.barh(names, values, color=colours)
    for i, r in enumerate(ratios):
        if r["goal"][0] == "ratio":
            left.plot([r["goal"][1]] * 2, [i - 0.4, i + 0.4], color="black", linewidth=2)
    left.axvline(1.0, color="grey", linewidth=0.8, linestyle="--")
    left.set_xscale("log")
    left.invert_yaxis()
    left.set_xlabel("best peer's time / ours (log scale; black mark: goal)")
    left.set_title("Against the fastest peer")

    names = [r["operation"] for r in shares]
    values = [r["share"][1] if "share" in r and r["share"] else 100.0 * r["fps"] / r["goal"][1] for r in shares]
    colours = ["grey" if r["goal"][0] == "ratio" else "tab:green" if r["met"] else "tab:red" for r in shares]
    right.barh(names, values, color=colours)
    for i, r in enumerate(shares):
        goal = r["goal"][1] if r["goal"][0] == "share" else 100.0 if r["goal"][0] == "fps" else None
        if goal is not None:
            right.plot([goal] * 2, [i - 0.4, i + 0.4], color="black", linewidth=2)
    right.invert_yaxis()
    right.yaxis.tick_right()
    right.set_xlabel("% of memcpy / memset on the same bytes (grey: no goal);\nframes: % of the goal")
    right.set_title("Against memory bandwidth")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    parser.add_argument("--chart", help="draw the bar chart into this PNG file")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args(argv[1:])
    times, fps = {}, {}
    for path in args.results:
        with open(path) as f:
            is_json = f.read(1) == "{"
        if is_json:
            read_benchmark(path, times, fps)
        else:
            read_lines(path, times)
    table = rows(times, fps)
    print_table(table, args.markdown)
    if args.chart:
        try:
            draw_chart(table, args.chart)
        except ImportError:
            print("matplotlib not found; no chart drawn", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
