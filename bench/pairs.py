"""The screenshot pairs the summary table is measured on, made once per run
from the example screenshots: 1280-pixel-wide crops of the documentation
page (an edited paragraph, an inserted banner), a 1280 x 5200 page made of
two crops stacked, and the 1920 x 1080 table pair as it stands; an unchanged
pair of byte-identical files, and one of the same pixels encoded another way.
Each is PNG bytes, encoded by Pillow at its default compression."""

import functools
import io
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt
import timing
from PIL import Image

Pixels = npt.NDArray[np.uint8]

WIDTH = 1280


@functools.cache
def _pixels(name: str) -> Pixels:
    return np.asarray(Image.open(timing.SCREENS / name).convert("RGB"))


def _crop(name: str, rows: int, first_row: int = 0) -> Pixels:
    return _pixels(name)[first_row : first_row + rows, :WIDTH]


def png(pixels: Pixels, **options: Any) -> bytes:
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="PNG", **options)
    return out.getvalue()


def _tall(top: str, bottom: str) -> Pixels:
    """3000 rows of one page over the first 2200 of another: 1280 x 5200."""
    return np.concatenate([_crop(top, 3000), _crop(bottom, 2200)])


@functools.cache
def changed() -> dict[str, tuple[bytes, bytes]]:
    """{label: (baseline PNG, current PNG)} of the changed pairs."""
    return {
        "edit 1280x2400": (png(_crop("page_baseline.png", 2400)), png(_crop("page_edited_paragraph.png", 2400))),
        "insertion 1280x2400": (png(_crop("page_baseline.png", 2400)), png(_crop("page_inserted_banner.png", 2400))),
        "table 1920x1080": (
            (timing.SCREENS / "table_1080p.png").read_bytes(),
            (timing.SCREENS / "table_1080p_padded.png").read_bytes(),
        ),
        "page 1280x5200": (
            png(_tall("page_baseline.png", "page_baseline.png")),
            png(_tall("page_inserted_banner.png", "page_edited_paragraph.png")),
        ),
    }


@functools.cache
def unchanged() -> tuple[bytes, bytes, bytes]:
    """(baseline PNG, a byte-identical copy, the same pixels compressed at
    another level) of the 1280 x 2400 page."""
    pixels = _crop("page_baseline.png", 2400)
    baseline = png(pixels)
    return baseline, bytes(bytearray(baseline)), png(pixels, compress_level=1)


def rgba(png_bytes: bytes) -> tuple[bytes, int, int]:
    """The decoded RGBA bytes, width and height of a PNG."""
    image = Image.open(io.BytesIO(png_bytes)).convert("RGBA")
    return image.tobytes(), image.width, image.height


def pillow_decode(*files: bytes) -> Callable[[], None]:
    """The yardstick: Pillow decoding the given PNG bytes one after the other."""

    def decode() -> None:
        for data in files:
            with Image.open(io.BytesIO(data)) as image:
                image.load()

    return decode
