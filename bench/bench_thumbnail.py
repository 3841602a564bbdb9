"""Thumbnails at the report's width. The time of one of a 1366 x 3000
screenshot with each encoder against Pillow decoding a pair of screenshots;
the encoders alone on the thumbnails' own pixels, against libwebp's preset 1
(the report's encoder before it had its own); and the size each encoder
writes for the screenshot and for a diff image against libwebp's default
settings (the report's encoder at most 1.15x)."""

import io

import timing
from PIL import Image

import quorvane
from quorvane_cli.report import THUMBNAIL_EFFORT as REPORT_THUMBNAIL_EFFORT

WIDTH = 240
BASELINE, CURRENT = "page_baseline.png", "page_inserted_banner.png"
# libwebp's default settings, its two fastest presets, and the module's own encoder.
EFFORTS = (None, 0, 1, "fast")
YARDSTICK_EFFORT = 1


def png_of_webp(webp: bytes) -> bytes:
    out = io.BytesIO()
    Image.open(io.BytesIO(webp)).save(out, format="PNG")
    return out.getvalue()


def main():
    comparison = quorvane.Comparison((timing.SCREENS / BASELINE).read_bytes(), (timing.SCREENS / CURRENT).read_bytes())
    yardstick = timing.pillow_decode(BASELINE, CURRENT)
    for effort in EFFORTS:
        timing.compare(
            f"current_thumbnail({WIDTH}, effort={effort!r})",
            lambda: comparison.current_thumbnail(WIDTH, effort=effort),
            yardstick,
            "Pillow decoding the pair",
            repeats=7,
        )
    sources = {
        "screenshot": lambda effort: comparison.current_thumbnail(WIDTH, effort=effort),
        "diff image": lambda effort: comparison.diff_image_and_thumbnail(thumbnail_width=WIDTH, effort=effort)[1],
    }
    for name, thumbnail in sources.items():
        default = thumbnail(None)
        # The thumbnail's own pixels, within bounds: the encoder alone.
        small = quorvane.Comparison(png_of_webp(default), png_of_webp(default))
        timing.compare(
            f"the {name}'s thumbnail pixels encoded by effort {REPORT_THUMBNAIL_EFFORT!r}",
            lambda: small.current_thumbnail(WIDTH, effort=REPORT_THUMBNAIL_EFFORT),
            lambda: small.current_thumbnail(WIDTH, effort=YARDSTICK_EFFORT),
            f"libwebp's preset {YARDSTICK_EFFORT}",
            repeats=15,
        )
        for effort in EFFORTS[1:]:
            ratio = len(thumbnail(effort)) / len(default)
            limit = 1.15 if effort == REPORT_THUMBNAIL_EFFORT else None
            verdict = "" if limit is None else f" (target <= {limit}x: {'met' if ratio <= limit else 'MISSED'})"
            print(
                f"thumbnail of the {name} at effort {effort!r}: {ratio:.3f}x the bytes of libwebp's defaults{verdict}"
            )


if __name__ == "__main__":
    main()
