"""A call of get_lists runs no Python code: no other thread, signal handler, finalizer, import or
function of the program runs while it works, and it needs nothing a program can replace. A first call
builds on a stack of korvel's own, from any thread or coroutine."""

import os
import sys
import textwrap
import unittest

import child_process


def run(test, code, timeout=120):
    child = child_process.run([sys.executable, "-c", code], timeout)
    test.assertEqual(child.returncode, 0, child.stderr)
    test.assertNotIn("Exception ignored", child.stderr)
    return child.stdout.splitlines()


# Whatever ran while a call worked. The main thread's profile function is a C
# function (print into a StringIO), which lets no other thread in: it logs each
# Python function that runs, and another thread, asking for the interpreter
# lock all the time, writes a mark into the same log whenever it gets it.
# Nothing may be logged between a call of get_lists and its return. The marker
# is a daemon, so that a check that fails ends the child at once.
# The first call is made in a fresh interpreter that has not imported gc, with
# builtins.__import__ replaced by a Python function and a timer signal every
# millisecond, whose handler (again a C function) keeps the Python frame it
# interrupts: none may be the import machinery's. The handler is list.insert,
# which keeps a frame in one step: print, say, writes its line in pieces, and
# CPython runs pending handlers inside some of the calls it makes, so that one
# handler's line could be split by another's. A repeated call is made with
# cyclic garbage in the oldest generation whose finalizers a collection during
# the call would run.
NOTHING_ELSE_RUNS = textwrap.dedent(
    """
    import builtins, functools, io, signal, sys, threading, korvel

    log, interrupted = io.StringIO(), []
    stop = False

    def mark():
        while not stop:
            log.write("s")

    def logged_during_a_call():
        log.seek(0)
        log.truncate()
        sys.setprofile(functools.partial(print, file=log))
        korvel.get_lists()
        sys.setprofile(None)
        text = log.getvalue()
        start = text.index("\\n", text.index(" c_call <built-in method get_lists")) + 1
        end = text.rindex("<frame", 0, text.index(" c_return <built-in method get_lists"))
        return text[start:end]

    marker = threading.Thread(target=mark, daemon=True)
    marker.start()
    while not log.tell():
        pass
    sys.setswitchinterval(1e-6)
    real_import = builtins.__import__
    builtins.__import__ = lambda *arguments, **keywords: real_import(*arguments, **keywords)
    # Called as insert(signal number, frame): the frames' order does not matter.
    signal.signal(signal.SIGALRM, interrupted.insert)
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    first = logged_during_a_call()
    signal.setitimer(signal.ITIMER_REAL, 0)
    builtins.__import__ = real_import

    import gc

    class Cycle:
        def __del__(self):
            pass

    cycles = [Cycle() for _ in range(1000)]
    for cycle in cycles:
        cycle.itself = cycle
    gc.collect()
    del cycles, cycle
    repeated = logged_during_a_call()
    stop = True
    marker.join()
    print(repr(first[:500]))
    print(repr(repeated[:500]))
    # A signal handled where no Python frame runs is given None: no
    # frame of the import machinery either.
    print(len(interrupted), sorted({frame.f_code.co_filename for frame in interrupted if frame is not None}))
    """
)

# Everything a program might have done to gc and the import machinery before a
# call: gc unimportable, its switches and builtins.__import__ replaced by
# functions that record being called. Calls work and call none of them, with
# the collector on and off, and leave it as they found it.
NOTHING_REPLACEABLE = textwrap.dedent(
    """
    import builtins, gc, sys, korvel

    called = []
    is_enabled, enable, disable = gc.isenabled, gc.enable, gc.disable
    for name in ("isenabled", "enable", "disable"):
        setattr(gc, name, lambda name=name: called.append("gc." + name))
    real_import = builtins.__import__
    builtins.__import__ = lambda *arguments, **keywords: called.append("import") or real_import(*arguments, **keywords)
    sys.modules["gc"] = None
    for collector_on in (True, False, True):
        (enable if collector_on else disable)()
        defender, attacker = korvel.get_lists()
        print(len(defender), len(attacker), attacker[0], is_enabled() == collector_on)
    builtins.__import__ = real_import
    print("called", called)
    """
)

# A call from a finalizer while the interpreter shuts down, its modules being
# emptied: the first call, which builds the tables.
AT_SHUTDOWN = textwrap.dedent(
    """
    import os, korvel

    class Late:
        def __init__(self):
            self.get_lists, self.write = korvel.get_lists, os.write

        def __del__(self):
            defender, attacker = self.get_lists()
            self.write(1, b"at shutdown %d %d\\n" % (len(defender), len(attacker)))

    late = Late()
    """
)

class CallTest(unittest.TestCase):
    def test_nothing_else_runs_during_a_call(self):
        first, repeated, interrupted = run(self, NOTHING_ELSE_RUNS)
        self.assertEqual(first, "''", "logged during a first call")
        self.assertEqual(repeated, "''", "logged during a repeated call")
        signals, files = interrupted.split(" ", 1)
        self.assertGreater(int(signals), 0, "no signal arrived")
        self.assertEqual(files, "['<string>']", "files of the frames signals interrupted")

    def test_a_call_needs_nothing_a_program_can_replace(self):
        lines = run(self, NOTHING_REPLACEABLE)
        self.assertEqual(lines[:3], ["34968 27352 ([(0, 7), (0, 0), (1, 0)], 13) True"] * 3)
        self.assertEqual(lines[3], "called []")

    def test_a_first_call_from_a_finalizer_at_shutdown(self):
        self.assertEqual(run(self, AT_SHUTDOWN), ["at shutdown 34968 27352"])


# A first call builds on korvel's own stack, whatever the caller's: each child
# makes one from a small stack and prints the digest of what it returned, to be
# compared with a first call's on the main thread.
DIGEST = "hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest()"

# The smallest thread Python makes, 30 Python calls deep: Python itself crashes
# there from some 70 calls deep.
SMALL_THREAD = textwrap.dedent(
    f"""
    import hashlib, threading, korvel

    def below(frames):
        return below(frames - 1) if frames else {DIGEST}

    threading.stack_size(32 * 1024)
    outcome = []
    thread = threading.Thread(target=lambda: outcome.append(below(30)))
    thread.start()
    thread.join()
    print(*outcome)
    """
)

# A coroutine's stack of 16 KiB, made with makecontext, which the C library
# knows nothing of, and two Python calls on it.
SMALL_CONTEXT = textwrap.dedent(
    f"""
    import ctypes, hashlib, korvel

    libc = ctypes.CDLL(None)
    # A ucontext_t takes under 1 KiB on Linux; uc_link, then uc_stack's ss_sp,
    # ss_flags and ss_size, follow its flags word.
    here, there = ctypes.create_string_buffer(4096), ctypes.create_string_buffer(4096)
    stack = ctypes.create_string_buffer(16 * 1024)
    outcome = []

    @ctypes.CFUNCTYPE(None)
    def on_the_small_stack():
        outcome.append((lambda: {DIGEST})())

    assert libc.getcontext(there) == 0
    word = ctypes.sizeof(ctypes.c_void_p)
    ctypes.c_void_p.from_buffer(there, word).value = ctypes.addressof(here)
    ctypes.c_void_p.from_buffer(there, 2 * word).value = ctypes.addressof(stack)
    ctypes.c_size_t.from_buffer(there, 4 * word).value = ctypes.sizeof(stack)
    libc.makecontext(there, on_the_small_stack, 0)
    assert libc.swapcontext(here, there) == 0
    print(*outcome)
    """
)

# The address space held to what the process has, and a little: too little for
# korvel's stack. The first call raises MemoryError having built and mapped
# nothing; with memory back, the next builds.
NO_STACK_MAPPED = textwrap.dedent(
    f"""
    import hashlib, resource, korvel

    def mappings():
        with open("/proc/self/maps") as maps:
            return sum(1 for line in maps)

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    before = mappings(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + 64 * 1024, hard))
    try:
        korvel.get_lists()
        outcome = "returned"
    except MemoryError as error:
        outcome = "MemoryError " + str(error)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    after = mappings(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(outcome, after[0] - before[0], after[1] - before[1])
    print({DIGEST})
    """
)


class OwnStackTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.expected = child_process.run([sys.executable, "-c", "import hashlib, korvel; print(" + DIGEST + ")"],
                                         120).stdout.strip()

    def test_a_first_call_from_the_smallest_thread_deep_in_python_calls(self):
        self.assertEqual(run(self, SMALL_THREAD), [self.expected])

    @unittest.skipUnless(sys.platform.startswith("linux"), "lays out a ucontext_t as glibc does")
    def test_a_first_call_from_a_small_makecontext_stack(self):
        self.assertEqual(run(self, SMALL_CONTEXT), [self.expected])

    @unittest.skipIf(os.environ.get("KORVEL_SANITIZED"), "the sanitizers reserve more address space than any limit leaves")
    @unittest.skipUnless(sys.platform.startswith("linux"), "reads /proc/self/statm")
    def test_a_stack_that_cannot_be_mapped_raises_memory_error_and_changes_nothing(self):
        outcome, digest = run(self, NO_STACK_MAPPED)
        *error, mapped, grown_kib = outcome.split()
        self.assertEqual(error, ["MemoryError", "std::bad_alloc"])
        self.assertEqual(mapped, "0", "mappings made by the failed call")
        self.assertLess(int(grown_kib), 1024, "KiB grown by the failed call")
        self.assertEqual(digest, self.expected)


if __name__ == "__main__":
    unittest.main()
