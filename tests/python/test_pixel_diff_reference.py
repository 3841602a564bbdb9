"""diff_count and diff_image against the brute-force reference in
pixel_rule.py, on small random scenes with anti-aliased edges (shapes drawn
large and scaled down, or blurred) and with transparency."""

import io
import random

import numpy as np
import pytest
from PIL import Image, ImageDraw, ImageFilter

import pixel_rule
import quorvane

WIDTH, HEIGHT = 41, 29
SCALE = 4


def random_colour(rng, transparent):
    alpha = 255
    if transparent:
        alpha = rng.choice([0, 0, 90, 200, 255])
    return (rng.randrange(256), rng.randrange(256), rng.randrange(256), alpha)


def draw_shapes(draw, rng, count, transparent):
    for _ in range(count):
        x0, y0 = rng.randrange(WIDTH * SCALE), rng.randrange(HEIGHT * SCALE)
        x1, y1 = x0 + rng.randrange(8, 70), y0 + rng.randrange(8, 50)
        fill = random_colour(rng, transparent)
        shape = rng.choice(["ellipse", "rectangle", "line", "polygon"])
        if shape == "ellipse":
            draw.ellipse([x0, y0, x1, y1], fill=fill)
        elif shape == "rectangle":
            draw.rectangle([x0, y0, x1, y1], fill=fill)
        elif shape == "line":
            draw.line([x0, y0, x1, y1], fill=fill, width=rng.randrange(2, 9))
        else:
            draw.polygon([(x0, y0), (x1, y0 + 5), (x0 + 9, y1)], fill=fill)


def scene_pair(seed, transparent):
    """A baseline and a current image that shares most of its shapes."""
    rng = random.Random(seed)
    background = random_colour(rng, transparent) if transparent else (255, 255, 255, 255)
    big = Image.new("RGBA", (WIDTH * SCALE, HEIGHT * SCALE), background)
    draw_shapes(ImageDraw.Draw(big), rng, 6, transparent)
    changed = big.copy()
    draw_shapes(ImageDraw.Draw(changed), rng, 3, transparent)
    pair = []
    for image in (big, changed):
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
MODES = [(0.0, False), (0.0, True), (0.05, False), (0.1, False), (0.1, True), (0.3, False)]


@pytest.fixture(scope="module", params=SCENES, ids=lambda s: f"seed{s[0]}{'-alpha' if s[1] else ''}")
def scene(request):
    baseline, current = scene_pair(*request.param)
    comparison = quorvane.Comparison.from_rgba(baseline.tobytes(), WIDTH, HEIGHT, current.tobytes(), WIDTH, HEIGHT)
    return (comparison, pixel_rule.Image(baseline.tobytes(), WIDTH, HEIGHT),
            pixel_rule.Image(current.tobytes(), WIDTH, HEIGHT))


@pytest.mark.parametrize("threshold, include_aa", MODES)
def test_count_matches_the_reference(scene, threshold, include_aa):
    comparison, baseline, current = scene
    expected = pixel_rule.count(baseline, current, threshold, include_aa)
    assert comparison.diff_count(threshold=threshold, include_aa=include_aa) == expected


@pytest.mark.parametrize("threshold, include_aa", MODES)
def test_diff_image_matches_the_reference_pixel_for_pixel(scene, threshold, include_aa):
    comparison, baseline, current = scene
    options = dict(threshold=threshold, alpha=0.37, include_aa=include_aa, diff_color=(250, 10, 20),
                   aa_color=(30, 240, 40), diff_color_alt=(20, 30, 230))
    expected, _ = pixel_rule.diff_image(baseline, current, **options)
    decoded = Image.open(io.BytesIO(comparison.diff_image(**options)))
    assert decoded.mode == "RGB" and decoded.size == (WIDTH, HEIGHT)
    assert np.array_equal(np.asarray(decoded), np.asarray(expected, dtype=np.uint8))


def test_scenes_exercise_every_class():
    """The scenes are only a good oracle if they hold anti-aliased, brighter
    and darker changes, and non-opaque pixels."""
    kinds, non_opaque = set(), 0
    for seed, transparent in SCENES:
        baseline, current = (pixel_rule.Image(image.tobytes(), WIDTH, HEIGHT)
                             for image in scene_pair(seed, transparent))
        non_opaque += sum(baseline.pixel(x, y)[3] < 255 for y in range(HEIGHT) for x in range(WIDTH))
        for y in range(HEIGHT):
            for x in range(WIDTH):
                kind, delta = pixel_rule.classify(baseline, current, x, y, 0.1, False)
                kinds.add(kind if kind != "changed" else ("darker" if delta < 0 else "lighter"))
    assert kinds == {"unchanged", "aa", "darker", "lighter"}
    assert non_opaque > 1000
