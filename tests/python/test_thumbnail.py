"""Thumbnails: sizes and crops, the resampling against a reference written
here, the effort levels, and the thumbnails made beside a diff image. Every
output is decoded with Pillow."""

import functools
import math
import struct

import numpy as np
import pytest
import screens
from imaging import SCREENS, pixels, png_bytes, random_rgba, rgba_comparison
from PIL import Image

import quorvane


def pair_of(rgba, current=None):
    """A Comparison of a baseline (and a current image, the baseline again by default)."""
    return rgba_comparison(rgba, rgba if current is None else current)


def gradient_rgba(height, width):
    """Smooth content, quick to encode, with every row and column told apart."""
    y, x = np.mgrid[0:height, 0:width]
    return np.stack([x % 256, y % 256, (x + y) % 256, np.full_like(x, 255)], axis=-1).astype(np.uint8)


# The reference resampler, in single precision as the thumbnails are made:
# the published Lanczos3 kernel (its sine rounded once to single precision,
# from Python's double one) over 3 * scale
# source samples each side of an output sample's centre, weights normalised
# per output sample, taps added in order, the vertical pass first; colour
# is not weighted by alpha, and halves round up.
F = np.float32


def lanczos3(x):
    def sinc(t):
        a = F(t * F(math.pi))
        return F(1) if t == 0 else F(F(math.sin(a)) / a)

    return F(sinc(x) * sinc(F(x / F(3)))) if abs(x) < 3 else F(0)


def resample(source, target_length):
    """`source` (float32) resampled along its first axis."""
    length = source.shape[0]
    ratio = F(length) / F(target_length)
    scale = max(ratio, F(1))
    rows = []
    for o in range(target_length):
        centre = F(F(o) + F(0.5)) * ratio
        left = min(max(math.floor(centre - F(3) * scale), 0), length - 1)
        right = min(max(math.ceil(centre + F(3) * scale), left + 1), length)
        weights = [lanczos3(F(F(F(i) - F(centre - F(0.5))) / scale)) for i in range(left, right)]
        total = functools.reduce(lambda total, weight: F(total + weight), weights, F(0))
        row = np.zeros(source.shape[1:], F)
        for k, weight in enumerate(weights):
            row = row + source[left + k] * F(weight / total)
        rows.append(row)
    return np.stack(rows)


def reference_resize(rgba, width, height):
    resized = np.clip(resample(resample(rgba.astype(F), height).swapaxes(0, 1), width).swapaxes(0, 1), 0, 255)
    whole = np.trunc(resized)
    return (whole + (resized - whole >= F(0.5))).astype(np.uint8)


def reference_thumbnail(rgba, width):
    return reference_resize(rgba, width, max(1, math.floor(rgba.shape[0] * width / rgba.shape[1] + 0.5)))[..., :3]


def test_output_is_a_simple_lossless_webp_without_metadata_at_every_effort():
    rgba = random_rgba(30, 40, seed=5)  # noise, shown unscaled
    for effort in (None, "fast", *range(10)):
        data = pair_of(rgba).current_thumbnail(effort=effort)
        riff, size, webp, chunk, chunk_size = struct.unpack("<4sI4s4sI", data[:20])
        assert (riff, webp, size) == (b"RIFF", b"WEBP", len(data) - 8)
        # One lossless image chunk and nothing else: no extended header, no
        # alpha, EXIF or XMP chunk.
        assert chunk == b"VP8L" and 20 + chunk_size + (chunk_size & 1) == len(data)
        assert np.array_equal(pixels(data), rgba[..., :3])


@pytest.mark.parametrize(
    "source, options, expected",
    [
        *[((400, 1200), {}, (200, 600)), ((1000, 2), {}, (200, 1)), ((201, 100), {}, (200, 100))],
        ((400, 200), {"width": 200, "min_width": 200}, (200, 100)),
        ((400, 1200), {"min_height": 601}, (200, 1200)),
        ((400, 1200), {"min_height": 600}, (200, 600)),
        ((150, 80), {"width": 100, "min_height": 60}, (100, 80)),
        ((150, 80), {"width": 400, "min_width": 500, "min_height": 10}, (150, 80)),
        # 1.5 rows become 2 and 2.5 rows 3: halfway cases round away from zero.
        ((200, 3), {"width": 100}, (100, 2)),
        ((200, 5), {"width": 100}, (100, 3)),
    ],
)
def test_output_size(source, options, expected):
    width, height = source
    assert pixels(pair_of(gradient_rgba(height, width)).current_thumbnail(**options)).shape[1::-1] == expected


def test_unscaled_images_round_trip_and_crops_keep_the_top_or_the_top_left():
    for shape in [(80, 150), (1, 1), (37, 200), (5, 3)]:
        # The baseline has another size: the current image is shown at its own.
        current = random_rgba(*shape, seed=sum(shape))
        assert np.array_equal(pixels(pair_of(random_rgba(60, 30, 3), current).current_thumbnail()), current[..., :3])
    rgba = random_rgba(80, 150, seed=1)
    assert np.array_equal(pixels(pair_of(rgba).current_thumbnail(height=50)), rgba[:50, :, :3])
    # Below a minimum size the source is cut, not scaled.
    rgba = gradient_rgba(500, 1000)
    for height in (None, 100):
        data = pair_of(rgba).current_thumbnail(width=200, height=height, min_width=300)
        assert np.array_equal(pixels(data), rgba[: height or 500, :200, :3])


def test_baseline_is_shown_padded_or_at_its_own_size_and_thumbnail_decodes_its_png():
    baseline, current = random_rgba(70, 260, seed=8), random_rgba(90, 300, seed=9)
    pair = pair_of(baseline, current)
    padded = np.zeros((90, 300, 3), np.uint8)
    padded[:70, :260] = baseline[..., :3]
    assert np.array_equal(pixels(pair.baseline_thumbnail(width=300)), padded)
    assert pair.baseline_thumbnail(width=120, own_size=True) == quorvane.thumbnail(png_bytes(baseline), 120)
    assert quorvane.thumbnail(png_bytes(current), 120, 20) == pair.current_thumbnail(width=120, height=20)


# Sizes in both directions, odd ratios, windows cut by the edges, one image
# large enough to be split over the worker pool, and an axis that keeps its
# length; random alpha too.
@pytest.mark.parametrize(
    "height, width, target",
    [(23, 37, 10), (64, 64, 31), (120, 50, 17), (7, 200, 13), (300, 9, 4), (5, 40, 39), (1, 30, 7), (500, 700, 150)]
    + [(40, 41, 40), (97, 180, 40), (60, 1000, 77)],
)
def test_resampling_is_the_references_and_close_to_pillows(height, width, target):
    rgba = random_rgba(height, width, seed=height * width)
    ours = pixels(pair_of(rgba).current_thumbnail(width=target))
    np.testing.assert_array_equal(ours, reference_thumbnail(rgba, target))
    pillow = Image.fromarray(rgba[..., :3]).resize(ours.shape[1::-1], Image.LANCZOS)
    assert np.mean(np.abs(ours.astype(int) - np.asarray(pillow))) < 1.0
    # resize_png: the same filter on each axis, to any size
    resized = pixels(quorvane.resize_png(png_bytes(rgba), target, height * 2 + 1), "RGBA")
    np.testing.assert_array_equal(resized[..., :3], reference_resize(rgba, target, height * 2 + 1)[..., :3])
    assert (resized[..., 3] == 255).all()  # an RGB file, like every PNG the module writes


def test_resampling_of_repeated_rows_is_the_references():
    # One row repeated but for a single other row, at every place in turn: a
    # resampled row reads the other at each of its taps, or not at all.
    # Some columns are alike in every row (a page's margin, its background).
    repeated = np.repeat(random_rgba(1, 20, seed=2), 40, axis=0)
    for row in range(40):
        rgba = repeated.copy()
        rgba[row, 5:] = random_rgba(1, 15, seed=row)[0]
        np.testing.assert_array_equal(pixels(pair_of(rgba).current_thumbnail(width=3)), reference_thumbnail(rgba, 3))


def test_resampled_halves_round_away_from_zero():
    # Two pixels into one: both weigh exactly one half.
    rgba = np.array([[[0, 2, 4, 255], [1, 3, 5, 255]]], np.uint8)
    assert pixels(pair_of(rgba).current_thumbnail(width=1)).tolist() == [[[1, 3, 5]]]


def test_errors():
    with pytest.raises(quorvane.DecodeError, match="^failed to decode PNG: ") as raised:
        quorvane.thumbnail(b"not a png")
    assert raised.value.side is None  # a lone image
    pair, png = pair_of(gradient_rgba(4, 4)), png_bytes(gradient_rgba(4, 4))
    for call in (pair.current_thumbnail, pair.baseline_thumbnail, functools.partial(quorvane.thumbnail, png)):
        for side in ("width", "height"):
            with pytest.raises(ValueError, match=f"^thumbnail max_{side} must be > 0$"):
                call(**{side: 0})
    for size, message in [((0, 5), "width and height must be at least 1"), ((1 << 16, 1 << 16), "512 MiB")]:
        with pytest.raises(ValueError, match=message):
            quorvane.resize_png(png, *size)
    for shape, width in [((0, 0), 200), ((1, 20000), 30000), ((20000, 1), 200)]:
        with pytest.raises(quorvane.EncodeError, match="^failed to encode WebP: "):
            pair_of(np.zeros(shape + (4,), np.uint8)).current_thumbnail(width=width)


@pytest.mark.parametrize("aligned", [False, True])
@pytest.mark.parametrize(
    "thumbnail", [{}, {"thumbnail_width": 64, "thumbnail_height": 50, "effort": 0}, {"thumbnail_width": 500}]
)
def test_beside_a_diff_image_the_png_is_the_plain_methods_and_the_thumbnail_of_its_pixels(aligned, thumbnail):
    base = screens.page(300, 160, seed=4)
    pair = pair_of(base, screens.with_block(screens.shifted(base, at=100, rows=12), y=20, x=30, size=40))
    options = {"threshold": 0.05, "alpha": 0.4, "diff_color": (0, 0, 255), "include_aa": True}
    if aligned:
        alignment = pair.row_alignment()
        expected = pair.aligned_diff_image(alignment, **options)
        png, webp = pair.aligned_diff_image_and_thumbnail(alignment, **options, **thumbnail)
    else:
        expected, (png, webp) = pair.diff_image(**options), pair.diff_image_and_thumbnail(**options, **thumbnail)
    assert png == expected
    width, height = thumbnail.get("thumbnail_width", 200), thumbnail.get("thumbnail_height")
    assert webp == quorvane.thumbnail(png, width, height, effort=thumbnail.get("effort"))


@functools.cache
def screenshot_pair(baseline, current):
    return quorvane.Comparison(*((SCREENS / name).read_bytes() for name in (baseline, current)))


@pytest.mark.parametrize(
    "pair",
    [("page_baseline.png", "page_inserted_banner.png"), ("table_1080p.png", "table_1080p_padded.png")],
)
@pytest.mark.parametrize("image", ["baseline", "current", "diff", "aligned diff"])
def test_the_fast_encoder_writes_libwebps_pixels_at_about_its_default_size(pair, image):
    """The report's four thumbnails of real screenshots: the module's own
    encoder gives the pixels libwebp gives, in at most 1.15 times the bytes
    of libwebp's default settings."""
    comparison = screenshot_pair(*pair)
    make = {
        "baseline": lambda effort: comparison.baseline_thumbnail(240, own_size=True, effort=effort),
        "current": lambda effort: comparison.current_thumbnail(240, effort=effort),
        "diff": lambda effort: comparison.diff_image_and_thumbnail(thumbnail_width=240, effort=effort)[1],
        "aligned diff": lambda effort: comparison.aligned_diff_image_and_thumbnail(
            comparison.row_alignment(), thumbnail_width=240, effort=effort
        )[1],
    }[image]
    fast, default = make("fast"), make(None)
    assert np.array_equal(pixels(fast), pixels(default))
    assert len(fast) <= 1.15 * len(default)
