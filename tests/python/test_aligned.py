"""The shift-aware methods aligned_diff_image, aligned_ssim and
aligned_clusters, each against an oracle built in numpy from ordinary
Comparisons of the strips and stacks their rules name, also where rows
matched within a row threshold differ, and the binding of an alignment to
its pair."""

import itertools

import numpy as np
import pixel_rule
import pytest
import screens
from entry_calls import comparable
from imaging import pixels, rgba_comparison, rows_image, screen_rgba
from screens import taller
from test_clusters import clusters_of_mask

import quorvane

RED = (255, 0, 0)
GREY_FREE_ALT = (0, 0, 255)
BANDS = {"insert": "inserted", "delete": "deleted"}  # the band of each kind of segment


def refined_segments(alignment, refined=None):
    """The segments the shift-aware methods follow: the alignment's own, or
    `refined` where a window of them collapses into one replace; checked
    against the bands, which are exactly the inserts and deletes of that list."""
    segments = refined or [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments]
    shifted = [(BANDS[kind], c, n) for kind, _, c, n in segments if kind in BANDS]
    assert shifted == [(b.kind, b.y, b.rows) for b in alignment.bands]
    return segments


def expected_aligned_diff(baseline, current, segments, alpha=0.1, diff_color=RED, diff_color_alt=None, **options):
    """The faded current image (the ordinary diff image of the current image
    against itself); each replace segment's rows from the ordinary diff image
    of its strip, which takes one row of context above and below where both
    images have one; then inserted bands and deleted-row lines."""
    colours = {"diff_color": diff_color, "diff_color_alt": diff_color_alt}
    out = pixels(rgba_comparison(current, current).diff_image(alpha=alpha)).copy()
    bh, ch = baseline.shape[0], current.shape[0]
    for kind, b, c, n in segments:
        if kind == "replace":
            above = 1 if b > 0 and c > 0 else 0
            below = 1 if b + n < bh and c + n < ch else 0
            strip = rgba_comparison(baseline[b - above : b + n + below], current[c - above : c + n + below])
            out[c : c + n] = pixels(strip.diff_image(alpha=alpha, **colours, **options))[above : above + n]
    for kind, _, c, n in segments:
        if kind == "insert":
            out[c : c + n] = diff_color
        elif kind == "delete" and c < ch:
            out[c] = diff_color_alt or diff_color
    return out


def expected_aligned_ssim(baseline, current, segments):
    paired = [s for s in segments if s[0] in ("equal", "replace")]
    return rgba_comparison(
        np.concatenate([baseline[b : b + n] for _, b, _, n in paired]),
        np.concatenate([current[c : c + n] for _, _, c, n in paired]),
    ).ssim()


def expected_aligned_clusters(baseline, current, segments, threshold=0.1, include_aa=False, **cluster_options):
    """The clusters of the changed pixels of the replace rows, read off the
    expected diff image (red there, where grey never is)."""
    drawn = expected_aligned_diff(baseline, current, segments, threshold=threshold, include_aa=include_aa)
    replaced = np.zeros(len(current), bool)
    for kind, _, c, n in segments:
        replaced[c : c + n] |= kind == "replace"
    return comparable(clusters_of_mask((drawn == RED).all(axis=2) & replaced[:, None], **cluster_options))


def painted(image, top, bottom, left=0, right=None, colour=(20, 120, 220, 255)):
    """The image with a block painted, or without a colour moved one column right."""
    image, block = image.copy(), (slice(top, bottom), slice(left, right))
    image[block] = colour if colour else np.roll(image[block], 1, axis=1)
    return image


# Current images made from a baseline, a 500-row, 400-column piece of the
# example page: text, rules, blanks.
LAYOUTS = {
    # Every row paired with itself: the stacks are the images themselves.
    "a block changed in place": lambda page: painted(page, 200, 212, 60, 200),
    "rows inserted": lambda page: taller(page, 120, 24),
    "rows inserted, a block changed below": lambda page: painted(taller(page, 120, 24), 374, 386, 60, 200),
    "rows deleted, a block changed above": lambda page: painted(np.delete(page, range(200, 230), 0), 50, 62, 100, 180),
    "rows deleted at the bottom": lambda page: page[:-30],
    "rows inserted at the top, changed at the bottom edge": lambda page: painted(taller(page, 0, 10), 505, 510),
    # Glyph edges cut by the replace rows: the context rows decide which edge
    # pixels are anti-aliased.
    "text rows nudged sideways below inserted rows": lambda page: taller(painted(page, 52, 57, colour=None), 10, 4),
}
# The segments where a window collapses: the block's rows, paired as a
# replace of 7 and 5 inserted and 5 deleted rows across blank filler rows.
REFINED = {
    "rows deleted, a block changed above": [("equal", 0, 0, 50), ("replace", 50, 50, 12), ("equal", 62, 62, 7)]
    + [("equal", 69, 69, 143), ("delete", 212, 212, 30), ("equal", 242, 212, 258)]
}
DIFF_OPTIONS = [{}, {"alpha": 0.6, "diff_color": (0, 200, 0), "diff_color_alt": GREY_FREE_ALT}]
DIFF_OPTIONS += [{"threshold": 0.0, "include_aa": True, "aa_color": (1, 2, 3)}]
CLUSTER_OPTIONS = [{}, {"threshold": 0.3, "dilation": 1, "min_pixels": 4}]
CLUSTER_OPTIONS += [{"include_aa": True, "dilation": 0, "max_clusters": 1, "merge_gap": 3}]


def check_shift_aware_methods(pair, alignment, baseline, current, segments, cluster_options=CLUSTER_OPTIONS):
    """Every shift-aware method of the pair, under each set of options, as
    the oracles find it; returns the aligned SSIM."""
    for options in DIFF_OPTIONS:
        drawn = pixels(pair.aligned_diff_image(alignment, **options))
        np.testing.assert_array_equal(drawn, expected_aligned_diff(baseline, current, segments, **options))
    for options in cluster_options:
        expected = expected_aligned_clusters(baseline, current, segments, **options)
        assert comparable(pair.aligned_clusters(alignment, **options)) == expected
    assert pair.aligned_ssim(alignment) == expected_aligned_ssim(baseline, current, segments)
    return pair.aligned_ssim(alignment)


@pytest.mark.parametrize("name", LAYOUTS)
def test_shift_aware_methods_against_strips_and_stacks(name):
    baseline = np.ascontiguousarray(screen_rgba("page_baseline.png")[300:800, :400])
    current = LAYOUTS[name](baseline)
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    check_shift_aware_methods(pair, alignment, baseline, current, refined_segments(alignment, REFINED.get(name)))


def with_differing_runs(segments, baseline, current):
    """The segments with each run of paired rows that differ, inside equal
    segments, as a replace of its own: what rows matched within a row
    threshold leave changed in place."""
    split = []
    for kind, b, c, n in segments:
        if kind != "equal":
            split.append((kind, b, c, n))
            continue
        differ = (baseline[b : b + n] != current[c : c + n]).any(axis=(1, 2))
        start = 0
        for differs, run in itertools.groupby(differ):
            length = len(list(run))
            split.append(("replace" if differs else "equal", b + start, c + start, length))
            start += length
    return split


def test_rows_matched_within_a_row_threshold_are_measured_where_they_differ():
    # Rows below the inserted ones brightened by 30 levels: within a row
    # threshold of 0.3, so paired as equal, yet changed by the default
    # threshold where text darkens them.
    page = np.ascontiguousarray(screen_rgba("page_baseline.png")[300:800, :400])
    current = screens.taller(page, 120, 24)
    current[300:330, :, :3] = np.minimum(current[300:330, :, :3].astype(int) + 30, 255)
    pair = rgba_comparison(page, current)
    alignment = pair.row_alignment(row_threshold=0.3)
    assert alignment.changed_rows == 0 and [(b.kind, b.y, b.rows) for b in alignment.bands] == [("inserted", 120, 24)]
    segments = with_differing_runs(refined_segments(alignment), page, current)
    options = [*CLUSTER_OPTIONS, {"threshold": 0.3}]
    assert check_shift_aware_methods(pair, alignment, page, current, segments, options) < 1.0
    # The changed pixels counted are those drawn in the rows that differ; by
    # the row threshold itself, opaque rows that matched hold none.
    drawn = expected_aligned_diff(page, current, segments)
    rows = [c + i for kind, _, c, n in segments if kind == "replace" for i in range(n)]
    assert alignment.residual_count == (drawn[rows] == RED).all(axis=-1).sum() > 0
    assert pair.row_alignment(row_threshold=0.3, threshold=0.3).residual_count == 0


def test_translucent_rows_matched_within_a_threshold_are_measured_where_they_stand():
    # A translucent pixel pair within the threshold against the background
    # pattern of its place in the baseline (byte 12), not of its place in the
    # strip the figures measure it in (byte 4, after one context row).
    within, over = np.array([250, 15, 240, 22], np.uint8), np.array([157, 201, 87, 86], np.uint8)
    limit = pixel_rule.max_delta(0.1)
    delta_at = {k: pixel_rule.color_delta(bytes(k) + bytes(within), bytes(k) + bytes(over), k, k) for k in (4, 12)}
    assert abs(delta_at[12]) <= limit < abs(delta_at[4])
    baseline, current = rows_image("abcdefg", width=1), rows_image("Xabcdefg", width=1)
    baseline[3, 0], current[4, 0] = within, over
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment(row_threshold=0.1, include_aa=True)
    assert [(s.kind, s.len) for s in alignment.segments] == [("insert", 1), ("equal", 7)]
    assert alignment.residual_count == 1
    clusters = pair.aligned_clusters(alignment, include_aa=True, min_pixels=1, dilation=0).clusters
    assert [(c.bbox.x, c.bbox.y, c.changed_pixels) for c in clusters] == [(0, 4, 1)]


def test_inserted_banner_is_a_shift_and_nothing_changed():
    baseline, current = screen_rgba("page_baseline.png"), screen_rgba("page_inserted_banner.png")
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    # What the banner pushed below the bottom of these screenshots of one
    # height went missing there.
    bands = [("inserted", 137, 40), ("inserted", 178, 16), ("deleted", 3000, 56)]
    assert [(b.kind, b.y, b.rows) for b in alignment.bands] == bands
    counted = (alignment.inserted_rows, alignment.deleted_rows, alignment.changed_rows, alignment.residual_count)
    assert counted == (56, 56, 0, 0)
    expected = expected_aligned_diff(baseline, current, refined_segments(alignment))
    np.testing.assert_array_equal(pixels(pair.aligned_diff_image(alignment)), expected)
    # The rows it pairs are the same: the stacks score exactly one.
    assert pair.aligned_ssim(alignment) == 1.0 > pair.ssim()
    assert pair.aligned_clusters(alignment).total_clusters == 0


NO_PAIRED_PIXELS = {
    "no baseline rows": rgba_comparison(rows_image(""), rows_image("ab")),
    "no current rows": rgba_comparison(rows_image("ab"), rows_image("")),
    "zero width": quorvane.Comparison.from_rgba(b"", 0, 4, b"", 0, 6),
}


@pytest.mark.parametrize("pair", NO_PAIRED_PIXELS.values(), ids=NO_PAIRED_PIXELS.keys())
def test_no_paired_pixels_score_one_and_have_no_clusters(pair):
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    assert alignment.aligned and pair.aligned_ssim(alignment) == 1.0
    assert pair.aligned_clusters(alignment).clusters == []
    assert pair.width > 0 or alignment.segments == []


# Each shift-aware method, called on a pair with an alignment.
SHIFT_AWARE = [lambda pair, a: pair.aligned_diff_image(a), lambda pair, a: pair.aligned_ssim(a)]
SHIFT_AWARE += [lambda pair, a: comparable(pair.aligned_clusters(a))]


@pytest.mark.parametrize("call", SHIFT_AWARE)
def test_an_alignment_binds_to_its_images_only(call):
    pair = rgba_comparison(rows_image("abcdef"), rows_image("abXcdYf"))
    alignment = pair.row_alignment()
    unaligned = rgba_comparison(rows_image("abc", width=5), rows_image("abc", width=6))
    # Refused even by the pair that made it.
    with pytest.raises(quorvane.AlignmentError, match="^images could not be row-aligned$"):
        call(unaligned, unaligned.row_alignment())
    for other in ("abXcdZf", "abXcdYfg"):  # one row differs; one row more
        with pytest.raises(quorvane.AlignmentError, match="^alignment does not belong to this image pair$"):
            call(rgba_comparison(rows_image("abcdef"), rows_image(other)), alignment)
    # Accepted from another Comparison of the same images, both ways round.
    twin = rgba_comparison(rows_image("abcdef"), rows_image("abXcdYf"))
    assert call(twin, alignment) == call(pair, alignment) == call(pair, twin.row_alignment())
