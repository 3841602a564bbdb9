"""One pair of screenshots through the module's typed interface: every
class the module defines appears here with its type, and the command's
package too, so `mypy --strict` checks this script against the types the
wheel ships.

    python examples/typed_usage.py BASELINE.png CURRENT.png OUT_DIR

prints the pair's figures, writes OUT_DIR/diff.png and two thumbnails, and
ends with the `quorvane compare` verdict on the same pair.
"""

import pathlib
import sys

import quorvane
import quorvane_cli


def box_text(box: quorvane.BoundingBox) -> str:
    return f"{box.width}x{box.height} at ({box.x}, {box.y})"


def cluster_lines(result: quorvane.ClustersResult) -> list[str]:
    def line(cluster: quorvane.Cluster) -> str:
        x, y = cluster.centroid
        return f"  {box_text(cluster.bbox)}, {cluster.pixel_count} pixels around ({x:.1f}, {y:.1f})"

    listed = f"the largest {len(result.clusters)} of " if result.truncated else ""
    return [f"clusters: {listed}{result.total_clusters}", *map(line, result.clusters)]


def segment_text(segment: quorvane.RowSegment) -> str:
    return f"  {segment.kind} {segment.len} rows (baseline {segment.baseline_start}, current {segment.current_start})"


def band_text(band: quorvane.ShiftBand) -> str:
    return f"  {band.rows} rows {band.kind} at row {band.y}"


def alignment_lines(comparison: quorvane.Comparison, alignment: quorvane.RowAlignment) -> list[str]:
    if not alignment.aligned:
        return ["rows: not aligned"]
    return [
        f"rows: {alignment.inserted_rows} inserted, {alignment.deleted_rows} deleted, "
        f"{alignment.changed_rows} changed in place",
        *map(segment_text, alignment.segments),
        *map(band_text, alignment.bands),
        f"SSIM of the matched rows: {comparison.aligned_ssim(alignment):.6f}",
        *cluster_lines(comparison.aligned_clusters(alignment)),
    ]


def main(baseline_path: pathlib.Path, current_path: pathlib.Path, out_dir: pathlib.Path) -> int:
    baseline_png, current_png = baseline_path.read_bytes(), current_path.read_bytes()
    comparison = quorvane.Comparison(baseline_png, current_png)
    changed: int = comparison.diff_count()
    print(f"{comparison!r}: {changed} pixels changed, SSIM {comparison.ssim():.6f}")
    print(*cluster_lines(comparison.clusters(max_clusters=3)), sep="\n")
    print(*alignment_lines(comparison, comparison.row_alignment()), sep="\n")

    out_dir.mkdir(parents=True, exist_ok=True)
    (out_dir / "diff.png").write_bytes(comparison.diff_image())
    (out_dir / "current.webp").write_bytes(comparison.current_thumbnail(width=240))
    (out_dir / "baseline.webp").write_bytes(quorvane.thumbnail(baseline_png, width=240))

    [(batch_changed, batch_ssim, *_)] = quorvane.compare_batch([(baseline_png, current_png)])
    print(f"batch: {batch_changed} pixels changed, SSIM {batch_ssim:.6f}")
    return quorvane_cli.main(
        ["compare", str(baseline_path), str(current_path), "--allow-shifts", "--max-changed-ratio", "2%"]
    )


if __name__ == "__main__":
    sys.exit(main(*map(pathlib.Path, sys.argv[1:4])))
