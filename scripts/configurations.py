"""The test configurations of CMakePresets.json, for scripts/test; prints one a line:
    python scripts/configurations.py                    the configurations' names
    python scripts/configurations.py requirements NAME  the Python packages NAME takes from the
                                                        package index beside requirements/tests.txt
    python scripts/configurations.py pip PACKAGE...     what pip's build asks for of each package
A configuration chooses its packages in the presets' vendor.korvel.python, each as one of
  oldest   the oldest release that pip's build takes ("pybind11>=2.10.2,<4": pybind11==2.10.2)
  pip      what pip's build asks for, as pyproject.toml writes it
  ==1.78.0 any other version specifier, as it stands
so that each version is written once, in pyproject.toml or in the presets."""

import json
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def pip_requirement(name):
    """The one requirement on name that pyproject.toml writes, such as "pybind11>=2.10.2,<4"."""
    with open(os.path.join(ROOT, "pyproject.toml")) as file:
        found = set(re.findall(r'"(%s\s*[=<>!~][^"]*)"' % re.escape(name), file.read()))
    if len(found) != 1:
        sys.exit(f"korvel: pyproject.toml asks for {name} {len(found)} ways, not one: {sorted(found)}")
    return found.pop().replace(" ", "")


def chosen(name, choice):
    if choice == "pip":
        return pip_requirement(name)
    if choice == "oldest":
        oldest = re.search(r">=([0-9][0-9.]*)", pip_requirement(name))
        if oldest is None:
            sys.exit(f"korvel: pyproject.toml gives no oldest release of {name} (>=)")
        return f"{name}=={oldest.group(1)}"
    if re.match(r"[=<>!~]", choice):
        return name + choice
    sys.exit(f"korvel: {choice!r} for {name} is none of oldest, pip or a version specifier")


def configurations():
    with open(os.path.join(ROOT, "CMakePresets.json")) as file:
        presets = json.load(file)["configurePresets"]
    return {preset["name"]: preset for preset in presets if not preset.get("hidden")}


def requirements(name):
    found = configurations()
    if name not in found:
        sys.exit(f"korvel: no configuration {name!r}; there are: {' '.join(found)}")
    chosen_packages = found[name].get("vendor", {}).get("korvel", {}).get("python", {})
    return [chosen(package, choice) for package, choice in chosen_packages.items()]


if __name__ == "__main__":
    command, arguments = (sys.argv[1:2] or [None])[0], sys.argv[2:]
    if command is None:
        lines = list(configurations())
    elif command == "requirements" and len(arguments) == 1:
        lines = requirements(arguments[0])
    elif command == "pip" and arguments:
        lines = [pip_requirement(package) for package in arguments]
    else:
        sys.exit(__doc__)
    if lines:
        print(*lines, sep="\n")
