#!/usr/bin/env python3
"""Times korvel_probe in fresh interpreters: its index's build and bytes, and probes per second.

Each run is a new interpreter that calls korvel.get_lists() once, builds the index from
that result, and then times, in alternating rounds, a probe of value() by (x, y) tuples
and by square names, best_moves(), and the bare table lookup against a triangle-indexed
table (ten defending-king squares and a symmetry per square, 80 KiB instead of 512 KiB),
the layout the index did not take. It prints each figure's median over the runs.

Run it with korvel and korvel_probe importable, e.g. from a build:
    PYTHONPATH=build/probe/src/module:src python3.9 bench/probe_bench.py --runs 5
"""

import argparse
import json
import random
import statistics
import subprocess
import sys
import time


def rss_kib(field):
    """VmRSS (now) or VmHWM (the peak) of this process, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def triangle_table(table):
    """The triangle-indexed layout: the ten triangle squares' blocks, and for each defending
    king square its block's slot and the symmetry's image of every square."""
    from korvel_probe import _index
    slots = [d for d in range(64) if _index._to_triangle(d)(d) == d]
    compact = b"".join(table[side << 18 | d << 12:][:4096] for side in range(2) for d in slots)
    orient = []
    for d in range(64):
        image = _index._to_triangle(d)
        orient.append((slots.index(image(d)) << 12, tuple(image(n) for n in range(64))))
    return compact, orient


def per_call_ns(function, calls, rounds):
    """The median nanoseconds per call of function(*args) over calls, in rounds."""
    times = []
    for _ in range(rounds):
        started = time.perf_counter_ns()
        for args in calls:
            function(*args)
        times.append((time.perf_counter_ns() - started) / len(calls))
    return statistics.median(times)


def one_run(rounds):
    """What one fresh interpreter measures, as a dict."""
    before = rss_kib("VmRSS")
    import korvel
    from korvel_probe import _index
    import korvel_probe
    started = time.perf_counter()
    lists = korvel.get_lists()
    solved = time.perf_counter()
    _index.TABLE = _index.build(lists)
    built = time.perf_counter()
    del lists
    figures = {"get_lists_s": solved - started, "build_s": built - solved,
               "index_bytes": sys.getsizeof(_index.TABLE),
               "rss_peak_kib": rss_kib("VmHWM") - before, "rss_after_kib": rss_kib("VmRSS") - before}
    sample = random.Random(1).sample([p for p, _ in korvel_probe.positions()], 20000)
    names = [tuple(korvel_probe._squares.NAMES[x * 8 + y] for x, y in p[:3]) + (p[3],) for p in sample]
    table = _index.TABLE
    compact, orient = triangle_table(table)

    def flat(d, a, r, side):
        return table[side << 18 | d << 12 | a << 6 | r]

    def triangle(d, a, r, side):
        slot, image = orient[d]
        return compact[side * 40960 + slot + (image[a] << 6 | image[r])]

    numbers = [(x * 8 + y, ax * 8 + ay, rx * 8 + ry, side)
               for (x, y), (ax, ay), (rx, ry), side in sample]
    assert all(flat(*n) == triangle(*n) for n in numbers)
    figures["triangle_bytes"] = sys.getsizeof(compact) + sum(sys.getsizeof(t) for _, t in orient)
    for name, function, calls in (("value_tuples_ns", korvel_probe.value, sample),
                                  ("value_names_ns", korvel_probe.value, names),
                                  ("best_moves_ns", korvel_probe.best_moves, sample[:5000]),
                                  ("flat_lookup_ns", flat, numbers),
                                  ("triangle_lookup_ns", triangle, numbers)):
        figures[name] = per_call_ns(function, calls, rounds)
    return figures


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
                              capture_output=True, text=True, check=True, timeout=600)
        runs.append(json.loads(done.stdout))
    median = {key: statistics.median(run[key] for run in runs) for key in runs[0]}
    print(f"medians of {args.runs} fresh interpreters, {args.rounds} rounds each")
    print(f"  first get_lists()          {median['get_lists_s'] * 1e3:8.1f} ms")
    print(f"  index build from its lists {median['build_s'] * 1e3:8.1f} ms")
    print(f"  index                      {median['index_bytes']:8,} bytes"
          f" (triangle-indexed: {median['triangle_bytes']:,.0f})")
    print(f"  RSS over the import: peak  {median['rss_peak_kib'] / 1024:8.1f} MiB,"
          f" after the lists are freed {median['rss_after_kib'] / 1024:.1f} MiB")
    for key, label in (("value_tuples_ns", "value(), (x, y) squares"),
                       ("value_names_ns", "value(), square names"),
                       ("best_moves_ns", "best_moves()"),
                       ("flat_lookup_ns", "lookup, flat index"),
                       ("triangle_lookup_ns", "lookup, triangle-indexed")):
        ns = median[key]
        print(f"  {label:26} {ns / 1e3:8.2f} us  {1e9 / ns:12,.0f} per second")


if __name__ == "__main__":
    main()
