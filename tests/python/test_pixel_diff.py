"""diff_count and diff_image against the brute-force reference in
pixel_rule.py, on small random scenes with anti-aliased edges (shapes drawn
large and scaled down, or blurred) and with transparency; and capped counts.
The count and the image on the pool agree in the screenshot cluster test."""

import random

import numpy as np
import pixel_rule
import pytest
from imaging import pixels, rgba_comparison
from PIL import Image, ImageDraw, ImageFilter

WIDTH, HEIGHT, SCALE = 41, 29, 4


def scene_pair(seed, transparent):
    """A baseline and a current image that shares most of its shapes."""
    rng = random.Random(seed)

    def colour():
        alpha = rng.choice([0, 0, 90, 200, 255]) if transparent else 255
        return rng.randrange(256), rng.randrange(256), rng.randrange(256), alpha

    image = Image.new("RGBA", (WIDTH * SCALE, HEIGHT * SCALE), colour() if transparent else (255, 255, 255, 255))
    pair = []
    for count in (6, 3):  # the current image has three shapes more
        draw = ImageDraw.Draw(image)
        for _ in range(count):
            x0, y0 = rng.randrange(WIDTH * SCALE), rng.randrange(HEIGHT * SCALE)
            box = [x0, y0, x0 + rng.randrange(8, 70), y0 + rng.randrange(8, 50)]
            shape = rng.choice(["ellipse", "rectangle", "line", "polygon"])
            if shape == "line":
                draw.line(box, fill=colour(), width=rng.randrange(2, 9))
            elif shape == "polygon":
                draw.polygon([(x0, y0), (box[2], y0 + 5), (x0 + 9, box[3])], fill=colour())
            else:
                getattr(draw, shape)(box, fill=colour())
        small = image.resize((WIDTH, HEIGHT), Image.Resampling.BOX)  # anti-aliased edges
        if seed % 3 == 0:
            small = small.filter(ImageFilter.GaussianBlur(0.8))
        pair.append(np.asarray(small, dtype=np.uint8).copy())
    baseline, current = pair
    if transparent:
        # Fully transparent pixels whose hidden colour changed.
        hidden = np.asarray(rng.sample(range(WIDTH * HEIGHT), 25))
        for image in (baseline, current):
            image.reshape(-1, 4)[hidden, 3] = 0
        current.reshape(-1, 4)[hidden, :3] = 255 - baseline.reshape(-1, 4)[hidden, :3]
    return baseline, current


SCENES = [(seed, transparent) for seed in range(6) for transparent in (False, True)]


@pytest.fixture(scope="module", params=SCENES, ids=lambda s: f"seed{s[0]}{'-alpha' if s[1] else ''}")
def scene(request):
    baseline, current = scene_pair(*request.param)
    return (
        rgba_comparison(baseline, current),
        pixel_rule.Image(baseline.tobytes(), WIDTH, HEIGHT),
        pixel_rule.Image(current.tobytes(), WIDTH, HEIGHT),
    )


@pytest.mark.parametrize(
    "threshold, include_aa, alpha",
    [(0.0, False, 0.0), (0.0, True, 1.0), (0.05, False, 0.37), (0.1, False, 0.1), (0.1, True, 0.5), (0.3, False, 0.8)],
)
def test_count_and_diff_image_match_the_reference(scene, threshold, include_aa, alpha):
    comparison, baseline, current = scene
    expected_count = pixel_rule.count(baseline, current, threshold, include_aa)
    assert comparison.diff_count(threshold=threshold, include_aa=include_aa) == expected_count
    colours = {"diff_color": (250, 10, 20), "aa_color": (30, 240, 40), "diff_color_alt": (20, 30, 230)}
    options = dict(threshold=threshold, alpha=alpha, include_aa=include_aa, **colours)
    expected = pixel_rule.diff_image(baseline, current, **options)
    np.testing.assert_array_equal(pixels(comparison.diff_image(**options)), np.asarray(expected, dtype=np.uint8))


# Rows 1 to 3 hold 4 changed pixels each, rows 5 and 6 hold 2: the count
# stops after the row that reached the cap; exact mode at the cap.
@pytest.mark.parametrize(
    "threshold, cap, expected", [(0.1, 1, 4), (0.1, 13, 14), (0.1, 2**64 - 1, 16), (0.0, 15, 15), (0.0, 17, 16)]
)
def test_capped_count_stops_in_row_order(threshold, cap, expected):
    baseline = np.full((8, 10, 4), 255, np.uint8)
    current = baseline.copy()
    current[1:4, 2:6] = current[5:7, 7:9] = (0, 0, 0, 255)  # solid blocks are never anti-aliased
    assert rgba_comparison(baseline, current).diff_count_capped(cap, threshold=threshold) == expected
