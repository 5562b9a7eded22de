"""The manylinux2014 wheel of scripts/build-wheel installs without an index into a fresh environment
that never saw the source tree, in a process that can reach no compiler, and gives the exact lists.
Its module offers nothing but its entry, and runs on any x86-64 CPU."""

import glob
import os
import re
import shutil
import subprocess
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
# Instructions that the first x86-64 CPUs lack: VEX and EVEX encodings (AVX and on: their mnemonics
# begin with v), and the extensions after SSE2 that compilers use on their own. tzcnt is left out:
# on CPUs without it, it runs as bsf, which gives the same for the nonzero inputs it is used on.
BEYOND_BASELINE = re.compile(r"v\w+|popcnt|lzcnt|andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|rorx|sarx|shlx|shrx|"
                             r"mulx|adcx|adox|movbe|crc32|pshufb|palignr|ptest|pmulld|pminsd|pmaxsd|pblendvb|"
                             r"pcmpeqq|pcmpgtq|pinsr[dq]|pextr[bdq]|round[sp][sd]|lddqu|movddup|movs[hl]dup")


def instructions(module):
    """The mnemonics of the module's code, as objdump reads them."""
    code = subprocess.run(["objdump", "-d", "--no-show-raw-insn", module], capture_output=True, text=True,
                          check=True).stdout
    return {line.split("\t")[1].split()[0] for line in code.splitlines() if line.count("\t") >= 1
            and re.match(r"\s+[0-9a-f]+:\t\S", line)}


def test_manylinux2014_wheel_installs_and_works_with_no_index_and_no_compiler():
    with tempfile.TemporaryDirectory() as folder:
        # Built as a user builds it: none of this configuration's build settings.
        env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "CMAKE_ARGS", "KORVEL_BOOST")}
        # A first build compiles zig's libc++ too: some 9 minutes on a busy 2-core machine.
        built = child_process.run(["bash", os.path.join(SOURCE_ROOT, "scripts", "build-wheel"), folder], 1500,
                                  env=dict(env, PYTHON=sys.executable))
        assert built.returncode == 0, built.stdout + built.stderr
        (wheel,) = glob.glob(os.path.join(folder, "korvel-*.whl"))
        assert os.path.basename(wheel).endswith("-cp39-cp39-manylinux2014_x86_64.manylinux_2_17_x86_64.whl"), wheel
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

        exported = subprocess.run(["nm", "-D", "--defined-only", "--format=posix", module], capture_output=True,
                                  text=True, check=True).stdout
        assert [line.split()[0] for line in exported.splitlines()] == ["PyInit_korvel"], exported
        found = instructions(module)
        assert "ret" in found and "call" in found, sorted(found)
        assert sorted(filter(BEYOND_BASELINE.fullmatch, found)) == []
