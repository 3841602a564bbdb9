"""Calls every public entry point of quorvane (failing calls included) ten
thousand times each and reports what stays behind: the growth of resident
memory, of the bytes in use in the C heap and of the blocks held by Python's
allocator, and whether any input's reference count changed.

    PYTHONPATH=build python3 tools/leak_check.py [calls]
"""

import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))

from entry_calls import entry_calls, make_inputs, reference_counts
from memory_use import Snapshot, growth_over


def kib(value):
    return "n/a" if value is None else f"{value / 1024:+.1f}"


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    inputs = make_inputs()
    references = reference_counts(inputs)
    start_all = Snapshot()
    print(f"{'entry point':42} {'calls':>6} {'RSS KiB':>9} {'heap KiB':>9} {'blocks':>7} {'us/call':>8}")
    worst = {"resident": 0, "heap": 0, "blocks": 0}
    for name, call in entry_calls(inputs).items():
        started = time.perf_counter()
        growth = growth_over(call, calls)
        per_call = (time.perf_counter() - started) / (calls + 200) * 1e6
        print(
            f"{name:42} {calls:>6} {kib(growth['resident']):>9} {kib(growth['heap']):>9} {growth['blocks']:>+7}"
            f" {per_call:>8.1f}"
        )
        for key in worst:
            if growth[key] is not None:
                worst[key] = max(worst[key], growth[key])
    total = Snapshot().growth_since(start_all)
    changed = sorted({str(key[0]) for key, count in reference_counts(inputs).items() if count != references[key]})
    print(
        f"largest growth of one entry point: RSS {kib(worst['resident'])} KiB, heap {kib(worst['heap'])} KiB,"
        f" {worst['blocks']:+} blocks"
    )
    print(f"whole run: RSS {kib(total['resident'])} KiB, heap {kib(total['heap'])} KiB, {total['blocks']:+} blocks")
    print("reference counts of the inputs:", "changed for " + ", ".join(changed) if changed else "unchanged")
    return 1 if changed else 0


if __name__ == "__main__":
    sys.exit(main())
