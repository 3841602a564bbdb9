"""Inputs that claim more memory than they bring: sizes a PNG header or a
from_rgba call only claims, and canvases that padding would blow up. Each
ends with a clear error at every entry point, without the memory; and the
memory limit of a call, settable, shared by the pairs a report runs at once."""

import json
import os
import subprocess
import sys
import zlib

import numpy as np
import pytest
from conftest import BUILD_DIR, ROOT
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


def test_a_canvas_far_larger_than_both_images_is_over_the_memory_limit():
    # Two valid PNGs of a few hundred bytes whose common canvas would hold
    # 70000 x 70000 pixels: 19.6 GB per image, written in full by padding.
    tall, wide = png_of_size(1, 70000), png_of_size(70000, 1)
    assert len(tall) + len(wide) < 2000
    rgba = b"\xff" * (70000 * 4)
    text = "memory limit exceeded: a 1x70000 baseline and a 70000x1 current image on a 70000x70000 canvas need "
    for call in pair_calls(tall, wide) + [lambda: Comparison.from_rgba(rgba, 1, 70000, rgba, 70000, 1)]:
        fails_within_bound(call, quorvane.MemoryLimitError, text)
    # Within the budget the same shapes are compared as ever: all of the
    # first column and of the first row but their shared corner differ.
    assert quorvane.diff_count_batch([(png_of_size(1, 3000), png_of_size(3000, 1))]) == [(2 * (3000 - 1), 3000, 3000)]


def shifted_pair():
    """RGBA arrays of a pair of one width whose rows align: the current image
    has 40 rows inserted."""
    baseline = random_rgba(300, 120, seed=3, opaque=True)
    current = np.concatenate([baseline[:100], random_rgba(40, 120, seed=4, opaque=True), baseline[100:]])
    return baseline, current


def every_analysis(pair):
    alignment = pair.row_alignment()
    assert alignment.aligned
    return [
        pair.diff_count(),
        pair.ssim(),
        repr(pair.clusters().clusters),
        pair.diff_image_and_thumbnail(),
        repr(pair.aligned_clusters(alignment, dilation=0, min_pixels=1).clusters),
        pair.aligned_diff_image_and_thumbnail(alignment),
        pair.aligned_ssim(alignment),
        pair.current_thumbnail(),
        pair.baseline_thumbnail(own_size=True),
    ]


def test_a_pair_keeps_the_limit_it_was_made_with_and_needs_no_more_than_its_need():
    baseline, current = shifted_pair()
    pngs = png_bytes(baseline), png_bytes(current)
    need = quorvane.memory_needed(120, 300, 120, 340)
    makers = [
        lambda limit: Comparison(*pngs, memory_limit=limit),
        lambda limit: Comparison.batch([pngs], memory_limit=limit)[0],
        lambda limit: Comparison.from_rgba(
            baseline.tobytes(), 120, 300, current.tobytes(), 120, 340, memory_limit=limit
        ),
    ]
    # With exactly its need, every analysis of a pair runs.
    expected = every_analysis(Comparison(*pngs))
    for make in makers:
        with pytest.raises(quorvane.MemoryLimitError) as refused:
            make(need - 1)
        assert (refused.value.needed, refused.value.limit) == (need, need - 1)
        assert "a 120x300 baseline and a 120x340 current image on a 120x340 canvas" in str(refused.value)
        pair = make(need)
        assert pair.memory_limit == need and every_analysis(pair) == expected
    assert Comparison(*pngs).memory_limit == quorvane.DEFAULT_MEMORY_LIMIT == 2 * 2**30


@pytest.mark.parametrize(
    "batch", [quorvane.diff_batch, quorvane.diff_count_batch, quorvane.ssim_batch, quorvane.compare_batch]
)
def test_a_small_limit_refuses_a_batch_pair_that_a_large_one_accepts(batch):
    pngs = tuple(png_bytes(image) for image in shifted_pair())
    accepted = batch([pngs] * 3, memory_limit=quorvane.memory_needed(120, 300, 120, 340))
    assert accepted == batch([pngs] * 3)
    with pytest.raises(quorvane.MemoryLimitError, match="^memory limit exceeded: a 120x300 baseline"):
        batch([pngs] * 3, memory_limit=2**20)


def measured_in_child(code):
    """(peak resident growth in bytes, printed value) of `call()` as defined
    by `code`, run in a fresh interpreter with everything imported first."""
    env = dict(
        os.environ, PYTHONPATH=os.pathsep.join([str(BUILD_DIR), str(ROOT / "python"), os.path.dirname(__file__)])
    )
    script = code + "\nimport json\nfrom memory_use import peak_growth\nprint(json.dumps(peak_growth(call)))\n"
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, check=True)
    peak, value = json.loads(child.stdout.splitlines()[-1])
    if peak is None:
        pytest.skip("the resident-memory peak cannot be reset here")
    return peak, value, child.stderr


def test_compare_refuses_a_tall_by_wide_pair_at_once_naming_sizes_and_limit(tmp_path):
    # 291 bytes of PNG, two 11500 x 11500 canvases of 529 MB each.
    (tmp_path / "tall.png").write_bytes(png_of_size(1, 11500))
    (tmp_path / "wide.png").write_bytes(png_of_size(11500, 1))
    peak, status, err = measured_in_child(
        "from quorvane_cli.cli import main\n"
        f"def call(): return main(['compare', {str(tmp_path / 'tall.png')!r}, {str(tmp_path / 'wide.png')!r}])"
    )
    assert status == 2 and peak < 64 * 2**20
    pair = f"{tmp_path / 'tall.png'} against {tmp_path / 'wide.png'}"
    assert f"{pair}: memory limit exceeded: a 1x11500 baseline and a 11500x1 current image on a 11500x11500" in err
    assert "more than memory_limit=2147483648 (2.0 GiB)" in err


def test_a_report_runs_its_pairs_within_one_shared_limit(tmp_path):
    # Four tall-by-wide pairs: side by side on two processors they would take
    # twice the memory of one; under a limit one and a half times one pair's
    # need they run one after another. A fifth pair, needing more than the
    # whole limit, is that pair's error alone.
    side, larger = 5000, 7000
    need = quorvane.memory_needed(1, side, side, 1)
    assert quorvane.memory_needed(1, larger, larger, 1) > need * 3 // 2
    runs = {}
    for count in (1, 4):
        folders = [tmp_path / str(count) / name for name in ("baseline", "current", "out")]
        for folder in folders[:2]:
            folder.mkdir(parents=True)
        for index in range(count):
            (folders[0] / f"{index}.png").write_bytes(png_of_size(1, side))
            (folders[1] / f"{index}.png").write_bytes(png_of_size(side, 1))
        if count == 4:
            (folders[0] / "large.png").write_bytes(png_of_size(1, larger))
            (folders[1] / "large.png").write_bytes(png_of_size(larger, 1))
        runs[count] = measured_in_child(
            "from quorvane_cli import report\n"
            f"def call(): return [(pair['status'], pair['error']) for pair in report.run("
            f"{str(folders[0])!r}, {str(folders[1])!r}, {str(folders[2])!r}, memory_limit={need * 3 // 2})['pairs']]"
        )
    (one, statuses, _), (four, many, _) = runs[1], runs[4]
    assert statuses == [["changed", None]] and many[:4] == [["changed", None]] * 4
    assert many[4][0] == "error" and "memory limit exceeded: a 1x7000 baseline" in many[4][1]
    assert one <= need and four < one * 3 // 2
