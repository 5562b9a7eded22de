"""The first probe of a process builds korvel_probe's index: it ends with the right value whatever
runs in the middle of it (a fork, a signal handler or a finalizer that probes, another thread),
and memory running out leaves a MemoryError and a next probe that works. Each case runs in a
child process under a time limit, so that a hang fails the test."""

import json
import os
import sys
import textwrap

import pytest

import child_process

try:
    import _testcapi
except ImportError:
    _testcapi = None

PROBE = 'korvel_probe.value("e1", "e3", "a8", True)'  # 1: Ra8-a1 mates


def run(code, timeout=120):
    """The child's last line of output, read as JSON."""
    done = child_process.run([sys.executable, "-c", textwrap.dedent(code)], timeout)
    assert done.returncode == 0, done.stderr
    assert "Exception ignored" not in done.stderr, done.stderr
    return json.loads(done.stdout.strip().rpartition("\n")[2])


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_children_forked_while_another_thread_builds_probe_and_a_fork_pool_answers():
    found = run(f"""
        import json, multiprocessing, os, threading, time, korvel_probe
        from korvel_probe import _index

        def probe(_):
            return {PROBE}

        builder = threading.Thread(target=probe, args=(None,))
        builder.start()
        pool, children, during = None, [], 0
        while builder.is_alive():
            building = _index._build is not None and _index._build.done > 0  # the lists fetched
            during += building
            if building and pool is None:
                pool = multiprocessing.get_context("fork").Pool(2)
            pid = os.fork()
            if pid == 0:
                os.write(1, b"%d\\n" % probe(None))
                os._exit(0)
            children.append(pid)
            time.sleep(0.001)
        statuses = [os.waitpid(pid, 0)[1] for pid in children]
        answers = pool.map(probe, range(4))
        pool.close()
        pool.join()
        print(json.dumps({{"forks during the build": during, "statuses": sorted(set(statuses)),
                          "pool": answers}}))
        """)
    assert found["statuses"] == [0] and found["pool"] == [1] * 4, found
    assert found["forks during the build"] > 0, found


# Code that runs in the middle of the first probe, on its thread, and probes: it cannot wait
# for the build it interrupted. Each records whether a build was under way, and its value.
INTERRUPTIONS = {
    "signal handler": """
        import atexit, signal

        def handler(signum, frame):
            nested.append((_index._build is not None, PROBE))

        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.002)
        atexit.register(signal.setitimer, signal.ITIMER_REAL, 0)
        """,
    "finalizer": """
        import gc

        class Cycle:
            def __init__(self):
                self.cycle = self

            def __del__(self):
                nested.append((_index._build is not None, PROBE))

        # Let go once the build is under way, for the collector to finalize then.
        held = [Cycle(), Cycle()]
        gc.callbacks.append(lambda phase, info: _index._build is not None and held.clear())
        gc.set_threshold(20)
        """,
}


@pytest.mark.parametrize("interruption", sorted(INTERRUPTIONS))
def test_code_that_probes_in_the_middle_of_the_first_probe_on_its_thread_gets_the_value(interruption):
    found = run("import json, korvel_probe\nfrom korvel_probe import _index\nnested = []\n"
                + textwrap.dedent(INTERRUPTIONS[interruption]).replace("PROBE", PROBE)
                + f"first = {PROBE}\nprint(json.dumps([first, sorted(set(nested))]))\n")
    assert found == [1, [[False, 1], [True, 1]]] or found == [1, [[True, 1]]], found


def test_two_threads_probing_first_build_once():
    found = run(f"""
        import json, threading, korvel, korvel_probe
        calls, get_lists = [], korvel.get_lists
        korvel.get_lists = lambda: calls.append(1) or get_lists()
        start, values = threading.Barrier(2), []

        def probe():
            start.wait()
            values.append({PROBE})

        threads = [threading.Thread(target=probe) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(json.dumps([len(calls), values]))
        """)
    assert found == [1, [1, 1]]


# Makes two allocations in a row fail at many places of a first probe, the first and last
# forty and forty spread between; after each failed probe, the next one, with memory back,
# must work. Each probe is a first one: the index is dropped before it.
SWEEP = f"""
    import collections, json, _testcapi, korvel, korvel_probe
    from korvel_probe import _index

    korvel.get_lists()  # the solve, whose own memory is C++'s: the windows fall in the probe's

    def first_probe(start=0, stop=0):
        _index.INDEX = None
        if start:
            _testcapi.set_nomemory(start, stop)
        try:
            return {PROBE}
        except MemoryError:
            return "MemoryError"
        except BaseException as error:
            return repr(error)
        finally:
            _testcapi.remove_mem_hooks()

    low, high = 1, 1 << 22  # the allocations of a first probe: where failing from lets it through
    while low < high:
        middle = (low + high) // 2
        low, high = (low, middle) if first_probe(middle) == 1 else (middle + 1, high)
    outcomes, then = collections.Counter(), collections.Counter()
    for start in [*range(1, 41), *range(41, low - 40, (low - 80) // 40), *range(low - 40, low + 1)]:
        outcomes[first_probe(start, start + 2)] += 1
        then[{PROBE}] += 1
    print(json.dumps({{"allocations": low - 1, "outcomes": outcomes, "then": then}}))
    """


@pytest.mark.skipif(_testcapi is None, reason="needs _testcapi")
def test_a_first_probe_out_of_memory_anywhere_raises_memory_error_and_the_next_works():
    found = run(SWEEP, timeout=300)
    print(f"\n{found['allocations']} allocations in a first probe; windows: {found['outcomes']}", file=sys.stderr)
    assert set(found["outcomes"]) <= {"MemoryError", "1"} and found["outcomes"]["MemoryError"] > 80, found
    assert found["then"] == {"1": sum(found["outcomes"].values())}, found
