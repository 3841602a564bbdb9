"""Constructing a Comparison (two PNG decodes in parallel, then padding)
against Pillow decoding the same two screenshots to RGBA."""

import io

from PIL import Image

import timing
import quorvane

baseline = (timing.SCREENS / "page_baseline.png").read_bytes()
current = (timing.SCREENS / "page_edited_paragraph.png").read_bytes()


def pillow_pair():
    Image.open(io.BytesIO(baseline)).convert("RGBA")
    Image.open(io.BytesIO(current)).convert("RGBA")


timing.compare("Comparison(page_baseline, page_edited_paragraph)", lambda: quorvane.Comparison(baseline, current),
               pillow_pair, "Pillow open+convert('RGBA') of both", target=0.45)
