"""A call of get_lists runs no Python code: no other thread, signal handler, finalizer, import or
function of the program runs while it works, it needs nothing a program can replace, and it works on
a small thread's stack or refuses before it builds."""

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
# millisecond, whose handler (again a C function) logs the Python frame it
# interrupts: none may be the import machinery's. A repeated call is made with
# cyclic garbage in the oldest generation whose finalizers a collection during
# the call would run.
NOTHING_ELSE_RUNS = textwrap.dedent(
    """
    import builtins, functools, io, signal, sys, threading, korvel

    log, interrupted = io.StringIO(), io.StringIO()
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
    signal.signal(signal.SIGALRM, functools.partial(print, file=interrupted))
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
    frames = interrupted.getvalue().splitlines()
    print(len(frames), sorted({frame.split(" file ")[1].split(",")[0] for frame in frames}))
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

# First calls from ever shallower Python frames, each on a new thread of a
# small stack, until one builds: each call before it raises RecursionError,
# before any build (the process has grown by no build's memory), and the one
# that builds does so with hardly more stack left than the call asks for, so
# a call that asks for too little would crash. Then the main thread's call.
SMALL_STACKS = textwrap.dedent(
    """
    import resource, threading, korvel

    def grown_kib():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before

    def call_below(frames):
        if frames:
            return call_below(frames - 1)
        try:
            return "built %d" % len(korvel.get_lists()[0])
        except RecursionError:
            return "refused %d" % grown_kib()

    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    # 300 frames take some 100 KiB: too much to leave a first call enough,
    # under the sanitizers too, and not too much for Python itself.
    threading.stack_size(128 * 1024)
    for frames in range(300, -1, -1):
        outcome = []
        thread = threading.Thread(target=lambda: outcome.append(call_below(frames)))
        thread.start()
        thread.join()
        print(frames, *outcome)
        if outcome[0].startswith("built"):
            break
    print("main", len(korvel.get_lists()[0]))
    """
)


class CallTest(unittest.TestCase):
    def test_nothing_else_runs_during_a_call(self):
        first, repeated, interrupted = run(self, NOTHING_ELSE_RUNS)
        self.assertEqual(first, "''", "logged during a first call")
        self.assertEqual(repeated, "''", "logged during a repeated call")
        signals, files = interrupted.split(" ", 1)
        self.assertGreater(int(signals), 0, "no signal arrived")
        self.assertEqual(files, "[\"'<string>'\"]", "files of the frames signals interrupted")

    def test_a_call_needs_nothing_a_program_can_replace(self):
        lines = run(self, NOTHING_REPLACEABLE)
        self.assertEqual(lines[:3], ["34968 27352 ([(0, 7), (0, 0), (1, 0)], 13) True"] * 3)
        self.assertEqual(lines[3], "called []")

    def test_a_first_call_from_a_finalizer_at_shutdown(self):
        self.assertEqual(run(self, AT_SHUTDOWN), ["at shutdown 34968 27352"])

    @unittest.skipUnless(sys.platform.startswith("linux"), "knows its stack from the C library")
    def test_a_first_call_short_of_stack_is_refused_before_the_build(self):
        lines = run(self, SMALL_STACKS)
        outcomes = [line.split() for line in lines[:-1]]
        self.assertEqual(outcomes[0][1], "refused", lines)
        self.assertEqual(outcomes[-1][1:], ["built", "34968"], lines)
        for frames, outcome, figure in outcomes[:-1]:
            self.assertEqual(outcome, "refused", lines)
            self.assertLess(int(figure), 4 * 1024, f"KiB grown by a refused call: {lines}")
        self.assertEqual(lines[-1], "main 34968")


# A first call made deep on the main thread's own stack, with less than a
# build's stack left below the stack limit. The child finds how deep Python
# itself can recurse (forked children that recurse and return; those that go
# too deep die), then, from 48 frames short of that, makes a first call at
# every depth on the way back up: each must raise korvel's RecursionError
# until one builds. Its SETUP line says how the limit is set; its CUT line may
# take away what the check must do without.
MAIN_STACK = textwrap.dedent(
    """
    import os, resource, sys, korvel

    sys.setrecursionlimit(10**6)
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # a crash leaves no core file

    def down(frames):
        if frames:
            down(frames - 1)

    def lower_stack_limit(kib):
        resource.setrlimit(resource.RLIMIT_STACK, (kib * 1024, resource.getrlimit(resource.RLIMIT_STACK)[1]))

    def survives(frames):
        pid = os.fork()
        if pid == 0:
            down(frames)
            os._exit(0)
        return os.waitpid(pid, 0)[1] == 0

    SETUP
    low, high = 0, 1 << 20
    while low + 1 < high:
        middle = (low + high) // 2
        low, high = (middle, high) if survives(middle) else (low, middle)
    CUT
    refusals = []

    def first_call_from(frames):
        if frames:
            built_at = first_call_from(frames - 1)
            if built_at is not None:
                return built_at
        try:
            korvel.get_lists()
        except RecursionError as error:
            refusals.append(str(error))
            return None
        return frames

    built_at = first_call_from(low - 48)
    print("deepest", low, "built", built_at, "frames up, refused", len(refusals))
    print(all(refusal.startswith("korvel.get_lists() builds its tables") for refusal in refusals))
    print("least left", min((int(refusal.split(" has ")[1].split()[0]) for refusal in refusals), default=None))
    print("main", len(korvel.get_lists()[0]))
    """
)

# No file descriptor left: the stack limit lowered to 256 KiB before the stack
# has grown so far, and every descriptor then taken. Before that, a first call
# is refused on a small thread: UndefinedBehaviorSanitizer checks the type of
# the first error korvel throws through a pipe, which needs two descriptors.
NO_FILE_LEFT = MAIN_STACK.replace("SETUP\n", "lower_stack_limit(256)\n").replace(
    "CUT\n",
    textwrap.dedent(
        """\
        import threading
        def refused_below(frames):
            if frames:
                return refused_below(frames - 1)
            try:
                korvel.get_lists()
            except RecursionError:
                return True
        threading.stack_size(32 * 1024)
        small = threading.Thread(target=lambda: print("small thread refused", refused_below(10)))
        small.start()
        small.join()
        resource.setrlimit(resource.RLIMIT_NOFILE, (64, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
        held = []
        try:
            while True:
                held.append(open(os.devnull))
        except OSError:
            pass
        """
    ),
)

# The stack grown some 2,000 frames deep under the usual limit, and the limit
# then lowered to 256 KiB: the stack already mapped below the new limit can be
# used, but the limit in force is the one a call respects.
LIMIT_LOWERED = MAIN_STACK.replace("SETUP\n", "down(2000)\nlower_stack_limit(256)\n").replace("CUT\n", "")


@unittest.skipUnless(sys.platform.startswith("linux") and hasattr(os, "fork"), "knows its stack from Linux")
class MainThreadStackTest(unittest.TestCase):
    def check(self, code, start=(sys.executable,)):
        child = child_process.run([*start, "-c", code], 120)
        self.assertEqual(child.returncode, 0, child.stderr[-3000:])
        self.assertNotIn("Exception ignored", child.stderr)
        lines = child.stdout.splitlines()
        if lines[0].startswith("small thread"):
            self.assertEqual(lines.pop(0), "small thread refused True")
        figures = lines[0].split()
        self.assertGreater(int(figures[-1]), 0, lines)  # the deepest call was refused, not left to crash
        self.assertNotEqual(figures[3], "None", lines)
        self.assertEqual(lines[1], "True", "every refusal is korvel's")
        self.assertEqual(lines[3], "main 34968")
        return lines

    def test_a_first_call_deep_on_the_main_stack_with_no_file_left_is_refused(self):
        self.check(NO_FILE_LEFT)

    def test_the_same_in_a_program_the_dynamic_loader_started(self):
        # `ld.so python3.9`: the stack's top is then found at import, in /proc/self/maps.
        with open("/proc/self/maps") as maps:
            loaders = {line.split()[-1] for line in maps if os.path.basename(line.split()[-1]).startswith("ld-linux")}
        if len(loaders) != 1:
            self.skipTest(f"no one dynamic loader named ld-linux: {loaders}")
        self.check(NO_FILE_LEFT, (loaders.pop(), sys.executable))

    def test_a_first_call_below_a_stack_limit_lowered_at_run_time_is_refused(self):
        lines = self.check(LIMIT_LOWERED)
        self.assertEqual(lines[2], "least left 0", "a call below the lowered limit has no stack left")


if __name__ == "__main__":
    unittest.main()
