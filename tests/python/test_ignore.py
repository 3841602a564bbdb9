"""Ignore regions: every figure of a pair compared with `ignore=` is the
figure of the same pair painted beforehand with numpy and compared without
regions, its diff images with the regions drawn over them in the mask colour;
bad rectangles and colours fail before any work, at every entry."""

import numpy as np
import pytest

import quorvane
from imaging import png_bytes, pypng_rgba, rgba_comparison
from quorvane_cli.analysis import cluster_figures
from screens import page, shifted, with_block

Comparison = quorvane.Comparison

# Canvas rectangles: over a changed block, across the shift, reaching past
# the canvas, wholly outside it, overlapping each other, in the padding rows
# of a pair of different heights.
REGIONS = [(8, 16, 16, 14), (14, 36, 6, 8), (34, 58, 4, 30), (40, 88, 50, 50), (500, 500, 4, 4), (0, 100, 48, 6)]


def translucent(image):
    image = image.copy()
    image[..., 3] = np.random.default_rng(3).integers(0, 256, image.shape[:2])
    return image


PAIRS = {
    "shifted and edited": (page(160), with_block(shifted(page(160)), y=60, x=30)),
    "edited in a region": (page(), with_block(page(), y=18, x=10)),
    "taller baseline": (page(110), with_block(page(), y=70, x=2)),
    "transposed sizes": (page(60, 40, seed=2), page(40, 60, seed=2)),
    "translucent": (translucent(page()), translucent(with_block(page()))),
}


def covered(canvas):
    """The canvas pixels inside any region."""
    mask = np.zeros(canvas, bool)
    for x, y, width, height in REGIONS:
        mask[y:y + height, x:x + width] = True
    return mask


def painted(image, canvas, colour):
    """The image at the top left of a transparent-black canvas, the regions
    painted on it in the opaque colour."""
    out = np.zeros((*canvas, 4), np.uint8)
    out[:image.shape[0], :image.shape[1]] = image
    out[covered(canvas)] = (*colour, 255)
    return out


def drawn(png, colour=None):
    """The RGB pixels of a diff image; with a colour, the regions drawn over
    them in it."""
    pixels = pypng_rgba(png)[..., :3].copy()
    if colour is not None:
        pixels[covered(pixels.shape[:2])] = colour
    return pixels.tobytes()


def canvas_figures(comparison, colour=None):
    """Every figure read on the common canvas; a colour draws the regions over
    the oracle's diff image."""
    return {"count": comparison.diff_count(), "count_aa": comparison.diff_count(threshold=0.0, include_aa=True),
            "capped": comparison.diff_count_capped(40), "diff": drawn(comparison.diff_image(alpha=0.3), colour),
            "diff_beside_thumbnail": drawn(comparison.diff_image_and_thumbnail(alpha=0.3)[0], colour),
            "ssim": comparison.ssim(), "clusters": cluster_figures(comparison.clusters(min_pixels=1, dilation=1)),
            "baseline_thumbnail": comparison.baseline_thumbnail(width=32)}


def own_figures(comparison, colour=None):
    """The figures that also look at each image's own size."""
    alignment = comparison.row_alignment()
    figures = {"alignment": repr(alignment), "segments": [repr(s) for s in alignment.segments],
               "bands": [repr(b) for b in alignment.bands], "current_thumbnail": comparison.current_thumbnail(width=32)}
    if alignment.aligned:
        figures.update(aligned_ssim=comparison.aligned_ssim(alignment),
                       aligned_diff=drawn(comparison.aligned_diff_image(alignment), colour),
                       aligned_beside_thumbnail=drawn(comparison.aligned_diff_image_and_thumbnail(alignment)[0], colour),
                       aligned_clusters=cluster_figures(comparison.aligned_clusters(alignment, min_pixels=1)))
    return figures


def oracles(baseline, current, colour):
    """Comparisons without regions of the pair painted with numpy: on the
    canvas, and cut back to each image's own size."""
    canvas = max(baseline.shape[0], current.shape[0]), max(baseline.shape[1], current.shape[1])
    on_canvas = [painted(image, canvas, colour) for image in (baseline, current)]
    own = [full[:image.shape[0], :image.shape[1]] for full, image in zip(on_canvas, (baseline, current))]
    return rgba_comparison(*on_canvas), rgba_comparison(*own)


COLOURS = [None, (10, 200, 30)]


def keywords(colour):
    return {"ignore": REGIONS} if colour is None else {"ignore": REGIONS, "mask_color": colour}


@pytest.mark.parametrize("colour", COLOURS)
@pytest.mark.parametrize("name", PAIRS)
def test_every_figure_is_that_of_the_pair_painted_beforehand(name, colour):
    baseline, current = PAIRS[name]
    colour_used = colour or (255, 0, 255)
    on_canvas, own = oracles(baseline, current, colour_used)
    from_png = Comparison(png_bytes(baseline), png_bytes(current), **keywords(colour))
    from_rgba = Comparison.from_rgba(baseline.tobytes(), baseline.shape[1], baseline.shape[0], current.tobytes(),
                                     current.shape[1], current.shape[0], **keywords(colour))
    for comparison in (from_png, from_rgba):
        assert canvas_figures(comparison) == canvas_figures(on_canvas, colour_used)
        assert own_figures(comparison) == own_figures(own, colour_used)
        assert comparison.ignored_pixels == covered((comparison.height, comparison.width)).sum()


@pytest.mark.parametrize("colour", COLOURS)
def test_batches_paint_every_pair(colour):
    pngs = [(png_bytes(baseline), png_bytes(current)) for baseline, current in PAIRS.values()]
    colour_used = colour or (255, 0, 255)
    expected = [oracles(baseline, current, colour_used) for baseline, current in PAIRS.values()]
    options = keywords(colour)
    diffs = quorvane.diff_batch(pngs, alpha=0.3, **options)
    counts = quorvane.diff_count_batch(pngs, **options)
    scores = quorvane.ssim_batch(pngs, **options)
    compared = quorvane.compare_batch(pngs, alpha=0.3, return_diff=True, thumbnail_width=32, **options)
    comparisons = Comparison.batch(pngs, **options)
    for (canvas, own), diff, count, score, both, comparison in zip(expected, diffs, counts, scores, compared,
                                                                  comparisons):
        figures = canvas_figures(canvas, colour_used)
        size = (canvas.width, canvas.height)
        assert (drawn(diff[0]), *diff[1:]) == (figures["diff"], figures["count"], *size)
        assert (count, score) == ((figures["count"], *size), figures["ssim"])
        assert (*both[:4], drawn(both[4]), both[5]) == (
            figures["count"], figures["ssim"], *size, figures["diff"], own.current_thumbnail(width=32))
        assert canvas_figures(comparison) == figures
        assert own_figures(comparison) == own_figures(own, colour_used)


def test_an_alignment_belongs_only_to_pairs_painted_alike():
    baseline, current = (png_bytes(image) for image in PAIRS["shifted and edited"])
    alignment = Comparison(baseline, current, ignore=REGIONS).row_alignment()
    assert alignment.aligned and alignment.bands
    assert Comparison(baseline, current, ignore=REGIONS).aligned_ssim(alignment) > 0.0
    for other in ({}, {"ignore": REGIONS[:1]}, {"ignore": REGIONS, "mask_color": (0, 0, 0)}):
        with pytest.raises(ValueError, match="^alignment does not belong to this image pair$"):
            Comparison(baseline, current, **other).aligned_ssim(alignment)


def test_repr_lists_the_regions_as_given_only_when_there_are_some():
    empty = Comparison.from_rgba(b"", 0, 0, b"", 0, 0, ignore=[])
    assert (repr(empty), empty.ignored_pixels) == ("Comparison(0x0, 0 pixels)", 0)
    listed = Comparison.from_rgba(b"", 0, 0, b"", 0, 0, ignore=[[1, 2, 3, 4], (np.int64(5), 6, 2**64 - 1, 8)])
    assert repr(listed) == f"Comparison(0x0, 0 pixels, ignore=[(1, 2, 3, 4), (5, 6, {2**64 - 1}, 8)])"


JUNK = b"not a png file"

# Every entry point that takes the keywords, called on PNGs that do not
# decode: the checks come first.
ENTRIES = {
    "Comparison": lambda **options: Comparison(JUNK, JUNK, **options),
    "from_rgba": lambda **options: Comparison.from_rgba(JUNK, 9, 9, JUNK, 9, 9, **options),
    "Comparison.batch": lambda **options: Comparison.batch([(JUNK, JUNK)], **options),
    "diff_batch": lambda **options: quorvane.diff_batch([(JUNK, JUNK)], threshold=2.0, **options),
    "diff_count_batch": lambda **options: quorvane.diff_count_batch([(JUNK, JUNK)], **options),
    "ssim_batch": lambda **options: quorvane.ssim_batch([(JUNK, JUNK)], **options),
    "compare_batch": lambda **options: quorvane.compare_batch([(JUNK, JUNK)], thumbnail_width=0, **options),
}

BAD = [
    ({"ignore": [(0, 0, 4, 4), (1, 2, 3)]}, "argument 'ignore': rectangle (1, 2, 3) is not four integers "
                                            "(x, y, width, height)"),
    ({"ignore": [[0, 0, 4.0, 4]]}, "argument 'ignore': rectangle [0, 0, 4.0, 4] is not four integers "
                                   "(x, y, width, height)"),
    ({"ignore": [(0, -1, 4, 4)]}, "argument 'ignore': rectangle (0, -1, 4, 4) has a negative y"),
    ({"ignore": [(2**64, 0, 4, 4)]}, f"argument 'ignore': rectangle ({2**64}, 0, 4, 4) has an x beyond 64 bits"),
    ({"ignore": [(0, 0, 0, 4)]}, "argument 'ignore': rectangle (0, 0, 0, 4) has a width below 1"),
    ({"ignore": [(0, 0, 4, -2)]}, "argument 'ignore': rectangle (0, 0, 4, -2) has a height below 1"),
    ({"mask_color": (256, 0, 0)}, "argument 'mask_color': colour (256, 0, 0) is not three integers 0 to 255 "
                                  "(R, G, B)"),
    ({"mask_color": "red"}, "argument 'mask_color': colour 'red' is not three integers 0 to 255 (R, G, B)"),
    ({"ignore": [(0, 0, 1, 1)], "mask_color": (0, 0)}, "argument 'mask_color': colour (0, 0) is not three "
                                                       "integers 0 to 255 (R, G, B)"),
]


@pytest.mark.parametrize("options, message", BAD)
@pytest.mark.parametrize("entry", ENTRIES)
def test_bad_rectangles_and_colours_fail_first_naming_them(entry, options, message):
    with pytest.raises(ValueError) as raised:
        ENTRIES[entry](**options)
    assert str(raised.value) == message


@pytest.mark.parametrize("entry", ENTRIES)
def test_regions_are_keyword_only_and_a_sequence(entry):
    with pytest.raises(TypeError, match="^argument 'ignore': expected a sequence of"):
        ENTRIES[entry](ignore=5)
    with pytest.raises(TypeError, match="positional argument"):
        Comparison(JUNK, JUNK, [(0, 0, 1, 1)])


def test_ignored_pixels_counts_each_covered_canvas_pixel_once():
    rng = np.random.default_rng(5)
    for _ in range(300):
        width, height = (int(side) for side in rng.integers(0, 30, 2))
        regions = [tuple(int(v) for v in (*rng.integers(0, 35, 2), *rng.integers(1, 20, 2)))
                   for _ in range(rng.integers(0, 6))]
        covered = np.zeros((height, width), dtype=bool)
        for x, y, w, h in regions:
            covered[y:y + h, x:x + w] = True
        module = Comparison.from_rgba(bytes(width * height * 4), width, height, b"", 0, 0, ignore=regions)
        assert module.ignored_pixels == covered.sum()
