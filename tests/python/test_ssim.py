"""Comparison.ssim against an independent numpy/scipy computation of the same
score, and the scores that follow from the definition alone."""

import numpy as np
import pytest
from imaging import random_rgba, rgba_comparison
from scipy.ndimage import uniform_filter

C1, C2 = 6.5025, 58.5225


def luminance(rgba):
    channels = rgba.astype(np.float64)
    return (channels[..., 0] * 0.299 + channels[..., 1] * 0.587) + channels[..., 2] * 0.114


def unclamped_reference(baseline, current):
    """The score computed another way, before clamping: scipy's separable
    mirrored box filter for the windowed path, numpy's whole-image means for
    images narrower or shorter than the window."""
    x, y = luminance(baseline), luminance(current)
    mean = (lambda m: m.mean()) if min(x.shape) < 11 else (lambda m: uniform_filter(m, size=11, mode="mirror"))
    mean_x, mean_y = mean(x), mean(y)
    var_x, var_y = mean(x * x) - mean_x**2, mean(y * y) - mean_y**2
    cov = mean(x * y) - mean_x * mean_y
    den = (mean_x**2 + mean_y**2 + C1) * (var_x + var_y + C2)
    with np.errstate(divide="ignore", invalid="ignore"):
        return float(np.mean(np.where(den == 0, 1.0, (2 * mean_x * mean_y + C1) * (2 * cov + C2) / den)))


# 640 x 480 is large enough for the window means to run on the pool; 2 x 3
# and 3 x 7 take the whole-image path.
@pytest.mark.parametrize(
    "width, height",
    [(11, 11), (12, 40), (40, 12), (37, 64), (300, 200), (640, 480), (10, 1000), (1000, 10), (2, 3), (3, 7)],
)
def test_matches_scipy_reference(width, height):
    # A textured baseline and a current image that keeps part of its
    # structure: noise, a shifted block and a flat area, so scores land mid-range.
    baseline = random_rgba(height, width, seed=width * 1000 + height)
    baseline[: height // 3, : width // 2] = (30, 60, 90, 255)
    noise = np.random.default_rng(width).integers(-40, 41, baseline.shape)
    current = np.clip(baseline.astype(int) + noise, 0, 255).astype(np.uint8)
    current[height // 2 :, width // 2 :] = np.roll(baseline, 3, axis=1)[height // 2 :, width // 2 :]
    expected = unclamped_reference(baseline, current)
    assert 0.0 < expected < 1.0
    assert rgba_comparison(baseline, current).ssim() == pytest.approx(expected, rel=1e-12, abs=0)


@pytest.mark.parametrize("width, height", [(11, 11), (10, 1000), (1, 1), (700, 400), (0, 0), (0, 5), (7, 0)])
def test_identical_and_empty_images_score_exactly_one(width, height):
    image = random_rgba(height, width, seed=1)
    assert rgba_comparison(image, image).ssim() == 1.0


@pytest.mark.parametrize("width, height", [(20, 20), (5, 5)])
def test_published_scores(width, height):
    black = np.zeros((height, width, 4), np.uint8)
    white = np.full((height, width, 4), 255, np.uint8)
    for pair in [(black, white), (white, black)]:
        assert rgba_comparison(*pair).ssim() == pytest.approx(C1 / (255.0**2 + C1), rel=1e-15)
    # Inverted noise is anticorrelated: below zero before clamping.
    baseline = random_rgba(height * 2, width * 2, seed=11, opaque=True)
    inverted = baseline.copy()
    inverted[..., :3] = 255 - baseline[..., :3]
    assert unclamped_reference(baseline, inverted) < 0.0
    assert rgba_comparison(baseline, inverted).ssim() == 0.0
