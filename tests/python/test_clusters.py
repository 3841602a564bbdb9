"""Comparison.clusters against an independent scipy.ndimage computation
(square dilation, 8-connected labelling, per-label sums) on random masks and
on the example screenshots, and the rules scipy does not cover: ordering,
truncation, merging."""

import io

import numpy as np
import pytest
from PIL import Image
from scipy import ndimage

import quorvane
from imaging import screen


def comparison_of_mask(mask):
    """A pair whose change mask is exactly `mask`: a white page, and the same
    page black where the mask is set. With include_aa every such pixel counts."""
    height, width = mask.shape
    baseline = np.full((height, width, 4), 255, dtype=np.uint8)
    current = baseline.copy()
    current[mask.astype(bool), :3] = 0
    return quorvane.Comparison.from_rgba(baseline.tobytes(), width, height, current.tobytes(), width, height)


def clusters_of_mask(mask, **options):
    return comparison_of_mask(mask).clusters(include_aa=True, **options)


def pixels(*points, width=40, height=30):
    mask = np.zeros((height, width), dtype=bool)
    for x, y in points:
        mask[y, x] = True
    return mask


def reference(mask, dilation=4, min_pixels=16, min_side=0):
    """{(x, y, width, height, pixel_count, centroid_x, centroid_y)} by scipy."""
    grown = mask.astype(bool)
    if dilation and grown.any():
        grown = ndimage.binary_dilation(grown, structure=np.ones((2 * dilation + 1,) * 2, dtype=bool))
    labels, _ = ndimage.label(grown, structure=np.ones((3, 3), dtype=int))
    counts = np.bincount(labels.ravel())
    rows, columns = np.indices(labels.shape)
    sum_x = np.bincount(labels.ravel(), weights=columns.ravel())
    sum_y = np.bincount(labels.ravel(), weights=rows.ravel())
    found = set()
    for label, box in enumerate(ndimage.find_objects(labels), start=1):
        rows_of, columns_of = box
        width, height = columns_of.stop - columns_of.start, rows_of.stop - rows_of.start
        count = int(counts[label])
        if count < min_pixels or (min_side and min(width, height) < min_side):
            continue
        found.add((columns_of.start, rows_of.start, width, height, count, sum_x[label] / count, sum_y[label] / count))
    return found


def described(result):
    return {(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count) + c.centroid for c in result.clusters}


def assert_largest_first(result):
    counts = [c.pixel_count for c in result.clusters]
    assert counts == sorted(counts, reverse=True)


@pytest.mark.parametrize("width, height, density", [
    (120, 90, 0.002), (120, 90, 0.02), (64, 48, 0.25), (64, 48, 0.6), (1, 70, 0.2), (70, 1, 0.2), (3, 3, 1.0),
])
@pytest.mark.parametrize("dilation, min_pixels, min_side", [(0, 1, 0), (1, 4, 0), (4, 16, 0), (9, 16, 12), (60, 16, 0)])
def test_random_masks_match_scipy(width, height, density, dilation, min_pixels, min_side):
    rng = np.random.default_rng(width * 7919 + height * 31 + int(density * 1000) + dilation)
    mask = rng.random((height, width)) < density
    result = clusters_of_mask(mask, dilation=dilation, min_pixels=min_pixels, min_side=min_side)
    expected = reference(mask, dilation, min_pixels, min_side)
    assert described(result) == expected
    assert result.total_clusters == len(expected) and not result.truncated
    assert all(c.merged_from == 1 for c in result.clusters)
    assert_largest_first(result)


def screen_mask(comparison, **options):
    """The changed pixels as the diff image paints them (pure red; unchanged
    pixels are grey, anti-aliased ones yellow)."""
    drawn = np.array(Image.open(io.BytesIO(comparison.diff_image(**options))).convert("RGB"))
    return (drawn == (255, 0, 0)).all(axis=-1)


@pytest.mark.parametrize("baseline, current, options", [
    ("page_baseline.png", "page_edited_paragraph.png", {}),
    ("page_baseline.png", "page_inserted_banner.png", {"threshold": 0.05, "include_aa": True}),
    ("page_baseline.png", "page_taller.png", {}),  # the padding of the shorter page counts as change
    ("table_1080p.png", "table_1080p_padded.png", {}),
])
def test_screenshots_match_scipy(baseline, current, options):
    comparison = quorvane.Comparison(screen(baseline), screen(current))
    mask = screen_mask(comparison, **options)
    assert mask.any()
    result = comparison.clusters(**options, dilation=3, min_pixels=20)
    assert described(result) == reference(mask, dilation=3, min_pixels=20)
    assert_largest_first(result)


# With the defaults each pixel grows to a 9 x 9 square (dilation 4).
@pytest.mark.parametrize("points, expected", [
    ([(10, 10)], [(6, 6, 9, 9, 81, (10.0, 10.0))]),
    ([(0, 0)], [(0, 0, 5, 5, 25, (2.0, 2.0))]),  # clipped at the corner
    ([(5, 10), (14, 10)], [(1, 6, 18, 9, 162, (9.5, 10.0))]),  # 9 columns apart: the squares touch
    ([(5, 10), (15, 10)], [(1, 6, 9, 9, 81, (5.0, 10.0)), (11, 6, 9, 9, 81, (15.0, 10.0))]),  # 10 apart: two
])
def test_clusters_with_defaults(points, expected):
    result = clusters_of_mask(pixels(*points))
    assert result.total_clusters == len(expected)
    assert [(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, c.centroid) for c in result.clusters] == (
        expected)
    assert all(c.merged_from == 1 for c in result.clusters)


def test_truncation_keeps_the_largest_and_counts_all():
    rng = np.random.default_rng(5)
    mask = rng.random((80, 120)) < 0.01
    full = clusters_of_mask(mask, dilation=1, min_pixels=1)
    assert full.total_clusters > 6
    cut = clusters_of_mask(mask, dilation=1, min_pixels=1, max_clusters=6)
    assert [repr(c) for c in cut.clusters] == [repr(c) for c in full.clusters[:6]]
    assert (cut.total_clusters, cut.truncated) == (full.total_clusters, True)
    exact = clusters_of_mask(mask, dilation=1, min_pixels=1, max_clusters=full.total_clusters)
    assert (len(exact.clusters), exact.truncated) == (full.total_clusters, False)
    none = clusters_of_mask(mask, dilation=1, min_pixels=1, max_clusters=0)
    assert (none.clusters, none.total_clusters, none.truncated) == ([], full.total_clusters, True)
    assert repr(none) == f"ClustersResult(0 of {full.total_clusters}, truncated)"


def block(mask, x, y, width, height):
    mask[y:y + height, x:x + width] = True


def boxes(result):
    return [(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.merged_from) for c in result.clusters]


def test_intersecting_boxes_merge_only_when_merging_is_on():
    mask = np.zeros((40, 40), dtype=bool)
    block(mask, 0, 0, 20, 2)     # an L whose box is 20 x 20
    block(mask, 0, 0, 2, 20)
    block(mask, 10, 10, 3, 3)    # inside that box, touching nothing
    plain = clusters_of_mask(mask, dilation=0, min_pixels=1)
    assert boxes(plain) == [(0, 0, 20, 20, 1), (10, 10, 3, 3, 1)]
    merged = clusters_of_mask(mask, dilation=0, min_pixels=1, merge_gap=1)
    assert boxes(merged) == [(0, 0, 20, 20, 2)]
    assert merged.total_clusters == 2 and repr(merged) == "ClustersResult(1)"


@pytest.mark.parametrize("gap, overlap, merged", [(3, 0.5, True), (2, 0.5, False), (3, 0.6, False)])
def test_boxes_one_above_the_other_merge_across_the_gap(gap, overlap, merged):
    mask = np.zeros((40, 60), dtype=bool)
    block(mask, 0, 0, 20, 10)
    block(mask, 10, 13, 30, 5)  # shares 10 of the narrower 20 columns, 3 rows below
    result = clusters_of_mask(mask, dilation=0, min_pixels=1, merge_gap=gap, merge_overlap=overlap)
    assert result.total_clusters == 2
    assert boxes(result) == ([(0, 0, 40, 18, 2)] if merged else [(0, 0, 20, 10, 1), (10, 13, 30, 5, 1)])


def test_merged_cluster_weights_its_centroid_by_count_and_is_sorted_again():
    mask = np.zeros((30, 60), dtype=bool)
    block(mask, 0, 0, 4, 4)      # 16 pixels, centroid (1.5, 1.5)
    block(mask, 5, 0, 2, 2)      # 4 pixels one column away: merges with the first
    block(mask, 30, 10, 5, 5)    # 25 pixels: largest before merging, second after
    result = clusters_of_mask(mask, dilation=0, min_pixels=1, merge_gap=1)
    assert [c.pixel_count for c in result.clusters] == [25, 20]
    first = result.clusters[1]
    assert first.centroid == ((5.5 * 4 + 1.5 * 16) / 20, (0.5 * 4 + 1.5 * 16) / 20)
    assert first.merged_from == 2


def test_identical_and_empty_images_have_no_clusters():
    page = screen("page_baseline.png")
    same = quorvane.Comparison(page, page).clusters()
    empty = quorvane.Comparison.from_rgba(b"", 0, 0, b"", 0, 0).clusters()
    for result in (same, empty):
        assert (result.clusters, result.total_clusters, result.truncated, repr(result)) == ([], 0, False,
                                                                                          "ClustersResult(0)")
