"""The module korvel as Python sees it: its attributes, get_lists' signature, refused arguments,
refused sub-interpreters."""

import os
import sys
import textwrap
import unittest

import child_process
import korvel

SIGNATURE = (
    "get_lists() -> Tuple[List[Tuple[List[Tuple[int, int]], int]], "
    "List[Tuple[List[Tuple[int, int]], int]]]"
)


class ModuleTest(unittest.TestCase):
    def test_version_and_no_module_docstring(self):
        self.assertEqual(korvel.__version__, "dev")
        self.assertIsInstance(korvel.__version__, str)
        self.assertIsNone(korvel.__doc__)

    def test_only_get_lists_and_version_besides_what_every_module_has(self):
        every_module = set(dir(type(sys)("empty"))) | {"__file__"}
        self.assertEqual(set(dir(korvel)) - every_module, {"get_lists", "__version__"})

    def test_get_lists_signature_and_docstring(self):
        doc = korvel.get_lists.__doc__
        self.assertTrue(doc.startswith(SIGNATURE + "\n"), doc)
        self.assertIn("\n        get the lists containing the korvels.\n    ", doc)
        self.assertEqual(type(korvel.get_lists).__name__, "builtin_function_or_method")

    def test_arguments_are_refused_before_any_build(self):
        # A build grows the process by well over 10 MiB of memo entries; a
        # refused call must not start one.
        child = textwrap.dedent(
            """
            import resource, korvel
            before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            for call in (lambda: korvel.get_lists(1), lambda: korvel.get_lists(depth=32)):
                try:
                    call()
                except TypeError as error:
                    assert "incompatible function arguments" in str(error), error
                else:
                    raise SystemExit("arguments were accepted")
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
            """
        )
        out = child_process.run([sys.executable, "-c", child], 60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertLess(int(out.stdout), 4 * 1024, "KiB grown by refused calls")

    def test_sub_interpreters_are_refused_before_and_after_the_main_interpreter_imports(self):
        # A first import in a sub-interpreter used to hang the process for good,
        # and one after the main interpreter's let calls in that hung on any
        # error, so the child runs under a timeout.
        child = textwrap.dedent(
            """
            import time, _xxsubinterpreters as interpreters

            def import_in_a_sub_interpreter():
                started = time.monotonic()
                try:
                    interpreters.run_string(interpreters.create(), "import korvel")
                except interpreters.RunFailedError as error:
                    print(error, "%.3f" % (time.monotonic() - started))

            import_in_a_sub_interpreter()
            import korvel
            print(korvel.__version__, korvel.get_lists.__name__)
            import_in_a_sub_interpreter()
            """
        )
        # A sub-interpreter's path has no working folder in it, only PYTHONPATH.
        env = dict(os.environ, PYTHONPATH=os.path.dirname(korvel.__file__))
        out = child_process.run([sys.executable, "-c", child], 30, env=env)
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = out.stdout.splitlines()
        refusal = "<class 'ImportError'>: korvel must be imported in the main interpreter, not in a sub-interpreter"
        self.assertEqual(len(lines), 3, lines)
        for line in lines[0], lines[2]:
            self.assertEqual(line.rsplit(" ", 1)[0], refusal, lines)
            self.assertLess(float(line.rsplit(" ", 1)[1]), 10.0, "seconds to refuse")
        self.assertEqual(lines[1], "dev get_lists", lines)


if __name__ == "__main__":
    unittest.main()
