"""What the comparison of one pair says: the module's figures as plain data,
the pair's status, and the verdict against the pass/fail limits."""

import dataclasses
import struct

# The order in which statuses are listed, counted and filtered everywhere.
STATUSES = ("unchanged", "changed", "shifted", "new", "missing", "error")


@dataclasses.dataclass(frozen=True)
class Settings:
    """Every parameter of the module's comparison, with the module's defaults
    except max_clusters: the five largest clusters are listed. `ignore` holds
    the (x, y, width, height) rectangles left out of every figure."""

    threshold: float = 0.1
    include_aa: bool = False
    alpha: float = 0.1
    diff_color: tuple = (255, 0, 0)
    aa_color: tuple = (255, 255, 0)
    diff_color_alt: tuple | None = None
    max_clusters: int | None = 5
    min_pixels: int = 16
    min_side: int = 0
    dilation: int = 4
    merge_gap: int = 0
    merge_overlap: float = 0.5
    max_edit_ratio: float = 0.25
    max_edit_rows: int = 2048
    ignore: tuple = ()
    mask_color: tuple = (255, 0, 255)

    def __post_init__(self):
        # Tuples, whatever sequences were given: the settings stay hashable.
        object.__setattr__(self, "ignore", tuple(tuple(rectangle) for rectangle in self.ignore))
        object.__setattr__(self, "mask_color", tuple(self.mask_color))

    def region_options(self):
        """For building a Comparison or a batch: the regions painted into both images."""
        return {"ignore": self.ignore, "mask_color": self.mask_color}

    def pixel_options(self):
        return {"threshold": self.threshold, "include_aa": self.include_aa}

    def drawing_options(self):
        return {
            **self.pixel_options(),
            "alpha": self.alpha,
            "diff_color": self.diff_color,
            "aa_color": self.aa_color,
            "diff_color_alt": self.diff_color_alt,
        }

    def cluster_options(self):
        return {
            **self.pixel_options(),
            "min_pixels": self.min_pixels,
            "min_side": self.min_side,
            "dilation": self.dilation,
            "max_clusters": self.max_clusters,
            "merge_gap": self.merge_gap,
            "merge_overlap": self.merge_overlap,
        }

    def alignment_options(self):
        return {**self.pixel_options(), "max_edit_ratio": self.max_edit_ratio, "max_edit_rows": self.max_edit_rows}


@dataclasses.dataclass(frozen=True)
class Limits:
    """Pass/fail limits. With none given, any changed pixel fails, as cmp would."""

    max_changed_pixels: int | None = None
    max_changed_ratio: float | None = None
    min_ssim: float | None = None
    allow_shifts: bool = False

    def in_force(self):
        if self.max_changed_pixels is None and self.max_changed_ratio is None and self.min_ssim is None:
            return dataclasses.replace(self, max_changed_pixels=0)
        return self


def as_dict(value):
    """The fields of a Settings or Limits, for JSON."""
    return dataclasses.asdict(value)


def png_size(png):
    """(width, height) from the header of PNG bytes that have been decoded once."""
    return struct.unpack(">II", png[16:24])


def ratio(part, whole):
    return part / whole if whole else 0.0


def pair_figures(comparison, changed_pixels, ssim, ignore=()):
    """The figures every compared pair has; the details of a change come
    later. `ignore` holds the regions the pair was compared with."""
    baseline_size, current_size = comparison.baseline_size, comparison.current_size
    width, height = comparison.width, comparison.height
    return {
        "baseline": {"width": baseline_size[0], "height": baseline_size[1]},
        "current": {"width": current_size[0], "height": current_size[1]},
        "width": width,
        "height": height,
        "size_mismatch": comparison.size_mismatch,
        "changed_pixels": changed_pixels,
        "changed_ratio": ratio(changed_pixels, width * height),
        "ssim": ssim,
        "ignore": [list(rectangle) for rectangle in ignore],
        "ignored_pixels": comparison.ignored_pixels,
        "clusters": {"total": 0, "truncated": False, "items": []},
        "alignment": None,
    }


def cluster_figures(result):
    return {
        "total": result.total_clusters,
        "truncated": result.truncated,
        "items": [
            {
                "x": c.bbox.x,
                "y": c.bbox.y,
                "width": c.bbox.width,
                "height": c.bbox.height,
                "pixel_count": c.pixel_count,
                "centroid": list(c.centroid),
                "merged_from": c.merged_from,
            }
            for c in result.clusters
        ],
    }


def pixels_changed_in_place(comparison, alignment, settings):
    """Changed pixels of the rows that changed in place, counted on the aligned
    change mask itself. The alignment's residual_count leaves out a window of
    inserted and deleted rows that share no content, which is drawn and
    clustered as changed content: such a pair must not pass as a mere shift."""
    mask = comparison.aligned_clusters(alignment, **settings.pixel_options(), min_pixels=1, dilation=0)
    return sum(cluster.pixel_count for cluster in mask.clusters)


def alignment_figures(comparison, alignment, settings):
    """The shift-aware figures of an aligned pair, in current-image rows."""
    in_place = pixels_changed_in_place(comparison, alignment, settings)
    width, current_height = comparison.width, comparison.current_size[1]
    return {
        "edit_distance": alignment.edit_distance,
        "inserted_rows": alignment.inserted_rows,
        "deleted_rows": alignment.deleted_rows,
        "changed_rows": alignment.changed_rows,
        "bands": [{"kind": band.kind, "y": band.y, "rows": band.rows} for band in alignment.bands],
        "ssim": comparison.aligned_ssim(alignment),
        "changed_pixels": in_place,
        "changed_ratio": ratio(in_place, width * current_height),
        "clusters": cluster_figures(comparison.aligned_clusters(alignment, **settings.cluster_options())),
    }


def add_change_details(figures, comparison, settings):
    """Clusters and row alignment of a changed pair; returns the RowAlignment."""
    figures["clusters"] = cluster_figures(comparison.clusters(**settings.cluster_options()))
    alignment = comparison.row_alignment(**settings.alignment_options())
    if alignment.aligned:
        figures["alignment"] = alignment_figures(comparison, alignment, settings)
    return alignment


def compared_figures(comparison, settings):
    """The figures of a pair opened as a Comparison, the details of a change
    and the status included; returns them with the pair's RowAlignment (None
    when nothing changed)."""
    changed = comparison.diff_count(**settings.pixel_options())
    figures = pair_figures(comparison, changed, comparison.ssim(), settings.ignore)
    alignment = add_change_details(figures, comparison, settings) if changed else None
    figures["status"] = status_of(figures)
    return figures, alignment


def status_of(figures):
    """unchanged, shifted (rows moved, nothing changed in place) or changed."""
    if figures["changed_pixels"] == 0:
        return "unchanged"
    aligned = figures["alignment"]
    if aligned is not None and aligned["bands"] and aligned["changed_pixels"] == 0:
        return "shifted"
    return "changed"


def judge(figures, limits):
    """The reasons the pair is beyond the limits; empty when it is within them.
    With allow_shifts an aligned pair is judged by what changed in place."""
    limits = limits.in_force()
    aligned = figures["alignment"] if limits.allow_shifts else None
    measured = aligned if aligned is not None else figures
    where = " in place" if aligned is not None else ""
    failures = []
    if limits.max_changed_pixels is not None and measured["changed_pixels"] > limits.max_changed_pixels:
        failures.append(f"{measured['changed_pixels']} pixels changed{where}, more than {limits.max_changed_pixels}")
    if limits.max_changed_ratio is not None and measured["changed_ratio"] > limits.max_changed_ratio:
        failures.append(
            f"{measured['changed_ratio']:.4%} of the pixels changed{where}, more than {limits.max_changed_ratio:.4%}"
        )
    if limits.min_ssim is not None and measured["ssim"] < limits.min_ssim:
        label = "aligned SSIM" if aligned is not None else "SSIM"
        failures.append(f"{label} {measured['ssim']:.6f}, less than {limits.min_ssim}")
    return failures
