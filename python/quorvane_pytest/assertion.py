"""The values of the `assert_screenshot` and `assert_screenshot_async`
fixtures, and what one test's calls share: the numbering of its unnamed
screenshots, its baselines, its soft failures and its calls not awaited yet.

A call is one generator (`Screenshots.steps`), run by capture.run_sync for the sync
fixture and awaited through capture.run_async for the async one: the first
capture is compared with the baseline, and only a mismatch or a missing
baseline starts capturing until two captures in a row agree."""

from __future__ import annotations

import dataclasses
import time
from collections.abc import Generator
from typing import Any

import pytest

from quorvane_cli import safe_files
from quorvane_cli.safe_files import shown
from quorvane_cli.settings import Limits, Rectangle, Settings
from quorvane_pytest import browsers, capture, check, naming, options
from quorvane_pytest.capture import Shot
from quorvane_pytest.session import Run


@dataclasses.dataclass(frozen=True)
class Arguments:
    target: Any
    name: Any
    limits: dict[str, Any]
    ignore: Any
    mask: Any
    full_page: bool
    timeout: Any
    soft: Any
    scale: Any
    style: Any


def assert_screenshot(
    target: Any,
    name: str | None = None,
    *,
    max_diff_pixels: int | None = None,
    max_diff_pixel_ratio: float | None = None,
    min_ssim: float | None = None,
    max_cluster_pixels: int | None = None,
    threshold: float | None = None,
    allow_shifts: bool | None = None,
    row_threshold: float | str | None = None,
    max_edit_ratio: float | None = None,
    ignore: Any = (),
    mask: Any = (),
    full_page: bool = True,
    timeout: float = 5.0,
    soft: bool | None = None,
    scale: str | None = None,
    style: str | None = None,
) -> Arguments:
    """The arguments of a call of either fixture, by the fixtures' signature."""
    limits = {
        "max_diff_pixels": max_diff_pixels,
        "max_diff_pixel_ratio": max_diff_pixel_ratio,
        "min_ssim": min_ssim,
        "max_cluster_pixels": max_cluster_pixels,
        "threshold": threshold,
        "allow_shifts": allow_shifts,
        "row_threshold": row_threshold,
        "max_edit_ratio": max_edit_ratio,
    }
    return Arguments(target, name, limits, ignore, mask, full_page, timeout, soft, scale, style)


@dataclasses.dataclass
class Call:
    """One call, its arguments checked."""

    screenshot: check.Screenshot
    settings: Settings
    limits: Limits
    timeout: float
    soft: bool
    ignore: tuple[Rectangle, ...]
    given: Shot | None = None  # the PNG given, or
    browser: browsers.Browser | None = None  # the target to capture
    look: browsers.Look = dataclasses.field(default_factory=browsers.Look)

    def shot(self, seconds: float) -> Generator[Any, Any, Shot]:
        if self.given is not None:
            return self.given
        assert self.browser is not None
        return (yield from capture.browser_shot(self.browser, self.look, self.ignore, seconds))


@dataclasses.dataclass
class Pending:
    """A call of the async fixture: it runs when awaited."""

    test: Screenshots
    arguments: Arguments
    awaited: bool = False

    def __await__(self) -> Generator[Any, None, None]:
        self.awaited = True
        return capture.run_async(self.test.steps(self.arguments, asynchronous=True)).__await__()


@dataclasses.dataclass
class Screenshots:
    """The screenshots of one test, whichever fixture takes them."""

    run: Run
    test: naming.Test
    unnamed_calls: int = 0
    baselines: set[str] = dataclasses.field(default_factory=set)
    soft_failures: list[str] = dataclasses.field(default_factory=list)
    pending: list[Pending] = dataclasses.field(default_factory=list)

    def steps(self, arguments: Arguments, asynchronous: bool) -> Generator[Any, Any, None]:
        __tracebackhide__ = True
        call = self.call(arguments, asynchronous)
        try:
            yield from self.compared(call)
        except AssertionError as failure:
            if not call.soft:
                raise
            self.soft_failures.append(str(failure))

    def call(self, arguments: Arguments, asynchronous: bool) -> Call:
        """The call's arguments checked, its target's capturer and its baseline."""
        __tracebackhide__ = True
        run = self.run
        given = options.call_values(**arguments.limits)
        settings, limits = options.settings_and_limits({**run.defaults, **given})
        timeout = options.timeout_value(arguments.timeout)
        soft, scale, style = options.look_values(arguments.soft, arguments.scale, arguments.style, run.capturing)
        ignore = capture.checked_regions(arguments.ignore)
        mask = tuple(arguments.mask)
        target = arguments.target
        if capture.is_image(target):
            if mask:
                raise TypeError(
                    "assert_screenshot: mask takes elements of a Playwright or Selenium target; "
                    "leave regions of PNG bytes or a file out with ignore=((x, y, width, height), ...)"
                )
            shot = capture.given_shot(target, ignore)
            screenshot = self.screenshot(arguments.name, "none")
            return Call(screenshot, settings, limits, timeout, soft, ignore, given=shot)
        check_kind(target, asynchronous)
        browser = browsers.target_of(target, arguments.full_page)
        if browser is None:
            raise TypeError(
                "assert_screenshot: the target must be PNG bytes, the path of a PNG file, a Playwright "
                "Page or Locator, or a Selenium WebDriver or WebElement, "
                f"not {type(target).__name__}"
            )
        browser.check_masks(mask)
        look = browsers.Look(mask, run.capturing.selectors, style, scale, bool(arguments.full_page))
        screenshot = self.screenshot(arguments.name, browser.name)
        return Call(screenshot, settings, limits, timeout, soft, ignore, browser=browser, look=look)

    def compared(self, call: Call) -> Generator[Any, Any, None]:
        """The first capture when it matches its baseline; else captures until
        two in a row agree, and the last one judged. The timeout bounds it all."""
        __tracebackhide__ = True
        run, screenshot, settings, limits = self.run, call.screenshot, call.settings, call.limits
        deadline = time.monotonic() + call.timeout
        first = yield from call.shot(call.timeout)
        judged = check.judge(screenshot, first, settings, limits)
        if judged.passed or call.browser is None:
            check.conclude(run, screenshot, first, judged, limits)
            return
        shots, captures = [first], 1
        while (left := deadline - time.monotonic()) > 0:
            try:
                shot = yield from call.shot(left)
            except call.browser.timeout_errors():
                break
            shots, captures = [shots[-1], shot], captures + 1
            if capture.same_pixels(*shots):
                check.conclude(run, screenshot, shot, check.judge(screenshot, shot, settings, limits), limits)
                return
        why = (
            f"did not settle: {captures} captures in {call.timeout:g} s, none the same as the one before it"
            if captures > 1
            else f"did not settle: only one capture fitted in {call.timeout:g} s"
        )
        raise check.unsettled(run, screenshot, shots, settings, why)

    def screenshot(self, name: object, browser: str) -> check.Screenshot:
        """The screenshot's name and places: a baseline of its own, apart from
        the output folder."""
        __tracebackhide__ = True
        run, test = self.run, self.test
        if name is None:
            self.unnamed_calls += 1
            file_name = naming.default_name(test, self.unnamed_calls)
        else:
            file_name = naming.given_name(name)
        baseline = run.places.baseline(test, file_name, browser)
        naming.check_name_length(baseline)
        shown_baseline = naming.shown(baseline, run.invocation_dir)
        if safe_files.is_within(baseline.parent, run.output.root):
            raise ValueError(
                f"assert_screenshot: the baseline {shown_baseline} would lie in --screenshot-output "
                f"{naming.shown(run.output.root, run.invocation_dir)}, whose files each session removes: "
                "choose an output folder apart from the baselines"
            )
        if str(baseline) in self.baselines:
            raise ValueError(
                f"assert_screenshot: the name {shown(file_name)} is used twice in this test (baseline "
                f"{shown_baseline}): give each screenshot a name of its own"
            )
        self.baselines.add(str(baseline))
        other = run.book.claim(baseline, test.nodeid)
        if other is not None:
            raise ValueError(
                f"assert_screenshot: the baseline {shown_baseline} is also the baseline of {shown(other)}: "
                "two tests never share one; give the screenshots names of their own"
            )
        run.book.browsers.add(browser)
        return check.Screenshot(
            name=baseline.name,
            label=f"{test.nodeid} · {baseline.name}",
            baseline=baseline,
            output=run.output.folder / naming.output_folder(test.nodeid),
        )

    def finish(self) -> None:
        """At the end of the test's call: a call never awaited, or the soft
        failures, fail the test in one message."""
        __tracebackhide__ = True
        forgotten = sum(not pending.awaited for pending in self.pending)
        if forgotten:
            pytest.fail(
                f"assert_screenshot_async was called {forgotten} time{'' if forgotten == 1 else 's'} without "
                "await: its screenshot was never compared; write `await assert_screenshot_async(...)`",
                pytrace=False,
            )
        if self.soft_failures:
            count = len(self.soft_failures)
            pytest.fail(
                f"{count} screenshot{'' if count == 1 else 's'} failed (soft):\n\n" + "\n\n".join(self.soft_failures),
                pytrace=False,
            )


def check_kind(target: object, asynchronous: bool) -> None:
    """A Playwright target of the other API names the fixture that takes it."""
    __tracebackhide__ = True
    kind = browsers.playwright_kind(target)
    if asynchronous and kind == browsers.PLAYWRIGHT_SYNC:
        raise TypeError(
            f"assert_screenshot_async takes targets of Playwright's async API; this {type(target).__name__} "
            "is of its sync API: use the assert_screenshot fixture"
        )
    if not asynchronous and kind == browsers.PLAYWRIGHT_ASYNC:
        raise TypeError(
            f"assert_screenshot takes targets of Playwright's sync API; this {type(target).__name__} is of "
            "its async API: use the assert_screenshot_async fixture, awaited"
        )


class AssertScreenshot:
    """The value of the `assert_screenshot` fixture."""

    def __init__(self, test: Screenshots) -> None:
        self.test = test
        self.run = test.run

    def __call__(self, *args: Any, **kwargs: Any) -> None:
        """assert_screenshot(target, name=None, *, max_diff_pixels=None, ...):
        compares the target (PNG bytes, the path of a PNG file, a Playwright
        Page or Locator, a Selenium WebDriver or WebElement) with its
        baseline; raises AssertionError when it is missing, cannot be
        decoded, has another size or differs beyond the limits."""
        __tracebackhide__ = True
        capture.run_sync(self.test.steps(assert_screenshot(*args, **kwargs), asynchronous=False))


class AssertScreenshotAsync:
    """The value of the `assert_screenshot_async` fixture: the same call,
    awaited, for targets of Playwright's async API."""

    def __init__(self, test: Screenshots) -> None:
        self.test = test
        self.run = test.run

    def __call__(self, *args: Any, **kwargs: Any) -> Pending:
        pending = Pending(self.test, assert_screenshot(*args, **kwargs))
        self.test.pending.append(pending)
        return pending
