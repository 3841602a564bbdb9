"""Comparison.row_alignment: the worked layouts whose segments are known,
the edit budget, shortest scripts against a brute-force LCS on random row
sequences, a trace that cannot be allocated, and the row threshold's checks
(rows matched within it are tested on pages Chromium renders)."""

import os
import random
import subprocess
import sys

import numpy as np
import pytest
from imaging import rgba_comparison, rows_image


def align(baseline, current, **options):
    """The alignment of two images, each given as one letter a row or as pixels."""
    images = (rows_image(image) if isinstance(image, str) else image for image in (baseline, current))
    return rgba_comparison(*images).row_alignment(**options)


def described(a):
    """An alignment's segments, counters and bands."""
    counters = (a.edit_distance, a.inserted_rows, a.deleted_rows, a.changed_rows, a.residual_count)
    segments = [(s.kind, s.baseline_start, s.current_start, s.len) for s in a.segments]
    return segments, counters, [(b.kind, b.y, b.rows) for b in a.bands]


NOTHING = ([], (0, 0, 0, 0, 0), [])

KINDS = {"=": "equal", "~": "replace", "+": "insert", "-": "delete"}


def segments(text):
    """Segments written "=0,0,2 +2,2,1": the kind (= equal, ~ replace, +
    insert, - delete), the baseline's and the current image's first rows, the length."""
    return [(KINDS[item[0]], *map(int, item[1:].split(","))) for item in text.split()]


# Name -> ((baseline, current, options), (segments, counters, bands)).
LAYOUTS = {
    # An edit parted from an edit of the other kind only by copies of its own
    # rows slides up against it, and the two pair into a replace. At threshold
    # 0 with anti-aliased pixels counted, every differing pixel is changed.
    "slide": (
        ("pqWWWWrs", "pqIJKWWrs", {"threshold": 0.0, "include_aa": True}),
        ("=0,0,2 ~2,2,2 +4,4,1 =4,5,2 =6,7,2", (5, 1, 0, 2, 8), [("inserted", 4, 1)]),
    ),
    # Inserted and deleted rows that share nothing, across filler rows: the
    # list keeps them, but no band is reported. Six edits need the full ratio.
    "collapse": (
        ("pqWWDEFrs", "pqIJKWWrs", {"max_edit_ratio": 1.0}),
        ("=0,0,2 +2,2,3 =2,5,2 -4,7,3 =7,7,2", (6, 3, 3, 0, 0), []),
    ),
    # The deleted band stands one past the last row of the current image.
    "removed at the bottom": (("abcdefgh", "abcdef", {}), ("=0,0,6 -6,6,2", (2, 0, 2, 0, 0), [("deleted", 6, 2)])),
    "both empty": (("", "", {}), ("", (0, 0, 0, 0, 0), [])),
    "all rows new": (("", "ab", {"max_edit_ratio": 1.0}), ("+0,0,2", (2, 2, 0, 0, 0), [("inserted", 0, 2)])),
    # The baseline is padded with transparent black rows; the current image's
    # extra rows are transparent black too, and still count as inserted.
    "padding": (
        ("abc", np.concatenate([rows_image("abc"), np.zeros((2, 4, 4), np.uint8)]), {}),
        ("=0,0,3 +3,3,2", (2, 2, 0, 0, 0), [("inserted", 3, 2)]),
    ),
}


@pytest.mark.parametrize("inputs, expected", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_known_layouts(inputs, expected):
    baseline, current, options = inputs
    text, counters, bands = expected
    alignment = align(baseline, current, **options)
    assert alignment.aligned and described(alignment) == (segments(text), counters, bands)


def changed_in_place(count, height=100):
    """Two images of `height` distinct rows, `count` of them (spread out) replaced."""
    names = [chr(0x100 + i) for i in range(height)]
    changed = list(names)
    for i in range(count):
        changed[i * (height // count) if count else 0] = chr(0x1000 + i)
    return "".join(names), "".join(changed)


@pytest.mark.parametrize(
    "rows, options, aligned",
    [
        (changed_in_place(25), {}, True),  # 50 edits: within ceil(0.25 * 200) = 50
        (changed_in_place(26), {}, False),  # 52 edits
        (changed_in_place(26), {"max_edit_ratio": 0.26}, True),
        (changed_in_place(25), {"max_edit_ratio": 0.2475}, True),  # ceil(49.5) = 50
        (changed_in_place(25), {"max_edit_rows": 49}, False),
        (changed_in_place(0), {"max_edit_ratio": 0.0}, True),  # a zero budget still aligns identical rows
        (changed_in_place(1), {"max_edit_ratio": 0.0}, False),
        (changed_in_place(0), {"max_edit_rows": 0}, True),
        (changed_in_place(1), {"max_edit_rows": 0}, False),
        (("pqWWDEFrs", "pqIJKWWrs"), {"max_edit_rows": 6, "max_edit_ratio": 1.0}, True),
        (("pqWWDEFrs", "pqIJKWWrs"), {"max_edit_rows": 5, "max_edit_ratio": 1.0}, False),
        # Alignment is vertical only: images of different widths never align.
        (("abc", rows_image("abcdefghi", width=5)), {"max_edit_ratio": 1.0}, False),
        ((np.zeros((2, 0, 4), np.uint8), np.zeros((2, 1, 4), np.uint8)), {}, False),
    ],
)
def test_edit_budget(rows, options, aligned):
    alignment = align(*rows, **options)
    assert alignment.aligned is aligned
    if not aligned:
        assert (repr(alignment), described(alignment)) == ("RowAlignment(aligned=False)", NOTHING)


def lcs_length(a, b):
    previous = [0] * (len(b) + 1)
    for x in a:
        current = [0]
        for j, y in enumerate(b):
            current.append(previous[j] + 1 if x == y else max(previous[j + 1], current[j]))
        previous = current
    return previous[-1]


def test_random_row_sequences_against_a_brute_force_lcs():
    generator = random.Random(11)
    for _ in range(150):
        alphabet = "abcW"[: generator.randint(1, 4)]
        baseline = "".join(generator.choice(alphabet) for _ in range(generator.randint(0, 14)))
        current = "".join(generator.choice(alphabet) for _ in range(generator.randint(0, 14)))
        alignment = align(baseline, current, max_edit_ratio=1.0)
        assert alignment.aligned
        assert alignment.edit_distance == len(baseline) + len(current) - 2 * lcs_length(baseline, current)
        # Segments start at (0, 0), follow on, end at (N, M); equal rows match.
        x = y = 0
        for segment in alignment.segments:
            assert (segment.baseline_start, segment.current_start) == (x, y) and segment.len >= 1
            if segment.kind == "equal":
                assert baseline[x : x + segment.len] == current[y : y + segment.len]
            x += segment.len if segment.kind != "insert" else 0
            y += segment.len if segment.kind != "delete" else 0
        assert (x, y) == (len(baseline), len(current))
        # Pairing turns an insertion and a deletion into one changed row.
        edits = alignment.inserted_rows + alignment.deleted_rows + 2 * alignment.changed_rows
        assert edits == alignment.edit_distance


# Runs in a child process with its address space capped: a trace that cannot
# be had is a MemoryError, and the pair stays usable.
CAPPED_TRACE = r"""
import resource
import quorvane

rows = 2000
baseline = b"".join(i.to_bytes(3, "little") + b"\xff" for i in range(rows))
current = b"".join((i + rows).to_bytes(3, "little") + b"\xff" for i in range(rows))
pair = quorvane.Comparison.from_rgba(baseline, 1, rows, current, 1, rows)
assert pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=100).aligned is False  # the pool is up
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
vm_size = next(int(line.split()[1]) * 1024 for line in open("/proc/self/status") if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (vm_size + 32 * 2**20, hard))
try:
    pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=2 * rows)  # needs a 122 MiB trace
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=2 * rows))
"""


@pytest.mark.skipif(
    bool(os.environ.get("QUORVANE_SANITIZED")),
    reason="AddressSanitizer reserves far more address space than the cap leaves",
)
def test_a_trace_that_cannot_be_allocated_is_a_memory_error():
    child = subprocess.run(
        [sys.executable, "-c", CAPPED_TRACE],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "MemoryError",
        "RowAlignment(edit_distance=4000, inserted_rows=0, deleted_rows=0, changed_rows=2000, residual_count=2000)",
    ]


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"row_threshold": 1.5}, ValueError, r"^row_threshold must be in the range \[0\.0, 1\.0\]$"),
        ({"row_threshold": -0.01}, ValueError, r"^row_threshold must be in the range"),
        ({"row_threshold": float("nan")}, ValueError, r"^row_threshold must be in the range"),
        ({"row_threshold": 2.0, "max_edit_ratio": 2.0}, ValueError, r"^max_edit_ratio must be"),
        ({"row_threshold": "0.1"}, TypeError, r"^argument 'row_threshold': must be real number, not str$"),
    ],
)
def test_row_threshold_is_checked_after_the_other_ranges(options, error, message):
    with pytest.raises(error, match=message):
        align("abc", "abc", **options)
    with pytest.raises(TypeError, match="at most 4 positional arguments"):
        rgba_comparison(rows_image("a"), rows_image("a")).row_alignment(0.1, False, 0.25, 2048, 0.1)
    assert all(align("abc", "abXc", row_threshold=value).aligned for value in (0.0, 1.0, None))
