"""The main job: compare the bundled example screenshots, pair by pair."""

import pathlib
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


def write_thumbnail(name, comparison):
    started = time.perf_counter()
    thumbnail = comparison.current_thumbnail()
    elapsed = (time.perf_counter() - started) * 1000
    path = OUTPUT / f"{name.replace(' ', '_')}_current.webp"
    path.write_bytes(thumbnail)
    print(f"  current thumbnail: {path.name}, {len(thumbnail)} bytes of lossless WebP ({elapsed:.0f} ms)")


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
    for name, baseline_name, current_name in PAIRS:
        started = time.perf_counter()
        comparison = quorvane.Comparison((SCREENS / baseline_name).read_bytes(), (SCREENS / current_name).read_bytes())
        elapsed = (time.perf_counter() - started) * 1000
        print(f"\n{name}: {baseline_name} -> {current_name}")
        print(f"  {comparison!r}, baseline {comparison.baseline_size}, current {comparison.current_size}"
              f"{', sizes differ' if comparison.size_mismatch else ''} (decoded in {elapsed:.0f} ms)")
        write_thumbnail(name, comparison)
        started = time.perf_counter()
        score = comparison.ssim()
        print(f"  SSIM {score:.6f} ({(time.perf_counter() - started) * 1000:.0f} ms)")
        started = time.perf_counter()
        changed = comparison.diff_count()
        diff_path = OUTPUT / f"{name.replace(' ', '_')}_diff.png"
        diff_path.write_bytes(comparison.diff_image())
        elapsed = (time.perf_counter() - started) * 1000
        print(f"  {changed} changed pixels; diff image {diff_path.relative_to(OUTPUT.parent)} ({elapsed:.0f} ms)")
        print_clusters(comparison)
        describe_alignment(comparison)
        if name in SHIFT_AWARE:
            compare_shift_aware(name, comparison)


if __name__ == "__main__":
    main()
