"""Building a Comparison: the common canvas of two sizes, PNG and RGBA
inputs padded alike, equal images held once and their figures; and the objects
its methods return: RowAlignment, RowSegment, ShiftBand, ClustersResult,
Cluster and BoundingBox."""

import gc
import io
import os
import subprocess
import sys

import numpy as np
import pytest
from imaging import png_bytes, random_rgba, rgba_comparison, rows_image
from memory_use import heap_bytes
from PIL import Image
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


def pillow_png(rgba):
    """The same pixels as png_bytes gives, in other bytes."""
    out = io.BytesIO()
    Image.fromarray(rgba).save(out, format="PNG", compress_level=1)
    return out.getvalue()


def equal_pairs(image, ignore):
    """Comparisons of two equal images: one file twice, two encodings, one
    buffer twice, and (with regions) two buffers that differ only where
    both are painted."""
    png = png_bytes(image)
    pairs = [
        Comparison(png, png, ignore=ignore),
        Comparison(png, pillow_png(image), ignore=ignore),
        rgba_comparison(image, image, ignore=ignore),
    ]
    if ignore:
        hidden = image.copy()
        hidden[:2, :3] ^= 0xA5
        pairs.append(rgba_comparison(image, hidden, ignore=ignore))
    return pairs


def alignment_fields(alignment):
    segments = [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments]
    bands = [(b.kind, b.y, b.rows) for b in alignment.bands]
    counters = [alignment.edit_distance, alignment.inserted_rows, alignment.deleted_rows, alignment.changed_rows]
    return alignment.aligned, segments, bands, counters, alignment.residual_count


@pytest.mark.parametrize(
    "width, height, ignore", [(1, 1, ()), (7, 5, ((0, 0, 3, 2),)), (13, 11, ()), (31, 24, ((0, 0, 3, 2),))]
)
def test_equal_images_give_the_figures_their_computation_gives(width, height, ignore):
    # The computed twins differ from the image in its last pixel, which is
    # transparent: `colour` in its colour, which only SSIM sees, `opacity` in
    # its opacity, which SSIM does not see but a word compare does.
    image = random_rgba(height, width, seed=width)
    image[-1, -1, 3] = 0
    colour, opacity = image.copy(), image.copy()
    colour[-1, -1, :3] ^= 0x5A
    opacity[-1, -1, 3] = 77
    colour, opacity = (rgba_comparison(image, twin, ignore=ignore) for twin in (colour, opacity))
    assert opacity.diff_count(threshold=0.0) == 1
    for pair in equal_pairs(image, ignore):
        assert pair.ssim() == opacity.ssim() == 1.0 and pair.current_thumbnail() == pair.baseline_thumbnail()
        for threshold in (0.0, 0.1):
            for include_aa in (False, True):
                options = {"threshold": threshold, "include_aa": include_aa}
                exact_mode = threshold == 0.0 and not include_aa  # counting compares words: colour's last differs
                found = [
                    (p.diff_count(**options), p.clusters(**options, min_pixels=1, max_clusters=0))
                    for p in (pair, colour)
                ]
                figures = [(count, c.total_clusters, c.truncated, c.clusters) for count, c in found]
                assert figures[0] == (0, 0, False, []) and (exact_mode or figures[1] == figures[0])
                for alpha in (0.0, 0.7):
                    assert pair.diff_image(**options, alpha=alpha) == colour.diff_image(**options, alpha=alpha)
                for row_threshold in (None, 0.05):
                    alignment = pair.row_alignment(**options, row_threshold=row_threshold)
                    computed = colour.row_alignment(**options, row_threshold=row_threshold)
                    assert alignment_fields(alignment) == alignment_fields(computed)
                    assert alignment.segments[0].len == height
        # Each pair takes the other's alignment: their fingerprints agree.
        assert pair.aligned_ssim(colour.row_alignment()) == 1.0
        assert colour.aligned_ssim(pair.row_alignment()) == colour.ssim()


def test_a_file_given_twice_fails_as_the_baseline_and_equal_images_are_held_once():
    image = random_rgba(256, 384, seed=3)
    last = image.copy()
    last[-1, -1, 0] ^= 1  # a compare that stops short of the last pixel misses it
    png, other, changed = png_bytes(image), pillow_png(image), png_bytes(last)
    broken = png[:40]
    with pytest.raises(quorvane.DecodeError) as raised:
        Comparison(broken, broken)
    assert raised.value.side == "baseline"
    if heap_bytes() is None:
        pytest.skip("this allocator does not report the bytes it holds")
    makers = {
        1: [lambda: Comparison(png, png), lambda: Comparison(png, other), lambda: rgba_comparison(image, image)],
        2: [lambda: Comparison(png, changed), lambda: rgba_comparison(image, last)],
    }
    for buffers, makes in makers.items():
        for make in makes:
            gc.collect()
            before = heap_bytes()
            pair = make()
            held = (heap_bytes() - before) / image.nbytes
            assert buffers - 0.5 < held < buffers + 0.5 and pair.diff_count(threshold=0.0) == buffers - 1, held
            del pair


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
