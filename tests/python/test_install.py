"""pip installs korvel from the source tree, as a wheel and editable, into a fresh environment, with
its licence, korvel_probe and the types that type checkers read, and uninstalls it cleanly; another
interpreter's pip refuses it in one line; a source distribution configures with plain CMake."""

import glob
import os
import re
import shutil
import sys
import tarfile
import tempfile
import unittest

import child_process
from test_version_mismatch import other_interpreters

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IMPORT = ("import korvel, korvel_probe; d, a = korvel.get_lists(); "
          "print(korvel.__file__); print(korvel.__version__, len(d), len(a), a[0]); print(korvel.get_lists.__doc__)")
EXPECTED = "dev 34968 27352 ([(0, 7), (0, 0), (1, 0)], 13)"
SHIPPED = ("from importlib import metadata; print(metadata.version('korvel')); "
           "print(*metadata.metadata('korvel').get_all('License-File')); print(*metadata.files('korvel'))")

# Debian's mypy runs under another Python, and checks for the environment's interpreter.
MYPY = shutil.which("mypy")
TYPED = "import korvel\nreveal_type(korvel.get_lists())\nreveal_type(korvel.__version__)\n"
ENTRY = "tuple[list[tuple[int,int]],int]"
REVEALED = [f"tuple[list[{ENTRY}],list[{ENTRY}]]", "str"]


def run_checked(test, *command, **options):
    # A pip install builds korvel: some 30 s on 2 idle cores, and fetches its
    # build requirements from the package index.
    done = child_process.run(command, 600, **options)
    test.assertEqual(done.returncode, 0, done.stdout + done.stderr)
    return done.stdout


class InstallTest(unittest.TestCase):
    """One environment and one source distribution, shared by the tests."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.environment = os.path.join(cls.folder.name, "env")
        cls.elsewhere = os.path.join(cls.folder.name, "elsewhere")
        os.mkdir(cls.elsewhere)
        cls.env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        made = child_process.run([sys.executable, "-m", "venv", cls.environment], timeout=120)
        assert made.returncode == 0, made.stderr
        cls.python = os.path.join(cls.environment, "bin", "python")
        # The build's own front end makes the source distribution.
        built = child_process.run([cls.python, "-m", "pip", "install", "--quiet", "build"], 300, env=cls.env)
        assert built.returncode == 0, built.stderr
        built = child_process.run([cls.python, "-m", "build", "--sdist", "--outdir", cls.folder.name, SOURCE_ROOT],
                                  600, env=cls.env)
        assert built.returncode == 0, built.stdout + built.stderr
        (sdist,) = glob.glob(os.path.join(cls.folder.name, "korvel-*.tar.gz"))
        with tarfile.open(sdist) as archive:
            archive.extractall(cls.folder.name)
        cls.unpacked = sdist[:-len(".tar.gz")]

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def pip_install(self, *arguments):
        # Each build in a folder of its own: the configurations' tests run side by side.
        build = tempfile.mkdtemp(dir=self.folder.name)
        run_checked(self, self.python, "-m", "pip", "install", f"--config-settings=build-dir={build}", *arguments, env=self.env)

    def imported(self):
        """korvel's file and what it returns, imported from a folder that is not the source tree."""
        return run_checked(self, self.python, "-c", IMPORT, cwd=self.elsewhere, env=self.env).splitlines()

    def assert_type_checker_reads_the_stubs(self):
        with self.subTest("mypy"):
            if MYPY is None:
                self.skipTest("mypy is not installed")
            with open(os.path.join(self.elsewhere, "typed.py"), "w") as file:
                file.write(TYPED)
            out = run_checked(self, MYPY, "--python-version", "3.9", "--python-executable", self.python,
                              "--cache-dir", os.path.join(self.folder.name, "mypy-cache"), "typed.py",
                              cwd=self.elsewhere, env=self.env)
            # Spelt "Tuple[builtins.list[...]]" by some releases, "tuple[...]" by later ones.
            revealed = [re.sub(r"builtins\.|\s", "", found).lower()
                        for found in re.findall(r'Revealed type is "(.*)"', out)]
            self.assertEqual(revealed, REVEALED, out)

    def assert_uninstalls_without_a_trace(self):
        site = run_checked(self, self.python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))",
                           env=self.env).strip()
        run_checked(self, self.python, "-m", "pip", "uninstall", "--yes", "korvel", env=self.env)
        gone = child_process.run([self.python, "-c", "import korvel"], 60, cwd=self.elsewhere, env=self.env)
        self.assertNotEqual(gone.returncode, 0)
        self.assertEqual([name for name in os.listdir(site) if "korvel" in name], [])

    def test_install_with_build_isolation_then_uninstall(self):
        self.pip_install(SOURCE_ROOT)
        out = self.imported()
        self.assertTrue(out[0].startswith(self.environment), out)
        self.assertEqual(out[1], EXPECTED)
        version, licences, files = run_checked(self, self.python, "-c", SHIPPED, env=self.env).splitlines()
        self.assertEqual(version, "0.dev0")
        for shipped in ("korvel-stubs/__init__.pyi", "korvel_probe/__init__.py", "korvel_probe/py.typed"):
            self.assertIn(shipped, files.split())
        self.assertEqual(licences, "LICENSE")
        self.assertIn(f"korvel-{version}.dist-info/licenses/LICENSE", files.split())
        self.assert_type_checker_reads_the_stubs()
        self.assert_uninstalls_without_a_trace()

    def test_editable_install_picks_up_a_cpp_change_by_the_same_command_then_uninstall(self):
        self.pip_install("--editable", self.unpacked)
        out = self.imported()
        self.assertEqual(out[1], EXPECTED)
        self.assert_type_checker_reads_the_stubs()

        entry = os.path.join(self.unpacked, "src", "module", "korvel_module.cpp")
        with open(entry) as file:
            code = file.read()
        self.assertIn("get the lists containing the korvels.", code)
        with open(entry, "w") as file:
            file.write(code.replace("get the lists containing the korvels.", "changed"))
        self.pip_install("--editable", self.unpacked)
        self.assertIn("changed", [line.strip() for line in self.imported()[2:]])
        self.assert_uninstalls_without_a_trace()

    def test_pip_of_another_interpreter_refuses_in_one_line(self):
        found = sorted((tuple(map(int, version.split("."))), path) for version, path in other_interpreters().items())
        tried = [(version, path) for version, path in found if version >= (3, 8)]
        if not tried:
            self.skipTest("no interpreter other than 3.9, from 3.8 on, on this machine")
        for version, path in {tried[0], tried[-1]}:  # the oldest and the newest
            version = ".".join(map(str, version))
            with self.subTest(version=version):
                environment = os.path.join(self.folder.name, "python-" + version)
                made = child_process.run([path, "-m", "venv", environment], timeout=120)
                if made.returncode != 0:  # Debian's own Python may lack venv
                    self.skipTest(f"Python {version} cannot make a virtual environment: {made.stderr.strip()}")
                out = child_process.run([os.path.join(environment, "bin", "python"), "-m", "pip", "install",
                                         SOURCE_ROOT], 600, cwd=self.elsewhere, env=self.env)
                self.assertNotEqual(out.returncode, 0)
                errors = [line for line in out.stderr.splitlines() if line.startswith("ERROR")]
                self.assertEqual(errors, [f"ERROR: Package 'korvel' requires a different Python: {version} "
                                          "not in '==3.9.*'"], out.stderr)
                self.assertNotIn("Traceback", out.stdout + out.stderr)

    def test_source_distribution_without_tests_configures_with_plain_cmake(self):
        self.assertFalse(os.path.exists(os.path.join(self.unpacked, "tests")))
        for shipped in ("LICENSE", os.path.join("stubs", "korvel-stubs", "__init__.pyi"),
                        os.path.join("src", "korvel_probe", "__init__.py")):
            self.assertTrue(os.path.isfile(os.path.join(self.unpacked, shipped)), shipped)
        pybind11 = run_checked(self, sys.executable, "-m", "pybind11", "--cmakedir").strip()
        run_checked(self, "cmake", "-S", self.unpacked, "-B", os.path.join(self.folder.name, "plain"),
                    f"-DPython_EXECUTABLE={sys.executable}", f"-Dpybind11_DIR={pybind11}")


if __name__ == "__main__":
    unittest.main()
