"""Shared helpers of the test suite: paths, PNG files made with pypng or
by hand, PNG and WebP decoding, and images and Comparisons of pixel arrays."""

import functools
import io
import pathlib
import struct
import zlib

import numpy as np
import png
from PIL import Image

import quorvane

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
PNG_DATA = DATA / "png"
SCREENS = ROOT / "examples" / "screens"


def png_bytes(rgba):
    """An 8-bit RGBA PNG of a (height, width, 4) uint8 array, written by pypng."""
    rgba = np.ascontiguousarray(rgba, dtype=np.uint8)
    height, width = rgba.shape[:2]
    out = io.BytesIO()
    png.Writer(width, height, greyscale=False, alpha=True, bitdepth=8).write(out, rgba.reshape(height, width * 4))
    return out.getvalue()


def pypng_rgba(data):
    """The reference decoding of PNG bytes: pypng's 8-bit RGBA, as an array."""
    width, height, rows, _info = png.Reader(bytes=data).asRGBA8()
    return np.array([np.frombuffer(bytes(row), dtype=np.uint8) for row in rows]).reshape(height, width, 4)


def pixels(data, mode="RGB"):
    """A PNG or WebP file's pixels as decoded by Pillow, in `mode`."""
    with Image.open(io.BytesIO(data)) as image:
        assert image.format in ("PNG", "WEBP")
        return np.asarray(image.convert(mode))


@functools.cache
def screen_rgba(name):
    """An example screenshot's pixels, decoded once per run."""
    return pixels((SCREENS / name).read_bytes(), "RGBA")


def random_rgba(height, width, seed, opaque=False):
    rgba = np.random.default_rng(seed).integers(0, 256, (height, width, 4), dtype=np.uint8)
    if opaque:
        rgba[..., 3] = 255
    return rgba


def rows_image(letters, width=4):
    """A (height, width, 4) image whose rows are solid, one colour a letter."""
    codes = np.array([ord(letter) for letter in letters], dtype=np.int64).reshape(-1, 1)
    colours = np.concatenate([codes & 255, codes >> 8 & 255, (codes * 37 + 11) & 255, np.full_like(codes, 255)], 1)
    return np.repeat(colours.astype(np.uint8)[:, None], width, axis=1)


def rgba_comparison(baseline, current, **options):
    """A Comparison of two (height, width, 4) uint8 arrays, made with from_rgba."""
    sized = [(image.tobytes(), image.shape[1], image.shape[0]) for image in (baseline, current)]
    return quorvane.Comparison.from_rgba(*sized[0], *sized[1], **options)


def png_claiming(width, height, idat=b""):
    """A PNG header that claims a size, followed by whatever image data."""
    chunks = [(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)), (b"IDAT", idat), (b"IEND", b"")]
    return b"\x89PNG\r\n\x1a\n" + b"".join(
        struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data)) for kind, data in chunks
    )
