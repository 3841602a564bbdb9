"""Inputs that claim more memory than they bring: sizes a PNG header or a
from_rgba call only claims, and canvases that padding would blow up. Each
ends with a clear error at every entry point, without the memory."""

import zlib

import pytest
from imaging import png_bytes, png_claiming, random_rgba
from memory_use import peak_growth

import quorvane

Comparison = quorvane.Comparison
SMALL = png_bytes(random_rgba(4, 5, seed=1))


def fails_within_bound(call, error, text):
    peak, outcome = peak_growth(call)
    assert isinstance(outcome, error) and str(outcome).startswith(text), outcome
    if peak is None:
        pytest.skip("the resident-memory peak cannot be reset here")
    assert peak < 64 * 2**20


def pair_calls(baseline, current):
    """Every entry point that decodes a pair of PNGs."""
    pairs = [(SMALL, SMALL), (baseline, current)]
    return [
        lambda: Comparison(baseline, current),
        lambda: Comparison.batch(pairs),
        lambda: quorvane.diff_batch(pairs),
        lambda: quorvane.diff_count_batch(pairs),
        lambda: quorvane.ssim_batch(pairs),
        lambda: quorvane.compare_batch(pairs, return_diff=True, thumbnail_width=10),
    ]


@pytest.mark.parametrize("width, height", [(100000, 100000), (12000, 12000)])  # 40 GB; 576 MB, over the 512 MiB budget
def test_a_claimed_size_is_a_decode_error_without_the_memory(width, height):
    claim = png_claiming(width, height, zlib.compress(bytes(100)))
    for call in pair_calls(SMALL, claim) + [lambda: quorvane.thumbnail(claim)]:
        fails_within_bound(call, ValueError, "failed to decode PNG: ")


@pytest.mark.parametrize(
    "width, height, expected",
    [
        (100000, 100000, "invalid RGBA buffer length: expected 40000000000 bytes for 100000x100000, got 16"),
        (2**31, 2**31, "image dimensions overflowed"),  # the pixels fit in 64 bits, their bytes do not
        (2**32, 2**32, "image dimensions overflowed"),
    ],
)
def test_from_rgba_with_huge_sizes_and_a_short_buffer_is_a_value_error(width, height, expected):
    for arguments in [(bytes(16), width, height, bytes(16), 2, 2), (bytes(16), 2, 2, bytes(16), width, height)]:
        fails_within_bound(lambda: Comparison.from_rgba(*arguments), ValueError, expected)


def png_of_size(width, height):
    """A valid opaque white PNG, a few hundred bytes however long its side."""
    return png_claiming(width, height, zlib.compress((b"\0" + b"\xff" * (width * 4)) * height, 9))


def test_a_canvas_far_larger_than_both_images_is_a_memory_error():
    # Two valid PNGs of a few hundred bytes whose common canvas would hold
    # 70000 x 70000 pixels: 19.6 GB per image, written in full by padding.
    tall, wide = png_of_size(1, 70000), png_of_size(70000, 1)
    assert len(tall) + len(wide) < 2000
    rgba = b"\xff" * (70000 * 4)
    for call in pair_calls(tall, wide) + [lambda: Comparison.from_rgba(rgba, 1, 70000, rgba, 70000, 1)]:
        fails_within_bound(call, MemoryError, "")
    # Within the budget the same shapes are compared as ever: all of the
    # first column and of the first row but their shared corner differ.
    assert quorvane.diff_count_batch([(png_of_size(1, 3000), png_of_size(3000, 1))]) == [(2 * (3000 - 1), 3000, 3000)]
