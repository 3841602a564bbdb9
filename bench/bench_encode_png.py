"""The diff image's PNG: encode_png's share of diff_image against Pillow
decoding the pair, and the file's size against libpng's default encode of
the same pixels (the C++ benchmark, which links libpng, weighs that)."""

import tempfile

import timing

import quorvane

PAIRS = [
    ("page_baseline.png", "page_inserted_banner.png"),
    ("page_baseline.png", "page_edited_paragraph.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
]


def main():
    for baseline, current in PAIRS:
        comparison = quorvane.Comparison(
            (timing.SCREENS / baseline).read_bytes(), (timing.SCREENS / current).read_bytes()
        )
        timing.compare(
            f"diff_image of {baseline} against {current} (render + encode)",
            comparison.diff_image,
            timing.pillow_decode(baseline, current),
            "Pillow decoding both",
            repeats=9,
        )
        with tempfile.NamedTemporaryFile(suffix=".png") as diff:
            diff.write(comparison.diff_image())
            diff.flush()
            timing.run_cpp_bench("encode_png_bench", diff.name)


if __name__ == "__main__":
    main()
