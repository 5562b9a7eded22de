"""Exhausted memory during get_lists raises MemoryError, and a later call returns the exact lists."""

import os
import subprocess
import sys
import textwrap
import unittest

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


def run(test, code):
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    test.assertEqual(child.returncode, 0, child.stderr)
    return child.stdout.split("\n")


@unittest.skipIf(os.environ.get("KORVEL_SANITIZED"), "the sanitizers reserve more address space than any limit leaves")
@unittest.skipUnless(sys.platform.startswith("linux"), "reads /proc/self/statm")
class MemoryExhaustionTest(unittest.TestCase):
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


if __name__ == "__main__":
    unittest.main()
