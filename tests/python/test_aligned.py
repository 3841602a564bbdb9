"""The shift-aware methods aligned_diff_image, aligned_ssim and
aligned_clusters, each against an oracle built in numpy from ordinary
Comparisons of the strips and stacks their rules name; the binding check of
an alignment to its pair; and concurrent first use of the fingerprint."""

import io
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import quorvane
import screens
from imaging import rgba_comparison, screen
from test_row_alignment import rows_image

RED = (255, 0, 0)
GREY_FREE_ALT = (0, 0, 255)


def rgb(png):
    return np.asarray(Image.open(io.BytesIO(png)).convert("RGB"))


def rgba(png):
    return np.ascontiguousarray(np.asarray(Image.open(io.BytesIO(png)).convert("RGBA")))


def collapse(segments, first, last):
    """Segments first .. last (inclusive) as one window collapsed into a
    replace, plus the surplus rows of the longer side."""
    _, b0, c0, _ = segments[first]
    kind, b, c, n = segments[last]
    be, ce = b + (n if kind != "insert" else 0), c + (n if kind != "delete" else 0)
    common = min(be - b0, ce - c0)
    window = [("replace", b0, c0, common)]
    if be - b0 != ce - c0:
        window.append(("insert" if ce - c0 > be - b0 else "delete", b0 + common, c0 + common,
                       abs((be - b0) - (ce - c0))))
    return segments[:first] + window + segments[last + 1:]


def refined_segments(alignment, collapsed=None):
    """The segments the shift-aware methods follow: the alignment's own, with
    the window `collapsed` (first, last) merged; checked against the bands,
    which are exactly the inserts and deletes of that list."""
    segments = [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments]
    if collapsed:
        segments = collapse(segments, *collapsed)
    shifted = [("inserted" if kind == "insert" else "deleted", c, n)
               for kind, _, c, n in segments if kind in ("insert", "delete")]
    assert shifted == [(b.kind, b.y, b.rows) for b in alignment.bands]
    return segments


def with_context(segment, baseline_height, current_height):
    """The strip rows of a replace segment: one row above and below where
    both images have one. Returns (baseline rows, current rows, above)."""
    _, b, c, n = segment
    above = 1 if b > 0 and c > 0 else 0
    below = 1 if b + n < baseline_height and c + n < current_height else 0
    return slice(b - above, b + n + below), slice(c - above, c + n + below), above


def expected_aligned_diff(baseline, current, segments, alpha=0.1, diff_color=RED, diff_color_alt=None, **options):
    """The faded current image (the ordinary diff image of the current image
    against itself), replace rows from the ordinary diff image of their strip,
    then inserted bands and deleted-row lines."""
    colours = {"diff_color": diff_color, "diff_color_alt": diff_color_alt}
    out = rgb(rgba_comparison(current, current).diff_image(alpha=alpha)).copy()
    bh, ch = baseline.shape[0], current.shape[0]
    for segment in segments:
        if segment[0] == "replace":
            rows_b, rows_c, above = with_context(segment, bh, ch)
            strip = rgb(rgba_comparison(baseline[rows_b], current[rows_c]).diff_image(alpha=alpha, **colours, **options))
            out[segment[2]:segment[2] + segment[3]] = strip[above:above + segment[3]]
    for kind, _, c, n in segments:
        if kind == "insert":
            out[c:c + n] = diff_color
        elif kind == "delete" and c < ch:
            out[c] = diff_color_alt or diff_color
    return out


def expected_aligned_ssim(baseline, current, segments):
    paired = [s for s in segments if s[0] in ("equal", "replace")]
    if baseline.shape[1] == 0 or not paired:
        return 1.0
    stacked_b = np.concatenate([baseline[b:b + n] for _, b, _, n in paired])
    stacked_c = np.concatenate([current[c:c + n] for _, _, c, n in paired])
    return rgba_comparison(stacked_b, stacked_c).ssim()


def expected_aligned_clusters(baseline, current, segments, threshold=0.1, include_aa=False, **cluster_options):
    """The changed pixels of each replace strip, read off its ordinary diff
    image (changed pixels are red there, grey is never red), placed at the
    current rows; then clustered as the pair (black, white where changed),
    whose every differing pixel counts."""
    bh, (ch, width) = baseline.shape[0], current.shape[:2]
    mask = np.zeros((ch, width), bool)
    for segment in segments:
        if segment[0] == "replace":
            rows_b, rows_c, above = with_context(segment, bh, ch)
            strip = rgb(rgba_comparison(baseline[rows_b], current[rows_c]).diff_image(threshold=threshold,
                                                                                   include_aa=include_aa))
            mask[segment[2]:segment[2] + segment[3]] = (strip[above:above + segment[3]] == RED).all(axis=2)
    black = np.zeros((ch, width, 4), np.uint8)
    black[..., 3] = 255
    white = black.copy()
    white[mask] = 255
    return rgba_comparison(black, white).clusters(include_aa=True, **cluster_options)


def cluster_tuples(result):
    return ([(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, c.centroid, c.merged_from)
             for c in result.clusters], result.total_clusters, result.truncated)


@pytest.fixture(scope="module")
def page():
    """A 500-row, 400-column piece of the example page: text, rules, blanks."""
    return np.ascontiguousarray(rgba(screen("page_baseline.png"))[300:800, :400])


def with_inserted_rows(image, at, count, seed=7):
    return np.concatenate([image[:at], screens.page(count, image.shape[1], seed), image[at:]])


def paint_block(image, rows, columns, colour=(20, 120, 220, 255)):
    image = image.copy()
    image[rows, columns] = colour
    return image


def nudged(image, first_row, end_row):
    image = image.copy()
    image[first_row:end_row] = np.roll(image[first_row:end_row], 1, axis=1)
    return image


# (baseline, current, window collapsed by the alignment or None), made from
# the page piece; each name says the layout.
def layouts(page):
    inserted = with_inserted_rows(page, 120, 24)
    return {
        "rows inserted": (page, inserted, None),
        "rows inserted, a block changed below": (page, paint_block(inserted, slice(374, 386), slice(60, 200)), None),
        # The block's rows pair up as a replace, inserted and deleted rows
        # across blank filler rows: one window.
        "rows deleted, a block changed above": (page, paint_block(np.concatenate([page[:200], page[230:]]),
                                                                  slice(50, 62), slice(100, 180)), (1, 3)),
        "rows deleted at the bottom": (page, page[:-30], None),
        "rows inserted at the top and changed at the bottom edge": (
            page, paint_block(with_inserted_rows(page, 0, 10), slice(505, 510), slice(0, 400)), None),
        "identical": (page, page, None),
        # Glyph edges cut by the replace rows: the context rows decide which
        # edge pixels are anti-aliased.
        "text rows nudged sideways below inserted rows": (page, with_inserted_rows(nudged(page, 52, 57), 10, 4), None),
    }


LAYOUT_NAMES = list(layouts(np.zeros((500, 1, 4), np.uint8)))

def layout_case(page, name):
    baseline, current, collapsed = layouts(page)[name]
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    return baseline, current, pair, alignment, refined_segments(alignment, collapsed)


DIFF_OPTIONS = [
    {},
    {"alpha": 0.6, "diff_color": (0, 200, 0), "diff_color_alt": GREY_FREE_ALT},
    {"threshold": 0.0, "include_aa": True, "aa_color": (1, 2, 3)},
]


@pytest.mark.parametrize("options", DIFF_OPTIONS)
@pytest.mark.parametrize("name", LAYOUT_NAMES)
def test_aligned_diff_image_against_strips_and_bands(page, name, options):
    baseline, current, pair, alignment, segments = layout_case(page, name)
    drawn = rgb(pair.aligned_diff_image(alignment, **options))
    assert drawn.shape == (current.shape[0], current.shape[1], 3)
    np.testing.assert_array_equal(drawn, expected_aligned_diff(baseline, current, segments, **options))


@pytest.mark.parametrize("name", LAYOUT_NAMES)
def test_aligned_ssim_equals_ssim_of_the_stacked_paired_rows(page, name):
    baseline, current, pair, alignment, segments = layout_case(page, name)
    assert pair.aligned_ssim(alignment) == expected_aligned_ssim(baseline, current, segments)


@pytest.mark.parametrize("options", [{}, {"threshold": 0.3, "dilation": 1, "min_pixels": 4},
                                     {"include_aa": True, "dilation": 0, "max_clusters": 1, "merge_gap": 3}])
@pytest.mark.parametrize("name", LAYOUT_NAMES)
def test_aligned_clusters_against_the_strip_masks(page, name, options):
    baseline, current, pair, alignment, segments = layout_case(page, name)
    found = pair.aligned_clusters(alignment, **options)
    assert cluster_tuples(found) == cluster_tuples(
        expected_aligned_clusters(baseline, current, segments, **options))


def test_a_change_in_place_is_found_in_current_rows(page):
    baseline, current, _ = layouts(page)["rows inserted, a block changed below"]
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment()
    assert pair.aligned_ssim(alignment) < 1.0
    clusters = pair.aligned_clusters(alignment, dilation=0).clusters
    assert [(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height) for c in clusters] == [(60, 374, 140, 12)]


def test_inserted_banner_is_two_bands_and_nothing_changed():
    pair = quorvane.Comparison(screen("page_baseline.png"), screen("page_inserted_banner.png"))
    alignment = pair.row_alignment()
    bands = [(b.kind, b.y, b.rows) for b in alignment.bands]
    assert [band for band in bands if band[0] == "inserted"] == [("inserted", 137, 40), ("inserted", 178, 16)]
    drawn = rgb(pair.aligned_diff_image(alignment))
    baseline, current = rgba(screen("page_baseline.png")), rgba(screen("page_inserted_banner.png"))
    np.testing.assert_array_equal(drawn, expected_aligned_diff(baseline, current, refined_segments(alignment)))
    assert pair.aligned_ssim(alignment) == 1.0 > pair.ssim()
    assert pair.aligned_clusters(alignment).total_clusters == 0


def test_a_collapsed_window_is_drawn_scored_and_clustered_as_one_replace():
    baseline, current = rows_image("pqWWDEFrs"), rows_image("pqIJKWWrs")
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    # The list keeps the inserts and deletes; the shift-aware methods follow
    # the window collapsed into one replace, and no band is drawn for it.
    assert [s.kind for s in alignment.segments] == ["equal", "insert", "equal", "delete", "equal"]
    assert alignment.bands == []
    refined = [("equal", 0, 0, 2), ("replace", 2, 2, 5), ("equal", 7, 7, 2)]
    np.testing.assert_array_equal(rgb(pair.aligned_diff_image(alignment, diff_color_alt=GREY_FREE_ALT)),
                                  expected_aligned_diff(baseline, current, refined, diff_color_alt=GREY_FREE_ALT))
    assert pair.aligned_ssim(alignment) == expected_aligned_ssim(baseline, current, refined) < 1.0
    assert cluster_tuples(pair.aligned_clusters(alignment, dilation=1)) == cluster_tuples(
        expected_aligned_clusters(baseline, current, refined, dilation=1))


@pytest.mark.parametrize("alt", [None, GREY_FREE_ALT])
@pytest.mark.parametrize("baseline, current, line", [("abcXYdef", "abcdef", 3), ("abcdefgh", "abcdef", None)])
def test_deleted_rows_leave_one_line_where_the_current_image_has_a_row(baseline, current, line, alt):
    pair = rgba_comparison(rows_image(baseline), rows_image(current))
    alignment = pair.row_alignment()
    drawn = rgb(pair.aligned_diff_image(alignment, diff_color_alt=alt))
    assert drawn.shape[0] == 6
    coloured = np.flatnonzero((drawn[..., 0] != drawn[..., 2]).any(axis=1))  # every other row is grey
    assert coloured.tolist() == ([line] if line else [])
    assert line is None or (drawn[line] == (alt or RED)).all()
    assert pair.aligned_ssim(alignment) == 1.0


@pytest.mark.parametrize("pair", [
    rgba_comparison(rows_image(""), rows_image("ab")),
    rgba_comparison(rows_image("ab"), rows_image("")),
    quorvane.Comparison.from_rgba(b"", 0, 4, b"", 0, 6),
], ids=["no baseline rows", "no current rows", "zero width"])
def test_no_paired_pixels_score_one_and_have_no_clusters(pair):
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    assert alignment.aligned and pair.aligned_ssim(alignment) == 1.0
    assert pair.aligned_clusters(alignment).clusters == []


# The binding check.

def aligned_pair():
    """A pair with a row inserted and one changed, and another of the same
    sizes in which one row differs."""
    return rgba_comparison(rows_image("abcdef"), rows_image("abXcdYf")), rgba_comparison(rows_image("abcdef"),
                                                                              rows_image("abXcdZf"))


CALLS = {
    "aligned_diff_image": lambda pair, alignment, **kw: pair.aligned_diff_image(alignment, **kw),
    "aligned_ssim": lambda pair, alignment, **kw: pair.aligned_ssim(alignment, **kw),
    "aligned_clusters": lambda pair, alignment, **kw: cluster_tuples(pair.aligned_clusters(alignment, **kw)),
}

NOT_ALIGNED = "images could not be row-aligned"
FOREIGN = "alignment does not belong to this image pair"
THRESHOLD = "threshold must be in the range [0.0, 1.0]"
ALPHA = "alpha must be in the range [0.0, 1.0]"


def not_aligned_alignment():
    pair = rgba_comparison(rows_image("abc", width=5), rows_image("abc", width=6))
    return pair, pair.row_alignment()


@pytest.mark.parametrize("method", CALLS)
def test_binding_check(method):
    call = CALLS[method]
    pair, other = aligned_pair()
    # Refused even by the pair that made it.
    with pytest.raises(ValueError, match=f"^{NOT_ALIGNED}$"):
        call(*not_aligned_alignment())
    with pytest.raises(ValueError, match=f"^{FOREIGN}$"):
        call(other, pair.row_alignment())
    taller = rgba_comparison(rows_image("abcdef"), rows_image("abXcdYfg"))
    with pytest.raises(ValueError, match=f"^{FOREIGN}$"):
        call(taller, pair.row_alignment())
    # Accepted from another Comparison of the same images, both ways round.
    twin = rgba_comparison(rows_image("abcdef"), rows_image("abXcdYf"))
    assert call(twin, pair.row_alignment()) == call(pair, pair.row_alignment())
    assert call(pair, twin.row_alignment()) == call(pair, pair.row_alignment())


@pytest.mark.parametrize("method, kwargs, message", [
    ("aligned_diff_image", {"threshold": 2.0, "alpha": -1.0}, THRESHOLD),
    ("aligned_diff_image", {"alpha": float("nan")}, ALPHA),
    ("aligned_clusters", {"threshold": float("nan"), "merge_overlap": -5.0}, THRESHOLD),
])
def test_ranges_are_reported_before_a_refused_alignment(method, kwargs, message):
    pair, alignment = not_aligned_alignment()
    with pytest.raises(ValueError) as raised:
        CALLS[method](pair, alignment, **kwargs)
    assert str(raised.value) == message
    _, other = aligned_pair()
    with pytest.raises(ValueError) as raised:
        CALLS[method](other, aligned_pair()[0].row_alignment(), **kwargs)
    assert str(raised.value) == message


@pytest.mark.parametrize("method", CALLS)
@pytest.mark.parametrize("alignment", ["not an alignment", None])
def test_alignment_must_be_a_row_alignment(method, alignment):
    pair, _ = aligned_pair()
    kwargs = {} if method == "aligned_ssim" else {"threshold": 2.0}  # conversion comes before the ranges
    with pytest.raises(TypeError, match="alignment"):
        CALLS[method](pair, alignment, **kwargs)


@pytest.mark.parametrize("name, signature, doc", [
    ("aligned_clusters", "alignment, threshold=0.1, include_aa=False, min_pixels=16, min_side=0, dilation=4, "
     "max_clusters=None, merge_gap=0, merge_overlap=0.5",
     "Cluster the changed content, ignoring the shifted rows.\n\n"
     "The mask holds the changed content only, drawn like `aligned_diff_image`.\n"
     "The shift bands are the other half of the answer: read `alignment.bands`\n"
     "to decide whether to absorb a shift or flag it. Raises if the alignment\n"
     "failed or came from another image pair."),
    ("aligned_diff_image", "alignment, threshold=0.1, alpha=0.1, include_aa=False, diff_color=..., aa_color=..., "
     "diff_color_alt=None", "Generate the shift-aware diff image as PNG bytes, in current-image coordinates."),
    ("aligned_ssim", "alignment", "Compute SSIM over the matched rows only, so a shift does not lower the score."),
])
def test_signatures_and_docstrings(name, signature, doc):
    method = getattr(quorvane.Comparison, name)
    assert (method.__text_signature__, method.__doc__) == (f"($self, {signature})", doc)


def test_many_threads_on_a_fresh_comparison_agree():
    baseline, current = screen("page_baseline.png"), screen("page_edited_paragraph.png")
    alignment = quorvane.Comparison(baseline, current).row_alignment()
    calls = [lambda pair: pair.aligned_clusters(alignment).total_clusters,
             lambda pair: pair.aligned_diff_image(alignment), lambda pair: pair.aligned_ssim(alignment)]
    expected = [call(quorvane.Comparison(baseline, current)) for call in calls]
    # A fresh Comparison: its fingerprint is computed by whichever thread
    # comes first while the others wait for it.
    fresh = quorvane.Comparison(baseline, current)
    start = threading.Barrier(9)

    def run(i):
        start.wait()
        return calls[i % 3](fresh)

    with ThreadPoolExecutor(9) as pool:
        assert list(pool.map(run, range(9))) == expected * 3
