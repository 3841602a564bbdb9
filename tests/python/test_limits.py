"""Inputs that claim more memory than they bring: sizes a PNG header or a
from_rgba call only claims, canvases that padding would blow up, and an
alignment with no edit budget. Each ends with a clear error, or an answer,
within a stated memory bound, and leaves the process usable."""

import json
import os
import subprocess
import sys
import zlib

import numpy as np
import pytest

import quorvane
from imaging import ROOT, png_bytes, png_claiming
from memory_use import peak_growth

Comparison = quorvane.Comparison
MIB = 2**20
SMALL = png_bytes(np.full((4, 5, 4), 200, np.uint8))


def require_measurable(peak):
    if peak is None:
        pytest.skip("the resident-memory peak cannot be reset here")
    return peak


def calls_of_png(data):
    """Every entry point that decodes a PNG, given `data` as the current image."""
    pairs = [(SMALL, SMALL), (SMALL, data)]
    return {
        "Comparison": lambda: Comparison(SMALL, data),
        "Comparison.batch": lambda: Comparison.batch(pairs),
        "thumbnail": lambda: quorvane.thumbnail(data),
        "diff_batch": lambda: quorvane.diff_batch(pairs),
        "diff_count_batch": lambda: quorvane.diff_count_batch(pairs),
        "ssim_batch": lambda: quorvane.ssim_batch(pairs),
        "compare_batch": lambda: quorvane.compare_batch(pairs, return_diff=True, thumbnail_width=10),
    }


ENTRY_POINTS = list(calls_of_png(b""))
CLAIMS = {
    "100000x100000": png_claiming(100000, 100000, zlib.compress(b"\0" * 100)),  # 40 GB of pixels
    "over the 512 MiB budget": png_claiming(12000, 12000, zlib.compress(b"\0" * 100)),  # 576 MB
}


@pytest.mark.parametrize("claim", CLAIMS)
@pytest.mark.parametrize("entry", ENTRY_POINTS)
def test_a_claimed_size_is_a_decode_error_without_the_memory(entry, claim):
    peak, outcome = peak_growth(calls_of_png(CLAIMS[claim])[entry])
    assert isinstance(outcome, ValueError), outcome
    assert str(outcome).startswith("failed to decode PNG: ")
    assert require_measurable(peak) < 64 * MIB


@pytest.mark.parametrize("width, height, expected", [
    (100000, 100000, "invalid RGBA buffer length: expected 40000000000 bytes for 100000x100000, got 16"),
    (2**31, 2**31, "image dimensions overflowed"),
    (2**32, 2**32, "image dimensions overflowed"),
    (2**64 - 1, 2, "image dimensions overflowed"),
])
def test_from_rgba_with_huge_sizes_and_a_short_buffer_is_a_value_error(width, height, expected):
    buffer = bytes(16)
    for arguments in [(buffer, width, height, buffer, 2, 2), (buffer, 2, 2, buffer, width, height)]:
        peak, outcome = peak_growth(lambda: Comparison.from_rgba(*arguments))
        assert isinstance(outcome, ValueError) and str(outcome) == expected
        assert require_measurable(peak) < 64 * MIB


def png_of_size(width, height):
    """A valid opaque white PNG, a few hundred bytes however long its side."""
    rows = (b"\0" + b"\xff" * (width * 4)) * height
    return png_claiming(width, height, zlib.compress(rows, 9))


def test_a_canvas_far_larger_than_both_images_is_a_memory_error():
    # Two valid PNGs of a few hundred bytes whose common canvas would hold
    # 70000 x 70000 pixels: 19.6 GB per image, written in full by padding.
    tall, wide = png_of_size(1, 70000), png_of_size(70000, 1)
    assert len(tall) + len(wide) < 2000
    pairs = [(tall, wide)]
    rgba = b"\xff" * (70000 * 4)
    calls = [
        lambda: Comparison(tall, wide),
        lambda: Comparison.from_rgba(rgba, 1, 70000, rgba, 70000, 1),
        lambda: Comparison.batch(pairs),
        lambda: quorvane.diff_batch(pairs),
        lambda: quorvane.diff_count_batch(pairs),
        lambda: quorvane.ssim_batch(pairs),
        lambda: quorvane.compare_batch(pairs),
    ]
    for call in calls:
        peak, outcome = peak_growth(call)
        assert isinstance(outcome, MemoryError), outcome
        assert require_measurable(peak) < 64 * MIB
    # Within the budget the same shapes are compared as ever: all of the
    # first column and of the first row but their shared corner differ.
    assert quorvane.diff_count_batch([(png_of_size(1, 3000), png_of_size(3000, 1))]) == [(2 * (3000 - 1), 3000, 3000)]


def test_an_unbounded_alignment_of_unrelated_tall_images_stays_within_the_trace_cap():
    tool = ROOT / "tools" / "alignment_memory.py"
    run = subprocess.run([sys.executable, str(tool), "1000", "30000", "--json"], capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)), timeout=600)
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)
    assert result["outcome"] == "MemoryError" or result["outcome"].startswith("RowAlignment(")
    assert result["usable_after"]
    # The trace's 1 GiB, plus the row hashes and the search's diagonals.
    assert require_measurable(result["peak_bytes"]) < 1024 * MIB + 64 * MIB
