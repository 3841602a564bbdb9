"""Ignore regions: painting costs one pass over the rectangles' pixels, and
nothing gets slower when `ignore` is empty.

1. The C++ benchmark: painting rectangles into a screenshot against
   std::fill_n writing as many pixel words.
2. A pair's whole comparison (construction, count, diff image, SSIM, a
   batch) with `ignore=()` and without the keyword, in child processes.
3. With QUORVANE_BASELINE_BUILD set to the build directory of the module
   before ignore regions, the same comparison against that module, the two
   run by turns in child processes.
"""

import os
import statistics
import subprocess
import sys

import timing


def painting():
    timing.run_cpp_bench("ignore_bench", timing.SCREENS / "page_baseline.png")


# One comparison of the example pair, timed in a child process that imports
# the module from the build directory it is given.
WORKLOAD = r"""
import sys
sys.path.insert(0, sys.argv[1])
import quorvane
assert quorvane.__file__.startswith(sys.argv[1]), quorvane.__file__
sys.path.insert(1, sys.argv[2])
import timing
baseline, current = (open(path, "rb").read() for path in sys.argv[3:5])
extra = eval(sys.argv[5])

def work():
    comparison = quorvane.Comparison(baseline, current, **extra)
    comparison.diff_count()
    comparison.diff_image()
    comparison.ssim()
    quorvane.compare_batch([(baseline, current)] * 4, return_diff=True, thumbnail_width=200, **extra)

print(timing.best_of(work, 3))
"""


def child(build, extra):
    run = subprocess.run(
        [
            sys.executable,
            "-c",
            WORKLOAD,
            str(build),
            str(timing.ROOT / "bench"),
            str(timing.SCREENS / "page_baseline.png"),
            str(timing.SCREENS / "page_edited_paragraph.png"),
            repr(extra),
        ],
        check=True,
        capture_output=True,
        text=True,
        env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"},
    )
    return float(run.stdout)


def by_turns(first, second, turns=3):
    """Best times of the two, run by turns so that a disturbance of the
    shared machine hits both alike."""
    times = ([], [])
    for _ in range(turns):
        times[0].append(first())
        times[1].append(second())
    return times


def line(label, ours, theirs, their_label):
    print(
        f"{label}: {min(ours) * 1e3:.1f} ms (median {statistics.median(ours) * 1e3:.1f}) vs {their_label} "
        f"{min(theirs) * 1e3:.1f} ms (median {statistics.median(theirs) * 1e3:.1f}) -> "
        f"{min(ours) / min(theirs):.3f}x"
    )


def empty_ignore():
    label = "comparison of the example pair (construction, count, diff image, SSIM, a batch of 4)"
    empty, omitted = by_turns(lambda: child(timing.BUILD, {"ignore": ()}), lambda: child(timing.BUILD, {}))
    line(f"{label}, ignore=()", empty, omitted, "the keyword omitted")
    before = os.environ.get("QUORVANE_BASELINE_BUILD")
    if not before:
        print("against the module before ignore regions: set QUORVANE_BASELINE_BUILD to its build directory")
        return
    ours, theirs = by_turns(lambda: child(timing.BUILD, {}), lambda: child(before, {}))
    line(f"{label}, this module", ours, theirs, "the module before ignore regions")


if __name__ == "__main__":
    painting()
    empty_ignore()
