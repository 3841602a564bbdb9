"""The batch functions: each pair's result equals what the per-pair methods
give, results come back in input order, the first failure is the whole
answer, and concurrent and forked use give the same results."""

import inspect
import io
import os
import subprocess
import sys
import textwrap
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import quorvane
from imaging import ROOT, decode_webp, png_bytes, screen

Comparison = quorvane.Comparison

SCREEN_PAIRS = [
    ("page_baseline.png", "page_inserted_banner.png"),
    ("page_baseline.png", "page_edited_paragraph.png"),
    ("page_deleted_block.png", "page_baseline.png"),
    ("page_baseline.png", "page_taller.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
]


@pytest.fixture(scope="module")
def screen_pairs():
    return [(screen(baseline), screen(current)) for baseline, current in SCREEN_PAIRS]


def random_pairs(count, seed):
    """Small pairs of assorted sizes: some equal, some edited in a block, some
    of different sizes, some with translucent pixels."""
    rng = np.random.default_rng(seed)
    pairs = []
    for number in range(count):
        height, width = rng.integers(1, 40, 2)
        baseline = rng.integers(0, 256, (height, width, 4), dtype=np.uint8)
        if number % 3 == 0:
            baseline[..., 3] = 255
        current = baseline.copy()
        if number % 4 == 1:
            top, left = rng.integers(0, height), rng.integers(0, width)
            current[top:top + 5, left:left + 7] = rng.integers(0, 256, 4, dtype=np.uint8)
        elif number % 4 == 2:
            current = rng.integers(0, 256, (*rng.integers(1, 40, 2), 4), dtype=np.uint8)
        pairs.append((png_bytes(baseline), png_bytes(current)))
    return pairs


def decode_png(data):
    with Image.open(io.BytesIO(data)) as image:
        assert image.format == "PNG" and image.mode == "RGB"
        return np.asarray(image)


DIFF_OPTIONS = [
    {},
    {"threshold": 0.0, "include_aa": True},
    {"threshold": 0.3, "alpha": 0.6, "diff_color": (0, 0, 255), "aa_color": (0, 255, 0),
     "diff_color_alt": (9, 8, 7)},
]


def count_options(options):
    return {name: value for name, value in options.items() if name in ("threshold", "include_aa")}


@pytest.mark.parametrize("options", DIFF_OPTIONS)
@pytest.mark.parametrize("source", ["random pairs", "example screenshots"])
def test_every_batch_gives_what_the_per_pair_methods_give(screen_pairs, source, options):
    pairs = random_pairs(24, seed=len(options)) if source == "random pairs" else screen_pairs
    counted = quorvane.diff_count_batch(pairs, **count_options(options))
    diffs = quorvane.diff_batch(pairs, **options)
    scores = quorvane.ssim_batch(pairs)
    compared = quorvane.compare_batch(pairs, return_diff=True, thumbnail_width=16, thumbnail_height=12, effort=2,
                                      **options)
    decoded = Comparison.batch(pairs)
    assert [len(results) for results in (counted, diffs, scores, compared, decoded)] == [len(pairs)] * 5
    for i, (baseline, current) in enumerate(pairs):
        comparison = Comparison(baseline, current)
        size = (comparison.width, comparison.height)
        count = comparison.diff_count(**count_options(options))
        diff = decode_png(comparison.diff_image(**options))
        assert counted[i] == (count, *size)
        assert diffs[i][1:] == (count, *size)
        assert np.array_equal(decode_png(diffs[i][0]), diff)
        assert scores[i] == comparison.ssim()
        assert compared[i][:4] == (count, scores[i], *size)
        assert np.array_equal(decode_png(compared[i][4]), diff)
        assert compared[i][5] == comparison.current_thumbnail(16, 12, effort=2)
        assert type(decoded[i]) is Comparison
        assert (decoded[i].baseline_size, decoded[i].current_size) == (comparison.baseline_size,
                                                                       comparison.current_size)
        assert decoded[i].diff_count() == comparison.diff_count()


class TestResultShapes:
    def test_empty_input_gives_empty_lists(self):
        for batch in (quorvane.diff_batch, quorvane.diff_count_batch, quorvane.ssim_batch,
                      quorvane.compare_batch, Comparison.batch):
            assert batch([]) == []
            assert batch(()) == []

    def test_results_follow_the_input_order(self):
        # Pair i has its own size and changes its first i % (w * h + 1) pixels.
        expected, pairs = [], []
        for i in range(1000):
            width, height = 1 + i % 31, 1 + i // 31 % 17
            changed = i % (width * height + 1)
            baseline = np.zeros((height, width, 4), np.uint8)
            baseline[..., 3] = 255
            current = baseline.copy().reshape(-1, 4)
            current[:changed] = 255
            pairs.append((png_bytes(baseline), png_bytes(current.reshape(height, width, 4))))
            expected.append((changed, width, height))
        assert quorvane.diff_count_batch(pairs, threshold=0.0) == expected
        compared = quorvane.compare_batch(pairs, threshold=0.0)
        assert [(count, width, height) for count, _, width, height, _, _ in compared] == expected
        assert [(c.width, c.height) for c in Comparison.batch(pairs)] == [size[1:] for size in expected]

    @pytest.mark.parametrize("keywords, has_diff, has_thumbnail", [
        ({}, False, False),
        ({"return_diff": True}, True, False),
        ({"thumbnail_width": 64}, False, True),
        ({"thumbnail_height": 64}, False, False),
        ({"return_diff": True, "thumbnail_width": 64, "thumbnail_height": 8}, True, True),
    ])
    def test_compare_batch_optional_images(self, keywords, has_diff, has_thumbnail):
        pair = (screen("table_1080p.png"), screen("table_1080p_padded.png"))
        (result,) = quorvane.compare_batch([pair], **keywords)
        assert [type(value) for value in result[:4]] == [int, float, int, int]
        assert isinstance(result[4], bytes) if has_diff else result[4] is None
        assert isinstance(result[5], bytes) if has_thumbnail else result[5] is None
        if has_thumbnail:
            expected = (64, keywords.get("thumbnail_height", 36))
            assert decode_webp(result[5]).shape[1::-1] == expected

    @pytest.mark.parametrize("convert", [bytes, bytearray, list, memoryview])
    def test_each_png_may_be_any_byte_sequence(self, convert):
        baseline, current = random_pairs(2, seed=7)[1]
        expected = quorvane.diff_count_batch([(baseline, current)])
        assert quorvane.diff_count_batch([(convert(baseline), convert(current))]) == expected
        assert quorvane.diff_count_batch(custom_sequence([(baseline, current)])) == expected


def custom_sequence(items):
    """A sequence that is neither a list nor a tuple."""
    class Pairs:
        def __len__(self):
            return len(items)

        def __getitem__(self, index):
            return items[index]
    return Pairs()


def test_signatures_and_docstrings():
    shown = "diff_color=Ellipsis, aa_color=Ellipsis, diff_color_alt=None"
    regions = "*, ignore=(), mask_color=(255, 0, 255)"
    assert str(inspect.signature(quorvane.diff_batch)) == (
        f"(pairs, threshold=0.1, alpha=0.1, include_aa=False, {shown}, {regions})")
    assert str(inspect.signature(quorvane.diff_count_batch)) == f"(pairs, threshold=0.1, include_aa=False, {regions})"
    assert str(inspect.signature(quorvane.ssim_batch)) == f"(pairs, {regions})"
    assert str(inspect.signature(Comparison.batch)) == f"(pairs, {regions})"
    assert str(inspect.signature(quorvane.compare_batch)) == (
        f"(pairs, threshold=0.1, alpha=0.1, include_aa=False, {shown}, return_diff=False, "
        "thumbnail_width=None, thumbnail_height=None, *, effort=None, ignore=(), mask_color=(255, 0, 255))")
    assert quorvane.compare_batch.__doc__ == (
        "Compare multiple image pairs in parallel (diff count + SSIM per pair).\n\n"
        "Batch version of `compare()`. Set `thumbnail_width` to generate a\n"
        "thumbnail per pair; `effort` as in `thumbnail()`.")
    assert Comparison.batch.__doc__ == "Decode multiple PNG pairs in parallel."


GOOD = png_bytes(np.zeros((4, 4, 4), np.uint8))
TRUNCATED = GOOD[:40]


class TestFailures:
    @pytest.mark.parametrize("batch", [quorvane.diff_batch, quorvane.diff_count_batch, quorvane.ssim_batch,
                                       quorvane.compare_batch, Comparison.batch])
    def test_one_undecodable_pair_fails_the_whole_call(self, batch):
        pairs = [(GOOD, GOOD)] * 20 + [(GOOD, b"not a png")] + [(GOOD, GOOD)] * 20
        with pytest.raises(ValueError, match="^failed to decode PNG: "):
            batch(pairs)

    def test_a_pair_reports_what_its_own_construction_reports(self):
        for pair in [(b"", TRUNCATED), (TRUNCATED, b""), (GOOD, TRUNCATED)]:
            with pytest.raises(ValueError) as constructed:
                Comparison(*pair)
            with pytest.raises(ValueError) as batched:
                quorvane.compare_batch([pair], thumbnail_width=0)
            assert str(batched.value) == str(constructed.value)

    def test_thumbnail_error_of_compare_batch(self):
        with pytest.raises(ValueError, match=r"^thumbnail max_width must be > 0$"):
            quorvane.compare_batch([(GOOD, GOOD)], thumbnail_width=0)
        with pytest.raises(ValueError, match=r"^thumbnail max_height must be > 0$"):
            quorvane.compare_batch([(GOOD, GOOD)], thumbnail_width=5, thumbnail_height=0)

    @pytest.mark.parametrize("call, message", [
        (lambda pairs: quorvane.diff_batch(pairs, threshold=2.0, alpha=-1.0), "threshold"),
        (lambda pairs: quorvane.diff_batch(pairs, alpha=float("nan")), "alpha"),
        (lambda pairs: quorvane.diff_count_batch(pairs, threshold=1.5), "threshold"),
        (lambda pairs: quorvane.compare_batch(pairs, alpha=1.5), "alpha"),
    ])
    def test_ranges_are_checked_before_any_decoding(self, call, message):
        with pytest.raises(ValueError, match=rf"^{message} must be in the range \[0.0, 1.0\]$"):
            call([(b"junk", b"junk")] * 3)

    @pytest.mark.parametrize("pairs, error", [
        ("ab", TypeError),
        (b"ab", TypeError),
        ([[GOOD, GOOD]], TypeError),
        ([(GOOD, GOOD, GOOD)], TypeError),
        ([(GOOD,)], TypeError),
        ([(GOOD, "not bytes")], TypeError),
        ([(GOOD, GOOD), 5], TypeError),
        ([(GOOD, [1, 2, 256])], OverflowError),
        ([(GOOD, [1, 2, -1])], OverflowError),
        ([(GOOD, [1.0])], TypeError),
        (None, TypeError),
        ({(GOOD, GOOD)}, TypeError),
    ])
    def test_pairs_of_the_wrong_shape_raise_before_any_work(self, pairs, error):
        for batch in (quorvane.diff_batch, quorvane.ssim_batch, Comparison.batch):
            with pytest.raises(error, match="^argument 'pairs': "):
                batch(pairs)

    def test_conversion_errors_come_before_range_checks(self):
        with pytest.raises(TypeError, match="^argument 'return_diff': "):
            quorvane.compare_batch([(GOOD, GOOD)], threshold=5.0, return_diff=1)


def test_concurrent_batches_and_methods_match_a_sequential_run(screen_pairs):
    pairs = random_pairs(40, seed=11) + screen_pairs[:2]
    calls = [
        lambda: quorvane.compare_batch(pairs, return_diff=True, thumbnail_width=32),
        lambda: quorvane.diff_batch(pairs, threshold=0.05),
        lambda: quorvane.diff_count_batch(pairs, include_aa=True),
        lambda: quorvane.ssim_batch(pairs),
        lambda: [(c.width, c.height, c.diff_count()) for c in Comparison.batch(pairs)],
        lambda: [Comparison(*pair).diff_image(threshold=0.05) for pair in pairs[-3:]],
        lambda: [Comparison(*pair).ssim() for pair in pairs[-3:]],
    ]
    sequential = [call() for call in calls]
    start = threading.Barrier(4)

    def run(worker):
        start.wait()
        return [calls[(worker + step) % len(calls)]() for step in range(len(calls))]

    with ThreadPoolExecutor(4) as pool:
        answers = list(pool.map(run, range(4)))
    for worker, results in enumerate(answers):
        for step, result in enumerate(results):
            assert result == sequential[(worker + step) % len(calls)]


# Both scripts print "ok" from every child that got the parent's answers.
FORK_AFTER_USE = """
import multiprocessing, os, sys
import quorvane
from imaging import screen

pairs = [(screen("page_baseline.png"), screen(name)) for name in
         ("page_inserted_banner.png", "page_edited_paragraph.png", "page_taller.png")]
expected = quorvane.compare_batch(pairs, return_diff=True)

def child(_):
    answer = quorvane.compare_batch(pairs, return_diff=True)
    return answer == expected, len(os.listdir("/proc/self/task"))

with multiprocessing.get_context("fork").Pool(2) as children:
    for same, threads in children.map(child, range(2), chunksize=1):
        # With two processors the child's own pool has worker threads again.
        print("ok" if same and (threads > 1 or len(os.sched_getaffinity(0)) == 1) else "wrong")
"""

FORK_WHILE_BUSY = """
import os, sys, threading, time
import quorvane
from imaging import screen

baseline, current = screen("page_baseline.png"), screen("page_edited_paragraph.png")
small = [(screen("table_1080p.png"), screen("table_1080p_padded.png"))] * 2
expected = quorvane.diff_count_batch(small)
stop = threading.Event()

def busy():
    while not stop.is_set():
        quorvane.compare_batch([(baseline, current)] * 4, return_diff=True)

thread = threading.Thread(target=busy)
thread.start()
for attempt in range(6):
    time.sleep(0.05 * attempt)
    pid = os.fork()
    if pid == 0:
        os._exit(0 if quorvane.diff_count_batch(small) == expected else 1)
    deadline = time.monotonic() + 60
    while (ended := os.waitpid(pid, os.WNOHANG))[0] == 0:
        if time.monotonic() > deadline:
            os.kill(pid, 9)
            print("hung")
            os._exit(1)
        time.sleep(0.01)
    print("ok" if os.waitstatus_to_exitcode(ended[1]) == 0 else "wrong")
stop.set()
thread.join()
"""


@pytest.mark.parametrize("script, children", [(FORK_AFTER_USE, 2), (FORK_WHILE_BUSY, 6)],
                         ids=["after_use", "while_busy"])
def test_forked_children_can_use_the_pool(script, children):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                         env=env, timeout=300, cwd=ROOT)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["ok"] * children
