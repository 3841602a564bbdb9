"""The main job: compare the bundled example screenshots, all pairs in one
batch call that spreads them over every processor."""

import os
import pathlib
import struct
import time

import quorvane

SCREENS = pathlib.Path(__file__).resolve().parent / "screens"
OUTPUT = pathlib.Path(__file__).resolve().parent / "output"

# (name, baseline, current)
PAIRS = [
    ("inserted banner", "page_baseline.png", "page_inserted_banner.png"),
    ("edited paragraph", "page_baseline.png", "page_edited_paragraph.png"),
    ("deleted block", "page_baseline.png", "page_deleted_block.png"),
    ("taller window", "page_baseline.png", "page_taller.png"),
    ("table padding", "table_1080p.png", "table_1080p_padded.png"),
]


def png_size(png):
    """"WIDTHxHEIGHT" from the PNG header."""
    return "%dx%d" % struct.unpack(">II", png[16:24])


def main():
    OUTPUT.mkdir(exist_ok=True)
    print(f"quorvane {quorvane.__version__}: {len(PAIRS)} example pairs from {SCREENS}")
    pngs = [((SCREENS / baseline).read_bytes(), (SCREENS / current).read_bytes()) for _, baseline, current in PAIRS]
    started = time.perf_counter()
    results = quorvane.compare_batch(pngs, return_diff=True, thumbnail_width=200)
    elapsed = (time.perf_counter() - started) * 1000
    print(f"compare_batch: decoded, counted, scored, drew and encoded all {len(PAIRS)} pairs, with thumbnails, "
          f"in {elapsed:.0f} ms on {len(os.sched_getaffinity(0))} processor(s)")

    for (name, baseline_name, current_name), (baseline, current), result in zip(PAIRS, pngs, results):
        changed, score, width, height, diff_png, thumbnail = result
        own_sizes = png_size(baseline), png_size(current)
        print(f"\n{name}: {baseline_name} -> {current_name}")
        print(f"  compared on {width}x{height}, baseline {own_sizes[0]}, current {own_sizes[1]}"
              f"{', sizes differ' if own_sizes[0] != own_sizes[1] else ''}")
        print(f"  {changed} changed pixels ({changed / (width * height):.2%}); SSIM {score:.6f}")
        stem = name.replace(" ", "_")
        diff_path = OUTPUT / f"{stem}_diff.png"
        diff_path.write_bytes(diff_png)
        thumbnail_path = OUTPUT / f"{stem}_current.webp"
        thumbnail_path.write_bytes(thumbnail)
        print(f"  diff image {diff_path.relative_to(OUTPUT.parent)} ({len(diff_png)} bytes); "
              f"current thumbnail {thumbnail_path.relative_to(OUTPUT.parent)} ({len(thumbnail)} bytes of lossless WebP)")


if __name__ == "__main__":
    main()
