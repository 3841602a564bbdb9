"""Building a Comparison: the common canvas of two sizes, PNG and RGBA
inputs padded alike; and the objects its methods return: RowAlignment, RowSegment, ShiftBand,
ClustersResult, Cluster and BoundingBox."""

import gc
import os
import subprocess
import sys

import numpy as np
import pytest
from imaging import png_bytes, random_rgba, rgba_comparison, rows_image
from test_clusters import clusters_of_mask

import quorvane

Comparison = quorvane.Comparison


@pytest.mark.parametrize(
    "baseline, current, canvas",
    [
        ((5, 3), (5, 3), (5, 3)),
        ((2, 1), (1, 2), (2, 2)),  # transposed sizes meet on the larger canvas
        ((40, 30), (40, 50), (40, 50)),
        ((40, 50), (40, 30), (40, 50)),
        ((30, 50), (40, 30), (40, 50)),
        ((0, 0), (0, 0), (0, 0)),
    ],
)
def test_pairs_meet_on_the_larger_canvas_padded_alike_from_png_and_rgba(baseline, current, canvas):
    # A PNG image as wide as the canvas is padded below in its own buffer;
    # RGBA buffers are copied onto a canvas. Both must give one pair.
    first, second = (random_rgba(height, width, seed=width) for width, height in (baseline, current))
    from_rgba = rgba_comparison(first, second)
    assert (from_rgba.baseline_size, from_rgba.current_size) == (baseline, current)
    assert (from_rgba.width, from_rgba.height, from_rgba.size_mismatch) == (*canvas, baseline != current)
    assert repr(from_rgba) == f"Comparison({canvas[0]}x{canvas[1]}, {canvas[0] * canvas[1]} pixels)"
    if 0 in canvas:  # PNG has no empty images
        with pytest.raises(quorvane.EncodeError, match="^failed to encode PNG: "):
            from_rgba.diff_image()
    else:
        from_png = Comparison(png_bytes(first), png_bytes(second))
        for method in ("diff_image", "baseline_thumbnail", "current_thumbnail"):
            assert getattr(from_png, method)() == getattr(from_rgba, method)(), method
        assert from_png.baseline_thumbnail(own_size=True) == from_rgba.baseline_thumbnail(own_size=True)


def records():
    """One object of each kind, the alignment inserted at the top, changed in
    place and deleted at the bottom; the clusters of one changed pixel and of
    four pixels whose mean position is (2.25, 7.75)."""
    pair = rgba_comparison(rows_image("abcdef"), rows_image("XabYde"))
    references = sys.getrefcount(pair)
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    assert sys.getrefcount(pair) == references  # an alignment keeps no reference to its pair
    mask = np.zeros((30, 40), bool)
    mask[10, 10] = mask[8, 1:4] = mask[7, 3] = True
    return pair, alignment, clusters_of_mask(mask, dilation=0, min_pixels=1)


def test_reprs_and_fields():
    pair, alignment, clusters = records()
    assert repr(alignment) == (
        "RowAlignment(edit_distance=4, inserted_rows=1, deleted_rows=1, changed_rows=1, residual_count=2)"
    )
    # The kinds of every segment and band are the row alignment tests'.
    segment, band = alignment.segments[2], alignment.bands[1]
    assert (repr(segment), repr(band)) == (
        "RowSegment(kind=replace, baseline_start=2, current_start=3, len=1)",
        "ShiftBand(kind=deleted, y=6, rows=1)",
    )
    assert (
        segment.kind,
        segment.baseline_start,
        segment.current_start,
        segment.len,
        band.kind,
        band.y,
        band.rows,
        alignment.aligned,
    ) == ("replace", 2, 3, 1, "deleted", 6, 1, True)
    # Records outlive their result; a centroid's repr rounds halves to even.
    cluster = clusters.clusters[0]
    assert (repr(clusters), clusters.total_clusters, clusters.truncated) == ("ClustersResult(2)", 2, False)
    del pair, alignment, clusters
    gc.collect()
    assert (cluster.centroid, cluster.pixel_count, cluster.merged_from) == ((2.25, 7.75), 4, 1)
    assert repr(cluster) == "Cluster(pixel_count=4, centroid=(2.2, 7.8), merged_from=1)"
    assert repr(cluster.bbox) == "BoundingBox(x=1, y=7, width=3, height=2)"


def test_records_cannot_be_constructed_or_changed_and_their_lists_are_new_on_every_read():
    pair, alignment, clusters = records()
    for owner, name in [(alignment, "segments"), (alignment, "bands"), (clusters, "clusters")]:
        first, second = getattr(owner, name), getattr(owner, name)
        assert type(first) is list and first is not second and first
        assert all(a is b for a, b in zip(first, second))
        first.clear()  # a caller's list is its own
        assert getattr(owner, name) == second
    assert clusters.clusters[0].bbox is clusters.clusters[0].bbox
    for instance in (
        pair,
        alignment,
        alignment.segments[0],
        alignment.bands[0],
        clusters,
        clusters.clusters[0],
        clusters.clusters[0].bbox,
    ):
        kind = type(instance)
        assert kind is getattr(quorvane, kind.__name__) and kind.__module__ == "quorvane"
        if kind is not Comparison:
            with pytest.raises(TypeError, match=f"^No constructor defined for {kind.__name__}$"):
                kind()
        for attribute in [a for a in dir(instance) if not a.startswith("_")] + ["something_new"]:
            if not callable(getattr(instance, attribute, None)):
                with pytest.raises(AttributeError):
                    setattr(instance, attribute, getattr(instance, attribute, 1))


# Run in a process of its own: each subinterpreter imports a module of its
# own, whose classes and errors work there and are not the main
# interpreter's; a module dropped from sys.modules and imported again is a
# new one, and the old one is freed once unused, its classes with it.
INTERPRETERS = """
import gc, sys, weakref
import _xxsubinterpreters as interpreters
import quorvane

IN_SUBINTERPRETER = '''
import quorvane
pair = quorvane.Comparison.from_rgba(bytes(16), 2, 2, bytes([255]) * 16, 2, 2)
(batched,) = quorvane.Comparison.batch([(png, png)])
assert id(quorvane.Comparison) != main_class and type(pair) is type(batched) is quorvane.Comparison
assert (pair.diff_count(), batched.diff_count(), pair.clusters(min_pixels=1).clusters[0].pixel_count) == (4, 0, 4)
assert batched.aligned_ssim(batched.row_alignment()) == 1.0
try:
    quorvane.Comparison(png, b"not a png")
except quorvane.DecodeError as error:
    assert error.side == "current"
'''
png = bytes.fromhex(sys.argv[1])
for _ in range(2):
    interpreter = interpreters.create()
    interpreters.run_string(interpreter, IN_SUBINTERPRETER, shared={"main_class": id(quorvane.Comparison), "png": png})
    interpreters.destroy(interpreter)

first = weakref.ref(sys.modules.pop("quorvane"))
import quorvane as second
assert first() is not second and first().Comparison is not second.Comparison
old = first().Comparison.from_rgba(bytes(4), 1, 1, bytes(4), 1, 1)
del quorvane
assert old.diff_count() == 0 and first() is not None
del old
gc.collect()
assert first() is None
print("ok")
"""


def test_each_interpreter_and_each_import_has_a_module_of_its_own():
    pytest.importorskip("_xxsubinterpreters", reason="this Python has no _xxsubinterpreters module")
    run = subprocess.run(
        [sys.executable, "-c", INTERPRETERS, png_bytes(random_rgba(3, 5, seed=1)).hex()],
        capture_output=True,
        text=True,
        timeout=120,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
    )
    assert run.stdout == "ok\n", run.stdout + run.stderr
