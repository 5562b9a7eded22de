"""pip installs korvel from the source tree without a package index, and it imports from anywhere."""

import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class InstallTest(unittest.TestCase):
    def test_offline_pip_install_gives_a_working_module(self):
        with tempfile.TemporaryDirectory() as target, tempfile.TemporaryDirectory() as elsewhere:
            subprocess.run(
                [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--quiet",
                 "--target", target, SOURCE_ROOT],
                check=True, capture_output=True,
            )
            env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
            env["PYTHONPATH"] = target
            code = ("import korvel; d, a = korvel.get_lists(); "
                    "print(korvel.__file__); print(korvel.__version__, len(d), len(a), a[0])")
            out = subprocess.run([sys.executable, "-c", code], cwd=elsewhere, env=env,
                                 capture_output=True, text=True, check=True).stdout.splitlines()
            self.assertTrue(out[0].startswith(target), out)
            self.assertEqual(out[1], "dev 34968 27352 ([(0, 7), (0, 0), (1, 0)], 13)")
            dist_info = os.path.join(target, "korvel-0.dev0.dist-info")
            self.assertTrue(os.path.isfile(os.path.join(dist_info, "RECORD")))


if __name__ == "__main__":
    unittest.main()
