"""The value of the `assert_screenshot` fixture: one per test, numbering
the test's screenshots that have no name of their own."""

from quorvane_pytest import capture, check, naming, options


class AssertScreenshot:
    def __init__(self, run, test):
        self.run, self.test = run, test
        self.unnamed_calls = 0

    def __call__(
        self,
        target,
        name=None,
        *,
        max_diff_pixels=None,
        max_diff_pixel_ratio=None,
        min_ssim=None,
        max_cluster_pixels=None,
        threshold=None,
        allow_shifts=None,
        row_threshold=None,
        max_edit_ratio=None,
        ignore=(),
        mask=(),
        full_page=True,
        timeout=5.0,
    ):
        """Compares the target (PNG bytes, the path of a PNG file, a
        Playwright Page or Locator, a Selenium WebDriver or WebElement) with
        its baseline; raises AssertionError when it is missing, cannot be
        decoded, has another size or differs beyond the limits."""
        __tracebackhide__ = True
        given = options.call_values(
            max_diff_pixels=max_diff_pixels,
            max_diff_pixel_ratio=max_diff_pixel_ratio,
            min_ssim=min_ssim,
            max_cluster_pixels=max_cluster_pixels,
            threshold=threshold,
            allow_shifts=allow_shifts,
            row_threshold=row_threshold,
            max_edit_ratio=max_edit_ratio,
        )
        settings, limits = options.settings_and_limits({**self.run.defaults, **given})
        screenshot = self.screenshot(name)
        try:
            shot = capture.actual_shot(target, ignore, mask, full_page, timeout)
        except capture.NotSettled as error:
            raise AssertionError(f"screenshot {screenshot.name}: {error}") from None
        check.check(self.run, screenshot, shot, settings, limits)

    def screenshot(self, name):
        if name is None:
            self.unnamed_calls += 1
            name = naming.default_name(self.test, self.unnamed_calls)
        else:
            name = naming.given_name(name)
        run, test = self.run, self.test
        return check.Screenshot(
            name=name,
            label=f"{test.nodeid} · {name}",
            baseline=naming.baseline_folder(test, run.rootdir, run.screenshot_dir) / name,
            output=run.output_dir / naming.output_folder(test.nodeid),
        )
