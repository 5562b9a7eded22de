"""The manylinux wheel of scripts/build-wheel installs without an index into a fresh environment
that never saw the source tree, in a process that can reach no compiler, and gives the exact lists."""

import glob
import os
import shutil
import sys
import tempfile

import child_process

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# sha256 of repr(korvel.get_lists()) on a first call: every entry, in order, with its value.
LISTS_DIGEST = "edf05d1b78df81ceda2153892048c8888e41bf4f69d2cdf6d2bc4c3e54c74481"
CHECK = """
import hashlib, shutil, korvel, korvel_probe
print([tool for tool in ("cc", "c++", "gcc", "g++", "clang", "clang++") if shutil.which(tool)])
print(hashlib.sha256(repr(korvel.get_lists()).encode()).hexdigest())
print(korvel.__file__)
"""


def test_manylinux_wheel_installs_and_works_with_no_index_and_no_compiler():
    with tempfile.TemporaryDirectory() as folder:
        # Built as a user builds it: none of this configuration's build settings.
        env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "CMAKE_ARGS", "KORVEL_BOOST")}
        built = child_process.run(["bash", os.path.join(SOURCE_ROOT, "scripts", "build-wheel"), folder], 900,
                                  env=dict(env, PYTHON=sys.executable))
        assert built.returncode == 0, built.stdout + built.stderr
        (wheel,) = glob.glob(os.path.join(folder, "korvel-*.whl"))
        assert "-cp39-cp39-manylinux_" in os.path.basename(wheel), wheel
        assert "is consistent with" in built.stdout, built.stdout

        environment = os.path.join(folder, "env")
        made = child_process.run([sys.executable, "-m", "venv", environment], 120, cwd=folder)
        assert made.returncode == 0, made.stderr
        # The environment's own tools only, and nothing else on PATH.
        bare = {"PATH": os.path.join(environment, "bin"), "HOME": folder, "LANG": "C.UTF-8"}
        assert not any(shutil.which(tool, path=bare["PATH"]) for tool in ("c++", "g++", "cmake"))
        python = os.path.join(environment, "bin", "python")
        installed = child_process.run([python, "-m", "pip", "install", "--no-index", "--no-deps", wheel], 300,
                                      cwd=folder, env=bare)
        assert installed.returncode == 0, installed.stdout + installed.stderr
        checked = child_process.run([python, "-c", CHECK], 300, cwd=folder, env=bare)
        assert checked.returncode == 0, checked.stderr
        compilers, digest, module = checked.stdout.splitlines()
        assert compilers == "[]"
        assert digest == LISTS_DIGEST
        assert module.startswith(environment), module
