"""The shift-aware methods aligned_diff_image, aligned_ssim and
aligned_clusters, each against an oracle built in numpy from ordinary
Comparisons of the strips and stacks their rules name, and the binding of an
alignment to its pair."""

import numpy as np
import pytest
import screens
from entry_calls import comparable
from imaging import pixels, rgba_comparison, rows_image, screen_rgba
from test_clusters import clusters_of_mask

import quorvane

RED = (255, 0, 0)
GREY_FREE_ALT = (0, 0, 255)


def refined_segments(alignment, refined=None):
    """The segments the shift-aware methods follow: the alignment's own, or
    `refined` where a window of them collapses into one replace; checked
    against the bands, which are exactly the inserts and deletes of that list."""
    segments = refined or [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments]
    shifted = [
        ("inserted" if kind == "insert" else "deleted", c, n)
        for kind, _, c, n in segments
        if kind in ("insert", "delete")
    ]
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


def painted(image, rows, columns, colour=(20, 120, 220, 255)):
    """The image with a block painted, or without a colour moved one column right."""
    image = image.copy()
    image[rows, columns] = colour if colour else np.roll(image[rows, columns], 1, axis=1)
    return image


# (baseline, current, the segments where a window collapses or None), made
# from a 500-row, 400-column piece of the example page: text, rules, blanks.
LAYOUTS = {
    "rows inserted": lambda page: (page, screens.taller(page, 120, 24), None),
    "rows inserted, a block changed below": lambda page: (
        page,
        painted(screens.taller(page, 120, 24), slice(374, 386), slice(60, 200)),
        None,
    ),
    # The block's rows, paired as a replace of 7 and 5 inserted and 5 deleted
    # rows across blank filler rows, are one window.
    "rows deleted, a block changed above": lambda page: (
        page,
        painted(np.concatenate([page[:200], page[230:]]), slice(50, 62), slice(100, 180)),
        [
            ("equal", 0, 0, 50),
            ("replace", 50, 50, 12),
            ("equal", 62, 62, 7),
            ("equal", 69, 69, 143),
            ("delete", 212, 212, 30),
            ("equal", 242, 212, 258),
        ],
    ),
    "rows deleted at the bottom": lambda page: (page, page[:-30], None),
    "rows inserted at the top and changed at the bottom edge": lambda page: (
        page,
        painted(screens.taller(page, 0, 10), slice(505, 510), slice(0, 400)),
        None,
    ),
    # Glyph edges cut by the replace rows: the context rows decide which edge
    # pixels are anti-aliased.
    "text rows nudged sideways below inserted rows": lambda page: (
        page,
        screens.taller(painted(page, slice(52, 57), slice(None), None), 10, 4),
        None,
    ),
}
DIFF_OPTIONS = [
    {},
    {"alpha": 0.6, "diff_color": (0, 200, 0), "diff_color_alt": GREY_FREE_ALT},
    {"threshold": 0.0, "include_aa": True, "aa_color": (1, 2, 3)},
]
CLUSTER_OPTIONS = [
    {},
    {"threshold": 0.3, "dilation": 1, "min_pixels": 4},
    {"include_aa": True, "dilation": 0, "max_clusters": 1, "merge_gap": 3},
]


@pytest.mark.parametrize("name", LAYOUTS)
def test_shift_aware_methods_against_strips_and_stacks(name):
    baseline, current, refined = LAYOUTS[name](np.ascontiguousarray(screen_rgba("page_baseline.png")[300:800, :400]))
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    segments = refined_segments(alignment, refined)
    for options in DIFF_OPTIONS:
        np.testing.assert_array_equal(
            pixels(pair.aligned_diff_image(alignment, **options)),
            expected_aligned_diff(baseline, current, segments, **options),
        )
    assert pair.aligned_ssim(alignment) == expected_aligned_ssim(baseline, current, segments)
    for options in CLUSTER_OPTIONS:
        assert comparable(pair.aligned_clusters(alignment, **options)) == expected_aligned_clusters(
            baseline, current, segments, **options
        )


def test_inserted_banner_is_a_shift_and_nothing_changed():
    baseline, current = screen_rgba("page_baseline.png"), screen_rgba("page_inserted_banner.png")
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    # What the banner pushed below the bottom of these screenshots of one
    # height went missing there.
    assert [(b.kind, b.y, b.rows) for b in alignment.bands] == [
        ("inserted", 137, 40),
        ("inserted", 178, 16),
        ("deleted", 3000, 56),
    ]
    assert (alignment.inserted_rows, alignment.deleted_rows, alignment.changed_rows, alignment.residual_count) == (
        56,
        56,
        0,
        0,
    )
    np.testing.assert_array_equal(
        pixels(pair.aligned_diff_image(alignment)),
        expected_aligned_diff(baseline, current, refined_segments(alignment)),
    )
    # The rows it pairs are the same: the stacks score exactly one.
    assert pair.aligned_ssim(alignment) == 1.0 > pair.ssim()
    assert pair.aligned_clusters(alignment).total_clusters == 0


@pytest.mark.parametrize(
    "pair",
    [
        rgba_comparison(rows_image(""), rows_image("ab")),
        rgba_comparison(rows_image("ab"), rows_image("")),
        quorvane.Comparison.from_rgba(b"", 0, 4, b"", 0, 6),
    ],
    ids=["no baseline rows", "no current rows", "zero width"],
)
def test_no_paired_pixels_score_one_and_have_no_clusters(pair):
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    assert alignment.aligned and pair.aligned_ssim(alignment) == 1.0
    assert pair.aligned_clusters(alignment).clusters == []
    assert pair.width > 0 or alignment.segments == []


@pytest.mark.parametrize(
    "call",
    [
        lambda pair, alignment: pair.aligned_diff_image(alignment),
        lambda pair, alignment: pair.aligned_ssim(alignment),
        lambda pair, alignment: comparable(pair.aligned_clusters(alignment)),
    ],
)
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
