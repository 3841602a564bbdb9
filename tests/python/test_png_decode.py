"""The PNG decoder against pypng, an independent pure-Python decoder, pixel
for pixel; other formats and damaged files fail with the decoder's text."""

import io
import struct
import subprocess

import numpy as np
import pytest
from conftest import BUILD_DIR
from imaging import PNG_DATA, png_bytes, pypng_rgba
from PIL import Image

TOOL = BUILD_DIR / "tools" / "png_to_rgba"
# Damaged files are replayed by the fuzz targets' regression runs.
VALID = sorted(p for p in PNG_DATA.rglob("*.png") if p.parent.name not in ("crashers", "badpal"))

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason="the png_to_rgba test tool is not built")


def decode(data):
    """Our decoder's RGBA, or the error text."""
    run = subprocess.run([str(TOOL), "/dev/stdin"], input=data, capture_output=True, timeout=60)
    assert run.returncode in (0, 2), f"decoder died: {run.returncode} {run.stderr!r}"
    if run.returncode == 2:
        return run.stderr.decode().strip()
    width, height = struct.unpack("<QQ", run.stdout[:16])
    return np.frombuffer(run.stdout[16:], np.uint8).reshape(height, width, 4)


@pytest.mark.parametrize("path", VALID, ids=lambda p: p.name)
def test_every_valid_image_decodes_like_pypng(path):
    data = path.read_bytes()
    ours = decode(data)
    assert not isinstance(ours, str), ours
    # 16-bit samples are scaled to 8 bits with rounding, as pypng does.
    np.testing.assert_array_equal(ours, pypng_rgba(data))


def refused_inputs():
    """Other formats, and a valid PNG damaged, by name."""
    inputs = {}
    for fmt in ("JPEG", "WEBP", "GIF", "BMP"):
        out = io.BytesIO()
        Image.new("RGB", (8, 8), (10, 20, 30)).save(out, fmt)
        inputs[fmt] = out.getvalue()
    good = png_bytes(np.random.default_rng(1).integers(0, 256, (20, 20, 4), dtype=np.uint8))
    # The IHDR checksum; then the deflate stream, whose chunk checksum is now wrong too.
    for name, at, mask in (("bad IHDR checksum", 29, 0xFF), ("bad deflate data", good.index(b"IDAT") + 10, 0x55)):
        damaged = bytearray(good)
        damaged[at] ^= mask
        inputs[name] = bytes(damaged)
    return inputs


REFUSED = refused_inputs()


@pytest.mark.parametrize("data", REFUSED.values(), ids=REFUSED.keys())
def test_other_formats_and_damaged_pngs_are_refused(data):
    assert decode(data).startswith("failed to decode PNG: ")
