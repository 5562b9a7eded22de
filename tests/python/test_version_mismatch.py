"""Under any interpreter other than 3.9, importing a copy of korvel fails with an ImportError.

Interpreters 3.10 to 3.12 load the file, and the module's entry refuses them, naming 3.9.
Older and newer ones already fail to load it: they lack functions the module uses.
"""

import glob
import os
import shutil
import sys
import tempfile
import unittest

import child_process
import korvel


def other_interpreters():
    """Python interpreters on this machine that are not 3.9, one per version."""
    candidates = ["/usr/bin/python3"] + sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3")))
    found = {}
    for path in candidates:
        if not os.access(path, os.X_OK):
            continue
        probe = child_process.run([path, "-c", "import sys; print(sys.version.split()[0])"], timeout=60)
        version = probe.stdout.strip()
        if probe.returncode == 0 and version and not version.startswith("3.9."):
            found.setdefault(version, path)
    return found


class VersionMismatchTest(unittest.TestCase):
    def test_import_under_other_interpreters_names_3_9(self):
        interpreters = other_interpreters()
        if not interpreters:
            self.skipTest("no interpreter other than 3.9 on this machine")
        with tempfile.TemporaryDirectory() as folder:
            # The plain suffix is one that every CPython looks for.
            shutil.copy(korvel.__file__, os.path.join(folder, "korvel.so"))
            for version, path in interpreters.items():
                with self.subTest(version=version):
                    out = child_process.run([path, "-c", "import korvel"], 60, cwd=folder,
                                            env=dict(os.environ, PYTHONPATH=folder))
                    self.assertNotEqual(out.returncode, 0)
                    self.assertIn("ImportError: ", out.stderr)
                    if (3, 10) <= tuple(int(part) for part in version.split(".")[:2]) <= (3, 12):
                        self.assertIn("ImportError: Python version mismatch: module was compiled for Python 3.9, "
                                      "but the interpreter version is incompatible: " + version, out.stderr)


if __name__ == "__main__":
    unittest.main()
