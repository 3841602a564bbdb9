"""Comparison.clusters against an independent scipy.ndimage computation
(square dilation, 8-connected labelling, per-label sums) on random masks and
on a diff of the example screenshots, whose changed pixels are those counted;
and the rules scipy does not cover: ordering, truncation, merging."""

import numpy as np
import pytest
from imaging import pixels, rgba_comparison, screen_rgba
from scipy import ndimage


def clusters_of_mask(mask, **options):
    """The clusters of a pair whose change mask is exactly `mask`: a white
    page, and the same page black where the mask is set. With include_aa
    every such pixel counts."""
    baseline = np.full((*mask.shape, 4), 255, dtype=np.uint8)
    current = baseline.copy()
    current[mask.astype(bool), :3] = 0
    return rgba_comparison(baseline, current).clusters(include_aa=True, **options)


def reference(mask, dilation=4, min_pixels=16, min_side=0):
    """{(x, y, width, height, pixel_count, changed_pixels, centroid_x, centroid_y)}
    by scipy; the changed pixels are the mask's own within each label."""
    grown = mask.astype(bool)
    for structure in ((1, 2 * dilation + 1), (2 * dilation + 1, 1)):  # a square is a row then a column
        grown = ndimage.binary_dilation(grown, structure=np.ones(structure, bool))
    labels, _ = ndimage.label(grown, structure=np.ones((3, 3), dtype=int))
    counts = np.bincount(labels.ravel())
    rows, columns = np.indices(labels.shape)
    sum_x = np.bincount(labels.ravel(), weights=columns.ravel())
    sum_y = np.bincount(labels.ravel(), weights=rows.ravel())
    changed = np.bincount(labels.ravel(), weights=mask.ravel().astype(float), minlength=len(counts))
    found = set()
    for label, (rows_of, columns_of) in enumerate(ndimage.find_objects(labels), start=1):
        width, height = columns_of.stop - columns_of.start, rows_of.stop - rows_of.start
        count = int(counts[label])
        if count >= min_pixels and not (min_side and min(width, height) < min_side):
            found.add(
                (columns_of.start, rows_of.start, width, height, count, changed[label])
                + (sum_x[label] / count, sum_y[label] / count)
            )
    return found


def checked(result, expected):
    """The clusters are the reference's, unmerged, largest first."""
    assert {
        (c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, c.changed_pixels) + c.centroid
        for c in result.clusters
    } == expected
    assert result.total_clusters == len(expected) and not result.truncated
    assert all(c.merged_from == 1 for c in result.clusters)
    counts = [c.pixel_count for c in result.clusters]
    assert counts == sorted(counts, reverse=True)


@pytest.mark.parametrize(
    "width, height, density",
    [(120, 90, 0.002), (120, 90, 0.02), (64, 48, 0.25), (64, 48, 0.6), (1, 70, 0.2), (70, 1, 0.2), (3, 3, 1.0)]
    + [(40, 30, 0.0)],
)
@pytest.mark.parametrize("dilation, min_pixels, min_side", [(0, 1, 0), (1, 4, 0), (4, 16, 0), (9, 16, 12), (60, 16, 0)])
def test_random_masks_match_scipy(width, height, density, dilation, min_pixels, min_side):
    rng = np.random.default_rng(width * 7919 + height * 31 + int(density * 1000) + dilation)
    mask = rng.random((height, width)) < density
    checked(
        clusters_of_mask(mask, dilation=dilation, min_pixels=min_pixels, min_side=min_side),
        reference(mask, dilation, min_pixels, min_side),
    )


@pytest.mark.parametrize("options", [{}, {"threshold": 0.05, "include_aa": True}])
def test_screenshot_diff_matches_scipy(options):
    # Text changed in 900 x 400 pixels of the example table, split over the
    # pool; the mask is the changed pixels the diff image paints pure red
    # (unchanged pixels are grey, anti-aliased ones yellow), as many as counted.
    comparison = rgba_comparison(
        *(screen_rgba(name)[600:1000, 500:1400] for name in ("table_1080p.png", "table_1080p_padded.png"))
    )
    drawn = pixels(comparison.diff_image(**options))
    mask = (drawn == (255, 0, 0)).all(axis=-1)
    assert mask.sum() == comparison.diff_count(**options) > 0
    assert (drawn == (255, 255, 0)).all(axis=-1).any() != bool(options)  # none with anti-aliased pixels counted
    checked(comparison.clusters(**options, dilation=3, min_pixels=20), reference(mask, dilation=3, min_pixels=20))


def test_truncation_keeps_the_largest_and_counts_all():
    mask = np.random.default_rng(5).random((80, 120)) < 0.01
    full = clusters_of_mask(mask, dilation=1, min_pixels=1)
    total = full.total_clusters
    for limit, kept in [(6, 6), (total, total), (0, 0)]:
        cut = clusters_of_mask(mask, dilation=1, min_pixels=1, max_clusters=limit)
        assert [repr(c) for c in cut.clusters] == [repr(c) for c in full.clusters[:kept]]
        assert (cut.total_clusters, cut.truncated) == (total, limit < total)
    assert total > 6 and repr(cut) == f"ClustersResult(0 of {total}, truncated)"
    assert repr(clusters_of_mask(np.zeros((0, 0), bool))) == "ClustersResult(0)"


@pytest.mark.parametrize(
    "boxes, options, expected",
    [
        # Boxes one above the other sharing 10 of the narrower 20 columns, 3 rows
        # apart, merge across a gap of 3 when half the columns may do.
        ([(0, 0, 20, 10), (10, 13, 30, 5)], {"merge_gap": 3}, [(0, 0, 40, 18, 2)]),
        (
            [(0, 0, 20, 10), (10, 13, 30, 5)],
            {"merge_gap": 3, "merge_overlap": 0.6},
            [(0, 0, 20, 10, 1), (10, 13, 30, 5, 1)],
        ),
        # 16 pixels and 4 one column away merge; 25 pixels were the largest
        # before merging and come second after.
        ([(0, 0, 4, 4), (5, 0, 2, 2), (30, 10, 5, 5)], {"merge_gap": 1}, [(30, 10, 5, 5, 1), (0, 0, 7, 4, 2)]),
    ],
)
def test_nearby_boxes_merge_and_the_largest_still_come_first(boxes, options, expected):
    mask = np.zeros((40, 60), dtype=bool)
    for x, y, width, height in boxes:
        mask[y : y + height, x : x + width] = True
    result = clusters_of_mask(mask, dilation=0, min_pixels=1, **options)
    assert [(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.merged_from) for c in result.clusters] == expected
    for c in result.clusters:  # the changed pixels of every box merged in
        assert c.changed_pixels == mask[c.bbox.y : c.bbox.y + c.bbox.height, c.bbox.x : c.bbox.x + c.bbox.width].sum()
