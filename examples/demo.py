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


def print_clusters(comparison, shown=3):
    started = time.perf_counter()
    result = comparison.clusters()
    elapsed = (time.perf_counter() - started) * 1000
    plural = "" if result.total_clusters == 1 else "s"
    print(f"  {result.total_clusters} change cluster{plural} ({elapsed:.0f} ms)"
          f"{', the largest:' if result.clusters else ''}")
    for cluster in result.clusters[:shown]:
        box = cluster.bbox
        print(f"    {box.width}x{box.height} at ({box.x}, {box.y}), {cluster.pixel_count} pixels")


def listed(items, shown=6):
    text = ", ".join(items[:shown])
    return text + (f" and {len(items) - shown} more" if len(items) > shown else "")


def describe_alignment(comparison):
    started = time.perf_counter()
    alignment = comparison.row_alignment()
    elapsed = (time.perf_counter() - started) * 1000
    if not alignment.aligned:
        print(f"  rows not aligned: the widths differ or too many rows changed ({elapsed:.0f} ms)")
        return
    print(f"  rows aligned with {alignment.edit_distance} row edits ({elapsed:.0f} ms)")
    bands = [f"{band.rows} {band.kind} at row {band.y}" for band in alignment.bands]
    print(f"    shift bands: {listed(bands) if bands else 'none'}")
    changed = [f"{s.current_start}-{s.current_start + s.len - 1}" if s.len > 1 else f"{s.current_start}"
               for s in alignment.segments if s.kind == "replace"]
    print(f"    changed rows: {alignment.changed_rows}" + (f" ({listed(changed)})" if changed else "")
          + f", {alignment.residual_count} changed pixels in them")


# Pairs whose plain and shift-aware results are shown side by side.
SHIFT_AWARE = {"inserted banner"}


def compare_shift_aware(name, comparison):
    """The plain results beside the shift-aware ones, which follow a row
    alignment: content pushed down by the inserted rows is no change."""
    alignment = comparison.row_alignment()
    if not alignment.aligned:
        return
    stem = name.replace(" ", "_")
    started = time.perf_counter()
    aligned_path = OUTPUT / f"{stem}_aligned_diff.png"
    aligned_path.write_bytes(comparison.aligned_diff_image(alignment))
    aligned = (alignment.residual_count, f"{comparison.aligned_ssim(alignment):.6f}",
               comparison.aligned_clusters(alignment).total_clusters, aligned_path.name)
    elapsed = (time.perf_counter() - started) * 1000
    plain = (comparison.diff_count(), f"{comparison.ssim():.6f}", comparison.clusters().total_clusters,
             f"{stem}_diff.png")
    shifted = sum(band.rows for band in alignment.bands if band.kind == "inserted")
    print(f"  plain against shift-aware, {shifted} inserted rows drawn as bands, not as change"
          f" (shift-aware results in {elapsed:.0f} ms):")
    for label, before, after in zip(("changed pixels", "SSIM", "change clusters", "diff image"), plain, aligned):
        print(f"    {label:<16} {before!s:<24} {after}")


def main():
    OUTPUT.mkdir(exist_ok=True)
    print(f"quorvane {quorvane.__version__}: {len(PAIRS)} example pairs from {SCREENS}")
    pngs = [((SCREENS / baseline).read_bytes(), (SCREENS / current).read_bytes()) for _, baseline, current in PAIRS]
    started = time.perf_counter()
    results = quorvane.compare_batch(pngs, return_diff=True, thumbnail_width=200)
    elapsed = (time.perf_counter() - started) * 1000
    print(f"compare_batch: decoded, counted, scored, drew and encoded all {len(PAIRS)} pairs, with thumbnails, "
          f"in {elapsed:.0f} ms on {len(os.sched_getaffinity(0))} processor(s)")

    comparisons = quorvane.Comparison.batch(pngs)  # for the per-pair analyses below

    for (name, baseline_name, current_name), (baseline, current), result, comparison in zip(
            PAIRS, pngs, results, comparisons):
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
        print_clusters(comparison)
        describe_alignment(comparison)
        if name in SHIFT_AWARE:
            compare_shift_aware(name, comparison)

if __name__ == "__main__":
    main()
