"""Thumbnails: sizes, crops, the resampling against a reference written here,
and the Python surface of thumbnail(), current_thumbnail() and
baseline_thumbnail(). Every output is decoded with Pillow."""

import math
import struct

import numpy as np
import pytest
from PIL import Image

import quorvane
import screens
from imaging import decode_webp, png_bytes, rgba_comparison

Comparison = quorvane.Comparison


def pair_of(rgba, current=None):
    """A Comparison of a baseline (and a current image, the baseline again by default)."""
    return rgba_comparison(rgba, rgba if current is None else current)


def random_rgba(height, width, seed):
    return np.random.default_rng(seed).integers(0, 256, (height, width, 4), dtype=np.uint8)


def gradient_rgba(height, width):
    """Smooth content, quick to encode, with every row and column told apart."""
    y, x = np.mgrid[0:height, 0:width]
    return np.stack([x % 256, y % 256, (x + y) % 256, np.full_like(x, 255)], axis=-1).astype(np.uint8)


# The reference resampler: the published Lanczos3 kernel, a window of
# 3 * scale source samples each side of the output sample's centre, weights
# normalised per output sample; vertical pass first, in double precision.

def lanczos3(x):
    return np.where(np.abs(x) < 3, np.sinc(x) * np.sinc(x / 3), 0.0)


def weight_matrix(source_length, target_length):
    ratio = source_length / target_length
    scale = max(ratio, 1.0)
    support = 3 * scale
    weights = np.zeros((target_length, source_length))
    for o in range(target_length):
        centre = (o + 0.5) * ratio
        left = min(max(math.floor(centre - support), 0), source_length - 1)
        right = min(max(math.ceil(centre + support), left + 1), source_length)
        taps = lanczos3((np.arange(left, right) - (centre - 0.5)) / scale)
        weights[o, left:right] = taps / taps.sum()
    return weights


def reference_thumbnail(rgba, width):
    source_height, source_width = rgba.shape[:2]
    height = max(1, math.floor(source_height * width / source_width + 0.5))
    pixels = rgba.astype(np.float64)
    vertical = np.einsum("ys,sxc->yxc", weight_matrix(source_height, height), pixels)
    resized = np.einsum("xs,ysc->yxc", weight_matrix(source_width, width), vertical)
    return np.floor(np.clip(resized, 0, 255) + 0.5).astype(np.uint8)[..., :3]


class TestFormat:
    def test_output_is_a_simple_lossless_webp_without_metadata(self):
        data = pair_of(gradient_rgba(30, 40)).current_thumbnail()
        riff, size, webp, chunk, chunk_size = struct.unpack("<4sI4s4sI", data[:20])
        assert (riff, webp) == (b"RIFF", b"WEBP")
        assert size == len(data) - 8
        # One lossless image chunk and nothing else: no extended header, no
        # alpha, EXIF or XMP chunk.
        assert chunk == b"VP8L"
        assert 20 + chunk_size + (chunk_size & 1) == len(data)

    @pytest.mark.parametrize("shape", [(80, 150), (1, 1), (37, 200), (5, 3)])
    def test_unscaled_current_images_round_trip_pixel_for_pixel(self, shape):
        # The baseline has another size: the current image is shown at its own.
        current = random_rgba(*shape, seed=sum(shape))
        comparison = pair_of(random_rgba(60, 30, seed=3), current)
        assert np.array_equal(decode_webp(comparison.current_thumbnail()), current[..., :3])


class TestSizes:
    @pytest.mark.parametrize("source, options, expected", [
        ((1000, 3000), {}, (200, 600)),
        ((1000, 3000), {"height": 5000}, (200, 600)),
        ((1000, 2), {}, (200, 1)),
        ((2000, 1000), {"width": 200, "min_width": 200}, (200, 100)),
        ((1000, 3000), {"min_height": 601}, (200, 3000)),
        ((1000, 3000), {"min_height": 600}, (200, 600)),
        ((150, 80), {"width": 100, "min_height": 60}, (100, 80)),
        ((150, 80), {"width": 400, "min_width": 500, "min_height": 10}, (150, 80)),
        ((201, 100), {}, (200, 100)),
        ((400, 1), {"width": 3}, (3, 1)),
        # 1.5 rows become 2 and 2.5 rows 3: halfway cases round away from zero.
        ((200, 3), {"width": 100}, (100, 2)),
        ((200, 5), {"width": 100}, (100, 3)),
    ])
    def test_output_size(self, source, options, expected):
        width, height = source
        data = pair_of(gradient_rgba(height, width)).current_thumbnail(**options)
        assert decode_webp(data).shape[:2] == (expected[1], expected[0])


class TestContent:
    def test_crop_from_the_top_keeps_the_top_rows(self):
        rgba = random_rgba(80, 150, seed=1)
        assert np.array_equal(decode_webp(pair_of(rgba).current_thumbnail(height=50)), rgba[:50, :, :3])

    @pytest.mark.parametrize("height", [None, 100])
    def test_minimum_size_keeps_the_top_left_corner_unscaled(self, height):
        rgba = gradient_rgba(1000, 2000)
        data = pair_of(rgba).current_thumbnail(width=200, height=height, min_width=300)
        assert np.array_equal(decode_webp(data), rgba[:height or 1000, :200, :3])

    def test_crop_after_scaling_shows_the_top_of_the_scaled_image(self):
        comparison = pair_of(random_rgba(300, 100, seed=2))
        whole = decode_webp(comparison.current_thumbnail(width=40))
        top = decode_webp(comparison.current_thumbnail(width=40, height=15))
        assert whole.shape[:2] == (120, 40)
        assert np.array_equal(top, whole[:15])

    @pytest.mark.parametrize("stored", [(10, 20, 30), (0, 0, 0), (255, 128, 1)])
    @pytest.mark.parametrize("width", [200, 16])
    def test_transparent_pixels_show_their_stored_colour(self, stored, width):
        rgba = np.zeros((48, 64, 4), np.uint8)
        rgba[..., :3] = stored
        thumbnail = decode_webp(pair_of(rgba).current_thumbnail(width=width))
        assert np.all(thumbnail == stored)

    def test_baseline_thumbnail_shows_the_padding_as_black(self):
        baseline = random_rgba(20, 30, seed=5)
        current = random_rgba(40, 50, seed=6)
        thumbnail = decode_webp(pair_of(baseline, current).baseline_thumbnail())
        expected = np.zeros((40, 50, 3), np.uint8)
        expected[:20, :30] = baseline[..., :3]
        assert np.array_equal(thumbnail, expected)

    def test_module_function_thumbnails_the_decoded_png(self):
        rgba = random_rgba(70, 260, seed=7)
        expected = decode_webp(pair_of(rgba).current_thumbnail(width=120, height=20))
        assert np.array_equal(decode_webp(quorvane.thumbnail(png_bytes(rgba), 120, 20)), expected)


class TestResampling:
    # Sizes in both directions, odd ratios, windows cut by the edges, one
    # image large enough to be split over the worker pool, and an axis that
    # keeps its length.
    @pytest.mark.parametrize("height, width, target", [
        (23, 37, 10), (64, 64, 31), (120, 50, 17), (7, 200, 13), (300, 9, 4),
        (5, 40, 39), (1, 30, 7), (500, 700, 150), (40, 41, 40),
    ])
    def test_agrees_with_the_reference(self, height, width, target):
        # Random alpha too: colour must not be weighted by it.
        rgba = random_rgba(height, width, seed=height * width)
        ours = decode_webp(pair_of(rgba).current_thumbnail(width=target)).astype(int)
        reference = reference_thumbnail(rgba, target).astype(int)
        assert ours.shape == reference.shape
        difference = np.abs(ours - reference)
        assert difference.max() <= 1
        # Single-precision arithmetic only tips values sitting at a rounding edge.
        assert np.mean(difference == 0) > 0.99

    def test_halfway_values_round_away_from_zero(self):
        # Two pixels into one: both weigh exactly one half.
        rgba = np.array([[[0, 2, 4, 255], [1, 3, 5, 255]]], np.uint8)
        assert decode_webp(pair_of(rgba).current_thumbnail(width=1)).tolist() == [[[1, 3, 5]]]

    @pytest.mark.parametrize("height, width, target", [(97, 180, 40), (400, 300, 200), (60, 1000, 77)])
    def test_is_close_to_pillow(self, height, width, target):
        rgba = random_rgba(height, width, seed=target)
        ours = decode_webp(pair_of(rgba).current_thumbnail(width=target)).astype(int)
        size = (target, ours.shape[0])
        pillow = np.asarray(Image.fromarray(rgba[..., :3]).resize(size, Image.LANCZOS)).astype(int)
        assert np.mean(np.abs(ours - pillow)) < 1.0


class TestErrors:
    @pytest.mark.parametrize("options, message", [
        ({"width": 0}, "thumbnail max_width must be > 0"),
        ({"height": 0}, "thumbnail max_height must be > 0"),
        ({"width": 0, "height": 0}, "thumbnail max_width must be > 0"),
    ])
    def test_zero_sizes(self, options, message):
        comparison = pair_of(gradient_rgba(4, 4))
        png = png_bytes(gradient_rgba(4, 4))
        for call in (comparison.current_thumbnail, comparison.baseline_thumbnail,
                     lambda **kw: quorvane.thumbnail(png, **kw)):
            with pytest.raises(ValueError) as raised:
                call(**options)
            assert str(raised.value) == message

    def test_not_a_png(self):
        with pytest.raises(ValueError, match="^failed to decode PNG: "):
            quorvane.thumbnail(b"GIF89a not a png")

    @pytest.mark.parametrize("shape, width", [((0, 0), 200), ((1, 20000), 30000), ((20000, 1), 200)])
    def test_sizes_webp_cannot_hold(self, shape, width):
        comparison = pair_of(np.zeros(shape + (4,), np.uint8))
        with pytest.raises(ValueError, match="^failed to encode WebP: "):
            comparison.current_thumbnail(width=width)

    @pytest.mark.parametrize("options, error", [
        ({"width": None}, TypeError),
        ({"width": 2.0}, TypeError),
        ({"width": -1}, OverflowError),
        ({"height": -5}, OverflowError),
        ({"min_width": "3"}, TypeError),
        ({"min_height": 2 ** 64}, OverflowError),
        ({"depth": 3}, TypeError),
    ])
    def test_argument_conversion(self, options, error):
        with pytest.raises(error):
            pair_of(gradient_rgba(4, 4)).current_thumbnail(**options)

    def test_png_bytes_must_be_bytes(self):
        with pytest.raises(TypeError, match="argument 'png_bytes': "):
            quorvane.thumbnail(bytearray(png_bytes(gradient_rgba(2, 2))))


class TestEffort:
    # Every entry point that encodes a thumbnail, given the effort.
    CALLS = {
        "thumbnail": lambda pair, png, **effort: quorvane.thumbnail(png, 40, **effort),
        "current_thumbnail": lambda pair, png, **effort: pair.current_thumbnail(40, **effort),
        "baseline_thumbnail": lambda pair, png, **effort: pair.baseline_thumbnail(40, **effort),
        "compare_batch": lambda pair, png, **effort: quorvane.compare_batch(
            [(png, png)], thumbnail_width=40, **effort)[0][5],
        "diff_image_and_thumbnail": lambda pair, png, **effort: pair.diff_image_and_thumbnail(
            thumbnail_width=40, **effort)[1],
    }

    @pytest.fixture(scope="class")
    def source(self):
        rgba = random_rgba(90, 120, seed=11)
        return pair_of(rgba, rgba), png_bytes(rgba)

    @pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
    def test_every_level_is_lossless_and_none_is_libwebps_default(self, source, call):
        default = call(*source)
        pixels = decode_webp(default)
        for level in range(10):
            assert np.array_equal(decode_webp(call(*source, effort=level)), pixels)
        # Preset 6 is libwebp's default method (4) and quality (75).
        assert call(*source, effort=None) == default == call(*source, effort=6)
        assert call(*source, effort=0) != default

    @pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
    @pytest.mark.parametrize("effort, shown", [(10, "10"), (-1, "-1"), (2**70, str(2**70)), (1.0, "float"),
                                               (True, "bool"), ("3", "str")])
    def test_anything_but_none_or_0_to_9_is_refused(self, source, call, effort, shown):
        with pytest.raises(ValueError) as raised:
            call(*source, effort=effort)
        assert str(raised.value) == f"argument 'effort': expected None or an integer from 0 to 9, got {shown}"

    def test_effort_is_keyword_only(self, source):
        pair, _ = source
        with pytest.raises(TypeError, match=r"takes at most 4 positional arguments \(5 given\)"):
            pair.current_thumbnail(40, None, None, None, 1)


def test_baseline_at_its_own_size_is_the_thumbnail_of_its_png():
    baseline, current = random_rgba(70, 260, seed=8), random_rgba(90, 300, seed=9)
    pair = pair_of(baseline, current)
    own = pair.baseline_thumbnail(width=120, own_size=True)
    assert own == quorvane.thumbnail(png_bytes(baseline), 120)
    assert decode_webp(pair.baseline_thumbnail(width=120)).shape[:2] == (36, 120)  # padded to 300 x 90
    assert pair_of(baseline).baseline_thumbnail(own_size=True) == pair_of(baseline).baseline_thumbnail()


class TestImageAndThumbnail:
    """diff_image_and_thumbnail and aligned_diff_image_and_thumbnail: the PNG
    is the plain method's, the thumbnail is the one of that PNG's pixels."""

    @pytest.fixture(scope="class")
    def shifted_pair(self):
        base = screens.page(300, 160, seed=4)
        current = screens.with_block(screens.shifted(base, at=100, rows=12), y=20, x=30, size=40)
        pair = pair_of(base, current)
        return pair, pair.row_alignment()

    CALLS = {
        "diff": lambda pair, alignment, **options: (
            pair.diff_image(**options), pair.diff_image_and_thumbnail),
        "aligned diff": lambda pair, alignment, **options: (
            pair.aligned_diff_image(alignment, **options),
            lambda **kw: pair.aligned_diff_image_and_thumbnail(alignment, **kw)),
    }

    @pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
    @pytest.mark.parametrize("thumbnail", [{}, {"thumbnail_width": 64, "thumbnail_height": 50, "effort": 0},
                                           {"thumbnail_width": 500}])
    def test_png_is_the_plain_methods_and_thumbnail_is_of_its_pixels(self, shifted_pair, call, thumbnail):
        options = {"threshold": 0.05, "alpha": 0.4, "diff_color": (0, 0, 255), "include_aa": True}
        expected_png, method = call(*shifted_pair, **options)
        png, webp = method(**options, **thumbnail)
        assert png == expected_png
        width, height = thumbnail.get("thumbnail_width", 200), thumbnail.get("thumbnail_height")
        assert webp == quorvane.thumbnail(png, width, height, effort=thumbnail.get("effort"))

    def test_thumbnail_errors_follow_the_image(self, shifted_pair):
        pair, alignment = shifted_pair
        with pytest.raises(ValueError, match="^thumbnail max_width must be > 0$"):
            pair.diff_image_and_thumbnail(thumbnail_width=0)
        with pytest.raises(ValueError, match="^thumbnail max_height must be > 0$"):
            pair.aligned_diff_image_and_thumbnail(alignment, thumbnail_height=0)
        foreign = pair_of(screens.page(300, 160, seed=5)).row_alignment()
        with pytest.raises(ValueError, match="alignment"):
            pair.aligned_diff_image_and_thumbnail(foreign, thumbnail_width=0)

    BESIDE = ("once, and a thumbnail of the same pixels, made as `thumbnail()` makes one:\n"
              "scaled down to `thumbnail_width`, cropped from the top to\n"
              "`thumbnail_height` when set, encoded with `effort`.")
    SHOWN = ("threshold=0.1, alpha=0.1, include_aa=False, diff_color=..., aa_color=..., diff_color_alt=None, "
             "thumbnail_width=200, thumbnail_height=None, effort=None")

    @pytest.mark.parametrize("method, signature, doc", [
        (Comparison.diff_image_and_thumbnail, f"($self, *, {SHOWN})",
         "Generate the diff image as PNG bytes and its lossless WebP thumbnail.\n\n"
         "Returns (png_bytes, webp_bytes): the diff image of `diff_image()`, drawn\n" + BESIDE),
        (Comparison.aligned_diff_image_and_thumbnail, f"($self, alignment, *, {SHOWN})",
         "Generate the shift-aware diff image as PNG bytes and its lossless WebP thumbnail.\n\n"
         "Returns (png_bytes, webp_bytes): the image of `aligned_diff_image()`, drawn\n" + BESIDE),
    ])
    def test_signatures_and_docstrings(self, method, signature, doc):
        assert (method.__text_signature__, method.__doc__) == (signature, doc)


class TestSurface:
    EFFORT = ("`effort` selects libwebp's lossless preset of that level, from 0\n"
              "(fastest) to 9 (smallest file); None keeps libwebp's default settings.")

    @pytest.mark.parametrize("function, signature, doc", [
        (quorvane.thumbnail, "(png_bytes, width=200, height=None, *, effort=None)",
         "Create a lossless WebP thumbnail from a PNG image.\n\n"
         "Scales down to `width`, preserving aspect ratio. If `height` is set,\n"
         "crops from the top after resizing \u2014 useful for fixed-size grid cells.\n"
         "Images already within bounds are re-encoded without resizing.\n\n" + EFFORT),
        (Comparison.current_thumbnail,
         "($self, width=200, height=None, min_width=None, min_height=None, *, effort=None)",
         "Generate a lossless WebP thumbnail of the current image.\n\n"
         "When scaling would make either dimension smaller than `min_width` /\n"
         "`min_height`, the original is top-left cropped instead (no upscaling).\n\n" + EFFORT),
        (Comparison.baseline_thumbnail,
         "($self, width=200, height=None, min_width=None, min_height=None, *, effort=None, own_size=False)",
         "Generate a lossless WebP thumbnail of the baseline image.\n\n"
         "The baseline is shown as compared, padded with transparent black to the\n"
         "common size; with `own_size`, at its own size. `effort` as in\n"
         "`current_thumbnail()`."),
    ])
    def test_signatures_and_docstrings(self, function, signature, doc):
        assert (function.__text_signature__, function.__doc__) == (signature, doc)
