"""Every public entry point, failures included, called ten thousand times:
the C heap, Python's allocator and the resident memory stay where they were,
and no input, nor anything inside one, nor None, gains or loses a reference."""

import os
import sys

import pytest
from entry_calls import entry_calls, make_inputs, reference_counts
from memory_use import growth_over

import quorvane

CALLS = 10_000
# A sanitizer's allocator quarantines freed memory and hides the C heap, so
# there only the reference counts are checked, over fewer calls.
SANITIZED = bool(os.environ.get("QUORVANE_SANITIZED"))

INPUTS = make_inputs()
CALLS_BY_NAME = entry_calls(INPUTS)


@pytest.mark.parametrize("name", list(CALLS_BY_NAME))
def test_ten_thousand_calls_leave_memory_and_references_as_they_were(name):
    references = reference_counts(INPUTS)
    growth = growth_over(CALLS_BY_NAME[name], CALLS // 20 if SANITIZED else CALLS)
    assert reference_counts(INPUTS) == references
    if SANITIZED:
        return
    # The smallest block the C heap hands out leaked once a call would show
    # as 160 KB; a leaked Python object a call as ten thousand blocks, where
    # the interpreter's free lists filling up account for up to about a hundred.
    if growth["heap"] is not None:
        assert growth["heap"] < 64 * 1024, growth
    assert growth["blocks"] < 1000, growth
    assert growth["resident"] < 4 * 2**20, growth


def test_batches_without_images_leave_the_references_to_none_as_they_were():
    # Each absent image of a result is a reference to None of its own.
    quorvane.compare_batch(INPUTS["pairs"])
    before = sys.getrefcount(None)
    for _ in range(CALLS // 20 if SANITIZED else CALLS):
        quorvane.compare_batch(INPUTS["pairs"])
    after = sys.getrefcount(None)  # read outside the assert, whose rewriting holds None
    assert after == before


def test_the_module_works_in_a_subinterpreter():
    """Its types and exceptions live in the module's state, one per interpreter."""
    interpreters = pytest.importorskip("_xxsubinterpreters", reason="this Python has no subinterpreter module")
    interpreter = interpreters.create()
    try:
        interpreters.run_string(
            interpreter,
            f"""if True:
            import sys
            sys.path.insert(0, {os.path.dirname(quorvane.__file__)!r})  # a new interpreter starts from the default path
            import quorvane
            opaque, white = bytes([0, 0, 0, 255]) * 4, bytes([255]) * 16
            assert quorvane.Comparison.from_rgba(opaque, 2, 2, white, 2, 2).diff_count() == 4
            try:
                quorvane.Comparison(b"not a png", b"")
            except quorvane.DecodeError as error:
                assert error.side == "baseline"
            """,
        )
    finally:
        interpreters.destroy(interpreter)
    assert quorvane.Comparison.from_rgba(bytes(16), 2, 2, bytes(16), 2, 2).diff_count() == 0
