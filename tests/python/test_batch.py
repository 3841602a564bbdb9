"""The batch functions: each pair's result equals what the per-pair methods
give, in input order, the first failure is the whole answer, as the pair's
construction would fail, and forked children can use the pool."""

import collections
import os
import pickle
import subprocess
import sys
import zlib

import numpy as np
import pytest
from entry_calls import comparable
from imaging import ROOT, pixels, png_bytes, png_claiming, random_rgba, screen_rgba

import quorvane

Comparison = quorvane.Comparison
BATCHES = [quorvane.diff_batch, quorvane.diff_count_batch, quorvane.ssim_batch, quorvane.compare_batch]
BATCHES += [Comparison.batch]


@pytest.fixture(scope="module")
def pairs():
    """Small pairs of assorted sizes: some equal, some edited in a block, some
    of different sizes, some with translucent pixels; and one pair large
    enough for the pool to split its pixel work."""
    rng, pairs = np.random.default_rng(7), []
    for number in range(24):
        baseline = random_rgba(*rng.integers(1, 40, 2), seed=number, opaque=number % 3 == 0)
        current = random_rgba(*rng.integers(1, 40, 2), seed=100 + number) if number % 4 == 2 else baseline.copy()
        if number % 4 == 1:
            top, left = rng.integers(0, baseline.shape[0]), rng.integers(0, baseline.shape[1])
            current[top : top + 5, left : left + 7] = rng.integers(0, 256, 4, dtype=np.uint8)
        pairs.append((png_bytes(baseline), png_bytes(current)))
    box = (slice(0, 520), slice(250, 770))
    return pairs + [
        (png_bytes(screen_rgba("page_baseline.png")[box]), png_bytes(screen_rgba("page_inserted_banner.png")[box]))
    ]


COLOURS = {"diff_color": (0, 0, 255), "aa_color": (0, 255, 0), "diff_color_alt": (9, 8, 7)}


@pytest.mark.parametrize(
    "options", [{}, {"threshold": 0.0, "include_aa": True}, {"threshold": 0.3, "alpha": 0.6, **COLOURS}]
)
def test_every_batch_gives_what_the_per_pair_methods_give(pairs, options):
    counting = {name: value for name, value in options.items() if name in ("threshold", "include_aa")}
    counted = quorvane.diff_count_batch(pairs, **counting)
    diffs = quorvane.diff_batch(pairs, **options)
    scores = quorvane.ssim_batch(pairs)
    compared = quorvane.compare_batch(
        pairs, return_diff=True, thumbnail_width=16, thumbnail_height=12, effort=2, **options
    )
    decoded = Comparison.batch(pairs)
    for i, (baseline, current) in enumerate(pairs):
        comparison = Comparison(baseline, current)
        size = (comparison.width, comparison.height)
        count, diff = comparison.diff_count(**counting), comparison.diff_image(**options)
        assert counted[i] == (count, *size) == diffs[i][1:]
        assert scores[i] == comparison.ssim()
        assert compared[i] == (count, scores[i], *size, diff, comparison.current_thumbnail(16, 12, effort=2))
        assert diffs[i][0] == diff
        assert comparable(decoded[i]) == comparable(comparison)
    assert [len(results) for results in (counted, diffs, scores, compared, decoded)] == [len(pairs)] * 5
    assert all(batch([]) == [] == batch(()) for batch in BATCHES)


def test_compare_batch_makes_the_images_asked_for_from_any_byte_sequences(pairs):
    (baseline, current), expected = pairs[-1], quorvane.compare_batch(pairs[-1:], return_diff=True)

    sequence = collections.UserList([(bytearray(baseline), memoryview(current))])  # neither a list nor a tuple
    assert quorvane.compare_batch(sequence, return_diff=True) == expected
    assert [result[4:] for result in quorvane.compare_batch([(list(baseline), current)], thumbnail_height=8)] == [
        (None, None)
    ]
    (result,) = quorvane.compare_batch([(baseline, tuple(current))], thumbnail_width=64)
    assert result[:5] == (*expected[0][:4], None) and pixels(result[5]).shape == (64, 64, 3)


@pytest.mark.parametrize("batch", BATCHES)
def test_one_undecodable_pair_fails_the_whole_call_as_its_construction_would(pairs, batch):
    good = pairs[0][0]
    with pytest.raises(quorvane.DecodeError, match="^failed to decode PNG: ") as raised:
        batch(pairs[:10] + [(good, b"not a png")] + pairs[10:])
    assert pickle.loads(pickle.dumps(raised.value)).side == raised.value.side == "current"  # as Dask sends it
    errors = []
    claiming = png_claiming(8000, 8000, zlib.compress(bytes(1000)))  # 256 MB claimed, rows missing
    bad = [((b"", b"not a png"), "baseline"), ((b"not a png", b""), "baseline"), ((good, good[:40]), "current")]
    for pair, side in [*bad, ((claiming, good), "baseline")]:
        with pytest.raises(quorvane.DecodeError, match="^failed to decode PNG: ") as constructed:
            Comparison(*pair)
        with pytest.raises(quorvane.DecodeError) as batched:
            batch([pair])
        assert str(batched.value) == str(constructed.value) and batched.value.side == constructed.value.side == side
        errors.append(str(constructed.value))
    assert errors[0] == errors[2] != errors[1]  # of two bad PNGs, the baseline's error is the one


# Prints "ok" from every forked child that got the parent's answers: two
# children forked after the pool was used, then BUSY_FORKS forked while
# another thread keeps it busy.
FORKED = """
import multiprocessing, os, signal, sys, threading, time
import quorvane
from imaging import png_bytes, random_rgba

pairs = [(png_bytes(random_rgba(520, 520, seed)), png_bytes(random_rgba(520, 520, seed + 1))) for seed in (1, 3)]
expected = quorvane.compare_batch(pairs, return_diff=True)

def child(_):
    return quorvane.compare_batch(pairs, return_diff=True) == expected, len(os.listdir("/proc/self/task"))

with multiprocessing.get_context("fork").Pool(2) as children:
    for same, threads in children.map(child, range(2), chunksize=1):
        # With two processors the child's own pool has worker threads again.
        print("ok" if same and (threads > 1 or len(os.sched_getaffinity(0)) == 1) else "wrong")

counts, stop = quorvane.diff_count_batch(pairs), threading.Event()

def busy():
    while not stop.is_set():
        quorvane.compare_batch(pairs)

thread = threading.Thread(target=busy)
thread.start()
for attempt in range(int(sys.argv[1])):
    time.sleep(0.05 * attempt)
    if (pid := os.fork()) == 0:
        signal.alarm(240)  # one that hangs is ended and reads as wrong; a sound one takes seconds when sanitized
        os._exit(0 if quorvane.diff_count_batch(pairs) == counts else 1)
    print("ok" if os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0 else "wrong")
stop.set()
thread.join()
"""


# The sanitizer's allocator in this compiler's runtime takes no care of
# fork: a child forked while the busy thread is inside it (every Python
# object is its allocation there) can wait forever for its lock. So a
# sanitized run forks only after the pool was used; the plain run also forks
# while it is busy.
BUSY_FORKS = 0 if os.environ.get("QUORVANE_SANITIZED") else 6


def test_forked_children_can_use_the_pool():
    run = subprocess.run(
        [sys.executable, "-c", FORKED, str(BUSY_FORKS)],
        capture_output=True,
        text=True,
        timeout=1200,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
        cwd=ROOT / "tests" / "python",
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["ok"] * (2 + BUSY_FORKS)
