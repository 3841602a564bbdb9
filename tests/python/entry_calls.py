"""Every public entry point of the module as a catalogue of single calls,
failing calls included, with arguments in every form the module converts,
for the leak and concurrency tests and tools/leak_check.py. A failing call
swallows only the exception it is meant to raise."""

import sys

import numpy as np
from imaging import png_bytes, random_rgba

import quorvane

Comparison = quorvane.Comparison
Index = np.int64  # an integer given through __index__, not an int


def make_inputs(height=12, width=8):
    """The objects every call borrows, made once so their reference counts
    can be compared before and after: a page, and the same page with two rows
    inserted a third of the way down and a block changed near the bottom."""
    baseline = random_rgba(height, width, seed=11, opaque=True)
    current = np.concatenate([baseline[: height // 3], random_rgba(2, width, 12, True), baseline[height // 3 :]])
    current[-5:-3, 2:6] = (0, 0, 0, 255)
    other = baseline.copy()
    other[0, 0] = (1, 2, 3, 4)
    tiny = png_bytes(baseline[:1, :1])
    inputs = {
        "baseline_png": png_bytes(baseline),
        "current_png": png_bytes(current),
        "baseline_rgba": baseline.tobytes(),
        "current_rgba": current.tobytes(),
        "short_rgba": baseline.tobytes()[:-1],
        "sizes": (Index(width), Index(height), width, Index(height + 2)),
        "junk": b"this is not a png file",
        "cap": Index(height * width),
        "effort": Index(1),
        "alt_color": (0, Index(0), 255),
        "wide_color": (256, 0, 0),
        "list_color": [255, 0, 0],
        "regions": [(Index(1), 1, 3, 3), [0, 5, 20, 2]],
        "bad_regions": [(1, 1, 3, 3), (0, -1, 2, 2)],
        "sequence_pairs": [(bytearray(tiny), [Index(byte) for byte in tiny]), (memoryview(tiny), tuple(tiny))],
        "bad_sequence_pairs": [(tiny, [137, 80, 1000])],
        "narrow_png": png_bytes(baseline[:, 3:]),
    }
    inputs["pairs"] = [(inputs["baseline_png"], inputs["current_png"]), (inputs["current_png"], inputs["narrow_png"])]
    inputs["bad_pairs"] = [(inputs["baseline_png"], inputs["current_png"]), (inputs["baseline_png"], inputs["junk"])]
    inputs["mistyped_pairs"] = [(inputs["baseline_png"], inputs["current_png"]), [inputs["baseline_png"]] * 2]
    inputs["pair"] = Comparison(inputs["baseline_png"], inputs["current_png"])
    inputs["alignment"] = inputs["pair"].row_alignment()
    inputs["foreign_alignment"] = Comparison(inputs["baseline_png"], png_bytes(other)).row_alignment()
    inputs["unaligned"] = Comparison(inputs["baseline_png"], inputs["narrow_png"]).row_alignment()
    inputs["clusters"] = inputs["pair"].clusters(min_pixels=1)
    assert inputs["alignment"].aligned and inputs["alignment"].changed_rows and inputs["clusters"].clusters
    return inputs


def reference_counts(inputs):
    """The reference count of every input and of everything inside a list or
    tuple of them; small ints, which the whole process shares, left out."""
    counts = {}

    def visit(key, value):
        if not (isinstance(value, int) and -5 <= value <= 256):
            counts[key] = sys.getrefcount(value)
        if isinstance(value, (list, tuple)):
            for index, item in enumerate(value):
                visit(key + (index,), item)

    for name, value in inputs.items():
        visit((name,), value)
    return counts


def comparable(value):
    """A result as plain values that compare by content."""
    if isinstance(value, (list, tuple)):
        return [comparable(item) for item in value]
    if type(value).__module__ != "quorvane":
        return value
    names = [name for name in dir(value) if not name.startswith("_") and not callable(getattr(value, name))]
    fields = {name: comparable(getattr(value, name)) for name in names}
    return type(value).__name__, fields, value.diff_count() if isinstance(value, Comparison) else repr(value)


def fails(error, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"{call} did not raise {error.__name__}")


def entry_calls(inputs):
    """Name -> a callable making one call. The names group by entry point;
    the plain call of each computing entry point bears its name alone."""
    i = inputs
    pair, alignment, clusters = i["pair"], i["alignment"], i["clusters"]
    cluster, segment, band = clusters.clusters[0], alignment.segments[0], alignment.bands[0]
    base, cur, junk, colour = i["baseline_png"], i["current_png"], i["junk"], i["alt_color"]
    sizes = i["sizes"]
    return {
        # Construction.
        "Comparison": lambda: Comparison(base, cur),
        "Comparison undecodable": lambda: fails(quorvane.DecodeError, Comparison, base, junk),
        "Comparison not bytes": lambda: fails(TypeError, Comparison, bytearray(3), cur),
        "Comparison missing argument": lambda: fails(TypeError, Comparison, base),
        "Comparison with ignore regions": lambda: Comparison(
            base, i["narrow_png"], ignore=i["regions"], mask_color=colour
        ),
        "Comparison bad rectangle": lambda: fails(quorvane.RegionError, Comparison, base, cur, ignore=i["bad_regions"]),
        "Comparison bad mask colour": lambda: fails(ValueError, Comparison, base, cur, mask_color=i["wide_color"]),
        "from_rgba": lambda: Comparison.from_rgba(i["baseline_rgba"], *sizes[:2], i["current_rgba"], *sizes[2:]),
        "from_rgba short buffer": lambda: fails(
            ValueError, Comparison.from_rgba, i["short_rgba"], *sizes[:2], i["current_rgba"], *sizes[2:]
        ),
        "from_rgba overflow": lambda: fails(
            ValueError, Comparison.from_rgba, i["baseline_rgba"], 2**40, 2**40, i["current_rgba"], *sizes[2:]
        ),
        "from_rgba negative size": lambda: fails(
            OverflowError, Comparison.from_rgba, i["baseline_rgba"], -1, 12, i["current_rgba"], *sizes[2:]
        ),
        "batch": lambda: Comparison.batch(i["pairs"]),
        "batch of byte sequences": lambda: Comparison.batch(i["sequence_pairs"]),
        "batch undecodable pair": lambda: fails(quorvane.DecodeError, Comparison.batch, i["bad_pairs"]),
        "batch mistyped pair": lambda: fails(TypeError, Comparison.batch, i["mistyped_pairs"]),
        # Properties and representations.
        "properties and reprs": lambda: (
            (pair.width, pair.height, pair.size_mismatch, pair.baseline_size, pair.current_size),
            [
                repr(value)
                for value in (pair, alignment, i["unaligned"], clusters, cluster, cluster.bbox, segment, band)
            ],
        ),
        # Pixel differences.
        "diff_count": lambda: pair.diff_count(threshold=0.05, include_aa=True),
        "diff_count threshold out of range": lambda: fails(ValueError, pair.diff_count, threshold=2.0),
        "diff_count int for bool": lambda: fails(TypeError, pair.diff_count, include_aa=1),
        "diff_count_capped": lambda: pair.diff_count_capped(i["cap"]),
        "diff_count_capped negative": lambda: fails(OverflowError, pair.diff_count_capped, -1),
        "diff_image": lambda: pair.diff_image(diff_color_alt=colour),
        "diff_image colour out of range": lambda: fails(OverflowError, pair.diff_image, diff_color=i["wide_color"]),
        "diff_image colour as list": lambda: fails(TypeError, pair.diff_image, aa_color=i["list_color"]),
        "diff_image unknown keyword": lambda: fails(TypeError, pair.diff_image, colour=colour),
        "diff_image_and_thumbnail": lambda: pair.diff_image_and_thumbnail(thumbnail_width=5, effort=i["effort"]),
        "ssim": lambda: pair.ssim(),
        "clusters": lambda: pair.clusters(min_pixels=1, max_clusters=2, merge_gap=2),
        "cluster records": lambda: (
            (clusters.clusters, clusters.total_clusters, clusters.truncated, cluster.bbox)
            + (cluster.centroid, cluster.pixel_count, cluster.merged_from, cluster.bbox.x)
        ),
        # Row alignment and the shift-aware methods.
        "row_alignment": lambda: pair.row_alignment(include_aa=True),
        "row_alignment not aligned": lambda: pair.row_alignment(max_edit_rows=0),
        "alignment records": lambda: (
            (alignment.segments, alignment.bands, alignment.edit_distance)
            + (alignment.residual_count, segment.kind, segment.len, band.kind, band.y)
        ),
        "aligned_ssim": lambda: pair.aligned_ssim(alignment),
        "aligned_ssim foreign": lambda: fails(quorvane.AlignmentError, pair.aligned_ssim, i["foreign_alignment"]),
        "aligned_ssim not aligned": lambda: fails(quorvane.AlignmentError, pair.aligned_ssim, i["unaligned"]),
        "aligned_diff_image": lambda: pair.aligned_diff_image(alignment, diff_color_alt=colour),
        "aligned_diff_image not an alignment": lambda: fails(TypeError, pair.aligned_diff_image, clusters),
        "aligned_diff_image_and_thumbnail": lambda: pair.aligned_diff_image_and_thumbnail(alignment, effort=0),
        "aligned_clusters": lambda: pair.aligned_clusters(alignment, min_pixels=1),
        "result class constructors": lambda: fails(TypeError, type(alignment)),
        # Thumbnails.
        "thumbnail": lambda: quorvane.thumbnail(cur, width=5, height=3),
        "thumbnail undecodable": lambda: fails(quorvane.DecodeError, quorvane.thumbnail, junk),
        "thumbnail zero width": lambda: fails(ValueError, quorvane.thumbnail, cur, width=0),
        "thumbnail effort out of range": lambda: fails(ValueError, quorvane.thumbnail, cur, effort=10),
        "resize_png": lambda: quorvane.resize_png(cur, 3, 9),
        "resize_png zero height": lambda: fails(ValueError, quorvane.resize_png, cur, 3, 0),
        "current_thumbnail": lambda: pair.current_thumbnail(width=7, min_height=4),
        "baseline_thumbnail": lambda: pair.baseline_thumbnail(width=20, effort=i["effort"]),
        "baseline_thumbnail own size": lambda: pair.baseline_thumbnail(width=20, own_size=True),
        # Batch functions.
        "diff_batch": lambda: quorvane.diff_batch(i["pairs"], diff_color_alt=colour),
        "diff_count_batch": lambda: quorvane.diff_count_batch(i["pairs"], include_aa=True, ignore=i["regions"]),
        "diff_count_batch byte out of range": lambda: fails(
            OverflowError, quorvane.diff_count_batch, i["bad_sequence_pairs"]
        ),
        "ssim_batch": lambda: quorvane.ssim_batch(i["pairs"]),
        "ssim_batch of a str": lambda: fails(TypeError, quorvane.ssim_batch, "pairs"),
        "compare_batch": lambda: quorvane.compare_batch(i["pairs"], return_diff=True, thumbnail_width=6),
        "compare_batch threshold out of range": lambda: fails(
            ValueError, quorvane.compare_batch, i["pairs"], threshold=-0.1
        ),
        "compare_batch undecodable pair": lambda: fails(quorvane.DecodeError, quorvane.compare_batch, i["bad_pairs"]),
        # Ignore regions checked alone, under the lock: no computation.
        "check_regions of sound regions": lambda: quorvane.check_regions(i["regions"], mask_color=colour),
        "check_regions bad rectangle": lambda: fails(quorvane.RegionError, quorvane.check_regions, i["bad_regions"]),
    }
