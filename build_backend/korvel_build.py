"""Build backend for korvel: builds the extension with CMake and packs the wheel."""

import base64
import hashlib
import io
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path

NAME = "korvel"
VERSION = "0.dev0"  # the module itself reports __version__ "dev"
SUMMARY = "King and rook against king: every position with its exact distance to mate"
SOURCE_ROOT = Path(__file__).resolve().parent.parent
SDIST_CONTENT = ["CMakeLists.txt", "pyproject.toml", "README.md", "docs", "LICENSE", "build_backend", "src", "stubs"]
LICENSE_FILE = "LICENSE"
# Type checkers find the module's types in a stub-only package beside it.
STUBS = Path("stubs", f"{NAME}-stubs")
EDITABLE_BUILD = Path("build", "editable")


def _metadata():
    # License-Expression and License-File came with metadata 2.4, which puts the
    # licence in the wheel under .dist-info/licenses/.
    return (
        "Metadata-Version: 2.4\n"
        f"Name: {NAME}\n"
        f"Version: {VERSION}\n"
        f"Summary: {SUMMARY}\n"
        "License-Expression: MIT\n"
        f"License-File: {LICENSE_FILE}\n"
        "Requires-Python: ==3.9.*\n"
    )


def _wheel_tag():
    """The tag of an extension built for this very interpreter, e.g. cp39-cp39-linux_x86_64."""
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def _require_python39():
    if sys.version_info[:2] != (3, 9) or sys.implementation.name != "cpython":
        raise RuntimeError(
            f"korvel is an extension module for CPython 3.9; this is {sys.implementation.name} "
            f"{sys.version.split()[0]} at {sys.executable}. Run pip with a CPython 3.9 interpreter."
        )


def _require_cmake():
    if shutil.which("cmake") is None:
        raise RuntimeError(
            "cmake was not found on PATH. korvel is built with CMake (3.18 or later), a C++17 "
            "compiler, Boost and pybind11; on Debian: apt-get install cmake g++ libboost-dev pybind11-dev"
        )


def _run_cmake(step, command):
    """Runs one CMake step. pip shows its output only when asked (-v), or when it fails: then the
    output says what went wrong, and a short line says which step, rather than a traceback."""
    if subprocess.run(command, stdout=sys.stderr).returncode != 0:
        raise SystemExit(f"korvel: the CMake {step} failed; its output is above.")


def _cmake_args():
    """CMAKE_ARGS split into words as a shell would, quotes and all. One that cannot be split (an
    unclosed quote) stops the build with one line, the one the benchmark scripts give, rather than
    a traceback in pip's output."""
    given = os.environ.get("CMAKE_ARGS", "")
    try:
        return shlex.split(given)
    except ValueError as error:
        raise SystemExit(f"korvel: CMAKE_ARGS={given!r} cannot be split into arguments: {error}") from None


def _build_extension(build_dir, config_settings, cmake_options=()):
    """Runs CMake for the module alone; CMAKE_ARGS, CMAKE_BUILD_TYPE and CMAKE_BUILD_PARALLEL_LEVEL are respected."""
    _require_python39()
    _require_cmake()
    settings = config_settings or {}
    build_type = settings.get("build-type") or os.environ.get("CMAKE_BUILD_TYPE") or "Release"
    configure = [
        "cmake", "-S", str(SOURCE_ROOT), "-B", str(build_dir),
        f"-DCMAKE_BUILD_TYPE={build_type}",
        f"-DPython_EXECUTABLE={sys.executable}",
        "-DKORVEL_BUILD_TESTS=OFF",
        "-DKORVEL_BUILD_MODULE=ON",
        *cmake_options,
        *_cmake_args(),
    ]
    build = ["cmake", "--build", str(build_dir), "--target", NAME]
    if not os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL"):  # else cmake reads it itself
        build += ["-j", str(os.cpu_count() or 2)]
    _run_cmake("configure step", configure)
    _run_cmake("build", build)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    built = list(Path(build_dir).rglob(NAME + suffix))
    if len(built) != 1:
        raise RuntimeError(f"expected one {NAME}{suffix} in {build_dir}, found {len(built)}")
    return built[0]


def _record_line(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}\n"


def _write_wheel(wheel_directory, content):
    """Packs the files of `content`, a dict from name in the wheel to (bytes, executable)."""
    tag = _wheel_tag()
    dist_info = f"{NAME}-{VERSION}.dist-info"
    wheel_name = f"{NAME}-{VERSION}-{tag}.whl"
    files = dict(content)
    files[f"{dist_info}/METADATA"] = (_metadata().encode(), False)
    files[f"{dist_info}/licenses/{LICENSE_FILE}"] = ((SOURCE_ROOT / LICENSE_FILE).read_bytes(), False)
    files[f"{dist_info}/WHEEL"] = (
        "Wheel-Version: 1.0\n"
        "Generator: korvel_build\n"
        "Root-Is-Purelib: false\n"
        f"Tag: {tag}\n"
    ).encode(), False
    record_name = f"{dist_info}/RECORD"
    record = "".join(_record_line(name, data) for name, (data, _) in files.items()) + f"{record_name},,\n"
    files[record_name] = (record.encode(), False)
    with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for arcname, (data, executable) in files.items():
            info = zipfile.ZipInfo(arcname, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if executable else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return wheel_name


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    """Writes the wheel's metadata without building, so a wrong interpreter is refused at once."""
    _require_python39()
    dist_info = Path(metadata_directory) / f"{NAME}-{VERSION}.dist-info"
    dist_info.mkdir(parents=True, exist_ok=True)
    (dist_info / "METADATA").write_text(_metadata())
    (dist_info / "licenses").mkdir(exist_ok=True)
    shutil.copyfile(SOURCE_ROOT / LICENSE_FILE, dist_info / "licenses" / LICENSE_FILE)
    return dist_info.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def _stub_files():
    """The stub package's files, by their name in the wheel: it installs beside the module."""
    stubs = SOURCE_ROOT / STUBS
    files = {f"{STUBS.name}/{path.relative_to(stubs).as_posix()}": (path.read_bytes(), False)
             for path in sorted(stubs.rglob("*.pyi"))}
    if not files:
        raise RuntimeError(f"no stub files in {stubs}")
    return files


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    with tempfile.TemporaryDirectory(prefix="korvel-build-") as build_dir:
        extension = _build_extension(build_dir, config_settings)
        return _write_wheel(wheel_directory, {extension.name: (extension.read_bytes(), True), **_stub_files()})


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """Builds the module in the source tree and installs only a path file that points there.

    The module stays in a folder of its own, build/editable/python, so running
    the same pip command again rebuilds what changed and every new interpreter
    imports the new build; uninstalling removes the path file. The path file
    also names the source's stubs/ folder, where type checkers find the stub
    package as it is edited; nothing in that folder can be imported.
    """
    build_dir = SOURCE_ROOT / EDITABLE_BUILD
    module_dir = build_dir / "python"
    _build_extension(build_dir, config_settings, [f"-DCMAKE_LIBRARY_OUTPUT_DIRECTORY={module_dir}"])
    paths = f"{module_dir}\n{SOURCE_ROOT / STUBS.parent}\n"
    return _write_wheel(wheel_directory, {f"{NAME}-editable.pth": (paths.encode(), False)})


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    sdist_name = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / sdist_name, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for entry in SDIST_CONTENT:
            sdist.add(SOURCE_ROOT / entry, arcname=f"{base}/{entry}",
                      filter=lambda info: None if "__pycache__" in info.name else info)
        pkg_info = _metadata().encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(pkg_info)
        sdist.addfile(info, io.BytesIO(pkg_info))
    return sdist_name
