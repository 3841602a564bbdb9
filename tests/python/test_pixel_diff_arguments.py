"""Argument conversion and checks of the pixel difference methods: types,
ranges and their order, keywords, signatures."""

import inspect

import numpy as np
import pytest

import quorvane

Comparison = quorvane.Comparison

THRESHOLD_TEXT = r"^threshold must be in the range \[0\.0, 1\.0\]$"
ALPHA_TEXT = r"^alpha must be in the range \[0\.0, 1\.0\]$"


@pytest.fixture(scope="module")
def comparison():
    baseline = np.zeros((3, 4, 4), np.uint8)
    current = baseline.copy()
    current[1, 1] = (255, 255, 255, 255)
    return Comparison.from_rgba(baseline.tobytes(), 4, 3, current.tobytes(), 4, 3)


@pytest.fixture(scope="module")
def identical():
    return Comparison.from_rgba(bytes(16), 2, 2, bytes(16), 2, 2)


CALLS = {
    "diff_count": lambda c, **kw: c.diff_count(**kw),
    "diff_count_capped": lambda c, **kw: c.diff_count_capped(10, **kw),
    "diff_count_capped(0)": lambda c, **kw: c.diff_count_capped(0, **kw),
    "diff_image": lambda c, **kw: c.diff_image(**kw),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
@pytest.mark.parametrize("threshold", [1.5, -0.1, float("nan"), float("inf"), 1.0000000000000002])
def test_threshold_out_of_range_fails_even_for_identical_images(identical, call, threshold):
    with pytest.raises(ValueError, match=THRESHOLD_TEXT):
        call(identical, threshold=threshold)


@pytest.mark.parametrize("options, text", [
    ({"alpha": -1.0}, ALPHA_TEXT),
    ({"alpha": 1.5}, ALPHA_TEXT),
    ({"alpha": float("nan")}, ALPHA_TEXT),
    ({"threshold": 2.0, "alpha": -1.0}, THRESHOLD_TEXT),  # the threshold is checked first
])
def test_alpha_out_of_range(identical, options, text):
    with pytest.raises(ValueError, match=text):
        identical.diff_image(**options)


@pytest.mark.parametrize("threshold", [0, 1, True, 0.0, 1.0, np.float32(0.5)])
def test_range_ends_and_numbers_convertible_to_float_pass(comparison, threshold):
    assert comparison.diff_count(threshold=threshold) in (0, 1)
    comparison.diff_image(threshold=threshold, alpha=threshold)


@pytest.mark.parametrize("argument, value, error", [
    ("threshold", "0.1", TypeError),
    ("threshold", None, TypeError),
    ("include_aa", 1, TypeError),
    ("include_aa", None, TypeError),
    ("include_aa", np.bool_(True), TypeError),
    ("diff_color", [255, 0, 0], TypeError),
    ("diff_color", (255, 0), TypeError),
    ("diff_color", (255, 0, 0, 0), TypeError),
    ("diff_color", (255.0, 0, 0), TypeError),
    ("diff_color", (256, 0, 0), OverflowError),
    ("diff_color", (0, -1, 0), OverflowError),
    ("aa_color", (0, 0, 2**70), OverflowError),
    ("aa_color", None, TypeError),
    ("diff_color_alt", [0, 0, 0], TypeError),
    ("diff_color_alt", (0, 0, 256), OverflowError),
])
def test_conversion_failures_name_the_argument_before_any_range_check(comparison, argument, value, error):
    out_of_range = {"alpha": 5.0} if argument == "threshold" else {"threshold": 5.0}
    with pytest.raises(error, match=f"^argument '{argument}': "):
        comparison.diff_image(**{argument: value}, **out_of_range)
    if argument == "include_aa":
        with pytest.raises(error, match=f"^argument '{argument}': "):
            comparison.diff_count(**{argument: value}, **out_of_range)


@pytest.mark.parametrize("max_diffs, error", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError),
                                              (None, TypeError)])
def test_max_diffs_is_an_unsigned_64_bit_int(comparison, max_diffs, error):
    with pytest.raises(error, match="^argument 'max_diffs': "):
        comparison.diff_count_capped(max_diffs)


def test_zero_cap_still_checks_its_arguments_first(comparison):
    assert comparison.diff_count_capped(0) == 0
    assert comparison.diff_count_capped(np.uint8(0), 0.0, True) == 0
    with pytest.raises(ValueError, match=THRESHOLD_TEXT):
        comparison.diff_count_capped(0, threshold=-1.0)


def test_positional_and_keyword_arguments(comparison):
    assert comparison.diff_count(0.0, False) == comparison.diff_count(include_aa=False, threshold=0.0) == 1
    assert comparison.diff_count_capped(max_diffs=1, threshold=0.5) == 1
    assert comparison.diff_image(0.1, 0.1, False, (1, 2, 3), (4, 5, 6), None) == comparison.diff_image(
        diff_color_alt=None, aa_color=(4, 5, 6), diff_color=(1, 2, 3))
    with pytest.raises(TypeError, match="unexpected keyword argument 'alpha'"):
        comparison.diff_count(alpha=0.1)
    with pytest.raises(TypeError, match="takes at most 2 positional arguments"):
        comparison.diff_count(0.1, False, 3)
    with pytest.raises(TypeError, match="missing required argument 'max_diffs'"):
        comparison.diff_count_capped()
    with pytest.raises(TypeError, match="multiple values for argument 'threshold'"):
        comparison.diff_count(0.1, threshold=0.2)


@pytest.mark.parametrize("name, signature, summary", [
    ("diff_count", "($self, threshold=0.1, include_aa=False)", "Count differing pixels."),
    ("diff_count_capped", "($self, max_diffs, threshold=0.1, include_aa=False)",
     "Count differing pixels with early exit."),
    ("diff_image", "($self, threshold=0.1, alpha=0.1, include_aa=False, diff_color=..., aa_color=..., "
                   "diff_color_alt=None)", "Generate the diff image as PNG bytes."),
])
def test_docstrings_and_text_signatures(name, signature, summary):
    method = getattr(Comparison, name)
    assert method.__doc__ == summary
    assert method.__text_signature__ == signature
    parameters = list(inspect.signature(method).parameters.values())[1:]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters)
    if name == "diff_image":
        assert [p.default for p in parameters] == [0.1, 0.1, False, Ellipsis, Ellipsis, None]
