"""RowAlignment, RowSegment and ShiftBand as Python objects, and the
arguments of Comparison.row_alignment."""

import sys

import pytest

import quorvane
from imaging import rgba_comparison
from test_row_alignment import rows_image

RATIO_TEXT = r"^max_edit_ratio must be in the range \[0\.0, 1\.0\]$"
THRESHOLD_TEXT = r"^threshold must be in the range \[0\.0, 1\.0\]$"


def pair(baseline_rows, current_rows):
    return rgba_comparison(rows_image(baseline_rows), rows_image(current_rows))


@pytest.fixture(scope="module")
def alignment():
    # Inserted at the top, changed in place, deleted at the bottom.
    return pair("abcdef", "XabYde").row_alignment(max_edit_ratio=1.0)


def test_reprs_and_fields(alignment):
    assert repr(alignment) == ("RowAlignment(edit_distance=4, inserted_rows=1, deleted_rows=1, changed_rows=1, "
                               "residual_count=2)")
    assert [repr(segment) for segment in alignment.segments] == [
        "RowSegment(kind=insert, baseline_start=0, current_start=0, len=1)",
        "RowSegment(kind=equal, baseline_start=0, current_start=1, len=2)",
        "RowSegment(kind=replace, baseline_start=2, current_start=3, len=1)",
        "RowSegment(kind=equal, baseline_start=3, current_start=4, len=2)",
        "RowSegment(kind=delete, baseline_start=5, current_start=6, len=1)",
    ]
    assert [repr(band) for band in alignment.bands] == [
        "ShiftBand(kind=inserted, y=0, rows=1)", "ShiftBand(kind=deleted, y=6, rows=1)"]
    assert alignment.aligned is True
    assert all(type(getattr(alignment, name)) is int
               for name in ["edit_distance", "inserted_rows", "deleted_rows", "changed_rows", "residual_count"])
    segment, band = alignment.segments[2], alignment.bands[1]
    assert (segment.kind, segment.baseline_start, segment.current_start, segment.len) == ("replace", 2, 3, 1)
    assert (band.kind, band.y, band.rows) == ("deleted", 6, 1)


def test_lists_are_new_on_every_read_and_hold_the_same_objects(alignment):
    for name in ["segments", "bands"]:
        first, second = getattr(alignment, name), getattr(alignment, name)
        assert type(first) is list and first is not second
        assert all(a is b for a, b in zip(first, second)) and first
        first.clear()
        assert getattr(alignment, name) == second


@pytest.mark.parametrize("name, record", [("RowAlignment", lambda a: a), ("RowSegment", lambda a: a.segments[0]),
                                          ("ShiftBand", lambda a: a.bands[0])])
def test_classes_cannot_be_constructed_or_changed(alignment, name, record):
    assert getattr(quorvane, name).__module__ == "quorvane"
    with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
        getattr(quorvane, name)()
    instance = record(alignment)
    for attribute in [a for a in dir(instance) if not a.startswith("_")] + ["something_new"]:
        with pytest.raises(AttributeError):
            setattr(instance, attribute, 1)


def test_alignment_keeps_no_reference_to_its_comparison():
    comparison = pair("abc", "ac")
    before = sys.getrefcount(comparison)
    alignment = comparison.row_alignment(max_edit_ratio=1.0)
    assert sys.getrefcount(comparison) == before
    del comparison
    assert repr(alignment.segments[-1]) == "RowSegment(kind=equal, baseline_start=2, current_start=1, len=1)"


def test_signature_and_docstring():
    method = quorvane.Comparison.row_alignment
    assert method.__text_signature__ == ("($self, threshold=0.1, include_aa=False, max_edit_ratio=0.25, "
                                         "max_edit_rows=2048)")
    assert method.__doc__ == (
        "Align the rows of the two images to tell a vertical shift from real changes.\n\n"
        "`aligned` is False when the pair could not be aligned \u2014 the edit budget\n"
        "was exceeded, or the widths differ, since alignment is vertical only.\n"
        "Every other field is then zero or empty.")


@pytest.mark.parametrize("kwargs, error, message", [
    *(({"max_edit_ratio": ratio}, ValueError, RATIO_TEXT) for ratio in [1.01, -0.01, float("nan"), float("inf")]),
    ({"threshold": 1.5, "max_edit_ratio": 2.0}, ValueError, THRESHOLD_TEXT),  # threshold first
    ({"max_edit_rows": -1}, OverflowError, None),
    ({"max_edit_rows": 2**64}, OverflowError, None),
    ({"max_edit_rows": 1.5}, TypeError, None),
    ({"include_aa": 1}, TypeError, None),
    ({"max_edit_ratio": "0.5"}, TypeError, None),
    ({"max_edit_ratio": 2.0, "include_aa": 0}, TypeError, None),  # conversions before range checks
    ({"alpha": 0.1}, TypeError, None),
])
def test_argument_errors(kwargs, error, message):
    with pytest.raises(error, match=message):
        pair("a", "a").row_alignment(**kwargs)


def test_positional_arguments_and_integer_ratio():
    alignment = pair("ab", "b").row_alignment(0.1, False, 1, 2**64 - 1)
    assert alignment.aligned and alignment.deleted_rows == 1
