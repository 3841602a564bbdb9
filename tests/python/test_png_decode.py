"""The PNG decoder against pypng, an independent pure-Python decoder."""

import io
import os
import signal
import struct
import subprocess

import numpy as np
import pytest
from PIL import Image

import quorvane
from conftest import BUILD_DIR
from imaging import PNG_DATA, pypng_rgba, png_bytes

TOOL = BUILD_DIR / "tools" / "png_to_rgba"
VALID = sorted(p for p in PNG_DATA.rglob("*.png") if p.parent.name not in ("crashers", "badpal"))
HOSTILE = sorted(p for p in PNG_DATA.rglob("*.png") if p.parent.name in ("crashers", "badpal"))

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason="the png_to_rgba test tool is not built")


def decode(data):
    """Our decoder's RGBA, or the error text."""
    run = subprocess.run([str(TOOL), "/dev/stdin"], input=data, capture_output=True, timeout=60)
    assert run.returncode in (0, 2), f"decoder died: {run.returncode} {run.stderr!r}"
    if run.returncode == 2:
        return run.stderr.decode().strip()
    width, height = struct.unpack("<QQ", run.stdout[:16])
    return np.frombuffer(run.stdout[16:], np.uint8).reshape(height, width, 4)


def is_16_bit(path):
    data = path.read_bytes()
    return data[24] == 16  # IHDR bit depth


@pytest.mark.parametrize("path", VALID, ids=lambda p: p.name)
def test_every_valid_image_decodes_like_pypng(path):
    data = path.read_bytes()
    ours = decode(data)
    assert not isinstance(ours, str), ours
    reference = pypng_rgba(data)
    assert ours.shape == reference.shape
    difference = np.abs(ours.astype(int) - reference.astype(int)).max()
    assert difference <= (1 if is_16_bit(path) else 0)


@pytest.mark.parametrize("path", HOSTILE, ids=lambda p: p.name)
def test_damaged_files_decode_or_fail_cleanly(path):
    data = path.read_bytes()
    result = decode(data)
    if isinstance(result, str):
        assert result.startswith("failed to decode PNG: ")
    try:
        quorvane.Comparison(data, data)
    except ValueError as error:
        assert str(error).startswith("failed to decode PNG: ")


def test_low_bit_grey_scales_to_the_full_range():
    pixels = decode((PNG_DATA / "pngsuite" / "basn0g01.png").read_bytes())
    assert set(np.unique(pixels[..., :3])) == {0, 255}
    assert (pixels[..., 3] == 255).all()
    assert (pixels[..., 0] == pixels[..., 1]).all() and (pixels[..., 1] == pixels[..., 2]).all()


def test_palette_transparency_and_sixteen_bit_extremes():
    palette = PNG_DATA / "testpngs" / "palette-8-tRNS.png"
    reader_info = __import__("png").Reader(bytes=palette.read_bytes()).read()[3]
    pixels = decode(palette.read_bytes())
    assert pixels[..., 3].min() < 255 and "palette" in reader_info

    sixteen = PNG_DATA / "testpngs" / "rgb-alpha-16.png"
    pixels = decode(sixteen.read_bytes())
    assert pixels.dtype == np.uint8 and pixels.max() == 255 and pixels.min() == 0


def test_gamma_chunks_do_not_change_the_pixels():
    plain = decode((PNG_DATA / "testpngs" / "rgb-8.png").read_bytes())
    for variant in ("rgb-8-1.8.png", "rgb-8-linear.png", "rgb-8-sRGB.png"):
        assert np.array_equal(decode((PNG_DATA / "testpngs" / variant).read_bytes()), plain)


def test_interlaced_twins_decode_identically():
    suite = PNG_DATA / "pngsuite"
    twins = [(p, suite / ("i" + p.name)) for p in suite.glob("*.png") if not p.name.startswith("i")]
    twins = [(a, b) for a, b in twins if b.exists()]
    assert twins
    for plain, interlaced in twins:
        assert np.array_equal(decode(plain.read_bytes()), decode(interlaced.read_bytes()))


def other_formats():
    image = Image.new("RGB", (8, 8), (10, 20, 30))
    for fmt in ("JPEG", "WEBP", "GIF", "BMP"):
        out = io.BytesIO()
        image.save(out, fmt)
        yield fmt, out.getvalue()


@pytest.mark.parametrize("fmt, data", list(other_formats()), ids=lambda v: v if isinstance(v, str) else "")
def test_only_png_is_recognised(fmt, data):
    assert decode(data).startswith("failed to decode PNG: ")


def test_truncated_and_corrupted_files_fail():
    good = png_bytes(np.random.default_rng(1).integers(0, 256, (20, 20, 4), dtype=np.uint8))
    assert not isinstance(decode(good), str)
    assert decode(good[: len(good) // 2]).startswith("failed to decode PNG: ")
    bad_crc = bytearray(good)
    bad_crc[29] ^= 0xFF  # the IHDR checksum
    assert decode(bytes(bad_crc)).startswith("failed to decode PNG: ")
    idat = good.index(b"IDAT")
    bad_data = bytearray(good)
    bad_data[idat + 10] ^= 0x55  # deflate stream damaged, chunk checksum now wrong too
    assert decode(bytes(bad_data)).startswith("failed to decode PNG: ")
