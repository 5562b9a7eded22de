"""Exhausted memory, at import or during get_lists, raises an exception and leaves the process as it
was: no crash, the collector as it was found, and a later import or call that works whole."""

import collections
import json
import os
import sys
import textwrap
import unittest

import child_process

try:
    import _testcapi
except ImportError:
    _testcapi = None

# Runs in a child, since it lowers the address-space limit of its own process.
# Each round tries ever looser limits until a call goes through: in the first
# round the build runs out of memory; in the second the build is complete and
# the copies or the conversion to Python objects run out.
CHILD = textwrap.dedent(
    """
    import hashlib, resource, korvel

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    for round_ in (1, 2):
        for extra_mib in (0.25, 0.5, 1, 2, 4, 8, 12, 16, 20, 24, 32, 48, 64, 128, 256):
            resource.setrlimit(resource.RLIMIT_AS, (address_space() + int(extra_mib * 2**20), hard))
            try:
                lists = korvel.get_lists()
                outcome = "ok"
                del lists
            except MemoryError as error:
                outcome = "native" if "bad_alloc" in str(error) else "python"
            except BaseException as error:
                outcome = "unexpected " + type(error).__name__
            finally:
                resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
            print(round_, outcome)
            if outcome == "ok":
                break
    print("digest", hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest())
    """
)

DIGEST = "import hashlib, korvel; print('digest', hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest())"


# The seconds one forked child of the import sweep, or one call of the call
# windows, may take before it counts as hung: under the sanitizers, on 2 busy
# cores, the slowest of either took under 0.2 s.
LIMIT = 5


def run(test, code, timeout=120):
    child = child_process.run([sys.executable, "-c", code], timeout)
    last = child.stdout.rstrip().rpartition("\n")[2]
    test.assertEqual(child.returncode, 0, f"{child.stderr}\nthe child's last line of output: {last}")
    test.assertNotIn("Exception ignored", child.stderr)
    return child.stdout.split("\n")


# Makes the import fail at each of its first allocations in turn, in a child
# forked for each: an import makes some 320 of them, most in korvel's entry.
# Memory runs out at that allocation alone (UNTIL = 1), or from it on (0).
# Each child reports how its import ended and whether a second import, with
# memory back, gives the whole module, whose error paths work: a call with an
# argument that cannot be shown is refused with TypeError (the refusal passes
# through pybind11's guard of a Python error, which needs all its state).
# A child that runs past LIMIT is killed, and the sweep stops there.
IMPORT_SWEEP = textwrap.dedent(
    """
    import os, signal, time, _testcapi

    class Unprintable:
        def __repr__(self):
            raise ValueError

    def outcome(error):
        if error is None:
            import korvel
            if getattr(korvel, "__version__", None) != "dev" or not callable(getattr(korvel, "get_lists", None)):
                return "incomplete"
            try:
                korvel.get_lists(Unprintable())
            except TypeError:
                return "imported"
            return "accepted an argument"
        return type(error).__name__ + (" from " + type(error.__cause__).__name__ if error.__cause__ else "")

    # The child's exit status, or None if it ran past LIMIT and was killed.
    def ended(pid):
        deadline = time.monotonic() + LIMIT
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return status
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                return None
            time.sleep(0.001)

    # A function, so that the names it sets are its frame's: setting one in
    # the module's namespace may need memory to grow it.
    def child(point):
        _testcapi.set_nomemory(point, point + UNTIL if UNTIL else 0)
        try:
            import korvel
            error = None
        except BaseException as raised:
            error = raised
        _testcapi.remove_mem_hooks()
        first = outcome(error)
        try:
            import korvel
            error = None
        except BaseException as raised:
            error = raised
        os.write(1, ("%d %s, then %s\\n" % (point, first, outcome(error))).encode())

    for point in range(1, POINTS + 1):
        pid = os.fork()
        if pid == 0:
            child(point)
            os._exit(0)
        status = ended(pid)
        if status is None:
            print(point, "hung, killed after", LIMIT, "s", flush=True)
            break
        if status != 0:
            print(point, "ended the process:", status, flush=True)
    """
)

# Makes two or three allocations in a row fail in each of many places of a
# repeated call, the collector on and then off: its first and last hundred
# allocations, and places spread between. Each call must raise MemoryError or
# return, and leave the collector as it was; the lists stay exact. A call that
# runs past LIMIT ends the process; the last window written is the one it hung in.
CALL_WINDOWS = textwrap.dedent(
    """
    import collections, faulthandler, gc, hashlib, json, _testcapi, korvel

    def digest():
        return hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest()

    def failing(start, stop=0):
        print("window", start, stop, "collector", "on" if gc.isenabled() else "off", flush=True)
        faulthandler.dump_traceback_later(LIMIT, exit=True)
        _testcapi.set_nomemory(start, stop)
        try:
            korvel.get_lists()
            return "returned"
        except MemoryError:
            return "MemoryError"
        except BaseException as error:
            return "raised " + type(error).__name__
        finally:
            _testcapi.remove_mem_hooks()
            faulthandler.cancel_dump_traceback_later()

    expected = digest()
    # The allocations a repeated call makes: the first place from which all
    # failing lets it return.
    low, high = 1, 1 << 20
    while low < high:
        middle = (low + high) // 2
        low, high = (low, middle) if failing(middle) == "returned" else (middle + 1, high)
    allocations = low - 1
    starts = [*range(1, 100), *range(100, allocations - 100, allocations // 20), *range(allocations - 100, allocations + 2)]
    outcomes = collections.Counter()
    for collector_on in (True, False):
        (gc.enable if collector_on else gc.disable)()
        for start in starts if collector_on else starts[::10]:
            for width in (2, 3):
                ended = failing(start, start + width)
                outcomes[ended if gc.isenabled() == collector_on else ended + ", collector changed"] += 1
    gc.enable()
    print(json.dumps({"allocations": allocations, "outcomes": outcomes, "exact": digest() == expected}))
    """
)


class MemoryExhaustionTest(unittest.TestCase):
    @unittest.skipIf(os.environ.get("KORVEL_SANITIZED"), "the sanitizers reserve more address space than any limit leaves")
    @unittest.skipUnless(sys.platform.startswith("linux"), "reads /proc/self/statm")
    def test_memory_error_early_and_late_then_the_exact_lists(self):
        lines = run(self, CHILD)
        outcomes = [line.split(" ", 1) for line in lines if line[:2] in ("1 ", "2 ")]
        first = [o for r, o in outcomes if r == "1"]
        second = [o for r, o in outcomes if r == "2"]
        self.assertEqual(first[-1], "ok", lines)
        self.assertEqual(second[-1], "ok", lines)
        self.assertIn("native", first, "the build never ran out of memory")
        self.assertIn("python", second, "the conversion never ran out of memory")
        self.assertTrue(set(first[:-1]) <= {"native", "python"}, lines)
        self.assertTrue(set(second[:-1]) <= {"native", "python"}, lines)
        expected = [line for line in run(self, DIGEST) if line.startswith("digest")]
        self.assertEqual([line for line in lines if line.startswith("digest")], expected)

    @unittest.skipIf(_testcapi is None or not hasattr(os, "fork"), "needs _testcapi and fork")
    def test_an_import_failing_at_any_allocation_raises_and_the_next_import_works(self):
        points = 400
        for until, kind in ((1, "that allocation alone"), (0, "that allocation on")):
            with self.subTest(failing=kind):
                code = f"POINTS = {points}\nUNTIL = {until}\nLIMIT = {LIMIT}" + IMPORT_SWEEP
                lines = [line for line in run(self, code, timeout=300) if line]
                self.assertEqual([line for line in lines if ", then " not in line], [],
                                 "failure points whose child hung or ended the process")
                self.assertEqual(len(lines), points, "points that reported")
                outcomes = collections.Counter(line.split(" ", 1)[1] for line in lines)
                print(f"\n{points} failure points, {kind}: {dict(outcomes)}", file=sys.stderr)
                for outcome in outcomes:
                    first, then = outcome.split(", then ")
                    self.assertEqual(then, "imported", outcome)
                    # RuntimeError: the import machinery's own "can't allocate
                    # lock", before korvel's entry runs.
                    self.assertTrue(first == "imported" or first.split()[0] in ("MemoryError", "ImportError",
                                                                               "RuntimeError"), outcome)
                # With memory out for good, not even the ImportError can be made.
                ended_in = "ImportError from MemoryError" if until else "MemoryError"
                self.assertGreater(outcomes[ended_in + ", then imported"], 50)
                self.assertGreater(outcomes["imported, then imported"], 0, "no point late enough to let it through")

    @unittest.skipIf(_testcapi is None, "needs _testcapi")
    def test_calls_failing_anywhere_raise_memory_error_and_leave_the_collector_as_it_was(self):
        found = json.loads([line for line in run(self, f"LIMIT = {LIMIT}" + CALL_WINDOWS, timeout=300) if line][-1])
        outcomes = found["outcomes"]
        print(f"\n{found['allocations']} allocations in a call; windows: {outcomes}", file=sys.stderr)
        self.assertEqual(set(outcomes), {"MemoryError", "returned"}, outcomes)
        self.assertGreater(outcomes["MemoryError"], 400, outcomes)
        self.assertTrue(found["exact"], "the lists after the failed calls")


# Imports that fail inside pybind11's set-up, after it has created its thread
# key, 1,100 times in one process, which has some 1,024 thread keys. Each runs
# the module's entry as the import system does (_imp.create_dynamic), without
# the import system's own allocations, whose number varies from import to
# import. The failure point is the first allocation at which an import fails
# in making one of pybind11's types, found in a child forked for each
# allocation in turn, so that no import succeeds here before the end. Then an
# import with memory back works, and so does its call. An import that runs past
# LIMIT ends its process, with the traceback of where it hung.
SET_UP_FAILURES = textwrap.dedent(
    """
    import _imp, faulthandler, gc, hashlib, importlib.util, os, _testcapi

    module_spec = importlib.util.find_spec("korvel")

    def import_failing_at(point):
        gc.collect()  # empties the interpreter's free lists, so that each import allocates alike
        faulthandler.dump_traceback_later(LIMIT, exit=True)
        _testcapi.set_nomemory(point, point + 1)
        try:
            _imp.create_dynamic(module_spec)
            return "imported"
        except ImportError as error:
            return str(error)
        except BaseException as error:
            return type(error).__name__
        finally:
            _testcapi.remove_mem_hooks()
            faulthandler.cancel_dump_traceback_later()

    def in_set_up(outcome):
        return outcome.startswith(("make_static_property_type()", "make_default_metaclass()",
                                   "make_object_base_type()"))

    def fails_in_set_up(point):
        pid = os.fork()
        if pid == 0:
            os._exit(3 if in_set_up(import_failing_at(point)) else 4)
        status = os.waitpid(pid, 0)[1]
        if status not in (3 << 8, 4 << 8):
            raise SystemExit(f"an import failing at allocation {point} hung or ended the process: {status}")
        return status == 3 << 8

    # The middle of seven points in a row that fail in set-up: an import now and
    # then makes an allocation or two more or less (the builtins dictionary
    # grows, for one), and still fails there.
    streak = []
    for point in range(1, 1000):
        streak = streak + [point] if fails_in_set_up(point) else []
        if len(streak) == 7:
            point = streak[3]
            break
    outcomes = [import_failing_at(point) for _ in range(1100)]
    print("point", point, "failed in set-up", sum(map(in_set_up, outcomes)), "of", len(outcomes))
    print("others", sorted(set(outcome for outcome in outcomes if not in_set_up(outcome)))[:3])
    import korvel
    print("digest", hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest())
    """
)


@unittest.skipIf(_testcapi is None or not hasattr(os, "fork"), "needs _testcapi and fork")
class FailedSetUpTest(unittest.TestCase):
    def test_imports_failed_in_pybind11s_set_up_use_up_no_thread_key(self):
        lines = run(self, f"LIMIT = {LIMIT}" + SET_UP_FAILURES)
        print(f"\n{lines[0]}", file=sys.stderr)
        self.assertTrue(lines[0].endswith("failed in set-up 1100 of 1100"), lines)
        expected = [line for line in run(self, DIGEST) if line.startswith("digest")]
        self.assertEqual(lines[2:3], expected)


if __name__ == "__main__":
    unittest.main()
