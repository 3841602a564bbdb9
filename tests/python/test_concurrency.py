"""Concurrent use gives the sequential answers, and every computing entry
point lets other Python threads run while it works."""

import functools
import operator
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from entry_calls import comparable, entry_calls, make_inputs

import quorvane

THREADS = 8


def test_threads_on_shared_and_own_comparisons_with_batches_match_sequential_answers():
    # 520 x 512: above the size at which the pixel work splits over the pool.
    inputs = make_inputs(512, 520)
    expected = {name: comparable(call()) for name, call in entry_calls(inputs).items()}
    # A fresh shared pair: the first shift-aware call of some thread fills
    # the fingerprint cache while others wait for it.
    shared = entry_calls(dict(inputs, pair=quorvane.Comparison(inputs["baseline_png"], inputs["current_png"])))
    start = threading.Barrier(THREADS)

    def mismatches(number):
        pair = entry_calls(inputs)["from_rgba" if number % 4 == 3 else "Comparison"]()
        calls = entry_calls(dict(inputs, pair=pair)) if number % 2 else shared
        names = list(calls)
        start.wait()
        rotated = names[number * 7 :] + names[: number * 7]
        return [(number, name) for name in rotated if comparable(calls[name]()) != expected[name]]

    with ThreadPoolExecutor(THREADS) as pool:
        assert functools.reduce(operator.iadd, pool.map(mismatches, range(THREADS)), []) == []


def advances_during(call, attempts=200, patience=30.0):
    """Whether a Python thread that never gives up the interpreter lock on
    its own between steps got to run during `call`, called `attempts` times
    and then on for up to `patience` seconds: a call that lets the lock go
    for a fraction of a millisecond lets the thread in only when the system
    happens to wake it in time, which a loaded machine seldom does. The
    switch interval is made so long that the lock changes hands only where
    it is released; the counter thread hands it back after every step."""
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
        deadline, calls = time.monotonic() + patience, 0
        while calls < attempts or time.monotonic() < deadline:
            calls += 1
            before = counter[0]
            call()
            if counter[0] != before:
                return True
        return False
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)


def test_other_threads_run_while_each_computing_entry_point_works():
    # Noise of 800 000 pixels: every call takes long enough for a thread
    # woken when the lock is released to take it.
    calls = entry_calls(make_inputs(800, 1000))
    computing = [name for name in calls if " " not in name]  # the plain call of each computing entry point
    assert [name for name in computing if not advances_during(calls[name])] == []
    # The same probe around work that keeps the lock must see no progress,
    # or the check above would prove nothing.
    numbers = list(range(200_000, 0, -1))
    assert not advances_during(lambda: sorted(numbers), attempts=20, patience=0.0)
