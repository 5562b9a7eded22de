"""Times korvel as a Python user meets it: fresh interpreters that import it and call get_lists."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

# One fresh interpreter: the import, the first call (the whole solve), a
# repeated call (copies and conversion only), and the peak resident memory.
CHILD = """
import json, resource, time
started = time.perf_counter()
import korvel
imported = time.perf_counter()
korvel.get_lists()
first = time.perf_counter()
korvel.get_lists()
repeated = time.perf_counter()
print(json.dumps({
    "import_s": imported - started,
    "first_call_s": first - imported,
    "repeat_call_s": repeated - first,
    "peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024,
}))
"""

# The whole command a user runs, timed from outside: interpreter start included.
WHOLE = "import korvel; korvel.get_lists()"


def run_child(python):
    out = subprocess.run([python, "-c", CHILD], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def time_whole(python):
    started = time.perf_counter()
    subprocess.run([python, "-c", WHOLE], check=True)
    return time.perf_counter() - started


def run_module_path(python):
    out = subprocess.run([python, "-c", "import korvel; print(korvel.__file__)"],
                         capture_output=True, text=True, check=True)
    return out.stdout.strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=7, help="fresh interpreters per figure (default 7)")
    parser.add_argument("--python", default=sys.executable, help="the CPython 3.9 to run (default: this one)")
    args = parser.parse_args()

    samples = [run_child(args.python) for _ in range(args.runs)]
    whole = [time_whole(args.python) for _ in range(args.runs)]
    rows = [
        ("import korvel", "s", [s["import_s"] for s in samples]),
        ("first get_lists()", "s", [s["first_call_s"] for s in samples]),
        ("repeated get_lists()", "s", [s["repeat_call_s"] for s in samples]),
        ("python -c 'import korvel; korvel.get_lists()'", "s", whole),
        ("peak RSS", "MiB", [s["peak_rss_mib"] for s in samples]),
    ]
    print(f"korvel from {os.path.dirname(run_module_path(args.python))}, {args.runs} fresh interpreters, "
          f"{os.cpu_count()} cores")
    print(f"{'':48} {'min':>9} {'median':>9} {'max':>9}")
    for name, unit, values in rows:
        cells = " ".join(f"{v:9.3f}" if unit == "s" else f"{v:9.1f}"
                         for v in (min(values), statistics.median(values), max(values)))
        print(f"{name:48} {cells}  {unit}")


if __name__ == "__main__":
    main()
