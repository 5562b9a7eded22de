"""pip installs korvel without a package index, as a wheel and editable, into a fresh environment,
with its licence and the types that type checkers read, and uninstalls it cleanly; a source
distribution configures with plain CMake."""

import os
import re
import shutil
import sys
import tarfile
import tempfile
import unittest
import unittest.mock

import child_process

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_ROOT, "build_backend"))
import korvel_build  # noqa: E402

IMPORT = ("import korvel; d, a = korvel.get_lists(); "
          "print(korvel.__file__); print(korvel.__version__, len(d), len(a), a[0])")
EXPECTED = "dev 34968 27352 ([(0, 7), (0, 0), (1, 0)], 13)"
SHIPPED = ("from importlib import metadata; print(*metadata.metadata('korvel').get_all('License-File')); "
           "print(*metadata.files('korvel'))")

# Debian's mypy runs under another Python, and checks for the environment's interpreter.
MYPY = shutil.which("mypy")
TYPED = "import korvel\nreveal_type(korvel.get_lists())\nreveal_type(korvel.__version__)\n"
ENTRY = "tuple[list[tuple[int,int]],int]"
REVEALED = [f"tuple[list[{ENTRY}],list[{ENTRY}]]", "str"]


def run_checked(test, *command, **options):
    # A pip install builds korvel: some 30 s on 2 idle cores.
    done = child_process.run(command, 300, **options)
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
        made = child_process.run([sys.executable, "-m", "venv", cls.environment], timeout=120)
        assert made.returncode == 0, made.stderr
        cls.python = os.path.join(cls.environment, "bin", "python")
        cls.env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        sdist = korvel_build.build_sdist(cls.folder.name)
        with tarfile.open(os.path.join(cls.folder.name, sdist)) as archive:
            archive.extractall(cls.folder.name)
        cls.unpacked = os.path.join(cls.folder.name, sdist[:-len(".tar.gz")])

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def pip_install(self, *arguments):
        run_checked(self, self.python, "-m", "pip", "install", "--no-index", "--no-cache-dir", *arguments,
                    env=self.env)

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
        self.assertEqual([name for name in os.listdir(site) if name.startswith("korvel")], [])

    def test_install_with_build_isolation_then_uninstall(self):
        self.pip_install(SOURCE_ROOT)
        out = self.imported()
        self.assertTrue(out[0].startswith(self.environment), out)
        self.assertEqual(out[1], EXPECTED)
        licences, files = run_checked(self, self.python, "-c", SHIPPED, env=self.env).splitlines()
        self.assertIn("korvel-stubs/__init__.pyi", files.split())
        for licence in licences.split():
            self.assertIn(f"korvel-{korvel_build.VERSION}.dist-info/licenses/{licence}", files.split())
        self.assert_type_checker_reads_the_stubs()
        self.assert_uninstalls_without_a_trace()

    def test_editable_install_picks_up_a_cpp_change_by_the_same_command_then_uninstall(self):
        self.pip_install("--editable", self.unpacked)
        out = self.imported()
        self.assertTrue(out[0].startswith(os.path.join(self.unpacked, "build", "editable")), out)
        self.assertEqual(out[1], EXPECTED)
        self.assert_type_checker_reads_the_stubs()

        entry = os.path.join(self.unpacked, "src", "module", "korvel_module.cpp")
        with open(entry) as file:
            code = file.read()
        with open(entry, "w") as file:
            file.write(code.replace('"__version__", "dev"', '"__version__", "changed"'))
        self.pip_install("--editable", self.unpacked)
        self.assertEqual(self.imported()[1].split()[0], "changed")
        self.assert_uninstalls_without_a_trace()

    def test_cmake_args_that_cannot_be_split_stop_the_build_with_one_line(self):
        with unittest.mock.patch.dict(os.environ, CMAKE_ARGS="-DCMAKE_CXX_FLAGS='-O2"):
            with self.assertRaises(SystemExit) as stopped:
                korvel_build._cmake_args()
        self.assertRegex(stopped.exception.code, r"\Akorvel: CMAKE_ARGS=.* cannot be split into arguments: .+\Z")

    def test_source_distribution_without_tests_configures_with_plain_cmake(self):
        self.assertFalse(os.path.exists(os.path.join(self.unpacked, "tests")))
        for shipped in ("LICENSE", os.path.join("stubs", "korvel-stubs", "__init__.pyi")):
            self.assertTrue(os.path.isfile(os.path.join(self.unpacked, shipped)), shipped)
        run_checked(self, "cmake", "-S", self.unpacked, "-B", os.path.join(self.folder.name, "plain"),
                    f"-DPython_EXECUTABLE={sys.executable}")


if __name__ == "__main__":
    unittest.main()
