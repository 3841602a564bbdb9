"""Comparison.row_alignment: the worked layouts whose segments are known,
the edit budget, shortest scripts against a brute-force LCS on random row
sequences, and the example screenshots against diff_count."""

import io
import os
import random
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

import quorvane
from imaging import rgba_comparison, screen

WIDTH = 4


def colour(letter):
    code = ord(letter)
    return (code & 255, code >> 8 & 255, (code * 37 + 11) & 255, 255)


def rows_image(letters, width=WIDTH):
    """A (height, width, 4) image whose rows are solid, one colour a letter."""
    pixels = np.zeros((len(letters), width, 4), np.uint8)
    for y, letter in enumerate(letters):
        pixels[y, :] = colour(letter)
    return pixels


def align(baseline_rows, current_rows, **options):
    return rgba_comparison(rows_image(baseline_rows), rows_image(current_rows)).row_alignment(**options)


def segments_of(alignment):
    return [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments]


def bands_of(alignment):
    return [(b.kind, b.y, b.rows) for b in alignment.bands]


def counters_of(alignment):
    return (alignment.edit_distance, alignment.inserted_rows, alignment.deleted_rows, alignment.changed_rows,
            alignment.residual_count)


LAYOUTS = {
    # An edit parted from an edit of the other kind only by copies of its own
    # rows slides up against it, and the two pair into a replace. At threshold
    # 0 with anti-aliased pixels counted, every differing pixel is changed.
    "slide": ("pqWWWWrs", "pqIJKWWrs", {"threshold": 0.0, "include_aa": True},
              [("equal", 0, 0, 2), ("replace", 2, 2, 2), ("insert", 4, 4, 1), ("equal", 4, 5, 2),
               ("equal", 6, 7, 2)],
              (5, 1, 0, 2, 2 * WIDTH), [("inserted", 4, 1)]),
    # Inserted and deleted rows that share nothing, across filler rows: the
    # list keeps them, but no band is reported. Six edits need the full ratio.
    "collapse": ("pqWWDEFrs", "pqIJKWWrs", {"max_edit_ratio": 1.0},
                 [("equal", 0, 0, 2), ("insert", 2, 2, 3), ("equal", 2, 5, 2), ("delete", 4, 7, 3),
                  ("equal", 7, 7, 2)],
                 (6, 3, 3, 0, 0), []),
    "identical": ("abcdef", "abcdef", {}, [("equal", 0, 0, 6)], (0, 0, 0, 0, 0), []),
    "inserted at the top": ("abcdef", "XYZabcdef", {},
                            [("insert", 0, 0, 3), ("equal", 0, 3, 6)], (3, 3, 0, 0, 0), [("inserted", 0, 3)]),
    "removed at the bottom": ("abcdefgh", "abcdef", {},
                              [("equal", 0, 0, 6), ("delete", 6, 6, 2)], (2, 0, 2, 0, 0), [("deleted", 6, 2)]),
    "removed in the middle": ("abcXYdef", "abcdef", {},
                              [("equal", 0, 0, 3), ("delete", 3, 3, 2), ("equal", 5, 3, 3)], (2, 0, 2, 0, 0),
                              [("deleted", 3, 2)]),
    "both empty": ("", "", {}, [], (0, 0, 0, 0, 0), []),
    "all rows new": ("", "ab", {"max_edit_ratio": 1.0}, [("insert", 0, 0, 2)], (2, 2, 0, 0, 0), [("inserted", 0, 2)]),
}


@pytest.mark.parametrize("baseline, current, options, segments, counters, bands", LAYOUTS.values(),
                         ids=LAYOUTS.keys())
def test_known_layouts(baseline, current, options, segments, counters, bands):
    alignment = align(baseline, current, **options)
    assert alignment.aligned
    assert segments_of(alignment) == segments
    assert counters_of(alignment) == counters
    assert bands_of(alignment) == bands


def test_collapse_needs_more_than_the_default_budget():
    # ceil(0.25 * 18) = 5 edits allowed, 6 needed.
    assert not align("pqWWDEFrs", "pqIJKWWrs").aligned
    assert align("pqWWDEFrs", "pqIJKWWrs", max_edit_rows=6, max_edit_ratio=1.0).aligned
    assert not align("pqWWDEFrs", "pqIJKWWrs", max_edit_rows=5, max_edit_ratio=1.0).aligned


def changed_in_place(count, height=100):
    """Two images of `height` distinct rows, `count` of them (spread out) replaced."""
    names = [chr(0x100 + i) for i in range(height)]
    changed = list(names)
    for i in range(count):
        changed[i * (height // count) if count else 0] = chr(0x1000 + i)
    return rows_image(names), rows_image(changed)


@pytest.mark.parametrize("count, options, aligned", [
    (25, {}, True),                      # 50 edits: within ceil(0.25 * 200) = 50
    (26, {}, False),                     # 52 edits
    (26, {"max_edit_ratio": 0.26}, True),
    (25, {"max_edit_rows": 49}, False),
    (0, {"max_edit_ratio": 0.0}, True),  # a zero budget still aligns identical rows
    (1, {"max_edit_ratio": 0.0}, False),
    (0, {"max_edit_rows": 0}, True),
    (1, {"max_edit_rows": 0}, False),
])
def test_edit_budget(count, options, aligned):
    alignment = rgba_comparison(*changed_in_place(count)).row_alignment(**options)
    assert alignment.aligned is aligned
    if aligned:
        assert alignment.changed_rows == count
        assert alignment.edit_distance == 2 * count
    else:
        assert counters_of(alignment) == (0, 0, 0, 0, 0)
        assert alignment.segments == [] and alignment.bands == []


def test_transparent_pixels_of_different_colour_leave_rows_equal():
    baseline = rows_image("abcd")
    current = baseline.copy()
    baseline[1:3, 1] = (200, 10, 10, 0)
    current[1:3, 1] = (10, 200, 90, 0)
    alignment = rgba_comparison(baseline, current).row_alignment()
    assert segments_of(alignment) == [("equal", 0, 0, 4)]
    # One visible alpha step is a change.
    current[2, 1, 3] = 1
    assert rgba_comparison(baseline, current).row_alignment().changed_rows == 1


def test_one_row_changed_in_place_counts_its_changed_pixels_with_context():
    rng = np.random.default_rng(5)
    baseline = rng.integers(0, 256, (12, 30, 4), dtype=np.uint8)
    baseline[..., 3] = 255
    current = baseline.copy()
    current[6, 3:20] = (current[6, 3:20].astype(int) + 60).clip(0, 255).astype(np.uint8)
    pair = rgba_comparison(baseline, current)
    alignment = pair.row_alignment(threshold=0.05)
    assert segments_of(alignment) == [("equal", 0, 0, 6), ("replace", 6, 6, 1), ("equal", 7, 7, 5)]
    assert alignment.edit_distance == 2 and alignment.bands == []
    # The row's neighbours are the images' own, so the whole pair's count agrees.
    assert alignment.residual_count == pair.diff_count(threshold=0.05) > 0


@pytest.mark.parametrize("baseline_size, current_size", [((4, 3), (5, 3)), ((4, 3), (5, 9)), ((0, 2), (1, 2))])
def test_different_widths_are_not_aligned(baseline_size, current_size):
    (bw, bh), (cw, ch) = baseline_size, current_size
    alignment = quorvane.Comparison.from_rgba(bytes(bw * bh * 4), bw, bh, bytes(cw * ch * 4), cw, ch).row_alignment()
    assert alignment.aligned is False
    assert repr(alignment) == "RowAlignment(aligned=False)"
    assert counters_of(alignment) == (0, 0, 0, 0, 0)
    assert alignment.segments == [] and alignment.bands == []


def test_padding_rows_are_not_part_of_the_shorter_image():
    # The baseline is padded with transparent black rows; the current image's
    # extra rows are transparent black too, and still count as inserted.
    baseline = rows_image("abc")
    current = np.concatenate([baseline, np.zeros((2, WIDTH, 4), np.uint8)])
    alignment = rgba_comparison(baseline, current).row_alignment()
    assert segments_of(alignment) == [("equal", 0, 0, 3), ("insert", 3, 3, 2)]
    assert bands_of(alignment) == [("inserted", 3, 2)]


def test_zero_width_pairs_align_with_no_segments():
    alignment = quorvane.Comparison.from_rgba(b"", 0, 3, b"", 0, 7).row_alignment()
    assert alignment.aligned and alignment.segments == [] and counters_of(alignment) == (0, 0, 0, 0, 0)


def lcs_length(a, b):
    previous = [0] * (len(b) + 1)
    for x in a:
        current = [0]
        for j, y in enumerate(b):
            current.append(previous[j] + 1 if x == y else max(previous[j + 1], current[j]))
        previous = current
    return previous[-1]


def check_tiling(alignment, baseline, current):
    """Segments start at (0, 0), follow on, end at (N, M); equal rows match."""
    x = y = 0
    for segment in alignment.segments:
        assert (segment.baseline_start, segment.current_start) == (x, y)
        assert segment.len >= 1
        if segment.kind == "equal":
            assert baseline[x:x + segment.len] == current[y:y + segment.len]
        if segment.kind != "insert":
            x += segment.len
        if segment.kind != "delete":
            y += segment.len
    assert (x, y) == (len(baseline), len(current))


def test_random_row_sequences_against_a_brute_force_lcs():
    generator = random.Random(11)
    for _ in range(150):
        alphabet = "abcW"[:generator.randint(1, 4)]
        baseline = "".join(generator.choice(alphabet) for _ in range(generator.randint(0, 14)))
        current = "".join(generator.choice(alphabet) for _ in range(generator.randint(0, 14)))
        alignment = align(baseline, current, max_edit_ratio=1.0)
        assert alignment.aligned
        assert alignment.edit_distance == len(baseline) + len(current) - 2 * lcs_length(baseline, current)
        check_tiling(alignment, baseline, current)
        # Pairing turns an insertion and a deletion into one changed row.
        edits = alignment.inserted_rows + alignment.deleted_rows + 2 * alignment.changed_rows
        assert edits == alignment.edit_distance
        assert sum(band.rows for band in alignment.bands) <= alignment.inserted_rows + alignment.deleted_rows
        assert all(band.kind in ("inserted", "deleted") for band in alignment.bands)


def screens(baseline_name, current_name):
    """Both screenshots decoded by Pillow, and their Comparison."""
    def decoded(name):
        with Image.open(io.BytesIO(screen(name))) as image:
            return np.asarray(image.convert("RGBA"))
    return decoded(baseline_name), decoded(current_name), quorvane.Comparison(screen(baseline_name),
                                                                              screen(current_name))


def shifted_baseline(baseline, current, alignment):
    """The baseline moved into current-image coordinates as the alignment
    says: paired rows from the baseline, inserted rows from the current image."""
    moved = current.copy()
    for segment in alignment.segments:
        rows = slice(segment.current_start, segment.current_start + segment.len)
        if segment.kind in ("equal", "replace"):
            moved[rows] = baseline[segment.baseline_start:segment.baseline_start + segment.len]
    return moved


@pytest.fixture(scope="module")
def banner():
    baseline, current, pair = screens("page_baseline.png", "page_inserted_banner.png")
    return baseline, current, pair, pair.row_alignment()


def test_inserted_banner_is_a_shift(banner):
    baseline, current, pair, alignment = banner
    assert alignment.aligned
    first_changed_row = int(np.argmax((baseline != current).any(axis=(1, 2))))
    inserted = [band for band in alignment.bands if band.kind == "inserted"]
    assert inserted[0].y == first_changed_row
    # The screenshots have one height, so what the banner pushed below the
    # bottom went missing there.
    assert bands_of(alignment)[-1] == ("deleted", current.shape[0], alignment.inserted_rows)
    assert alignment.inserted_rows == alignment.deleted_rows == sum(band.rows for band in inserted)
    assert alignment.changed_rows == alignment.residual_count == 0
    # Once the baseline is moved as the alignment says, nothing is left to count.
    assert pair.diff_count() > 0
    assert rgba_comparison(shifted_baseline(baseline, current, alignment), current).diff_count() == 0


def test_changes_in_place_are_counted_like_diff_count():
    baseline, current, pair = screens("table_1080p.png", "table_1080p_padded.png")
    alignment = pair.row_alignment()
    assert alignment.bands == [] and alignment.inserted_rows == alignment.deleted_rows == 0
    assert alignment.changed_rows == int((baseline != current).any(axis=(1, 2)).sum())
    assert alignment.residual_count == pair.diff_count() > 0


# Runs in a child process with its address space capped: a trace that cannot
# be had is a MemoryError, and the pair stays usable.
CAPPED_TRACE = r"""
import resource
import quorvane

def vm_size():
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) * 1024 for line in lines if line.startswith("VmSize:"))

rows = 2000
baseline = b"".join(i.to_bytes(3, "little") + b"\xff" for i in range(rows))
current = b"".join((i + rows).to_bytes(3, "little") + b"\xff" for i in range(rows))
pair = quorvane.Comparison.from_rgba(baseline, 1, rows, current, 1, rows)
assert pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=100).aligned is False  # the pool is up
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm_size() + 32 * 2**20, hard))
try:
    pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=2 * rows)  # needs a 122 MiB trace
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(pair.row_alignment(max_edit_ratio=1.0, max_edit_rows=2 * rows))
"""


@pytest.mark.skipif(bool(os.environ.get("QUORVANE_SANITIZED")),
                    reason="AddressSanitizer reserves far more address space than the cap leaves")
def test_a_trace_that_cannot_be_allocated_is_a_memory_error():
    child = subprocess.run([sys.executable, "-c", CAPPED_TRACE], capture_output=True, text=True,
                           env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "MemoryError",
        "RowAlignment(edit_distance=4000, inserted_rows=0, deleted_rows=0, changed_rows=2000, residual_count=2000)",
    ]
