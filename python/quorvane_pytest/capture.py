"""The actual image of a call: PNG bytes as given or read from a file, or
a browser target captured until two captures in a row agree; with the
regions left out of the comparison, in the screenshot's pixels."""

import dataclasses
import math
import os
import pathlib
import time

import quorvane
from quorvane_pytest import browsers


@dataclasses.dataclass(frozen=True)
class Shot:
    png: bytes
    regions: tuple  # ignore regions (x, y, width, height) in the screenshot's pixels
    source: str = "the screenshot"  # what the PNG bytes came from, as an error names it


class NotSettled(Exception):
    """Every capture within the timeout differed from the one before it."""


def actual_shot(target, ignore, mask, full_page, timeout):
    __tracebackhide__ = True  # the error is the caller's
    ignore = tuple(tuple(region) for region in ignore)
    mask = tuple(mask)
    quorvane.check_regions(ignore)
    if not (isinstance(timeout, (int, float)) and math.isfinite(timeout) and timeout > 0):
        raise ValueError(f"assert_screenshot: timeout must be a positive number of seconds, not {timeout!r}")
    if isinstance(target, (bytes, bytearray, memoryview, str, os.PathLike)):
        if mask:
            raise TypeError(
                "assert_screenshot: mask takes elements of a Playwright or Selenium target; "
                "leave regions of PNG bytes or a file out with ignore=((x, y, width, height), ...)"
            )
        png, source = png_of(target)
        return Shot(png, ignore, source)
    browser = browsers.target_of(target, full_page)
    if browser is None:
        raise TypeError(
            "assert_screenshot: the target must be PNG bytes, the path of a PNG file, a Playwright "
            "Page or Locator (sync API), or a Selenium WebDriver or WebElement, "
            f"not {type(target).__name__}"
        )
    browser.check_masks(mask)

    def capture(seconds):
        png, boxes, origin, scale = browser.capture(mask, seconds)
        return Shot(png, ignore + pixel_regions(boxes, origin, scale))

    return settled(capture, timeout, out_of_time=browser.timeout_errors())


def png_of(target):
    """The PNG bytes of a target given as bytes or a file, and what to call
    them in an error; the comparison decodes them."""
    __tracebackhide__ = True  # the error is the caller's
    if isinstance(target, (str, os.PathLike)):
        return pathlib.Path(target).read_bytes(), os.fspath(target)
    return bytes(target), "the target's bytes"


def pixel_regions(boxes, origin, scale):
    """Element boxes (x, y, width, height) in CSS pixels of the viewport, as
    regions of a screenshot whose top-left corner stands at `origin` in the
    viewport and which has `scale` device pixels to the CSS pixel: widened to
    whole pixels so that each covers all of its element, cut at the top and
    left edges (the module cuts them at the others)."""
    regions = []
    for x, y, width, height in boxes:
        left = max(math.floor((x - origin[0]) * scale), 0)
        top = max(math.floor((y - origin[1]) * scale), 0)
        right = math.ceil((x + width - origin[0]) * scale)
        bottom = math.ceil((y + height - origin[1]) * scale)
        if right > left and bottom > top:
            regions.append((left, top, right - left, bottom - top))
    return tuple(regions)


def same_pixels(first, second):
    """Whether two captures show the same pixels outside their regions."""
    if first.png == second.png:
        return True
    comparison = quorvane.Comparison(first.png, second.png, ignore=first.regions + second.regions)
    return not comparison.size_mismatch and comparison.diff_count(threshold=0.0, include_aa=True) == 0


def settled(capture, timeout, clock=time.monotonic, out_of_time=()):
    """Captures until one shows what the one before it showed, and returns
    it; `capture` is given the seconds left, and raises one of out_of_time
    when they run out. The timeout bounds the captures and the waiting for
    them to agree together: only the first capture's running out is the
    capturing's own error."""
    deadline = clock() + timeout
    previous, captures = capture(timeout), 1
    while (left := deadline - clock()) > 0:
        try:
            current = capture(left)
        except out_of_time:
            break
        captures += 1
        if same_pixels(previous, current):
            return current
        previous = current
    raise NotSettled(
        f"the screenshot did not settle: {captures} captures in {timeout:g} s, none the same as the one before it"
    )
