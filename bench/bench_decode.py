"""The whole job on a pair of screenshots, from the two PNG files to the
answer, against Pillow decoding the same two files: without an image (read,
Comparison, diff_count) and with one (the same plus diff_image's PNG)."""

import timing

import quorvane

PAIRS = [
    ("page_baseline.png", "page_inserted_banner.png"),
    ("page_baseline.png", "page_edited_paragraph.png"),
    ("page_baseline.png", "page_deleted_block.png"),
    ("page_baseline.png", "page_taller.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
]


def job(baseline, current, with_image):
    def run():
        comparison = quorvane.Comparison(
            (timing.SCREENS / baseline).read_bytes(), (timing.SCREENS / current).read_bytes()
        )
        comparison.diff_count()
        if with_image:
            comparison.diff_image()

    return run


def main():
    for baseline, current in PAIRS:
        yardstick = timing.pillow_decode(baseline, current)
        for with_image, label, target in (
            (False, "read + Comparison + diff_count", 0.35),
            (True, "read + Comparison + diff_count + diff_image", 1.0),
        ):
            timing.compare(
                f"{baseline} against {current}: {label}",
                job(baseline, current, with_image),
                yardstick,
                "Pillow decoding both",
                repeats=9,
                target=target,
            )


if __name__ == "__main__":
    main()
