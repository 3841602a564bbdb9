"""Peak memory of a row alignment with an unlimited edit budget on two
unrelated tall images (every row differs, so the shortest script needs an
edit for every row): the search trace is capped at 1 GiB, so the call either
answers or raises MemoryError within about that much memory, and the pair
stays usable.

    PYTHONPATH=build python3 tools/alignment_memory.py [width height] [--json]
"""

import json
import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))

from memory_use import peak_growth

import quorvane


def measure(width=1000, height=30000):
    size = width * height * 4
    pair = quorvane.Comparison.from_rgba(os.urandom(size), width, height, os.urandom(size), width, height)
    started = time.perf_counter()
    peak, outcome = peak_growth(lambda: pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=2**63))
    seconds = time.perf_counter() - started
    if isinstance(outcome, BaseException) and not isinstance(outcome, MemoryError):
        raise outcome
    return {
        "size": f"{width}x{height}",
        "outcome": type(outcome).__name__ if isinstance(outcome, MemoryError) else repr(outcome),
        "peak_bytes": peak,
        "seconds": round(seconds, 2),
        "usable_after": pair.diff_count_capped(1) >= 1,
    }


def main():
    numbers = [int(arg) for arg in sys.argv[1:] if not arg.startswith("--")]
    result = measure(*numbers)
    if "--json" in sys.argv:
        print(json.dumps(result))
        return
    peak = "unknown" if result["peak_bytes"] is None else f"{result['peak_bytes'] / 2**20:.0f} MiB"
    print(f"row_alignment(max_edit_ratio=1.0, max_edit_rows=2**63) on two unrelated {result['size']} images:")
    print(
        f"  {result['outcome']} after {result['seconds']} s, resident memory peak {peak} above the start;"
        f" the pair is {'still usable' if result['usable_after'] else 'NOT usable'}"
    )


if __name__ == "__main__":
    main()
