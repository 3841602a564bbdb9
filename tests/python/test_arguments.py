"""Argument conversion and checks at every entry point: each kind of
parameter refuses what it cannot convert with the argument's name, ranges
are checked after every conversion and before any work, the binding of
positional and keyword arguments follows the declared parameters, and every
default is the one the stubs declare."""

import ast
import inspect

import numpy as np
import pytest
import screens
from imaging import ROOT, png_bytes, rgba_comparison, rows_image

import quorvane

Comparison = quorvane.Comparison
BASELINE = np.zeros((3, 4, 4), np.uint8)
CURRENT = BASELINE.copy()
CURRENT[1, 1] = 255
PAIR = rgba_comparison(BASELINE, CURRENT)  # one pixel changed
IDENTICAL = rgba_comparison(BASELINE, BASELINE)
PNG = png_bytes(BASELINE)
ALIGNMENT = PAIR.row_alignment()
UNALIGNED = rgba_comparison(BASELINE, BASELINE[:, :3])
FOREIGN = rgba_comparison(rows_image("abcd"), rows_image("abXd")).row_alignment()
THRESHOLD, ALPHA, RATIO = (
    rf"^{name} must be in the range \[0\.0, 1\.0\]$" for name in ("threshold", "alpha", "max_edit_ratio")
)


def named(argument):
    return f"^argument '{argument}': "


# Pairs refused by the batch functions that take them, each by one of them in turn.
PAIR_BATCHES = [quorvane.diff_batch, quorvane.ssim_batch, Comparison.batch, quorvane.diff_count_batch]
BAD_PAIRS = [("ab", TypeError), (b"ab", TypeError), ([[PNG, PNG]], TypeError), ([(PNG, PNG, PNG)], TypeError)]
BAD_PAIRS += [([(PNG,)], TypeError), ([(PNG, "not bytes")], TypeError), ([(PNG, PNG), 5], TypeError)]
BAD_PAIRS += [([(PNG, [1, 2, 256])], OverflowError), ([(PNG, [1, 2, -1])], OverflowError), ([(PNG, [1.0])], TypeError)]
BAD_PAIRS += [(None, TypeError), ({(PNG, PNG)}, TypeError)]


# Methods and functions that take a threshold, on identical images or on
# PNGs that do not decode: a range is checked before any work.
WITH_THRESHOLD = {
    "diff_count": lambda **kw: IDENTICAL.diff_count(**kw),
    "diff_count_capped(0)": lambda **kw: IDENTICAL.diff_count_capped(0, **kw),
    "diff_image": lambda **kw: IDENTICAL.diff_image(**kw),
    "row_alignment": lambda **kw: IDENTICAL.row_alignment(**kw),
    "aligned_clusters": lambda **kw: IDENTICAL.aligned_clusters(IDENTICAL.row_alignment(), **kw),
    # Before a refused alignment.
    "aligned_diff_image": lambda **kw: UNALIGNED.aligned_diff_image(UNALIGNED.row_alignment(), **kw),
    "aligned_diff_image_and_thumbnail": lambda **kw: PAIR.aligned_diff_image_and_thumbnail(FOREIGN, **kw),
    "diff_batch": lambda **kw: quorvane.diff_batch([(b"junk", b"junk")], **kw),
    "compare_batch": lambda **kw: quorvane.compare_batch([(b"junk", b"junk")], thumbnail_width=0, **kw),
}
WITH_ALPHA = ["diff_image", "aligned_diff_image", "aligned_diff_image_and_thumbnail", "diff_batch", "compare_batch"]


@pytest.mark.parametrize("value", [1.5, -0.1, float("nan"), float("inf"), 1.0000000000000002])
@pytest.mark.parametrize("name", WITH_THRESHOLD)
def test_threshold_and_alpha_out_of_range_fail_first(name, value):
    later = {"alpha": -1.0} if name in WITH_ALPHA else {"max_edit_ratio": 2.0} if name == "row_alignment" else {}
    with pytest.raises(ValueError, match=THRESHOLD):
        WITH_THRESHOLD[name](threshold=value, **later)
    if name in WITH_ALPHA:
        with pytest.raises(ValueError, match=ALPHA):
            WITH_THRESHOLD[name](alpha=value)


@pytest.mark.parametrize(
    "call, error, message",
    [
        # Reals, flags and colours; a conversion comes before every range check.
        (lambda: PAIR.diff_image(threshold="0.1", alpha=5.0), TypeError, named("threshold")),
        *(
            (lambda ratio=ratio: PAIR.row_alignment(max_edit_ratio=ratio), ValueError, RATIO)
            for ratio in (1.01, -0.01, float("nan"), float("inf"))
        ),
        (lambda: PAIR.row_alignment(max_edit_ratio="0.5"), TypeError, named("max_edit_ratio")),
        (lambda: PAIR.row_alignment(max_edit_ratio=2.0, include_aa=0), TypeError, named("include_aa")),
        (lambda: PAIR.diff_count(include_aa=1, threshold=5.0), TypeError, named("include_aa")),
        (lambda: PAIR.clusters(include_aa=np.bool_(True)), TypeError, named("include_aa")),
        (lambda: PAIR.diff_image(diff_color=[255, 0, 0], threshold=5.0), TypeError, named("diff_color")),
        (lambda: PAIR.diff_image(diff_color=(255, 0)), TypeError, named("diff_color")),
        (lambda: PAIR.diff_image(diff_color=(255.0, 0, 0)), TypeError, named("diff_color")),
        (lambda: PAIR.diff_image(diff_color_alt=[0, 0, 0]), TypeError, named("diff_color_alt")),
        (lambda: PAIR.diff_image(diff_color=(256, 0, 0)), OverflowError, named("diff_color")),
        (lambda: PAIR.diff_image(diff_color=(0, -1, 0)), OverflowError, named("diff_color")),
        (lambda: PAIR.aligned_diff_image(ALIGNMENT, aa_color=(0, 0, 2**70)), OverflowError, named("aa_color")),
        (lambda: quorvane.diff_batch([], diff_color_alt=(0, 0, 256)), OverflowError, named("diff_color_alt")),
        # Counts: unsigned 64-bit integers, or None where that means no limit.
        (lambda: PAIR.diff_count_capped(-1), OverflowError, named("max_diffs")),
        (lambda: PAIR.diff_count_capped(1.0), TypeError, named("max_diffs")),
        (lambda: PAIR.clusters(threshold=2.0, max_clusters=-1), OverflowError, named("max_clusters")),
        (lambda: PAIR.clusters(max_clusters="3"), TypeError, named("max_clusters")),
        (lambda: PAIR.clusters(dilation=2**64), OverflowError, named("dilation")),
        (lambda: PAIR.clusters(merge_gap=1.0), TypeError, named("merge_gap")),
        (lambda: PAIR.clusters(merge_overlap="0.5"), TypeError, named("merge_overlap")),
        (lambda: PAIR.row_alignment(max_edit_rows=2**64), OverflowError, named("max_edit_rows")),
        (lambda: PAIR.current_thumbnail(width=None), TypeError, named("width")),
        (lambda: PAIR.baseline_thumbnail(min_height=2**64), OverflowError, named("min_height")),
        (lambda: Comparison.from_rgba(bytes(4), 1, 1, bytes(4), -1, 1), OverflowError, named("current_width")),
        (lambda: Comparison.from_rgba(bytes(4), 1, 1, bytes(4), 1, "1"), TypeError, named("current_height")),
        (lambda: quorvane.compare_batch([], return_diff=1, threshold=5.0), TypeError, named("return_diff")),
        # Buffers: bytes only, where the module borrows them.
        *(
            (lambda bad=bad: Comparison.from_rgba(bad, 1, 1, bytes(4), 1, 1), TypeError, named("baseline_rgba"))
            for bad in (bytearray(4), memoryview(bytes(4)), "abcd", None, [0, 0, 0, 0])
        ),
        (lambda: Comparison(bytearray(PNG), PNG), TypeError, named("baseline_png")),
        (lambda: Comparison(PNG, bytearray(PNG)), TypeError, named("current_png")),
        (lambda: quorvane.thumbnail(bytearray(PNG)), TypeError, named("png_bytes")),
        # Pairs: a sequence of 2-tuples of byte sequences, checked before any work.
        *(
            (lambda pairs=pairs, batch=batch: batch(pairs), error, named("pairs"))
            for batch, (pairs, error) in zip(PAIR_BATCHES * 3, BAD_PAIRS)
        ),
        # The alignment: a RowAlignment, checked before the ranges.
        (lambda: PAIR.aligned_ssim("not an alignment"), TypeError, named("alignment")),
        (lambda: PAIR.aligned_clusters(PAIR.clusters(), threshold=2.0), TypeError, named("alignment")),
        # Binding.
        (lambda: PAIR.diff_count(alpha=0.1), TypeError, r"^diff_count\(\) got an unexpected keyword argument 'alpha'$"),
        (
            lambda: PAIR.diff_count(0.1, False, 3),
            TypeError,
            r"^diff_count\(\) takes at most 2 positional arguments \(3 given\)$",
        ),
        (lambda: PAIR.diff_count_capped(), TypeError, r"^diff_count_capped\(\) missing required argument 'max_diffs'"),
        (lambda: PAIR.diff_count(0.1, threshold=0.2), TypeError, "multiple values for argument 'threshold'"),
        (lambda: PAIR.diff_image_and_thumbnail(0.1), TypeError, r"takes at most 0 positional arguments"),
        (lambda: Comparison(PNG, PNG, [(0, 0, 1, 1)]), TypeError, r"takes at most 2 positional arguments"),
    ],
)
def test_refused_arguments_name_themselves(call, error, message):
    with pytest.raises(error, match=message):
        call()


PAGE = screens.page(60, 80)
NOISE = rgba_comparison(PAGE, screens.with_block(PAGE))
NOISE_PNG = png_bytes(PAGE)


@pytest.mark.parametrize(
    "call",
    [
        lambda effort: quorvane.thumbnail(NOISE_PNG, 40, effort=effort),
        lambda effort: NOISE.current_thumbnail(40, effort=effort),
        lambda effort: NOISE.baseline_thumbnail(40, effort=effort),
        lambda effort: NOISE.diff_image_and_thumbnail(thumbnail_width=40, effort=effort),
        lambda effort: NOISE.aligned_diff_image_and_thumbnail(NOISE.row_alignment(), thumbnail_width=40, effort=effort),
        lambda effort: quorvane.compare_batch([(NOISE_PNG, NOISE_PNG)], thumbnail_width=40, effort=effort),
    ],
)
def test_effort_is_none_fast_or_0_to_9_and_none_is_libwebps_default(call):
    refused = [(10, "10"), (-1, "-1"), (2**70, str(2**70)), (1.0, "float"), (True, "bool"), ("3", "'3'")]
    for effort, shown in [*refused, ("Fast", "'Fast'"), (b"fast", "bytes")]:
        with pytest.raises(ValueError) as raised:
            call(effort)
        assert str(raised.value) == f"argument 'effort': expected None, 'fast' or an integer from 0 to 9, got {shown}"
    # Preset 6 is libwebp's default method (4) and quality (75).
    assert call(None) == call(6) != call(0)


def test_accepted_forms():
    # Numbers that convert to float, range ends, ints with __index__, and
    # positional arguments in declared order.
    for threshold in (0, 1, True, 0.0, 1.0, np.float32(0.5), -0.0):
        assert PAIR.diff_count(threshold=threshold) in (0, 1)
        PAIR.diff_image(threshold=threshold, alpha=threshold)
    assert PAIR.diff_count(0.0, False) == PAIR.diff_count(include_aa=False, threshold=0.0) == 1
    assert PAIR.diff_count_capped(np.uint8(0), 0.0, True) == 0 == PAIR.diff_count_capped(max_diffs=0)
    assert PAIR.diff_image(0.1, 0.1, False, (1, 2, 3), (4, 5, 6), None) == PAIR.diff_image(
        diff_color_alt=None, aa_color=(4, 5, 6), diff_color=(np.int64(1), 2, 3)
    )
    sizes = {"current_height": np.int64(1), "current_width": 1, "baseline_width": True, "baseline_height": 1}
    assert Comparison.from_rgba(current_rgba=bytes(4), baseline_rgba=bytes(4), **sizes).baseline_size == (1, 1)
    assert rgba_comparison(rows_image("ab"), rows_image("b")).row_alignment(0.1, False, 1, 2**64 - 1).deleted_rows == 1
    for overlap in (-2.0, 0, 3, float("nan"), float("inf"), np.float32(0.25)):
        assert PAIR.clusters(merge_gap=2, merge_overlap=overlap, min_pixels=1).total_clusters == 1


def stub_defaults():
    """{"name" or "Class.name": {parameter: default}} of every function and
    method the stubs declare, read from their source."""
    found = {}

    def visit(body, prefix):
        for node in body:
            if isinstance(node, ast.ClassDef):
                visit(node.body, f"{node.name}.")
            elif isinstance(node, ast.FunctionDef) and not any(
                isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list
            ):
                arguments = node.args
                positional = arguments.posonlyargs + arguments.args
                given = list(zip(positional[len(positional) - len(arguments.defaults) :], arguments.defaults))
                given += [(a, d) for a, d in zip(arguments.kwonlyargs, arguments.kw_defaults) if d is not None]
                found[prefix + node.name] = {a.arg: ast.literal_eval(d) for a, d in given}

    visit(ast.parse((ROOT / "python" / "quorvane-stubs" / "__init__.pyi").read_text()).body, "")
    return found


def test_every_default_is_the_one_the_stubs_declare():
    stubs = stub_defaults()
    members = {name: getattr(quorvane, name) for name in dir(quorvane)}
    members |= {f"Comparison.{name}": getattr(Comparison, name) for name in vars(Comparison) if name[0] != "_"}
    entries = {name: entry for name, entry in members.items() if callable(entry) and not isinstance(entry, type)}
    entries["Comparison.__new__"] = Comparison
    assert entries.keys() <= stubs.keys()
    runtime = {
        name: {p.name: p.default for p in inspect.signature(entry).parameters.values() if p.default is not p.empty}
        for name, entry in entries.items()
    }
    assert runtime == {name: stubs[name] for name in entries}
