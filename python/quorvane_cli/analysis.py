"""What the comparison of one pair says: the module's figures as typed data,
the pair's status, and the verdict against the pass/fail limits. The
command, the report, the plugin and the Dask runner all judge through
`analyse`."""

from __future__ import annotations

import dataclasses
import struct
from typing import Any, Literal

import quorvane
from quorvane_cli.reading import ReadBand, read_bands
from quorvane_cli.settings import Limits, Rectangle, Settings

Status = Literal["unchanged", "changed", "shifted", "new", "missing", "error"]
# The order in which statuses are listed, counted and filtered everywhere.
STATUSES: tuple[Status, ...] = ("unchanged", "changed", "shifted", "new", "missing", "error")


@dataclasses.dataclass(frozen=True)
class Size:
    width: int
    height: int


@dataclasses.dataclass(frozen=True)
class ClusterFigure:
    x: int
    y: int
    width: int
    height: int
    pixel_count: int  # the dilated area
    changed_pixels: int  # changed pixels of the change mask inside it
    centroid: tuple[float, float]
    merged_from: int


@dataclasses.dataclass(frozen=True)
class ClusterFigures:
    total: int
    truncated: bool
    items: tuple[ClusterFigure, ...]
    # The most changed pixels one cluster holds, over every cluster when a
    # cluster limit asked for them all, else over the listed ones.
    largest_changed: int = 0


@dataclasses.dataclass(frozen=True)
class Band:
    """Rows inserted into or deleted from the page, at a row of the current
    image. `exempt_rows` of them crossed the bottom edge of the frame: they
    were pushed out of view or pulled into it by the bands above, and are
    not counted as change."""

    kind: Literal["inserted", "deleted"]
    y: int
    rows: int
    exempt_rows: int = 0


@dataclasses.dataclass(frozen=True)
class AlignmentFigures:
    """The shift-aware figures of an aligned pair, in current-image rows.
    `changed_pixels` is what the limits judge under allow_shifts: the pixels
    changed in place and every pixel of the inserted and deleted rows, but
    for the rows exempt as having crossed the frame's edge."""

    edit_distance: int
    inserted_rows: int
    deleted_rows: int
    changed_rows: int
    row_bands: tuple[Band, ...]  # as the alignment gives them
    bands: tuple[ReadBand, ...]  # as a person reads them
    ssim: float
    in_place_pixels: int
    inserted_pixels: int
    deleted_pixels: int
    changed_pixels: int
    changed_ratio: float
    clusters: ClusterFigures

    @property
    def exempt_rows(self) -> int:
        return sum(band.exempt_rows for band in self.row_bands)


@dataclasses.dataclass(frozen=True)
class Figures:
    baseline: Size
    current: Size
    width: int
    height: int
    size_mismatch: bool
    changed_pixels: int
    changed_ratio: float
    ssim: float
    ignore: tuple[Rectangle, ...]
    ignored_pixels: int
    clusters: ClusterFigures
    alignment: AlignmentFigures | None
    status: Status


@dataclasses.dataclass(frozen=True)
class Verdict:
    """The reasons the pair is beyond its limits (none: within them), and
    whether it passed only because shifted rows were allowed."""

    failures: tuple[str, ...]
    passed_with_shifts: bool = False

    @property
    def passed(self) -> bool:
        return not self.failures


@dataclasses.dataclass(frozen=True)
class Analysis:
    figures: Figures
    verdict: Verdict
    alignment: quorvane.RowAlignment | None  # None when nothing changed


def png_size(png: bytes) -> Size:
    """The size in the header of PNG bytes that have been decoded once."""
    width, height = struct.unpack(">II", png[16:24])
    return Size(width, height)


def ratio(part: int, whole: int) -> float:
    return part / whole if whole else 0.0


def changed_of(cluster: Any) -> int:
    return int(getattr(cluster, "changed_pixels", cluster.pixel_count))  # transitional


def cluster_figures(result: quorvane.ClustersResult, listed: int | None = None) -> ClusterFigures:
    """Figures of a ClustersResult, of which the first `listed` clusters are
    kept when the result holds them all."""
    clusters = result.clusters
    items = tuple(
        ClusterFigure(
            c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, changed_of(c), c.centroid, c.merged_from
        )
        for c in (clusters if listed is None else clusters[:listed])
    )
    truncated = result.truncated or len(items) < len(clusters)
    largest = max((changed_of(c) for c in clusters), default=0)
    return ClusterFigures(result.total_clusters, truncated, items, largest)


def clusters_of(find: Any, settings: Settings, every: bool) -> ClusterFigures:
    """Clusters found by `find` (a Comparison's clusters or aligned_clusters,
    the alignment bound); with `every`, all are found so that the largest
    change is known, and the listed ones cut to the settings' count."""
    if not every:
        return cluster_figures(find(**settings.cluster_options()))
    return cluster_figures(find(**{**settings.cluster_options(), "max_clusters": None}), settings.max_clusters)


def pixels_changed_in_place(
    comparison: quorvane.Comparison, alignment: quorvane.RowAlignment, settings: Settings
) -> int:
    """Changed pixels of the rows that changed in place, counted on the aligned
    change mask itself. The alignment's residual_count leaves out a window of
    inserted and deleted rows that share no content, which is drawn and
    clustered as changed content: such a pair must not pass as a mere shift."""
    mask = comparison.aligned_clusters(alignment, **settings.pixel_options(), min_pixels=1, dilation=0)
    return sum(cluster.pixel_count for cluster in mask.clusters)


def exempt_rows(bands: list[quorvane.ShiftBand], baseline_height: int, current_height: int) -> list[int]:
    """How many rows of each band crossed the bottom edge of the frame: in a
    pair of equal heights, a last band that ends at the bottom (a deletion of
    the baseline's last rows, an insertion of the current image's last rows)
    as far as the bands above it shifted the page the other way."""
    exempt = [0] * len(bands)
    if not bands or baseline_height != current_height:
        return exempt
    last = bands[-1]
    pushed_down = sum(band.rows if band.kind == "inserted" else -band.rows for band in bands[:-1])
    if last.kind == "deleted" and last.y == current_height:
        exempt[-1] = max(0, min(last.rows, pushed_down))
    elif last.kind == "inserted" and last.y + last.rows == current_height:
        exempt[-1] = max(0, min(last.rows, -pushed_down))
    return exempt


def alignment_figures(
    comparison: quorvane.Comparison, alignment: quorvane.RowAlignment, settings: Settings, every_cluster: bool
) -> AlignmentFigures:
    module_bands = alignment.bands
    exempt = exempt_rows(module_bands, comparison.baseline_size[1], comparison.current_size[1])
    row_bands = tuple(Band(b.kind, b.y, b.rows, rows) for b, rows in zip(module_bands, exempt))
    width, current_height = comparison.width, comparison.current_size[1]
    in_place = pixels_changed_in_place(comparison, alignment, settings)
    counted = {
        kind: sum(b.rows - b.exempt_rows for b in row_bands if b.kind == kind) for kind in ("inserted", "deleted")
    }
    inserted, deleted = counted["inserted"] * width, counted["deleted"] * width
    changed = in_place + inserted + deleted

    def find(**options: Any) -> quorvane.ClustersResult:
        return comparison.aligned_clusters(alignment, **options)

    return AlignmentFigures(
        edit_distance=alignment.edit_distance,
        inserted_rows=alignment.inserted_rows,
        deleted_rows=alignment.deleted_rows,
        changed_rows=alignment.changed_rows,
        row_bands=row_bands,
        bands=read_bands(row_bands),
        ssim=comparison.aligned_ssim(alignment),
        in_place_pixels=in_place,
        inserted_pixels=inserted,
        deleted_pixels=deleted,
        changed_pixels=changed,
        changed_ratio=ratio(changed, width * current_height),
        clusters=clusters_of(find, settings, every_cluster),
    )


def status_of(changed_pixels: int, aligned: AlignmentFigures | None) -> Status:
    """unchanged, shifted (rows moved, nothing changed in place) or changed."""
    if changed_pixels == 0:
        return "unchanged"
    if aligned is not None and aligned.row_bands and aligned.in_place_pixels == 0:
        return "shifted"
    return "changed"


def compared_figures(
    comparison: quorvane.Comparison, settings: Settings, every_cluster: bool = False
) -> tuple[Figures, quorvane.RowAlignment | None]:
    """The figures of a pair opened as a Comparison, the details of a change
    and the status included, with the pair's RowAlignment (None when nothing
    changed). With `every_cluster`, the largest cluster's change is found
    over all clusters (a cluster limit needs it)."""
    changed = comparison.diff_count(**settings.pixel_options())
    baseline, current = Size(*comparison.baseline_size), Size(*comparison.current_size)
    clusters, alignment, aligned = ClusterFigures(0, False, ()), None, None
    if changed:
        clusters = clusters_of(comparison.clusters, settings, every_cluster)
        alignment = comparison.row_alignment(**settings.alignment_options())
        if alignment.aligned:
            aligned = alignment_figures(comparison, alignment, settings, every_cluster)
    figures = Figures(
        baseline=baseline,
        current=current,
        width=comparison.width,
        height=comparison.height,
        size_mismatch=comparison.size_mismatch,
        changed_pixels=changed,
        changed_ratio=ratio(changed, comparison.width * comparison.height),
        ssim=comparison.ssim(),
        ignore=settings.ignore,
        ignored_pixels=comparison.ignored_pixels,
        clusters=clusters,
        alignment=aligned,
        status=status_of(changed, aligned),
    )
    return figures, alignment


def parts_text(aligned: AlignmentFigures) -> str:
    """The three parts of a shift-aware change, as the failures name them."""
    return (
        f"{aligned.in_place_pixels} in place, {aligned.inserted_pixels} in inserted rows, "
        f"{aligned.deleted_pixels} in deleted rows"
    )


def failures_of(
    changed_pixels: int,
    changed_ratio: float,
    ssim: float,
    largest_cluster: int,
    limits: Limits,
    aligned: AlignmentFigures | None = None,
) -> list[str]:
    """The limits these figures break, each said in one phrase; `aligned`
    when they are the shift-aware figures."""
    where = "" if aligned is None else f" with shifts ({parts_text(aligned)})"
    failures = []
    if limits.max_changed_pixels is not None and changed_pixels > limits.max_changed_pixels:
        failures.append(f"{changed_pixels} pixels changed{where}, more than {limits.max_changed_pixels}")
    if limits.max_changed_ratio is not None and changed_ratio > limits.max_changed_ratio:
        failures.append(f"{changed_ratio:.4%} of the pixels changed{where}, more than {limits.max_changed_ratio:.4%}")
    if limits.min_ssim is not None and ssim < limits.min_ssim:
        label = "SSIM" if aligned is None else "aligned SSIM"
        failures.append(f"{label} {ssim:.6f}, less than {limits.min_ssim}")
    if limits.max_cluster_pixels is not None and largest_cluster > limits.max_cluster_pixels:
        failures.append(
            f"{largest_cluster} changed pixels in one cluster{'' if aligned is None else ' in place'}, "
            f"more than {limits.max_cluster_pixels}"
        )
    return failures


def judge(figures: Figures, limits: Limits, ssim_is_a_limit: bool = True) -> Verdict:
    """The verdict on the figures. With allow_shifts an aligned pair is judged
    by its shift-aware figures: what changed in place plus the inserted and
    deleted rows, the rows that crossed the frame's edge left out."""
    limits = limits.in_force(ssim_is_a_limit)
    plain = failures_of(
        figures.changed_pixels, figures.changed_ratio, figures.ssim, figures.clusters.largest_changed, limits
    )
    aligned = figures.alignment if limits.allow_shifts else None
    if aligned is None:
        return Verdict(tuple(plain))
    shifted = failures_of(
        aligned.changed_pixels, aligned.changed_ratio, aligned.ssim, aligned.clusters.largest_changed, limits, aligned
    )
    return Verdict(tuple(shifted), passed_with_shifts=not shifted and bool(plain))


def analyse(
    comparison: quorvane.Comparison, settings: Settings, limits: Limits, ssim_is_a_limit: bool = True
) -> Analysis:
    """Figures and verdict of one pair: the one judgement every caller makes."""
    figures, alignment = compared_figures(comparison, settings, every_cluster=limits.max_cluster_pixels is not None)
    return Analysis(figures, judge(figures, limits, ssim_is_a_limit), alignment)


def as_json(value: Any) -> Any:
    """Figures (or any of their parts) as JSON data: dataclasses as objects,
    tuples as lists."""
    if dataclasses.is_dataclass(value) and not isinstance(value, type):
        return {field.name: as_json(getattr(value, field.name)) for field in dataclasses.fields(value)}
    if isinstance(value, (tuple, list)):
        return [as_json(item) for item in value]
    return value
