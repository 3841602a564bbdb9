"""Building a Comparison: the common canvas of two sizes, PNG and RGBA
inputs padded alike, and the errors of inputs that are not a pair of images."""

import zlib

import numpy as np
import pytest

import quorvane
from imaging import png_bytes, png_claiming, random_rgba, rgba_comparison

Comparison = quorvane.Comparison


@pytest.mark.parametrize("baseline, current, canvas", [
    ((5, 3), (5, 3), (5, 3)),
    ((2, 1), (1, 2), (2, 2)),  # transposed sizes meet on the larger canvas
    ((40, 30), (40, 50), (40, 50)),
    ((40, 50), (40, 30), (40, 50)),
    ((30, 50), (40, 30), (40, 50)),
    ((0, 0), (0, 0), (0, 0)),
])
def test_pairs_meet_on_the_larger_canvas_padded_alike_from_png_and_rgba(baseline, current, canvas):
    # A PNG image as wide as the canvas is padded below in its own buffer;
    # RGBA buffers are copied onto a canvas. Both must give one pair.
    first, second = (random_rgba(height, width, seed=width) for width, height in (baseline, current))
    from_rgba = rgba_comparison(first, second)
    assert (from_rgba.baseline_size, from_rgba.current_size) == (baseline, current)
    assert (from_rgba.width, from_rgba.height, from_rgba.size_mismatch) == (*canvas, baseline != current)
    assert repr(from_rgba) == f"Comparison({canvas[0]}x{canvas[1]}, {canvas[0] * canvas[1]} pixels)"
    if 0 not in canvas:
        from_png = Comparison(png_bytes(first), png_bytes(second))
        for method in ("diff_image", "baseline_thumbnail", "current_thumbnail"):
            assert getattr(from_png, method)() == getattr(from_rgba, method)(), method
        assert from_png.baseline_thumbnail(own_size=True) == from_rgba.baseline_thumbnail(own_size=True)


def test_buffer_length_names_expected_and_actual_baseline_first():
    with pytest.raises(ValueError, match=r"^invalid RGBA buffer length: expected 16 bytes for 2x2, got 15$"):
        Comparison.from_rgba(bytes(15), 2, 2, bytes(3), 1, 1)


def test_undecodable_pngs_fail_the_baseline_first():
    good = png_bytes(np.zeros((2, 2, 4), np.uint8))
    truncated = good[:40]
    errors = []
    for pair in [(good, b"this is not a png file"), (truncated, good), (truncated, b"this is not a png file"),
                 (png_claiming(8000, 8000, zlib.compress(bytes(1000))), good)]:  # 256 MB claimed, rows missing
        with pytest.raises(ValueError, match="^failed to decode PNG: ") as raised:
            Comparison(*pair)
        errors.append(str(raised.value))
    assert errors[2] == errors[1] != errors[0]
