"""Counts every test of the configurations scripts/test ran, C++ and Python, each on its own, and
ends with one line: "korvel: N passed, N failed, N skipped".
    python scripts/count-tests.py build/test/release build/test/clang ...
It reads the CTest report that each configuration's test preset writes (ctest-junit.xml in its
build folder). A GoogleTest case is a CTest test of its own. A Python test file is one CTest test,
whose pytest reports each of its tests, parametrised cases each, in tests/pytest/FILE.xml: those
count in its place. A file that leaves no report (it crashed or ran out of time) counts as one
failed test, and so does one whose CTest test failed though its report shows no failure."""

import collections
import os
import sys
import xml.etree.ElementTree as tree


def pytest_outcomes(report):
    """(name, outcome) of each test in a pytest JUnit report."""
    for case in tree.parse(report).getroot().iter("testcase"):
        name = "::".join(filter(None, (case.get("classname"), case.get("name"))))
        children = {child.tag for child in case}
        if children & {"failure", "error"}:
            yield name, "failed"
        elif "skipped" in children:
            yield name, "skipped"
        else:
            yield name, "passed"


def outcomes(build):
    """(name, outcome) of each test that the configuration built in build ran."""
    for case in tree.parse(os.path.join(build, "ctest-junit.xml")).getroot().iter("testcase"):
        name, status = case.get("name"), case.get("status")
        if status in ("notrun", "disabled"):
            yield name, "skipped"
            continue
        passed = status == "run"
        configuration, _, test = name.rpartition("/")
        if not test.startswith("python."):
            yield name, "passed" if passed else "failed"
            continue
        report = os.path.join(build, "tests", "pytest", test[len("python."):] + ".xml")
        try:
            found = [(f"{configuration}/{test_name}", outcome) for test_name, outcome in pytest_outcomes(report)]
        except (OSError, tree.ParseError) as error:
            yield f"{name} (no report from pytest: {error})", "failed"
            continue
        yield from found
        if not passed and all(outcome != "failed" for _, outcome in found):
            yield f"{name} (failed beyond its tests: CTest's status {status})", "failed"


def main(builds):
    counts = collections.Counter()
    for build in builds:
        try:
            for name, outcome in outcomes(build):
                counts[outcome] += 1
                if outcome == "failed":
                    print(f"korvel: failed: {name}")
        except (OSError, tree.ParseError) as error:
            print(f"korvel: failed: the tests of {build} (no report from CTest: {error})")
            counts["failed"] += 1
    print(f"korvel: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if counts["failed"] or not counts["passed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
