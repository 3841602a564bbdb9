"""The actual image of a call: PNG bytes as given or read from a file, or a
capture of a browser target; with the regions left out of the comparison,
in the screenshot's pixels. Captures are generators (see browsers), run to
their end by run_sync or run_async."""

from __future__ import annotations

import dataclasses
import inspect
import math
import os
from collections.abc import Generator, Sequence
from typing import Any, TypeVar

import quorvane
from quorvane_cli import png_chunks
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import read_input, shown
from quorvane_cli.settings import Rectangle
from quorvane_pytest import browsers

T = TypeVar("T")


@dataclasses.dataclass(frozen=True)
class Shot:
    png: bytes
    regions: tuple[Rectangle, ...]  # ignore regions (x, y, width, height) in the screenshot's pixels
    source: str = "the screenshot"  # what the PNG bytes came from, as an error names it


def is_image(target: object) -> bool:
    return isinstance(target, (bytes, bytearray, memoryview, str, os.PathLike))


def given_shot(target: Any, ignore: tuple[Rectangle, ...]) -> Shot:
    """The Shot of PNG bytes or a PNG file, with the regions it carries."""
    __tracebackhide__ = True  # the error is the caller's
    if isinstance(target, (str, os.PathLike)):
        source = os.fspath(target)
        try:
            png = read_input(target)
        except CliError as error:
            raise ValueError(f"assert_screenshot: {shown(error)}") from None
    else:
        png, source = bytes(target), "the target's bytes"
    try:
        carried = png_chunks.read_regions(png)
    except png_chunks.ChunkError as error:
        raise ValueError(f"assert_screenshot: {shown(source)}: malformed quorvane:ignore chunk: {error}") from None
    return Shot(png, tuple(dict.fromkeys(ignore + carried)), source)


def checked_regions(ignore: Sequence[Sequence[int]]) -> tuple[Rectangle, ...]:
    __tracebackhide__ = True  # the error is the caller's
    rectangles = tuple((r[0], r[1], r[2], r[3]) if len(r) == 4 else tuple(r) for r in ignore)
    quorvane.check_regions(rectangles)
    return rectangles  # type: ignore[return-value]


def browser_shot(
    browser: browsers.Browser, look: browsers.Look, ignore: tuple[Rectangle, ...], seconds: float
) -> Generator[Any, Any, Shot]:
    raw = yield from browser.capture(look, seconds)
    return Shot(raw.png, ignore + pixel_regions(raw.boxes, raw.origin, raw.scale))


def pixel_regions(boxes: Sequence[browsers.Box], origin: tuple[float, float], scale: float) -> tuple[Rectangle, ...]:
    """Element boxes (x, y, width, height) in CSS pixels of the viewport, as
    regions of a screenshot whose top-left corner stands at `origin` in the
    viewport and which has `scale` pixels to the CSS pixel: widened to whole
    pixels so that each covers all of its element, cut at the top and left
    edges (the module cuts them at the others)."""
    found = []
    for x, y, width, height in boxes:
        left = max(math.floor((x - origin[0]) * scale), 0)
        top = max(math.floor((y - origin[1]) * scale), 0)
        right = math.ceil((x + width - origin[0]) * scale)
        bottom = math.ceil((y + height - origin[1]) * scale)
        if right > left and bottom > top:
            found.append((left, top, right - left, bottom - top))
    return tuple(found)


def same_pixels(first: Shot, second: Shot) -> bool:
    """Whether two captures show the same pixels outside their regions."""
    if first.png == second.png:
        return True
    comparison = quorvane.Comparison(first.png, second.png, ignore=first.regions + second.regions)
    return not comparison.size_mismatch and comparison.diff_count(threshold=0.0, include_aa=True) == 0


def run_sync(steps: Generator[Any, Any, T]) -> T:
    """Runs steps whose every yield is a result already (a sync library's)."""
    __tracebackhide__ = True
    value = None
    try:
        while True:
            value = steps.send(value)
    except StopIteration as done:
        return done.value  # type: ignore[no-any-return]


async def run_async(steps: Generator[Any, Any, T]) -> T:
    """Runs steps that yield awaitables (an async library's calls): each is
    awaited, and its result or its exception handed back."""
    __tracebackhide__ = True
    value: Any = None
    error: BaseException | None = None
    try:
        while True:
            step = steps.send(value) if error is None else steps.throw(error)
            value, error = None, None
            try:
                value = (await step) if inspect.isawaitable(step) else step
            except Exception as raised:
                error = raised
    except StopIteration as done:
        return done.value  # type: ignore[no-any-return]
