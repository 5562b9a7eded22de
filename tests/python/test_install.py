"""pip installs korvel from the source tree without a package index, and uninstalls it cleanly."""

import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class InstallTest(unittest.TestCase):
    def run_checked(self, *command, **options):
        done = subprocess.run(command, capture_output=True, text=True, **options)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done.stdout

    def test_offline_install_into_an_environment_then_uninstall(self):
        with tempfile.TemporaryDirectory() as folder:
            environment, elsewhere = os.path.join(folder, "env"), os.path.join(folder, "elsewhere")
            os.mkdir(elsewhere)
            self.run_checked(sys.executable, "-m", "venv", environment)
            python = os.path.join(environment, "bin", "python")
            env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}

            self.run_checked(python, "-m", "pip", "install", "--no-build-isolation", "--no-index", SOURCE_ROOT,
                             env=env)
            code = ("import korvel; d, a = korvel.get_lists(); "
                    "print(korvel.__file__); print(korvel.__version__, len(d), len(a), a[0])")
            out = self.run_checked(python, "-c", code, cwd=elsewhere, env=env).splitlines()
            self.assertTrue(out[0].startswith(environment), out)
            self.assertEqual(out[1], "dev 34968 27352 ([(0, 7), (0, 0), (1, 0)], 13)")

            self.run_checked(python, "-m", "pip", "uninstall", "--yes", "korvel", env=env)
            gone = subprocess.run([python, "-c", "import korvel"], cwd=elsewhere, env=env, capture_output=True)
            self.assertNotEqual(gone.returncode, 0)
            site = os.path.dirname(os.path.dirname(out[0])) if "site-packages" not in out[0] else \
                out[0][:out[0].index("site-packages") + len("site-packages")]
            self.assertEqual([name for name in os.listdir(site) if name.startswith("korvel")], [])


if __name__ == "__main__":
    unittest.main()
