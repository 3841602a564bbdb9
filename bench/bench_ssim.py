"""Comparison.ssim on a 1920 x 1080 pair against scikit-image's SSIM with the
same 11 x 11 box window on the same two luminance maps, and the peak memory
that one ssim() call adds, measured in a fresh child process."""

import io

import numpy as np
import timing
from PIL import Image
from skimage.metrics import structural_similarity

import quorvane

BASELINE = timing.SCREENS / "table_1080p.png"
CURRENT = timing.SCREENS / "table_1080p_padded.png"


def luminance(path):
    channels = np.asarray(Image.open(io.BytesIO(path.read_bytes())).convert("RGBA"), dtype=np.float64)
    return (channels[..., 0] * 0.299 + channels[..., 1] * 0.587) + channels[..., 2] * 0.114


# Runs in the child: the growth of the peak resident set over the resident
# set just before ssim(), with the peak reset after construction.
MEMORY_PROBE = r"""
import sys
import quorvane
from memory_use import peak_growth

comparison = quorvane.Comparison(open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read())
grown, score = peak_growth(comparison.ssim)
assert isinstance(score, float), score
print(grown, comparison.width * comparison.height)
"""


comparison = quorvane.Comparison(BASELINE.read_bytes(), CURRENT.read_bytes())
x, y = luminance(BASELINE), luminance(CURRENT)
print(
    f"ssim {comparison.ssim():.6f}; scikit-image (sample covariance, border cropped) "
    f"{structural_similarity(x, y, win_size=11, gaussian_weights=False, data_range=255):.6f}"
)
timing.compare(
    "ssim() 1920x1080",
    # A Comparison keeps its score: each timing scores a new one.
    timing.on_fresh(
        lambda: quorvane.Comparison(BASELINE.read_bytes(), CURRENT.read_bytes()), quorvane.Comparison.ssim, 7
    ),
    lambda: structural_similarity(x, y, win_size=11, gaussian_weights=False, data_range=255),
    "scikit-image structural_similarity",
    repeats=7,
    target=1 / 15,
)

grown, pixels = map(int, timing.memory_probe(MEMORY_PROBE, BASELINE, CURRENT))
width, height = comparison.width, comparison.height
full_maps = 10 * pixels * 8
per_running_mean = ((width + 10) * (height + 10) + (width + 11) * (height + 11)) * 8
mib = 1024 * 1024
print(
    f"ssim() peak RSS growth {grown / mib:.1f} MiB; bound: ten maps {full_maps / mib:.1f} MiB "
    f"+ {per_running_mean / mib:.1f} MiB per running window mean "
    f"({(full_maps + 5 * per_running_mean) / mib:.1f} MiB with all five running) -> "
    f"{'within' if grown <= full_maps + 5 * per_running_mean else 'OVER'}"
)
