#!/usr/bin/env python3
"""Times korvel_probe in fresh interpreters: its index's build and bytes, and each probe's time.

Each run is a new interpreter, pinned to one core, that calls korvel.get_lists() once, builds
the index from that result, and then times, in alternating rounds over the same positions:
value() by (x, y) tuples and by square names, best_moves(), moves(), the tablebase's
probe_dtm() on chess.Board objects and on objects that have only fen(), python-chess's own
Gaviota readers' probe_dtm() on the same boards (native, over Debian's libgaviotatb, and pure
Python), and the bare lookup in the flat index against one in a triangle-indexed layout (ten
defending-king blocks and a symmetry per square), the layout the index did not take. It
prints each figure's median over the runs, wall-clock and CPU time a call, and the median of
the runs' ratios of korvel's probe_dtm to the native reader's.

It measures the korvel and korvel_probe it imports. bench/run-probe builds them as pip does
(a Release build), with python-chess, into an environment of their own, installs Debian's
Gaviota tables and reader where missing, and runs it:
    bash bench/run-probe --runs 7
or, in an environment where korvel is installed:
    python bench/probe_bench.py --runs 7
Without python-chess, or Debian's tables and reader, those rows are left out.
"""

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import time

GAVIOTA = "/usr/share/gaviotatb/gtb4"


def rss_kib(field):
    """VmRSS (now) or VmHWM (the peak) of this process, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def triangle_layout(index):
    """The triangle-indexed layout: the ten triangle squares' blocks, and for each defending
    king square its block's slot and the symmetry's image of every square."""
    from korvel_probe import _index
    slots = [d for d in range(64) if _index._to_triangle(d)(d) == d]
    compact = b"".join(index[side << 18 | d << 12:][:4096] for side in range(2) for d in slots)
    orient = []
    for d in range(64):
        image = _index._to_triangle(d)
        orient.append((slots.index(image(d)) << 12, tuple(image(n) for n in range(64))))
    return compact, orient


def per_call_ns(function, calls):
    """Wall-clock and CPU nanoseconds a call of function(*args), over calls."""
    wall, cpu = time.perf_counter_ns(), time.process_time_ns()
    for args in calls:
        function(*args)
    return (time.perf_counter_ns() - wall) / len(calls), (time.process_time_ns() - cpu) / len(calls)


class FenOnly:
    """A board that only has fen(), as objects other than python-chess's own are read."""

    def __init__(self, fen):
        self._fen = fen

    def fen(self):
        return self._fen


def candidates(sample):
    """Each timed function with its calls; python-chess's rows where it can be had."""
    import korvel_probe
    from korvel_probe import _squares
    index = korvel_probe.index()
    compact, orient = triangle_layout(index)

    def flat(d, a, r, side):
        return index[side << 18 | d << 12 | a << 6 | r]

    def triangle(d, a, r, side):
        slot, image = orient[d]
        return compact[side * 40960 + slot + (image[a] << 6 | image[r])]

    numbers = [(x * 8 + y, ax * 8 + ay, rx * 8 + ry, side) for (x, y), (ax, ay), (rx, ry), side in sample]
    assert all(flat(*n) == triangle(*n) for n in numbers)
    names = [tuple(_squares.NAMES[x * 8 + y] for x, y in p[:3]) + (p[3],) for p in sample]
    found = {"value(), (x, y) squares": (korvel_probe.value, sample),
             "value(), square names": (korvel_probe.value, names),
             "best_moves()": (korvel_probe.best_moves, sample[:5000]),
             "moves()": (korvel_probe.moves, sample[:5000]),
             "lookup, flat index": (flat, numbers),
             "lookup, triangle-indexed": (triangle, numbers)}
    try:
        import chess
        import chess.gaviota
    except ImportError:
        return found, sys.getsizeof(compact) + sum(sys.getsizeof(t) for _, t in orient)
    fens = [korvel_probe.to_fen(p, white_attacks=i % 2 == 0) for i, p in enumerate(sample)]
    boards = [(chess.Board(fen),) for fen in fens]
    ours = korvel_probe.open_tablebase()
    found["probe_dtm(), chess.Board"] = (ours.probe_dtm, boards)
    found["probe_dtm(), fen() only"] = (ours.probe_dtm, [(FenOnly(fen),) for fen in fens[:5000]])
    if os.path.isdir(GAVIOTA):
        try:
            native = chess.gaviota.open_tablebase_native(GAVIOTA, libgtb="libgaviotatb.so.1")
            assert all(native.probe_dtm(b) == ours.probe_dtm(b) for b, in boards[:2000])
            found["python-chess's native Gaviota probe_dtm()"] = (native.probe_dtm, boards)
        except (OSError, RuntimeError):
            pass
        pure = chess.gaviota.PythonTablebase()
        pure.add_directory(GAVIOTA)
        found["python-chess's pure-Python Gaviota probe_dtm()"] = (pure.probe_dtm, boards[:2000])
    return found, sys.getsizeof(compact) + sum(sys.getsizeof(t) for _, t in orient)


def one_run(rounds):
    """What one fresh interpreter measures, as a dict."""
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})
    before = rss_kib("VmRSS")
    import korvel
    from korvel_probe import _index
    import korvel_probe
    started = time.perf_counter()
    lists = korvel.get_lists()
    solved = time.perf_counter()
    _index.INDEX = _index.build(lists)
    built = time.perf_counter()
    del lists
    figures = {"get_lists_s": solved - started, "build_s": built - solved,
               "index_bytes": sys.getsizeof(_index.INDEX),
               "rss_peak_kib": rss_kib("VmHWM") - before, "rss_after_kib": rss_kib("VmRSS") - before}
    sample = random.Random(1).sample([p for p, _ in korvel_probe.positions()], 20000)
    found, figures["triangle_bytes"] = candidates(sample)
    times = {name: [] for name in found}
    for _ in range(rounds):  # alternating: each round times every function once
        for name, (function, calls) in found.items():
            times[name].append(per_call_ns(function, calls))
    for name, measured in times.items():
        figures[name] = [statistics.median(w for w, _ in measured), statistics.median(c for _, c in measured)]
    return figures


KORVEL_DTM, NATIVE_DTM = "probe_dtm(), chess.Board", "python-chess's native Gaviota probe_dtm()"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="fresh interpreters (default 5)")
    parser.add_argument("--rounds", type=int, default=5, help="timing rounds in each (default 5)")
    parser.add_argument("--once", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.once:
        print(json.dumps(one_run(args.rounds)))
        return
    runs = []
    for _ in range(args.runs):
        done = subprocess.run([sys.executable, __file__, "--once", "--rounds", str(args.rounds)],
                              capture_output=True, text=True, check=True, timeout=900)
        runs.append(json.loads(done.stdout))
    median = {key: statistics.median(run[key] for run in runs) for key in runs[0] if not isinstance(runs[0][key], list)}
    print(f"medians of {args.runs} fresh interpreters, {args.rounds} rounds each, on one core")
    print(f"  first get_lists()          {median['get_lists_s'] * 1e3:8.1f} ms")
    print(f"  index build from its lists {median['build_s'] * 1e3:8.1f} ms")
    print(f"  index                      {median['index_bytes']:8,} bytes"
          f" (triangle-indexed: {median['triangle_bytes']:,.0f})")
    print(f"  RSS over the import: peak  {median['rss_peak_kib'] / 1024:8.1f} MiB,"
          f" after the lists are freed {median['rss_after_kib'] / 1024:.1f} MiB")
    print(f"  {'a call of':50} {'wall us':>8} {'CPU us':>8} {'calls a second':>15}")
    for key in runs[0]:
        if isinstance(runs[0][key], list):
            wall = statistics.median(run[key][0] for run in runs)
            cpu = statistics.median(run[key][1] for run in runs)
            print(f"  {key:50} {wall / 1e3:8.2f} {cpu / 1e3:8.2f} {1e9 / wall:15,.0f}")
    if NATIVE_DTM in runs[0]:
        for i, what in ((0, "wall"), (1, "CPU")):
            ratio = statistics.median(run[KORVEL_DTM][i] / run[NATIVE_DTM][i] for run in runs)
            print(f"  korvel's probe_dtm / the native reader's, {what} time, median of the runs' ratios: {ratio:.3f}")


if __name__ == "__main__":
    main()
