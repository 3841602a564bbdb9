"""Timing helpers for the benchmarks: figures are ratios against a yardstick
measured in the same run, since absolute times on shared machines drift."""

import os
import pathlib
import subprocess
import sys
import time
from collections.abc import Callable
from typing import TypeVar

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCREENS = ROOT / "examples" / "screens"
BUILD = ROOT / "build"
if (BUILD / "quorvane.abi3.so").exists():
    sys.path.insert(0, str(BUILD))
# The test suite's helpers, memory_use among them.
TEST_HELPERS = ROOT / "tests" / "python"

T = TypeVar("T")


def run_cpp_bench(name: str, *args: object) -> None:
    """Runs the C++ benchmark `name` built beside the module, which prints its own figures."""
    subprocess.run([str(BUILD / "bench" / name), *map(str, args)], check=True)


def memory_probe(source: str, *args: object) -> list[str]:
    """What a fresh Python process running `source` prints, split into words:
    a process of its own, so that the peak memory it measures is the probe's.
    It imports the built module and the test suite's helpers."""
    probe = subprocess.run(
        [sys.executable, "-c", source, *map(str, args)],
        check=True,
        capture_output=True,
        text=True,
        env={"PYTHONPATH": os.pathsep.join([str(BUILD), str(TEST_HELPERS)])},
    )
    return probe.stdout.split()


def pillow_decode(*names: str) -> Callable[[], None]:
    """The yardstick of image input: Pillow decoding the screenshots one
    after the other (Image.open(...).load())."""
    from PIL import Image

    paths = [SCREENS / name for name in names]

    def decode() -> None:
        for path in paths:
            with Image.open(path) as image:
                image.load()

    return decode


def best_of(function: Callable[[], object], repeats: int = 15) -> float:
    """The fastest of several runs, in seconds: the least disturbed one."""
    times: list[float] = []
    for _ in range(repeats):
        started = time.perf_counter()
        function()
        times.append(time.perf_counter() - started)
    return min(times)


def on_fresh(make: Callable[[], T], call: Callable[[T], object], count: int) -> Callable[[], object]:
    """`call` on a new `make()` each time, `count` times, all made beforehand:
    a figure an object keeps once computed is timed as computed, not as kept."""
    made = [make() for _ in range(count)]
    return lambda: call(made.pop())


def compare(
    label: str,
    ours: Callable[[], object],
    yardstick: Callable[[], object],
    yardstick_label: str,
    repeats: int = 15,
    target: float | None = None,
) -> float:
    """Times both alternately and prints ours / yardstick."""
    ours_times: list[float] = []
    yard_times: list[float] = []
    for _ in range(repeats):
        ours_times.append(best_of(ours, 1))
        yard_times.append(best_of(yardstick, 1))
    mine, theirs = min(ours_times), min(yard_times)
    ratio = mine / theirs
    verdict = "" if target is None else f" (target <= {target:.2f}x: {'met' if ratio <= target else 'MISSED'})"
    print(f"{label}: {mine * 1e3:.2f} ms vs {yardstick_label} {theirs * 1e3:.2f} ms -> {ratio:.3f}x{verdict}")
    return ratio
