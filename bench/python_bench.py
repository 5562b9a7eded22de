#!/usr/bin/env python3
"""Times the module korvel as a Python user meets it, in fresh interpreters.

Each run starts a new interpreter that imports korvel and calls get_lists()
twice (the import's CPU time, the first call, a repeated call, the peak RSS),
and times the whole command `python -c 'import korvel; korvel.get_lists()'`
from outside, interpreter start included.

Given two modules (bench/compare gives korvel's build and the plain baseline
of bench/plain), it runs them alternately, A B A B, so that a machine whose
speed drifts slows both alike; checks that both return the same lists; and
gives each figure's ratio B / A pair by pair. With no --module it times the
korvel that the interpreter imports, e.g. an installed one.

The interpreter is --python, or else the one running this script if it is a
CPython 3.9, or else the CPython 3.9 that scripts/find-python.sh finds.
"""

import argparse
import hashlib
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

# One fresh interpreter. The import is timed in CPU time: it takes about a
# millisecond, most of it loading the C++ runtime, and on a machine shared
# with other work one lost time slice makes that 5 ms on the wall clock, for
# either module at random. The lists are hashed entry by entry, so that the
# digest adds nothing to the peak memory; the first result is dropped before
# the repeated call, as a user who reads the lists once would.
CHILD = """
import hashlib, json, resource, time

def digest(lists):
    h = hashlib.sha256()
    for side in lists:
        h.update(b"side")
        for entry in side:
            h.update(repr(entry).encode())
    return h.hexdigest()

import_started = time.process_time()
import korvel
import_cpu = time.process_time() - import_started
imported = time.perf_counter()
lists = korvel.get_lists()
first = time.perf_counter() - imported
first_digest, sizes = digest(lists), [len(side) for side in lists]
del lists
started_again = time.perf_counter()
lists = korvel.get_lists()
repeat = time.perf_counter() - started_again
peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({
    "file": korvel.__file__,
    "import_ms": import_cpu * 1e3,
    "first_ms": first * 1e3,
    "repeat_ms": repeat * 1e3,
    "peak_rss_mib": peak_kib / 1024,
    "digests": [first_digest, digest(lists)],
    "sizes": sizes,
}))
"""

# The whole command a user runs, timed from outside.
WHOLE = "import korvel; korvel.get_lists()"

FIGURES = [
    ("import_ms", "import korvel, CPU time", "ms"),
    ("first_ms", "first get_lists()", "ms"),
    ("repeat_ms", "repeated get_lists()", "ms"),
    ("peak_rss_mib", "peak RSS", "MiB"),
    ("whole_ms", f"python -c '{WHOLE}'", "ms"),
]


def fail(message):
    sys.stdout.flush()
    sys.exit(f"python_bench: {message}")


def run(python, code, module_dir):
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    if module_dir is not None:
        env["PYTHONPATH"] = str(module_dir)
    done = subprocess.run([python, "-c", code], env=env, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"`{python} -c` failed with exit status {done.returncode}:\n{done.stderr}")
    return done.stdout


def measure(python, module_dir):
    sample = json.loads(run(python, CHILD, module_dir))
    if module_dir is not None and Path(sample["file"]).parent.resolve() != module_dir.resolve():
        fail(f"imported {sample['file']}, not the module in {module_dir}")
    return sample


def time_whole(python, module_dir):
    started = time.perf_counter()
    run(python, WHOLE, module_dir)
    return (time.perf_counter() - started) * 1e3


def cpython39():
    """This interpreter if it is a CPython 3.9, else the one korvel's scripts find."""
    if sys.implementation.name == "cpython" and sys.version_info[:2] == (3, 9):
        return sys.executable
    finder = Path(__file__).resolve().parent.parent / "scripts" / "find-python.sh"
    found = subprocess.run(["bash", "-c", 'source "$0" && korvel_find_python && printf %s "$PYTHON"', str(finder)],
                           capture_output=True, text=True)
    if found.returncode != 0:
        fail(found.stderr.strip())
    return found.stdout


def cpu_model():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def build_description(module_dir):
    """The build type and tool versions from the CMake build that holds module_dir."""
    for folder in [module_dir, *module_dir.parents]:
        if (folder / "CMakeCache.txt").is_file():
            break
    else:
        return "not a CMake build"
    cache = (folder / "CMakeCache.txt").read_text()

    def cached(pattern):
        found = re.search(pattern, cache, re.MULTILINE)
        return found.group(1) if found else "?"

    compiler = "?"
    for compiler_file in folder.glob("CMakeFiles/*/CMakeCXXCompiler.cmake"):
        text = compiler_file.read_text()
        name = re.search(r'CMAKE_CXX_COMPILER_ID "(\w+)"', text)
        version = re.search(r'CMAKE_CXX_COMPILER_VERSION "([\d.]+)"', text)
        if name and version:
            compiler = f"{name.group(1)} {version.group(1)}"
    pybind11 = "?"
    pybind11_version_file = Path(cached(r"^pybind11_DIR:PATH=(.*)$")) / "pybind11ConfigVersion.cmake"
    if pybind11_version_file.is_file():
        found = re.search(r'PACKAGE_VERSION "([\d.]+)"', pybind11_version_file.read_text())
        pybind11 = found.group(1) if found else "?"
    build_type = cached(r"^CMAKE_BUILD_TYPE:STRING=(.*)$")
    boost = cached(r"^KORVEL_BOOST_RELEASE:INTERNAL=(.*)$")
    if boost == "?":  # the plain baseline finds Boost as CMake reports it
        boost = cached(r"^FIND_PACKAGE_MESSAGE_DETAILS_Boost:INTERNAL=.*\]\[v([\d.]+)")
    return f"{build_type}, {compiler}, Boost {boost}, pybind11 {pybind11}"


def the_same_lists(samples):
    """The lists' digests and sizes, if every run of every module, the
    repeated call included, handed out one and the same lists; else fails."""
    results = {(tuple(s["digests"]), tuple(s["sizes"])) for runs in samples.values() for s in runs}
    digests, sizes = next(iter(results))
    if len(results) == 1 and len(set(digests)) == 1:
        return digests, sizes
    for name, runs in samples.items():
        for s in runs:
            print(f"{name}: lists {s['sizes']}, sha256 first call {s['digests'][0]}, repeated {s['digests'][1]}")
    fail("the modules did not all return the same lists")


def summary(values, unit):
    fmt = "{:9.1f}" if unit else "{:9.2f}"
    return " ".join(fmt.format(v) for v in (min(values), statistics.median(values), max(values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--module", action="append", default=[], metavar="NAME=DIR",
                        help="a built korvel module and the name to show it under; give one or two")
    parser.add_argument("--runs", type=int, default=7, help="fresh interpreters per module (default 7)")
    parser.add_argument("--python", help="the CPython 3.9 to run (default: this one if it is, else the one "
                                          "scripts/find-python.sh finds)")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    args.python = args.python or cpython39()
    modules = []
    for given in args.module:
        name, sep, folder = given.partition("=")
        if not sep or not name or not Path(folder).is_dir():
            parser.error(f"--module {given}: expected NAME=DIR with an existing DIR")
        modules.append((name, Path(folder)))
    if len(modules) > 2 or len({name for name, _ in modules}) < len(modules):
        parser.error("give at most two modules, under different names")
    modules = modules or [("korvel", None)]

    version = run(args.python, "import platform; print(platform.python_version())", None).strip()
    print(f"machine: {os.cpu_count()} cores, {cpu_model()}, {platform.system()} {platform.release()}")
    print(f"date:    {time.strftime('%Y-%m-%d %H:%M %Z')}")
    print(f"python:  CPython {version}, {args.python}")
    for name, folder in modules:
        where = f"{folder}, {build_description(folder)}" if folder else "as the interpreter imports it"
        print(f"{name + ':':8} {where}")

    # One untimed import of each module first, so that no timed run is the one
    # that reads the module and the C++ runtime from disk.
    for _, folder in modules:
        run(args.python, "import korvel", folder)
    # The two modules' runs of one figure follow each other, so that a pair
    # meets the machine at nearly the same speed.
    samples = {name: [] for name, _ in modules}
    for _ in range(args.runs):
        for name, folder in modules:
            samples[name].append(measure(args.python, folder))
        the_same_lists(samples)  # a difference ends the comparison at once
        for name, folder in modules:
            samples[name][-1]["whole_ms"] = time_whole(args.python, folder)
    runs = f"{args.runs} run{'s' if args.runs > 1 else ''}"
    if len(modules) > 1:
        print(f"{runs} of each, in fresh interpreters, alternately")
    else:
        print(f"{runs} of {modules[0][0]}, in fresh interpreters")

    (digest, _), sizes = the_same_lists(samples)
    print(f"lists:   the same in every run and call, sha256 {digest[:16]}, "
          f"{sizes[0]} + {sizes[1]} entries")

    names = [name for name, _ in modules]
    ratios = {}
    if len(modules) == 2:
        first, second = names
        ratios = {key: [b[key] / a[key] for a, b in zip(samples[first], samples[second])] for key, _, _ in FIGURES}
        print(f"ratio = {second} / {first}, pair by pair: how many times less time or memory {first} takes")
    width = max(len(label) for _, label, _ in FIGURES)
    print()
    print(f"{'':{width}} {'':7} {'min':>9} {'median':>9} {'max':>9}")
    for key, label, unit in FIGURES:
        for i, name in enumerate(names):
            print(f"{label if i == 0 else '':{width}} {name:7} {summary([s[key] for s in samples[name]], unit)}  {unit}")
        if ratios:
            print(f"{'':{width}} {'ratio':7} {summary(ratios[key], '')}")
    if ratios:
        print(f"ratios are {names[1]} / {names[0]}: {names[0]} is that many times as fast, or as small")
        print(f"whole command: {names[1]}/{names[0]} median ratio "
              f"{statistics.median(ratios['whole_ms']):.2f} ({args.runs} pairs)")


if __name__ == "__main__":
    main()
