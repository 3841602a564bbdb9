"""The screenshot pairs the summary table is measured on, made once per run
from the example screenshots: 1280-pixel-wide crops of the documentation
page (an edited paragraph, an inserted banner), a 1280 x 5200 page made of
two crops stacked, and the 1920 x 1080 table pair as it stands; an unchanged
pair of byte-identical files, and one of the same pixels encoded another way.
Each is PNG bytes, encoded by Pillow at its default compression."""

import functools
import io

import numpy as np
import timing
from PIL import Image

WIDTH = 1280


@functools.cache
def _pixels(name):
    return np.asarray(Image.open(timing.SCREENS / name).convert("RGB"))


def _crop(name, rows, first_row=0):
    return _pixels(name)[first_row : first_row + rows, :WIDTH]


def png(pixels, **options):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="PNG", **options)
    return out.getvalue()


def _tall(top, bottom):
    """3000 rows of one page over the first 2200 of another: 1280 x 5200."""
    return np.concatenate([_crop(top, 3000), _crop(bottom, 2200)])


@functools.cache
def changed():
    """{label: (baseline PNG, current PNG)} of the changed pairs."""
    return {
        "edit 1280x2400": (png(_crop("page_baseline.png", 2400)), png(_crop("page_edited_paragraph.png", 2400))),
        "insertion 1280x2400": (png(_crop("page_baseline.png", 2400)), png(_crop("page_inserted_banner.png", 2400))),
        "table 1920x1080": tuple(
            (timing.SCREENS / name).read_bytes() for name in ("table_1080p.png", "table_1080p_padded.png")
        ),
        "page 1280x5200": (
            png(_tall("page_baseline.png", "page_baseline.png")),
            png(_tall("page_inserted_banner.png", "page_edited_paragraph.png")),
        ),
    }


@functools.cache
def unchanged():
    """(baseline PNG, a byte-identical copy, the same pixels compressed at
    another level) of the 1280 x 2400 page."""
    pixels = _crop("page_baseline.png", 2400)
    baseline = png(pixels)
    return baseline, bytes(bytearray(baseline)), png(pixels, compress_level=1)


def rgba(png_bytes):
    """The decoded RGBA bytes, width and height of a PNG."""
    image = Image.open(io.BytesIO(png_bytes)).convert("RGBA")
    return image.tobytes(), image.width, image.height


def pillow_decode(*files):
    """The yardstick: Pillow decoding the given PNG bytes one after the other."""

    def decode():
        for data in files:
            with Image.open(io.BytesIO(data)) as image:
                image.load()

    return decode
