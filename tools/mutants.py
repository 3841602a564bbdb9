"""The fault-finding check: applies small realistic faults to a copy of the
tree one at a time, rebuilds incrementally, runs the suite stopping at the
first failure, and prints which faults the suite killed and which survived.

    python3 tools/mutants.py [--only NAME ...] [--list] [--keep DIR]

A surviving fault is a bug the suite would let through: close the gap with
a test that fails on it, or explain why the fault cannot be seen. Slow (a
build and a suite run per fault), so not part of CI; run it before and after
changing the tests. Faults live in tools/mutant_faults.py.
"""

import argparse
import dataclasses
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))

from mutant_faults import FAULTS  # noqa: E402

# Tests that check the packaging, not behaviour: no fault of the table can
# change what they see, and each would rebuild the wheel (the CI examples
# run on it too; the behaviour they use is tested on the source tree). And
# the check that every fault stands in its file, which any applied fault fails.
PYTEST_SKIP = [
    "--ignore=tests/python/test_packaging.py",
    "--ignore=tests/python/test_ci_examples.py",
    "--ignore=tests/python/test_mutant_faults.py",
]
FAULT_SECONDS = 1800  # a fault that makes the suite hang counts as killed


@dataclasses.dataclass
class Outcome:
    name: str
    killed: bool
    by: str
    seconds: float


def copy_tree(target):
    """The tracked and untracked-but-not-ignored files of the checkout, as
    they stand in the working tree."""
    listed = (
        subprocess.run(
            ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
            cwd=ROOT,
            check=True,
            capture_output=True,
        )
        .stdout.decode()
        .split("\0")
    )
    for name in filter(None, listed):
        source = ROOT / name
        if source.is_file():
            destination = target / name
            destination.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, destination)


def run(command, cwd, env=None, timeout=FAULT_SECONDS):
    """(exit status, output) of a command; a timeout reads as status -1."""
    try:
        done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return -1, "timed out"
    return done.returncode, done.stdout + done.stderr


class Tree:
    """The copy of the tree, its build directory and its suite."""

    def __init__(self, root):
        self.root, self.build = root, root / "build"
        python = sys.executable
        self.env = dict(os.environ, QUORVANE_BUILD_DIR=str(self.build), PYTHONPATH=f"{self.build}:{root / 'python'}")
        status, output = run(
            ["cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DQUORVANE_TESTS=ON", f"-DPython_EXECUTABLE={python}"],
            root,
        )
        if status != 0:
            sys.exit(f"configure failed:\n{output}")

    def compile(self):
        return run(["cmake", "--build", "build"], self.root)

    def first_failure(self, native):
        """The first failing test of the suite, or None when it passes. A
        fault in Python code cannot change what the C++ tests see."""
        if native:
            status, output = run(
                ["ctest", "--test-dir", "build", "--stop-on-failure", "--output-on-failure"], self.root
            )
            if status != 0:
                failed = re.search(r"\d+ - (\S+) \(", output)
                return f"ctest {failed.group(1)}" if failed else "ctest (hung or crashed)"
        status, output = run(
            [
                sys.executable,
                "-m",
                "pytest",
                "tests/python",
                "-x",
                "-q",
                "-rf",
                "-n",
                "2",
                "-p",
                "no:cacheprovider",
                *PYTEST_SKIP,
            ],
            self.root,
            self.env,
        )
        if status in (0, 5):
            return None
        failed = re.search(r"^(?:FAILED|ERROR) (\S+)", output, re.MULTILINE)
        return failed.group(1) if failed else ("pytest timed out" if status == -1 else f"pytest status {status}")


def try_fault(tree, fault):
    file = tree.root / fault.file
    original = file.read_text()
    if original.count(fault.original) != 1:
        sys.exit(f"{fault.name}: its text stands {original.count(fault.original)} times in {fault.file}, not once")
    started = time.monotonic()
    file.write_text(original.replace(fault.original, fault.replacement))
    try:
        native = not fault.file.endswith(".py")
        if native:
            status, output = tree.compile()
            if status != 0:
                sys.exit(f"{fault.name}: the fault does not compile\n{output[-3000:]}")
        failure = tree.first_failure(native)
    finally:
        file.write_text(original)
        if native:  # the next fault, in Python code, must meet the unchanged build
            tree.compile()
    return Outcome(fault.name, failure is not None, failure or "-", time.monotonic() - started)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="+", metavar="NAME", help="run only these faults")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("--keep", type=pathlib.Path, help="make the copy here and keep it (reused when present)")
    args = parser.parse_args()
    faults = [fault for fault in FAULTS if not args.only or fault.name in args.only]
    if args.list:
        for fault in FAULTS:
            print(f"{fault.name:40} {fault.file}")
        return 0
    with tempfile.TemporaryDirectory(prefix="quorvane-mutants-") as scratch:
        root = args.keep or pathlib.Path(scratch)
        if not (root / "CMakeLists.txt").exists():
            copy_tree(root)
        tree = Tree(root)
        status, output = tree.compile()
        if status != 0:
            sys.exit(f"the unchanged tree does not build\n{output[-3000:]}")
        failure = tree.first_failure(native=True)
        if failure is not None:
            sys.exit(f"the suite does not pass on the unchanged tree: {failure}")
        outcomes = []
        for fault in faults:
            outcome = try_fault(tree, fault)
            outcomes.append(outcome)
            verdict = "killed  " if outcome.killed else "SURVIVED"
            print(f"{verdict} {fault.name:40} {outcome.seconds:6.0f} s  {outcome.by}", flush=True)
        tree.compile()
    killed = sum(outcome.killed for outcome in outcomes)
    print(f"\n{killed} of {len(outcomes)} faults killed ({killed / max(len(outcomes), 1):.0%})")
    return 0 if killed == len(outcomes) else 1


if __name__ == "__main__":
    sys.exit(main())
