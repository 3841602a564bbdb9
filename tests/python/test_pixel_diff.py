"""The pixel difference methods at the Python surface: counts, caps, diff
images and their colours, size mismatches, and concurrent use."""

import io
import math
import threading

import numpy as np
import pytest
from PIL import Image

import quorvane
from imaging import rgba_comparison, screen

Comparison = quorvane.Comparison

WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)


def canvas(width, height, colour=WHITE):
    return np.tile(np.array(colour, np.uint8), (height, width, 1))




def decode(png):
    image = Image.open(io.BytesIO(png))
    assert image.mode == "RGB"
    return np.asarray(image)


def blocks_pair():
    """Solid black blocks on white: rows 1 to 3 hold 4 changed pixels each,
    rows 5 and 6 hold 2 each; solid blocks are never anti-aliased."""
    baseline = canvas(10, 8)
    current = baseline.copy()
    current[1:4, 2:6] = BLACK
    current[5:7, 7:9] = BLACK
    return rgba_comparison(baseline, current)


def edge_pair():
    """A grey pixel appears on the boundary of a black and a white half: an
    anti-aliased edge pixel, not a change."""
    baseline = canvas(8, 6)
    baseline[:, :4] = BLACK
    current = baseline.copy()
    current[2, 4] = (128, 128, 128, 255)
    return rgba_comparison(baseline, current)


def hidden_colour_pair():
    """Fully transparent pixels whose hidden colour changed."""
    return rgba_comparison(canvas(5, 5, (10, 200, 30, 0)), canvas(5, 5, (250, 0, 99, 0)))


class TestCounting:
    # Exact mode (threshold 0 without include_aa) compares the stored words.
    @pytest.mark.parametrize("make, threshold, include_aa, expected", [
        (hidden_colour_pair, 0.0, False, 25),
        (hidden_colour_pair, 0.0, True, 0),
        (hidden_colour_pair, 0.1, False, 0),
        (hidden_colour_pair, 0.1, True, 0),
        (edge_pair, 0.0, False, 1),
        (edge_pair, 0.05, False, 0),
        (edge_pair, 0.05, True, 1),
    ])
    def test_exact_mode_counts_hidden_colours_and_anti_aliased_pixels(self, make, threshold, include_aa, expected):
        assert make().diff_count(threshold=threshold, include_aa=include_aa) == expected

    def test_padding_counts_against_an_opaque_pixel(self):
        # The empty baseline is padded to one transparent black pixel at offset
        # 0, blended onto the background (48, 48, 48): |delta| = 1164.2112232842244.
        comparison = Comparison.from_rgba(b"", 0, 0, bytes(BLACK), 1, 1)
        assert comparison.size_mismatch
        limit = math.sqrt(1164.2112232842244 / 35215.0)
        assert comparison.diff_count(threshold=0.1) == 1
        assert comparison.diff_count(threshold=0.2) == 0
        assert comparison.diff_count(threshold=limit * (1 - 1e-12)) == 1
        assert comparison.diff_count(threshold=limit * (1 + 1e-12)) == 0

    def test_padding_against_padding_is_unchanged(self):
        # 1x2 against 2x1, both black: the two cells where one image is padded
        # differ; the corner padded in both does not.
        comparison = Comparison.from_rgba(bytes(BLACK) * 2, 1, 2, bytes(BLACK) * 2, 2, 1)
        assert (comparison.width, comparison.height) == (2, 2)
        for include_aa in (False, True):
            assert comparison.diff_count(threshold=0.0, include_aa=include_aa) == 2
        image = decode(comparison.diff_image(threshold=0.0, alpha=1.0))
        assert image[1, 1].tolist() == [255, 255, 255]  # transparent baseline: white


class TestCap:
    # The rule stops after the row that reached the cap; exact mode at the cap.
    @pytest.mark.parametrize("threshold, cap, expected", [
        (0.1, 1, 4), (0.1, 4, 4), (0.1, 5, 8), (0.1, 12, 12), (0.1, 13, 14), (0.1, 15, 16), (0.1, 16, 16),
        (0.1, 17, 16), (0.1, 2**64 - 1, 16),
        (0.0, 1, 1), (0.0, 5, 5), (0.0, 15, 15), (0.0, 16, 16), (0.0, 17, 16),
    ])
    def test_capped_count_stops_in_row_order(self, threshold, cap, expected):
        assert blocks_pair().diff_count_capped(cap, threshold=threshold) == expected


class TestDiffImage:
    # Black, mid grey, white and a transparent pixel unchanged, then a changed
    # pixel; alpha None is the default, where black fades to 229.5, truncated.
    @pytest.mark.parametrize("alpha, black, mid", [(None, 229, 242), (0.0, 255, 255), (0.5, 127, 191),
                                                   (1.0, 0, 128)])
    def test_alpha_fades_unchanged_pixels_and_transparent_ones_are_white(self, alpha, black, mid):
        baseline = canvas(5, 1, BLACK)
        baseline[0, 1:4] = [(128, 128, 128, 255), WHITE, (200, 100, 50, 0)]
        current = baseline.copy()
        current[0, 4] = WHITE
        options = {} if alpha is None else {"alpha": alpha}
        drawn = decode(rgba_comparison(baseline, current).diff_image(**options))
        assert drawn.shape == (1, 5, 3)
        assert drawn[0, :4].tolist() == [[black] * 3, [mid] * 3, [255] * 3, [255] * 3]

    def test_changed_pixels_take_the_colour_of_their_direction(self):
        baseline = canvas(6, 6)
        baseline[3:, :] = BLACK
        current = baseline.copy()
        current[0:2, 0:2] = BLACK  # white to black: darker
        current[4:6, 4:6] = WHITE  # black to white: lighter
        comparison = rgba_comparison(baseline, current)
        for alt, darker in ((None, (1, 2, 3)), ((7, 8, 9), (7, 8, 9))):
            drawn = decode(comparison.diff_image(diff_color=(1, 2, 3), diff_color_alt=alt))
            assert (drawn[0:2, 0:2] == darker).all() and (drawn[4:6, 4:6] == (1, 2, 3)).all()

    def test_default_colours_paint_anti_aliased_pixels_yellow_and_changes_red(self):
        comparison = edge_pair()
        for threshold in (0.0, 0.1):  # no exact mode in the diff image
            assert decode(comparison.diff_image(threshold=threshold))[2, 4].tolist() == [255, 255, 0]
        assert decode(comparison.diff_image(include_aa=True))[2, 4].tolist() == [255, 0, 0]

    def test_an_empty_pair_has_no_png(self):
        # PNG has no zero-sized images; the encoder says so.
        with pytest.raises(ValueError, match="^failed to encode PNG: "):
            Comparison.from_rgba(b"", 0, 0, b"", 0, 0).diff_image()

    @pytest.mark.parametrize("include_aa", [False, True])
    def test_changed_pixels_drawn_equal_the_count(self, include_aa):
        comparison = Comparison(screen("table_1080p.png"), screen("table_1080p_padded.png"))
        drawn = decode(comparison.diff_image(threshold=0.05, include_aa=include_aa, diff_color=(1, 2, 3),
                                             aa_color=(4, 5, 6)))
        changed = int(np.all(drawn == (1, 2, 3), axis=2).sum())
        assert changed == comparison.diff_count(threshold=0.05, include_aa=include_aa) > 0
        assert np.all(drawn == (4, 5, 6), axis=2).any() != include_aa


def test_concurrent_calls_on_one_comparison_match_sequential_ones():
    comparison = Comparison(screen("page_baseline.png"), screen("page_edited_paragraph.png"))
    calls = [
        lambda: comparison.diff_count(),
        lambda: comparison.diff_count(threshold=0.0),
        lambda: comparison.diff_count(threshold=0.2, include_aa=True),
        lambda: comparison.diff_count_capped(2**40, threshold=0.05),
        lambda: comparison.diff_image(alpha=0.3, diff_color_alt=(0, 0, 255)),
    ]
    sequential = [call() for call in calls]
    workers = 4
    start = threading.Barrier(workers)
    answered = []

    def worker(number):
        start.wait()
        for step in range(2 * len(calls)):  # each thread in its own order
            index = (number + step) % len(calls)
            answered.append(calls[index]() == sequential[index])

    threads = [threading.Thread(target=worker, args=(number,)) for number in range(workers)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert answered == [True] * (workers * 2 * len(calls))
