"""Comparison.ssim against an independent numpy/scipy computation of the same
score, and the scores that follow from the definition alone."""

import functools

import numpy as np
import pytest
from scipy.ndimage import uniform_filter

import quorvane
from imaging import pypng_rgba, rgba_comparison, screen

C1 = 6.5025
C2 = 58.5225
BLACK_AGAINST_WHITE = C1 / (255.0**2 + C1)


def luminance(rgba):
    channels = rgba.astype(np.float64)
    return (channels[..., 0] * 0.299 + channels[..., 1] * 0.587) + channels[..., 2] * 0.114


def unclamped_reference(baseline, current):
    """The score computed another way, before clamping: scipy's separable
    mirrored box filter for the windowed path, numpy's pairwise sums for the
    whole-image path."""
    x, y = luminance(baseline), luminance(current)
    if x.size == 0:
        return 1.0
    if min(x.shape) < 11:
        mean_x, mean_y = x.mean(), y.mean()
        var_x, var_y = ((x - mean_x) ** 2).mean(), ((y - mean_y) ** 2).mean()
        cov = ((x - mean_x) * (y - mean_y)).mean()
        den = (mean_x**2 + mean_y**2 + C1) * (var_x + var_y + C2)
        score = 1.0 if den == 0 else (2 * mean_x * mean_y + C1) * (2 * cov + C2) / den
    else:
        mean = lambda m: uniform_filter(m, size=11, mode="mirror")  # noqa: E731
        mean_x, mean_y = mean(x), mean(y)
        var_x, var_y = mean(x * x) - mean_x**2, mean(y * y) - mean_y**2
        cov = mean(x * y) - mean_x * mean_y
        den = (mean_x**2 + mean_y**2 + C1) * (var_x + var_y + C2)
        with np.errstate(divide="ignore", invalid="ignore"):
            score = np.where(den == 0, 1.0, (2 * mean_x * mean_y + C1) * (2 * cov + C2) / den).mean()
    return float(score)


def reference_ssim(baseline, current):
    return min(max(unclamped_reference(baseline, current), 0.0), 1.0)


def related_pair(rng, width, height):
    """A textured baseline and a current image that keeps part of its
    structure: noise, a shifted block and a flat area, so scores land mid-range."""
    baseline = rng.integers(0, 256, (height, width, 4), dtype=np.uint8)
    baseline[: height // 3, : width // 2] = (30, 60, 90, 255)
    current = np.clip(baseline.astype(int) + rng.integers(-40, 41, baseline.shape), 0, 255).astype(np.uint8)
    current[height // 2:, width // 2:] = np.roll(baseline, 3, axis=1)[height // 2:, width // 2:]
    return baseline, current


@pytest.mark.parametrize("width, height", [
    (11, 11), (12, 40), (40, 12), (37, 64), (300, 200),
    (640, 480),  # large enough for the window means to run on the pool
    (10, 1000), (1000, 10), (2, 3), (3, 7),  # whole-image path
])
def test_matches_scipy_reference(width, height):
    rng = np.random.default_rng(width * 1000 + height)
    baseline, current = related_pair(rng, width, height)
    expected = reference_ssim(baseline, current)
    assert 0.0 < expected < 1.0
    assert rgba_comparison(baseline, current).ssim() == pytest.approx(expected, rel=1e-9)


@pytest.mark.parametrize("width, height", [(11, 11), (10, 1000), (1, 1), (700, 400), (0, 0), (0, 5), (7, 0)])
def test_identical_and_empty_images_score_exactly_one(width, height):
    image = np.random.default_rng(1).integers(0, 256, (height, width, 4), dtype=np.uint8)
    assert rgba_comparison(image, image).ssim() == 1.0


@pytest.mark.parametrize("width, height", [(20, 20), (5, 5)])
def test_black_against_white_scores_c1_over_white_plus_c1(width, height):
    black = np.zeros((height, width, 4), np.uint8)
    white = np.full((height, width, 4), 255, np.uint8)
    assert rgba_comparison(black, white).ssim() == pytest.approx(BLACK_AGAINST_WHITE, rel=1e-12)
    assert rgba_comparison(white, black).ssim() == pytest.approx(BLACK_AGAINST_WHITE, rel=1e-12)


@functools.cache
def equal_luminance_twins():
    """Two arrays of colours, row k of one and of the other distinct but of
    the same luminance, to the last bit."""
    levels = np.arange(0, 256, 3)
    r, g, b = (axis.ravel() for axis in np.meshgrid(levels, levels, levels, indexing="ij"))
    y = (r * 0.299 + g * 0.587) + b * 0.114
    order = np.argsort(y, kind="stable")
    same = np.flatnonzero(y[order][1:] == y[order][:-1])
    colours = np.stack([r, g, b], axis=1).astype(np.uint8)
    return colours[order[same]], colours[order[same + 1]]


@pytest.mark.parametrize("width, height", [(30, 25), (8, 8)])
def test_colour_and_alpha_changes_at_equal_luminance_score_one(width, height):
    firsts, seconds = equal_luminance_twins()
    assert len(firsts) >= 16 and (firsts != seconds).any(axis=1).all()
    rng = np.random.default_rng(3)
    chosen = rng.integers(0, len(firsts), (height, width))
    baseline = np.empty((height, width, 4), np.uint8)
    current = np.empty((height, width, 4), np.uint8)
    baseline[..., :3], current[..., :3] = firsts[chosen], seconds[chosen]
    baseline[..., 3] = 255
    current[..., 3] = rng.integers(0, 256, (height, width))
    assert rgba_comparison(baseline, current).ssim() == 1.0


@pytest.mark.parametrize("width, height", [(40, 30), (6, 6)])
def test_anticorrelated_images_clamp_to_zero(width, height):
    rng = np.random.default_rng(11)
    baseline = rng.integers(0, 256, (height, width, 4), dtype=np.uint8)
    baseline[..., 3] = 255
    inverted = baseline.copy()
    inverted[..., :3] = 255 - baseline[..., :3]
    assert unclamped_reference(baseline, inverted) < 0.0
    assert rgba_comparison(baseline, inverted).ssim() == 0.0


def test_size_mismatch_compares_on_the_transparent_canvas():
    rng = np.random.default_rng(9)
    baseline = rng.integers(0, 256, (30, 40, 4), dtype=np.uint8)
    current = baseline[:24, :33].copy()
    canvas = np.zeros_like(baseline)
    canvas[:24, :33] = current
    score = rgba_comparison(baseline, current).ssim()
    assert score == pytest.approx(reference_ssim(baseline, canvas), rel=1e-9)
    assert score < 1.0


def test_example_screenshots_match_reference():
    baseline, current = screen("table_1080p.png"), screen("table_1080p_padded.png")
    expected = reference_ssim(pypng_rgba(baseline), pypng_rgba(current))
    assert quorvane.Comparison(baseline, current).ssim() == pytest.approx(expected, rel=1e-9)


def test_signature_and_docstring():
    method = quorvane.Comparison.ssim
    assert method.__text_signature__ == "($self)"
    assert method.__doc__ == "Compute SSIM (structural similarity) score."
    image = np.zeros((2, 2, 4), np.uint8)
    with pytest.raises(TypeError):
        rgba_comparison(image, image).ssim(1)
