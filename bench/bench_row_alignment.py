"""Comparison.row_alignment on the inserted-banner screenshots against
diff_count of the same pair, row hashing alone (bench/cpp/row_hash_bench),
and the peak memory of an alignment that uses its whole default edit budget
(the trace then holds 2049^2 entries)."""

import timing

import quorvane

BASELINE = timing.SCREENS / "page_baseline.png"
CURRENT = timing.SCREENS / "page_inserted_banner.png"

# Runs in the child: two 1366-pixel-wide images with no row in common, so
# the search runs every round of the default budget and then gives up; the
# growth of the peak resident set over the set just before the call.
MEMORY_PROBE = r"""
import time
import numpy as np
import quorvane
from memory_use import peak_growth

width, height = 1366, 4200
rows = np.arange(2 * height, dtype=np.uint32).reshape(2, height, 1) | np.uint32(0xFF000000)
baseline, current = (np.repeat(rows[i], width, axis=1).tobytes() for i in range(2))
comparison = quorvane.Comparison.from_rgba(baseline, width, height, current, width, height)
started = time.perf_counter()
grown, alignment = peak_growth(lambda: comparison.row_alignment(max_edit_ratio=1.0))
elapsed = time.perf_counter() - started
print(grown, alignment.aligned, elapsed)
"""


def main():
    comparison = quorvane.Comparison(BASELINE.read_bytes(), CURRENT.read_bytes())
    alignment = comparison.row_alignment()
    print(f"{alignment!r}, bands {[(band.kind, band.y, band.rows) for band in alignment.bands]}")
    timing.compare(
        "row_alignment(), page_baseline against page_inserted_banner",
        comparison.row_alignment,
        comparison.diff_count,
        "diff_count() of the same pair",
        target=2.0,
    )

    timing.run_cpp_bench("row_hash_bench", BASELINE)

    grown, aligned, elapsed = timing.memory_probe(MEMORY_PROBE)
    trace_mib = 2049**2 * 8 / 2**20
    print(
        f"row_alignment() through the whole default budget (2048 edits, not aligned: {aligned == 'False'}): "
        f"{float(elapsed) * 1e3:.0f} ms, peak RSS growth {int(grown) / 2**20:.1f} MiB "
        f"(trace {trace_mib:.1f} MiB + row hashes)"
    )


if __name__ == "__main__":
    main()
