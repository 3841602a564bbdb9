"""The assert_screenshot fixture run by pytest itself (pytester): missing,
matching, changed and updated baselines, names and places, limits from the
ini file and the call, sizes and shifts, ignore regions, undecodable
baselines, whole baseline writes, the report page with pytest-xdist; and
the plain functions under it."""

import itertools
import re

import numpy as np
import pytest

import quorvane
import screens
from imaging import png_bytes, pypng_rgba
from quorvane_pytest import capture, naming

pytest_plugins = ["pytester"]

BASE = screens.page()  # 48x96 of noise: every row distinct, so rows align unambiguously
CHANGED = screens.with_block(BASE)  # an 8x8 black square at (10, 20)
MAGENTA = (255, 0, 255)
OUTPUT = "test-results/screenshots"

ONE_CALL = """
def test_page(assert_screenshot):
    assert_screenshot("current.png", "page"{arguments})
"""


def one_call(tester, baseline, current, arguments=""):
    """A test file comparing current.png with the baseline page.png (none
    written when None); returns the baseline's path."""
    baseline_path = tester.path / "__screenshots__/test_one/page.png"
    if baseline is not None:
        tester.png(baseline_path, baseline)
    tester.png("current.png", current)
    tester.pytester.makepyfile(test_one=ONE_CALL.format(arguments=arguments))
    return baseline_path


def failure_image(tester, suffix):
    return pypng_rgba((tester.path / OUTPUT / "test_one.py--test_page" / f"page-{suffix}.png").read_bytes())


def changed_pixels(baseline, current, **options):
    return quorvane.Comparison(png_bytes(baseline), png_bytes(current)).diff_count(**options)


def test_a_baseline_is_written_then_matched_then_failed_then_updated(screenshot_tester):
    tester = screenshot_tester
    baseline = one_call(tester, None, BASE)
    result = tester.run()
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*screenshot page.png: no baseline: written from this screenshot at "
                                 "__screenshots__/test_one/page.png; the next run compares with it",
                                 "*__screenshots__/test_one/page.png (new)"])
    assert np.array_equal(pypng_rgba(baseline.read_bytes()), BASE)

    tester.run().assert_outcomes(passed=1)
    assert not (tester.path / OUTPUT).exists()  # the last session's images are gone

    tester.png("current.png", CHANGED)
    result = tester.run()
    result.assert_outcomes(failed=1)
    text = result.stdout.str()
    assert f"page.png differs from its baseline: {changed_pixels(BASE, CHANGED)} pixels changed, more than 0" in text
    x, y, width, height = map(int, re.search(r"(\d+)x(\d+) at \((\d+), (\d+)\)", text).group(3, 4, 1, 2))
    assert x <= 10 and y <= 20 and x + width >= 18 and y + height >= 28  # the cluster holds the square
    assert np.array_equal(failure_image(tester, "expected"), BASE)
    assert np.array_equal(failure_image(tester, "actual"), CHANGED)
    diff = failure_image(tester, "diff")
    assert (diff[20:28, 10:18, :3] == (255, 0, 0)).all() and (diff[:20, :, :3] != (255, 0, 0)).any(axis=-1).all()
    for suffix in ("expected", "actual", "diff"):
        assert f"{OUTPUT}/test_one.py--test_page/page-{suffix}.png" in text
    assert "test_one.py::test_page · page.png" in (tester.path / OUTPUT / "index.html").read_text()

    result = tester.run("--update-screenshots")
    result.assert_outcomes(passed=1)
    result.stdout.fnmatch_lines(["*1 baseline written:", "*__screenshots__/test_one/page.png (updated)"])
    assert np.array_equal(pypng_rgba(baseline.read_bytes()), CHANGED)
    tester.run().assert_outcomes(passed=1)


NAMES = """
import pytest

def test_plain(assert_screenshot):
    for name in (None, "named", None, "logo.png", None):
        assert_screenshot("current.png", name)

class TestCart:
    @pytest.mark.parametrize("size", ["small", "a/b c"])
    def test_total(self, assert_screenshot, size):
        assert_screenshot("current.png")

def test_{long}(assert_screenshot):
    assert_screenshot("current.png")
    assert_screenshot("current.png")
"""


@pytest.mark.parametrize("ini, folder", [("", "tests/__screenshots__/test_names"),
                                         ("screenshot_dir = shots", "shots/tests/test_names")],
                         ids=["beside the tests", "screenshot_dir"])
def test_names_and_places(screenshot_tester, ini, folder):
    tester = screenshot_tester
    tester.png("current.png", BASE)
    long = "x" * 120
    (tester.path / "tests").mkdir()
    (tester.path / "tests/test_names.py").write_text(NAMES.replace("{long}", long))
    tester.run("--update-screenshots", ini=ini).assert_outcomes(passed=4)
    written = sorted(path.name for path in (tester.path / folder).iterdir())
    cut = f"test_{long}"[:100]
    assert written == sorted(["test_plain.png", "named.png", "test_plain-2.png", "logo.png", "test_plain-3.png",
                              "TestCart-test_total-small-.png", "TestCart-test_total-a-b-c-.png",
                              f"{cut}.png", f"{cut}-2.png"])


def test_long_test_ids_get_folders_of_their_own():
    first, second = (f"tests/test_a.py::test_b[{'x' * 200}{end}]" for end in "12")
    assert len({naming.output_folder(first), naming.output_folder(second)}) == 2
    assert all(len(naming.output_folder(nodeid)) == 100 for nodeid in (first, second))


@pytest.mark.parametrize("ini, arguments, passes", [
    ("", "", False),  # no limit anywhere: any changed pixel fails
    ("screenshot_max_diff_pixels = {pixels}", "", True),
    ("screenshot_max_diff_pixels = {below}", "", False),
    ("screenshot_max_diff_pixels = {below}", ", max_diff_pixels={pixels}", True),
    ("screenshot_max_diff_pixels = {pixels}", ", max_diff_pixels={below}", False),
    ("screenshot_max_diff_pixel_ratio = {ratio}", "", True),
    ("screenshot_max_diff_pixel_ratio = {ratio}", ", max_diff_pixel_ratio={ratio} / 2", False),
    ("screenshot_min_ssim = 0", "", False),  # an SSIM limit alone leaves the pixel limit at 0
    ("screenshot_max_diff_pixels = {pixels}\nscreenshot_min_ssim = 1", "", False),
    ("screenshot_threshold = 1", "", True),  # no colour is that far from another
    ("screenshot_threshold = 1", ", threshold=0.1", False),
])
def test_limits_from_the_ini_file_and_the_call(screenshot_tester, ini, arguments, passes):
    pixels = changed_pixels(BASE, CHANGED)
    values = {"pixels": pixels, "below": pixels - 1, "ratio": 1.001 * pixels / BASE[..., 0].size}
    one_call(screenshot_tester, BASE, CHANGED, arguments.format(**values))
    result = screenshot_tester.run(ini=ini.format(**values))
    result.assert_outcomes(passed=int(passes), failed=int(not passes))


def taller(image, rows=6, at=40):
    return np.concatenate([image[:at], screens.page(rows, image.shape[1], 9), image[at:]])


@pytest.mark.parametrize("current, arguments, message", [
    (taller(BASE), "", "the screenshot is 48x102, its baseline 48x96"),
    (taller(BASE), ", allow_shifts=True", None),  # content pushed down: a shift
    (taller(CHANGED), ", allow_shifts=True", r"\d+ pixels changed in place, more than 0"),
    (np.concatenate([BASE, BASE[:, :4]], axis=1), ", allow_shifts=True",
     "the screenshot is 52x96, its baseline 48x96"),  # rows of another width never align
])
def test_a_baseline_of_another_size(screenshot_tester, current, arguments, message):
    one_call(screenshot_tester, BASE, current, arguments)
    result = screenshot_tester.run()
    if message is None:
        result.assert_outcomes(passed=1)
        return
    result.assert_outcomes(failed=1)
    assert re.search(f"page.png differs from its baseline: {message}", result.stdout.str())
    aligned = screenshot_tester.path / OUTPUT / "test_one.py--test_page/page-aligned-diff.png"
    assert aligned.exists() == (current.shape[1] == BASE.shape[1])  # written where rows were shifted


@pytest.mark.parametrize("region, passes", [((8, 18, 12, 12), True), ((0, 0, 8, 8), False)],
                         ids=["over the change", "elsewhere"])
def test_ignored_regions_are_left_out_and_painted(screenshot_tester, region, passes):
    one_call(screenshot_tester, BASE, CHANGED, f", ignore=[{region}]")
    result = screenshot_tester.run()
    result.assert_outcomes(passed=int(passes), failed=int(not passes))
    if not passes:
        x, y, width, height = region
        assert (failure_image(screenshot_tester, "diff")[y:y + height, x:x + width, :3] == MAGENTA).all()


@pytest.mark.parametrize("update", [False, True])
def test_an_undecodable_baseline(screenshot_tester, update):
    baseline = one_call(screenshot_tester, None, BASE)
    baseline.parent.mkdir(parents=True)
    baseline.write_bytes(b"\x89PNG\r\n\x1a\n not a PNG at all")
    result = screenshot_tester.run(*["--update-screenshots"] * update)
    if update:
        result.assert_outcomes(passed=1)
        assert np.array_equal(pypng_rgba(baseline.read_bytes()), BASE)
    else:
        result.assert_outcomes(failed=1)
        result.stdout.fnmatch_lines(["*screenshot page.png: the baseline __screenshots__/test_one/page.png "
                                     "does not decode: failed to decode PNG*"])


INTERRUPTED = """
import os, pytest

def test_page(assert_screenshot, monkeypatch):
    def power_cut(fd):
        raise RuntimeError("power cut")
    monkeypatch.setattr(os, "fsync", power_cut)
    with pytest.raises(RuntimeError, match="power cut"):
        assert_screenshot("current.png", "page")
"""


def test_an_interrupted_write_leaves_the_old_baseline_whole(screenshot_tester):
    baseline = one_call(screenshot_tester, BASE, CHANGED)
    old = baseline.read_bytes()
    screenshot_tester.pytester.makepyfile(test_one=INTERRUPTED)
    screenshot_tester.run("--update-screenshots").assert_outcomes(passed=1)
    assert baseline.read_bytes() == old
    assert [path.name for path in baseline.parent.iterdir()] == ["page.png"]


@pytest.mark.parametrize("arguments, error", [
    (", mask=[object()]", "TypeError: assert_screenshot: mask takes elements of a Playwright or Selenium target*"),
    (", ignore=[(0, 0, 0, 5)]", "ValueError: *"),
    (", max_diff_pixel_ratio=2", "ValueError: assert_screenshot: max_diff_pixel_ratio must be a fraction*"),
    (", timeout=0", "ValueError: assert_screenshot: timeout must be a positive number*"),
])
def test_wrong_arguments(screenshot_tester, arguments, error):
    one_call(screenshot_tester, BASE, BASE, arguments)
    result = screenshot_tester.run()
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines([f"E   *{error}"])


@pytest.mark.parametrize("ini, arguments, error", [
    ("screenshot_max_diff_pixels = -1", [], "screenshot_max_diff_pixels must be a whole number, 0 or more, not -1"),
    ("", ["--screenshot-output", "."], "--screenshot-output * holds *; it is emptied at the start of every session*"),
    ("", ["--screenshot-output", "kept"], "--screenshot-output *kept is not a folder the plugin made*"),
])
def test_usage_errors(screenshot_tester, ini, arguments, error):
    one_call(screenshot_tester, BASE, BASE)
    screenshot_tester.png("kept/file.png", BASE)
    result = screenshot_tester.run(*arguments, ini=ini)
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines([f"*{error}"])
    assert (screenshot_tester.path / "kept/file.png").exists()


FAILURES = """
def test_missing(assert_screenshot):
    assert_screenshot("current.png")

def test_undecodable(assert_screenshot):
    assert_screenshot("current.png")

def test_changed(assert_screenshot):
    assert_screenshot("current.png")

def test_matching(assert_screenshot):
    assert_screenshot("current.png")
"""


@pytest.mark.parametrize("workers", [0, 2], ids=["one process", "two xdist workers"])
def test_the_report_page_covers_every_failed_screenshot(screenshot_tester, workers):
    if workers:
        pytest.importorskip("xdist", reason="pytest-xdist is not installed (requirements-dev.txt has it)")
    tester = screenshot_tester
    tester.png("current.png", CHANGED)
    folder = tester.path / "__screenshots__/test_all"
    tester.png(folder / "test_changed.png", BASE)
    tester.png(folder / "test_matching.png", CHANGED)
    (folder / "test_undecodable.png").write_bytes(b"garbage")
    tester.pytester.makepyfile(test_all=FAILURES)
    result = tester.run(workers=workers)
    result.assert_outcomes(passed=1, failed=3)
    result.stdout.fnmatch_lines(["*1 baseline written:", "*__screenshots__/test_all/test_missing.png (new)",
                                 f"*3 screenshots failed; report: {OUTPUT}/index.html"])
    page = (tester.path / OUTPUT / "index.html").read_text()
    articles = dict(re.findall(r'<article class="pair" id="pair-\d+" data-status="(\w+)">.*?<h2><a [^>]*>([^<]*)</a>',
                               page))
    assert articles == {"changed": "test_all.py::test_changed · test_changed.png",
                        "error": "test_all.py::test_undecodable · test_undecodable.png",
                        "new": "test_all.py::test_missing · test_missing.png"}
    for source in re.findall(r'src="([^"]+)"', page):
        assert (tester.path / OUTPUT / source).is_file()


@pytest.mark.parametrize("boxes, origin, scale, regions", [
    ([(10, 20, 30, 40)], (0, 0), 1, [(10, 20, 30, 40)]),
    ([(10, 20, 30, 40)], (0, -500), 1, [(10, 520, 30, 40)]),  # a full page scrolled down 500 pixels
    ([(10, 20, 30, 40)], (5, 15), 2, [(10, 10, 60, 80)]),  # inside an element at (5, 15), two device pixels a pixel
    ([(10.25, 20.5, 3.5, 4)], (0, 0), 2, [(20, 41, 8, 8)]),  # widened to whole pixels
    ([(-10, -20, 30, 40)], (0, 0), 1, [(0, 0, 20, 20)]),  # cut at the edges
    ([(-10, 20, 5, 40), (10, 20, 0, 40)], (0, 0), 1, []),  # outside, and without area
])
def test_mask_boxes_in_screenshot_pixels(boxes, origin, scale, regions):
    assert capture.pixel_regions(boxes, origin, scale) == tuple(regions)


def test_captures_settle_when_two_in_a_row_agree():
    images = [png_bytes(image) for image in (BASE, CHANGED, BASE, BASE, CHANGED)]
    given = []

    def capture_next(seconds):
        given.append(seconds)
        return capture.Shot(images[len(given) - 1], ())

    shot = capture.settled(capture_next, 5.0, clock=lambda: 0.0)
    assert shot.png == images[3] and given == [5.0] * 4

    seeds, seconds = itertools.count(), itertools.count()
    with pytest.raises(capture.NotSettled, match="3 captures in 3 s"):
        capture.settled(lambda _: capture.Shot(png_bytes(screens.page(seed=next(seeds))), ()), 3.0,
                        clock=lambda: next(seconds))
