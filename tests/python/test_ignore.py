"""Ignore regions: every figure of a pair compared with `ignore=` is the
figure of the same pair painted beforehand with numpy and compared without
regions, its diff images with the regions drawn over them in the mask colour;
bad rectangles and colours fail before any work, at every entry."""

import numpy as np
import pytest
from entry_calls import comparable
from imaging import pixels, png_bytes, rgba_comparison
from screens import page, shifted, with_block

import quorvane

Comparison = quorvane.Comparison

# Canvas rectangles: over a changed block, across the shift, reaching past
# the canvas, wholly outside it, overlapping each other, in the padding rows
# of a pair of different heights.
REGIONS = [(8, 16, 16, 14), (14, 36, 6, 8), (34, 58, 4, 30), (40, 88, 50, 50), (500, 500, 4, 4), (0, 100, 48, 6)]
TRANSLUCENT = np.random.default_rng(3).integers(0, 256, (96, 48), dtype=np.uint8)
PAIRS = {
    "shifted and edited": (page(160), with_block(shifted(page(160)), y=60, x=30)),
    "edited in a region": (page(), with_block(page(), y=18, x=10)),
    "taller baseline": (page(110), with_block(page(), y=70, x=2)),
    "transposed sizes": (page(60, 40, seed=2), page(40, 60, seed=2)),
    "translucent": tuple(np.dstack([image[..., :3], TRANSLUCENT]) for image in (page(), with_block(page()))),
}


def covered(canvas):
    """The canvas pixels inside any region."""
    mask = np.zeros(canvas, bool)
    for x, y, width, height in REGIONS:
        mask[y : y + height, x : x + width] = True
    return mask


def oracles(baseline, current, colour):
    """Comparisons without regions of the pair painted with numpy, on a
    transparent-black canvas, and cut back to each image's own size."""
    canvas = max(baseline.shape[0], current.shape[0]), max(baseline.shape[1], current.shape[1])
    on_canvas = []
    for image in (baseline, current):
        out = np.zeros((*canvas, 4), np.uint8)
        out[: image.shape[0], : image.shape[1]] = image
        out[covered(canvas)] = (*colour, 255)
        on_canvas.append(out)
    own = [full[: image.shape[0], : image.shape[1]] for full, image in zip(on_canvas, (baseline, current))]
    return rgba_comparison(*on_canvas), rgba_comparison(*own)


def drawn(png, colour=None):
    """The RGB pixels of a diff image; with a colour, the regions drawn over
    them in it."""
    out = pixels(png).copy()
    if colour is not None:
        out[covered(out.shape[:2])] = colour
    return out.tobytes()


def figures(canvas, own, colour=None):
    """Every figure: those read on the common canvas from `canvas`, those
    that also look at each image's own size from `own`; a colour draws the
    regions over the oracle's diff images."""
    alignment = own.row_alignment()
    result = {
        "count": canvas.diff_count(),
        "count_aa": canvas.diff_count(threshold=0.0, include_aa=True),
        "capped": canvas.diff_count_capped(40),
        "diff": drawn(canvas.diff_image(alpha=0.3), colour),
        "diff_beside_thumbnail": drawn(canvas.diff_image_and_thumbnail(alpha=0.3)[0], colour),
        "ssim": canvas.ssim(),
        "clusters": comparable(canvas.clusters(min_pixels=1, dilation=1)),
        "baseline_thumbnail": canvas.baseline_thumbnail(width=32),
        "alignment": comparable(alignment),
        "current_thumbnail": own.current_thumbnail(width=32),
    }
    if alignment.aligned:
        result.update(
            aligned_ssim=own.aligned_ssim(alignment),
            aligned_diff=drawn(own.aligned_diff_image(alignment), colour),
            aligned_beside_thumbnail=drawn(own.aligned_diff_image_and_thumbnail(alignment)[0], colour),
            aligned_clusters=comparable(own.aligned_clusters(alignment, min_pixels=1)),
        )
    return result


@pytest.mark.parametrize("colour", [None, (10, 200, 30)])
@pytest.mark.parametrize("name", PAIRS)
def test_every_figure_is_that_of_the_pair_painted_beforehand(name, colour):
    baseline, current = PAIRS[name]
    expected = figures(*oracles(baseline, current, colour or (255, 0, 255)), colour or (255, 0, 255))
    options = {"ignore": REGIONS} if colour is None else {"ignore": REGIONS, "mask_color": colour}
    pngs = [(png_bytes(baseline), png_bytes(current))]
    (decoded,), (diff,), (count,), (score,), (compared,) = (
        Comparison.batch(pngs, **options),
        quorvane.diff_batch(pngs, alpha=0.3, **options),
        quorvane.diff_count_batch(pngs, **options),
        quorvane.ssim_batch(pngs, **options),
        quorvane.compare_batch(pngs, alpha=0.3, return_diff=True, thumbnail_width=32, **options),
    )
    for comparison in (Comparison(*pngs[0], **options), rgba_comparison(baseline, current, **options), decoded):
        assert figures(comparison, comparison) == expected
        assert comparison.ignored_pixels == covered((comparison.height, comparison.width)).sum()
    size = (decoded.width, decoded.height)
    assert (drawn(diff[0]), *diff[1:]) == (expected["diff"], expected["count"], *size)
    assert (count, score) == ((expected["count"], *size), expected["ssim"])
    values = (expected["count"], expected["ssim"], *size, expected["diff"], expected["current_thumbnail"])
    assert (*compared[:4], drawn(compared[4]), compared[5]) == values


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
    "check_regions": lambda **options: quorvane.check_regions(**{"ignore": (), **options}),
}
RECTANGLE, NOT_FOUR = "argument 'ignore': rectangle ", " is not four integers (x, y, width, height)"
COLOUR, NOT_THREE = "argument 'mask_color': colour ", " is not three integers 0 to 255 (R, G, B)"


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"ignore": [(0, 0, 4, 4), (1, 2, 3)]}, ValueError, RECTANGLE + "(1, 2, 3)" + NOT_FOUR),
        ({"ignore": [[0, 0, 4.0, 4]]}, ValueError, RECTANGLE + "[0, 0, 4.0, 4]" + NOT_FOUR),
        ({"ignore": [(0, -1, 4, 4)]}, ValueError, RECTANGLE + "(0, -1, 4, 4) has a negative y"),
        ({"ignore": [(2**64, 0, 4, 4)]}, ValueError, RECTANGLE + f"({2**64}, 0, 4, 4) has an x beyond 64 bits"),
        ({"ignore": [(0, 0, 4, -2)]}, ValueError, RECTANGLE + "(0, 0, 4, -2) has a height below 1"),
        (
            {"ignore": 5},
            TypeError,
            "argument 'ignore': expected a sequence of (x, y, width, height) rectangles, got int",
        ),
        ({"mask_color": (256, 0, 0)}, ValueError, COLOUR + "(256, 0, 0)" + NOT_THREE),
        ({"ignore": [(0, 0, 1, 1)], "mask_color": (0, 0)}, ValueError, COLOUR + "(0, 0)" + NOT_THREE),
    ],
)
@pytest.mark.parametrize("entry", ENTRIES)
def test_bad_rectangles_and_colours_fail_first_naming_them(entry, options, error, message):
    with pytest.raises(error) as raised:
        ENTRIES[entry](**options)
    assert str(raised.value) == message
    if error is ValueError:
        assert type(raised.value) is quorvane.RegionError and raised.value.reason == message.split(": ", 1)[1]
