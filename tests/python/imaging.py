"""Shared helpers of the test suite: paths, PNG files made with pypng or
by hand, WebP decoding, and Comparisons of pixel arrays."""

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
    width, height, rows, info = png.Reader(bytes=data).asRGBA8()
    return np.array([np.frombuffer(bytes(row), dtype=np.uint8) for row in rows]).reshape(height, width, 4)


def screen(name):
    return (SCREENS / name).read_bytes()


def rgba_comparison(baseline, current):
    """A Comparison of two (height, width, 4) uint8 arrays, made with from_rgba."""
    return quorvane.Comparison.from_rgba(baseline.tobytes(), baseline.shape[1], baseline.shape[0],
                                         current.tobytes(), current.shape[1], current.shape[0])


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_claiming(width, height, idat=b""):
    """A PNG header that claims a size, followed by whatever image data."""
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", idat)
            + png_chunk(b"IEND", b""))


def decode_webp(data):
    """The RGB pixels of a WebP file, as a (height, width, 3) array."""
    with Image.open(io.BytesIO(data)) as image:
        assert image.format == "WEBP"
        return np.asarray(image.convert("RGB"))
