"""Shared helpers of the test suite: paths, and PNG files made with pypng."""

import io
import pathlib

import numpy as np
import png

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
