"""Thumbnails at the report's width: the time of one of a 1366 x 3000
screenshot at libwebp's default settings and at the report's effort against
Pillow decoding a pair of screenshots, and the size the faster effort costs
for the screenshot and for a diff image (at most 1.4x the default's)."""

import timing

import quorvane
from quorvane_cli.report import THUMBNAIL_EFFORT as REPORT_THUMBNAIL_EFFORT

WIDTH = 240
BASELINE, CURRENT = "page_baseline.png", "page_inserted_banner.png"


def main():
    comparison = quorvane.Comparison((timing.SCREENS / BASELINE).read_bytes(), (timing.SCREENS / CURRENT).read_bytes())
    yardstick = timing.pillow_decode(BASELINE, CURRENT)
    for effort in (None, REPORT_THUMBNAIL_EFFORT):
        timing.compare(
            f"current_thumbnail({WIDTH}, effort={effort})",
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
        default, fast = len(thumbnail(None)), len(thumbnail(REPORT_THUMBNAIL_EFFORT))
        ratio = fast / default
        print(
            f"thumbnail of the {name}: {fast} bytes at effort {REPORT_THUMBNAIL_EFFORT}, {default} at libwebp's "
            f"default settings -> {ratio:.3f}x (target <= 1.40x: {'met' if ratio <= 1.4 else 'MISSED'})"
        )


if __name__ == "__main__":
    main()
