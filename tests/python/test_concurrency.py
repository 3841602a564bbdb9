"""Concurrent use gives the sequential answers, and every computing entry
point lets other Python threads run while it works."""

import io
import sys
import threading
import time
import types

import numpy as np
import pytest
from PIL import Image

import quorvane
from imaging import png_bytes, screen

Comparison = quorvane.Comparison
THREADS = 8
ROUNDS = 3


def crop_png(name, box):
    with Image.open(io.BytesIO(screen(name))) as image:
        return png_bytes(np.asarray(image.convert("RGBA").crop(box)))


@pytest.fixture(scope="module")
def shifted_pair():
    # 560 x 500: above the size at which the pixel work splits over the pool.
    box = (250, 0, 810, 500)
    return crop_png("page_baseline.png", box), crop_png("page_inserted_banner.png", box)


@pytest.fixture(scope="module")
def pngs(shifted_pair):
    small = [crop_png("page_baseline.png", (300, 900, 360, 1000)),
             crop_png("page_edited_paragraph.png", (300, 900, 350, 1010))]  # two sizes
    return [shifted_pair, tuple(small)]


def cluster_fields(result):
    return result.total_clusters, result.truncated, [
        (c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.centroid, c.pixel_count, c.merged_from)
        for c in result.clusters]


def alignment_fields(alignment):
    return repr(alignment), [repr(s) for s in alignment.segments], [repr(b) for b in alignment.bands]


# Every method of a Comparison, given the pair and an alignment of its images.
METHODS = {
    "properties": lambda p, a: (p.width, p.height, p.size_mismatch, p.baseline_size, p.current_size, repr(p)),
    "diff_count": lambda p, a: p.diff_count(),
    "diff_count include_aa": lambda p, a: p.diff_count(threshold=0.05, include_aa=True),
    # Above the cap the count depends on how the pool split the work.
    "diff_count_capped": lambda p, a: min(p.diff_count_capped(100), 100),
    "diff_image": lambda p, a: p.diff_image(alpha=0.3, diff_color_alt=(0, 0, 255)),
    "ssim": lambda p, a: p.ssim(),
    "clusters": lambda p, a: cluster_fields(p.clusters(max_clusters=5, merge_gap=3)),
    "row_alignment": lambda p, a: alignment_fields(p.row_alignment(max_edit_ratio=0.5)),
    "aligned_ssim": lambda p, a: p.aligned_ssim(a) if a.aligned else None,
    "aligned_diff_image": lambda p, a: p.aligned_diff_image(a) if a.aligned else None,
    "aligned_clusters": lambda p, a: cluster_fields(p.aligned_clusters(a, min_pixels=4)) if a.aligned else None,
    "current_thumbnail": lambda p, a: p.current_thumbnail(width=64, min_height=20),
    "baseline_thumbnail": lambda p, a: p.baseline_thumbnail(width=48, height=30, own_size=True),
    "diff_image_and_thumbnail": lambda p, a: p.diff_image_and_thumbnail(thumbnail_width=40, effort=1),
    "aligned_diff_image_and_thumbnail": lambda p, a: (
        p.aligned_diff_image_and_thumbnail(a, thumbnail_width=40) if a.aligned else None),
}

BATCHES = {
    "compare_batch": lambda pairs: quorvane.compare_batch(pairs, return_diff=True, thumbnail_width=40),
    "diff_batch": lambda pairs: quorvane.diff_batch(pairs, include_aa=True),
    "diff_count_batch": lambda pairs: quorvane.diff_count_batch(pairs, threshold=0.2),
    "ssim_batch": lambda pairs: quorvane.ssim_batch(pairs),
    "Comparison.batch": lambda pairs: [(repr(c), c.diff_count()) for c in Comparison.batch(pairs)],
    "thumbnail": lambda pairs: [quorvane.thumbnail(png, width=30) for pair in pairs for png in pair],
}


def rotated(items, by):
    items = list(items)
    by %= len(items)
    return items[by:] + items[:by]


def from_rgba(baseline_png, current_png):
    images = []
    for data in (baseline_png, current_png):
        with Image.open(io.BytesIO(data)) as image:
            images.append((image.convert("RGBA").tobytes(), *image.size))
    (baseline, bw, bh), (current, cw, ch) = images
    return Comparison.from_rgba(baseline, bw, bh, current, cw, ch)


def test_threads_on_shared_and_own_comparisons_with_batches_match_sequential_answers(pngs):
    alignments = [Comparison(*pair).row_alignment(max_edit_ratio=0.5) for pair in pngs]
    assert alignments[0].aligned and alignments[0].bands  # the shift-aware methods have work to do
    expected = [{name: method(Comparison(*pair), alignment) for name, method in METHODS.items()}
                for pair, alignment in zip(pngs, alignments)]
    expected_batches = {name: batch(pngs) for name, batch in BATCHES.items()}
    # Fresh shared pairs: the first aligned_* call of some thread fills the
    # fingerprint cache while others wait for it.
    shared = [Comparison(*pair) for pair in pngs]
    start = threading.Barrier(THREADS)
    mismatches = []

    def worker(number):
        start.wait()
        for round_number in range(ROUNDS):
            for index, pair in enumerate(pngs):
                own = from_rgba(*pair) if number % 2 else Comparison(*pair)
                for whose, comparison in (("shared", shared[index]), ("own", own)):
                    for name, method in rotated(METHODS.items(), number + round_number):
                        if method(comparison, alignments[index]) != expected[index][name]:
                            mismatches.append((number, round_number, whose, index, name))
            name, batch = rotated(BATCHES.items(), number + round_number)[0]
            if batch(pngs) != expected_batches[name]:
                mismatches.append((number, round_number, "batch", name))

    threads = [threading.Thread(target=worker, args=(number,)) for number in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == []


def advances_during(call, attempts=200):
    """Whether a Python thread that never gives up the interpreter lock on
    its own between steps got to run during `call`. The switch interval is
    made so long that the lock changes hands only where it is released; the
    counter thread hands it back after every step."""
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0)  # releases the lock and takes it back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    thread = threading.Thread(target=count)
    thread.start()
    try:
        for _ in range(attempts):
            before = counter[0]
            call()
            if counter[0] != before:
                return True
        return False
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)


# Every computing entry point, given the work of long_work.
LONG_CALLS = {
    "Comparison": lambda w: Comparison(w.baseline_png, w.current_png),
    "from_rgba": lambda w: Comparison.from_rgba(w.rgba, w.width, w.height, w.rgba, w.width, w.height),
    "Comparison.batch": lambda w: Comparison.batch(w.pairs),
    "diff_count": lambda w: w.pair.diff_count(),
    "diff_count_capped": lambda w: w.pair.diff_count_capped(10**9),
    "diff_image": lambda w: w.pair.diff_image(),
    "ssim": lambda w: w.pair.ssim(),
    "clusters": lambda w: w.pair.clusters(),
    "row_alignment": lambda w: w.pair.row_alignment(max_edit_ratio=1.0),
    "aligned_ssim": lambda w: w.pair.aligned_ssim(w.alignment),
    "aligned_diff_image": lambda w: w.pair.aligned_diff_image(w.alignment),
    "aligned_clusters": lambda w: w.pair.aligned_clusters(w.alignment),
    "diff_image_and_thumbnail": lambda w: w.pair.diff_image_and_thumbnail(),
    "aligned_diff_image_and_thumbnail": lambda w: w.pair.aligned_diff_image_and_thumbnail(w.alignment),
    "current_thumbnail": lambda w: w.pair.current_thumbnail(),
    "baseline_thumbnail": lambda w: w.pair.baseline_thumbnail(),
    "thumbnail": lambda w: quorvane.thumbnail(w.current_png),
    "diff_batch": lambda w: quorvane.diff_batch(w.pairs),
    "diff_count_batch": lambda w: quorvane.diff_count_batch(w.pairs),
    "ssim_batch": lambda w: quorvane.ssim_batch(w.pairs),
    "compare_batch": lambda w: quorvane.compare_batch(w.pairs, return_diff=True, thumbnail_width=50),
}


@pytest.fixture(scope="module")
def long_work():
    # Calls that take milliseconds even on a fast machine, so that a thread
    # woken when the lock is released has long enough to take it: a noise
    # image of 800 000 pixels with 300 rows changed in place and 20 inserted.
    rng = np.random.default_rng(3)
    baseline = rng.integers(0, 256, (800, 1000, 4), dtype=np.uint8)
    current = baseline.copy()
    current[100:400] = rng.integers(0, 256, (300, 1000, 4), dtype=np.uint8)
    current = np.concatenate([current[:600], rng.integers(0, 256, (20, 1000, 4), dtype=np.uint8), current[600:]])
    baseline_png, current_png = png_bytes(baseline), png_bytes(current)
    pair = Comparison(baseline_png, current_png)
    alignment = pair.row_alignment(max_edit_ratio=1.0)
    assert alignment.changed_rows == 300 and alignment.inserted_rows == 20
    return types.SimpleNamespace(baseline_png=baseline_png, current_png=current_png, pair=pair, alignment=alignment,
                                 rgba=baseline.tobytes(), width=1000, height=800,
                                 pairs=[(baseline_png, current_png)] * 2)


@pytest.mark.parametrize("name", list(LONG_CALLS))
def test_other_threads_run_while_a_call_computes(long_work, name):
    call = LONG_CALLS[name]
    assert advances_during(lambda: call(long_work))


def test_the_counter_stands_still_while_the_lock_is_held():
    # The same probe around work that keeps the lock: it must see no progress,
    # or the test above would prove nothing.
    numbers = list(range(200_000, 0, -1))
    assert not advances_during(lambda: sorted(numbers), attempts=20)
