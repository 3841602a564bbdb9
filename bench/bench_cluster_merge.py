"""Comparison.clusters with merge_gap=1 on pairs with 160,000 clusters
against the same clustering without merging: merging looks only at the
boxes near each growing box, so it adds a fraction of the clustering's own
cost instead of testing every pair of boxes."""

import numpy as np
import timing

import quorvane

SIDE = 400  # specks a side: 160,000 clusters


def speck_pair(spacing, jitter):
    """A white page and the same page with SIDE * SIDE black specks on a
    lattice of `spacing` pixels, each moved by up to `jitter` - 1 pixels: with
    a dilation of 1 each speck is a 3 x 3 box."""
    size = SIDE * spacing + jitter
    rng = np.random.default_rng(1)
    rows, columns = np.indices((SIDE, SIDE)) * spacing + rng.integers(0, jitter, (2, SIDE, SIDE))
    baseline = np.full((size, size, 4), 255, np.uint8)
    current = baseline.copy()
    current[rows.ravel(), columns.ravel(), :3] = 0
    return quorvane.Comparison.from_rgba(baseline.tobytes(), size, size, current.tobytes(), size, size)


def main():
    options = {"dilation": 1, "min_pixels": 1}
    # Boxes two to four pixels apart merge nothing (every pair tested once
    # took a minute); one to three apart, some merge and the grown boxes
    # absorb the rest over several passes.
    for spacing, jitter in [(6, 2), (5, 2)]:
        comparison = speck_pair(spacing, jitter)
        total = comparison.clusters(**options).total_clusters
        kept = len(comparison.clusters(**options, merge_gap=1).clusters)
        timing.compare(
            f"clusters(merge_gap=1), {total} clusters merged into {kept}",
            lambda: comparison.clusters(**options, merge_gap=1),
            lambda: comparison.clusters(**options),
            "the same clusters without merging",
            repeats=5,
            target=3.0,
        )


if __name__ == "__main__":
    main()
