"""The assert_screenshot fixture run by pytest itself (pytester), in one
process and with pytest-xdist; and the plain functions under it."""

import itertools
import os
import re
import types

import numpy as np
import pytest
import screens
from conftest import BUILD_DIR, ROOT
from imaging import png_bytes, pypng_rgba

import quorvane
from quorvane_cli import main, manifest
from quorvane_pytest import assertion, browsers, capture, naming, session

pytest_plugins = ["pytester"]

BASE = screens.page()  # 48x96 of noise: every row distinct, so rows align unambiguously
CHANGED = screens.with_block(BASE)  # an 8x8 black square at (10, 20)
WIDER = np.concatenate([BASE, BASE[:, :4]], axis=1)
PIXELS = quorvane.Comparison(png_bytes(BASE), png_bytes(CHANGED)).diff_count()  # changed in CHANGED
OUTPUT = "test-results/screenshots"

ONE_CALL = """
def test_page(assert_screenshot):
    assert_screenshot("current.png", "page"{arguments})
"""


class PluginRuns:
    """pytester running the plugin from the source tree, not by its entry
    point (nor any other plugin of the machine), in this process or in a run
    of its own with pytest-xdist workers."""

    def __init__(self, pytester):
        self.pytester, self.path = pytester, pytester.path

    def png(self, name, image):
        screens.write(self.path / name, image)

    def run(self, *args, ini="", workers=0, own_process=False):
        self.pytester.makeini(f"[pytest]\n{ini}\n")
        args = ("-p", "quorvane_pytest.plugin", "-p", "no:cacheprovider", *args)
        if workers:  # the workers take the sys.path of the process that first imported xdist
            return self.pytester.runpytest_subprocess("-p", "xdist.plugin", "-n", str(workers), *args)
        if own_process:
            return self.pytester.runpytest_subprocess(*args)
        return self.pytester.runpytest(*args)


def plugin_runs(pytester, monkeypatch):
    paths = [str(BUILD_DIR), str(ROOT / "python"), os.environ.get("PYTHONPATH", "")]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(path for path in paths if path))
    monkeypatch.setenv("PYTEST_DISABLE_PLUGIN_AUTOLOAD", "1")
    return PluginRuns(pytester)


@pytest.fixture
def tester(pytester, monkeypatch):
    return plugin_runs(pytester, monkeypatch)


def one_call(tester, baseline, current, arguments=""):
    """A test file comparing current.png with the baseline page.png (none
    written when None); returns the baseline's path."""
    baseline_path = tester.path / "__screenshots__/test_one/page.png"
    if baseline is not None:
        tester.png(baseline_path, baseline)
    tester.png("current.png", current)
    tester.pytester.makepyfile(test_one=ONE_CALL.format(arguments=arguments))
    return baseline_path


NAMES = """
import pytest

def test_plain(assert_screenshot):
    for name in (None, "named", None, "logo.png", None):
        assert_screenshot("current.png", name)

class TestCart:
    @pytest.mark.parametrize("size", ["small", "a/b c", "en/home", "en:home", "x" * 99 + "1", "x" * 99 + "2"])
    def test_total(self, assert_screenshot, size):
        assert_screenshot("current.png")

def test_{long}(assert_screenshot):
    assert_screenshot("current.png")
    assert_screenshot("current.png")
"""
HASHED = "-[0-9a-f]{8}"


def test_names_and_places_under_the_screenshot_dir(tester):
    """Ids that differ never share a file: a name made safe or cut ends
    with a hash of the id; a plain one is kept as it is."""
    tester.png("current.png", BASE)
    long = "x" * 120
    (tester.path / "tests").mkdir()
    (tester.path / "tests/test_names.py").write_text(NAMES.replace("{long}", long))
    tester.run("--update-screenshots", ini="screenshot_dir = shots").assert_outcomes(passed=8)
    written = sorted(path.name for path in (tester.path / "shots/tests/test_names").iterdir())
    cut = f"test_{long}"[:91]
    plain = ["test_plain.png", "named.png", "test_plain-2.png", "logo.png", "test_plain-3.png"]
    hashed = ["a-b-c", "en-home", "en-home", "x" * 71, "x" * 71]
    expected = [
        *plain,
        "TestCart-test_total-small.png",
        *(f"TestCart-test_total-{name}{HASHED}.png" for name in hashed),
    ]
    expected += [f"{cut}{HASHED}.png", f"{cut}{HASHED}-2.png"]
    assert len(written) == len(expected)
    assert all(re.fullmatch(pattern, name) for pattern, name in zip(sorted(expected), written))
    assert all(len(name) <= 100 + len("-2.png") for name in written)


def test_long_test_ids_get_folders_of_their_own():
    first, second = (f"tests/test_a.py::test_b[{'x' * 200}{end}]" for end in "12")
    assert len({naming.output_folder(first), naming.output_folder(second)}) == 2
    assert all(len(naming.output_folder(nodeid)) == 100 for nodeid in (first, second))


@pytest.mark.parametrize(
    "ini, current, arguments, failure",
    [
        ("", CHANGED, "", "{pixels} pixels changed, more than 0"),  # no limit anywhere: any changed pixel fails
        ("screenshot_max_diff_pixels = {pixels}", CHANGED, "", None),
        ("screenshot_max_diff_pixels = {below}", CHANGED, ", max_diff_pixels={pixels}", None),
        ("screenshot_max_diff_pixels = {pixels}", CHANGED, ", max_diff_pixels={below}", "more than {below}"),
        ("screenshot_max_diff_pixel_ratio = {ratio}", CHANGED, "", None),
        ("screenshot_max_diff_pixel_ratio = {ratio}", CHANGED, ", max_diff_pixel_ratio={ratio} / 2", "% of the pixels"),
        ("screenshot_min_ssim = 0", CHANGED, "", "more than 0"),  # an SSIM limit alone leaves the pixel limit at 0
        ("screenshot_max_diff_pixels = {pixels}\nscreenshot_min_ssim = 1", CHANGED, "", "SSIM 0.9"),
        ("screenshot_max_cluster_pixels = {pixels}", CHANGED, "", None),  # the block is one cluster
        ("", CHANGED, ", max_cluster_pixels={below}", "{pixels} changed pixels in one cluster, more than {below}"),
        ("screenshot_threshold = 1", CHANGED, "", None),  # no colour is that far from another
        ("screenshot_threshold = 1", CHANGED, ", threshold=0.1", "more than 0"),
        ("", CHANGED, ", ignore=[(8, 18, 12, 12)]", None),
        ("", CHANGED, ", ignore=[(0, 0, 8, 8)]", "more than 0"),
        ("", screens.taller(BASE), "", "the screenshot is 48x102, its baseline 48x96"),
        # Content added at the bottom: rows inserted, which count with shifts allowed.
        ("screenshot_allow_shifts = true\nscreenshot_max_diff_pixels = 288", screens.taller(BASE), "", None),
        ("screenshot_allow_shifts = true", screens.taller(BASE), "", "(0 in place, 288 in inserted rows, 0 in"),
        ("", screens.taller(CHANGED), ", allow_shifts=True", " in place, 288 in inserted rows, 0 in deleted rows)"),
        ("", WIDER, ", allow_shifts=True", "the screenshot is 52x96, its baseline"),  # rows of another width
        # Arguments refused.
        ("", BASE, ", mask=[object()]", "TypeError: {call}mask takes elements of a Playwright or Selenium"),
        ("", BASE, ", ignore=[(0, 0, 0, 5)]", "RegionError: {region}(0, 0, 0, 5) has a width below 1"),
        ("", BASE, ", max_diff_pixel_ratio=2", "ValueError: {call}max_diff_pixel_ratio must be a fraction"),
        ("", BASE, ", timeout=0", "ValueError: {call}timeout must be a number of seconds above 0, not 0"),
        ("", BASE, ", timeout=1e306", "ValueError: {call}timeout must be at most 2000000, not 1e+306"),
    ],
)
def test_limits_sizes_regions_and_arguments_from_the_ini_file_and_the_call(tester, ini, current, arguments, failure):
    values = {"pixels": PIXELS, "below": PIXELS - 1, "ratio": 1.001 * PIXELS / BASE[..., 0].size}
    values |= {"call": "assert_screenshot: ", "region": "argument 'ignore': rectangle "}
    one_call(tester, BASE, current, arguments.format(**values))
    result = tester.run(ini=ini.format(**values))
    result.assert_outcomes(passed=int(failure is None), failed=int(failure is not None))
    # A screenshot within its limits only because rows were shifted is said to be.
    assert ("1 screenshot passed with shifts:" in result.stdout.str()) == (failure is None and "allow_shifts" in ini)
    if failure is not None:
        assert failure.format(**values) in result.stdout.str()
        aligned = tester.path / OUTPUT / "test_one.py--test_page/page-aligned-diff.png"
        assert aligned.exists() == (len(current) > len(BASE))  # written where rows were inserted


INTERRUPTED = """
import os, pytest

def test_page(assert_screenshot, monkeypatch):
    def power_cut(fd):
        raise RuntimeError("power cut")
    monkeypatch.setattr(os, "fsync", power_cut)
    with pytest.raises(RuntimeError, match="power cut"):
        assert_screenshot("current.png", "page")
"""


def test_an_interrupted_write_leaves_the_old_baseline_whole(tester):
    baseline = one_call(tester, BASE, CHANGED)
    old = baseline.read_bytes()
    tester.pytester.makepyfile(test_one=INTERRUPTED)
    tester.run("--update-screenshots").assert_outcomes(passed=1)
    assert baseline.read_bytes() == old
    assert [path.name for path in baseline.parent.iterdir()] == ["page.png"]


@pytest.mark.parametrize(
    "ini, arguments, error",
    [
        ("screenshot_max_diff_pixels = -1", [], "screenshot_max_diff_pixels must be a whole number, 0 or more, not -1"),
        ("screenshot_scale = retina", [], "screenshot_scale must be 'device' or 'css', not retina"),
        ("screenshot_style_path = gone.css", [], "screenshot_style_path: *gone.css: No such file or directory"),
        ("", ["--screenshot-project", "a/b"], "--screenshot-project must be a name without '/'*"),
        ("screenshot_path_template = {test_dir}/{nme}{ext}", [], "*unknown token {nme}; the tokens are {test_dir}*"),
        ("screenshot_path_template = shots/{test_file}.png", [], "screenshot_path_template must hold {name}*"),
        ("screenshot_path_template = {name}{ext}\nscreenshot_dir = shots", [], "*give one of them"),
        # Output folders that would hold the tests or baselines.
        ("", ["--screenshot-output", "."], "--screenshot-output * holds *: it must be a folder of its own*"),
        ("", ["--screenshot-output", "kept"], "--screenshot-output *kept is not a folder the plugin made*"),
        ("", ["--screenshot-output", "tests/__screenshots__/out"], "*lies in a __screenshots__ folder, where*"),
        ("screenshot_dir = shots", ["--screenshot-output", "shots/out"], "*overlaps *shots, where baselines are kept*"),
        ("screenshot_dir = shots/out", ["--screenshot-output", "shots"], "*overlaps *shots/out, where baselines*"),
        ("screenshot_path_template = snaps/{platform}/{name}{ext}", ["--screenshot-output", "snaps"], "*overlaps*"),
        (
            "screenshot_path_template = {test_dir}/snaps/{test_file}/{name}{ext}",
            ["--screenshot-output", "tests/snaps/test_x"],
            "*lies where screenshot_path_template puts baselines*",
        ),
    ],
)
def test_usage_errors(tester, ini, arguments, error):
    one_call(tester, BASE, BASE)
    tester.png("kept/file.png", BASE)
    result = tester.run(*arguments, ini=ini)
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines([f"*{error}"])
    assert (tester.path / "kept/file.png").exists()


FAILURES = """
import pytest

@pytest.mark.parametrize("name", ["missing", "undecodable", "changed", "matching"])
def test_all(assert_screenshot, name):
    assert_screenshot("current.png", name)
"""


@pytest.mark.parametrize("workers", [0, 2], ids=["one process", "two xdist workers"])
def test_a_session_fails_writes_reports_updates_and_then_passes(tester, workers):
    if workers:
        pytest.importorskip("xdist", reason="pytest-xdist is not installed (requirements-dev.txt has it)")
    tester.png("current.png", CHANGED)
    folder = tester.path / "__screenshots__/test_all"
    tester.png(folder / "changed.png", BASE)
    tester.png(folder / "matching.png", CHANGED)
    tester.png(folder / "undecodable.png", b"garbage")
    tester.pytester.makepyfile(test_all=FAILURES)
    result = tester.run(workers=workers)
    result.assert_outcomes(passed=1, failed=3)
    text = result.stdout.str()
    assert (
        "screenshot missing.png: no baseline: written from this screenshot at __screenshots__/test_all/"
        "missing.png; the next run compares with it"
    ) in text
    assert (
        "screenshot undecodable.png: the baseline __screenshots__/test_all/undecodable.png does not decode: "
        "failed to decode PNG"
    ) in text
    assert f"changed.png differs from its baseline: {PIXELS} pixels changed, more than 0" in text
    x, y, width, height = map(int, re.search(r"(\d+)x(\d+) at \((\d+), (\d+)\)", text).group(3, 4, 1, 2))
    assert x <= 10 and y <= 20 and x + width >= 18 and y + height >= 28  # the cluster holds the square
    diff = pypng_rgba(quorvane.Comparison(png_bytes(BASE), png_bytes(CHANGED)).diff_image())
    for suffix, image in (("expected", BASE), ("actual", CHANGED), ("diff", diff)):
        written = f"{OUTPUT}/test_all.py--test_all-changed/changed-{suffix}.png"
        assert written in text and np.array_equal(pypng_rgba((tester.path / written).read_bytes()), image)
    written = ["*1 baseline written:", "*__screenshots__/test_all/missing.png (new)"]
    report = [f"*3 screenshots failed; report: {OUTPUT}/index.html", f"*quorvane review {OUTPUT}"]
    result.stdout.fnmatch_lines([*written, *report, f"*quorvane approve {OUTPUT} --all"])
    results = manifest.read(tester.path / OUTPUT)
    assert (results["root"], results["baseline_dir"], results["current_dir"]) == (str(tester.path), ".", OUTPUT)
    assert {pair["status"]: (pair["name"], pair["title"]) for pair in results["pairs"]} == {
        status: (f"__screenshots__/test_all/{name}.png", f"test_all.py::test_all[{name}] · {name}.png")
        for status, name in (("changed", "changed"), ("error", "undecodable"), ("new", "missing"))
    }
    page = (tester.path / OUTPUT / "index.html").read_text()
    assert all((tester.path / OUTPUT / source).is_file() for source in re.findall(r'src="([^"?]+)"', page))

    # Accepted from the results folder alone, the changed screenshot passes;
    # the undecodable baseline has nothing to accept.
    assert main(["approve", str(tester.path / OUTPUT), "--all"]) == 0
    assert (folder / "changed.png").read_bytes() == (tester.path / "current.png").read_bytes()
    result = tester.run(workers=workers)
    result.assert_outcomes(passed=3, failed=1)
    result = tester.run("--update-screenshots", workers=workers)
    result.assert_outcomes(passed=4)
    result.stdout.fnmatch_lines(["*1 baseline written:", "*undecodable.png (undecodable)"])
    assert {path.read_bytes() for path in folder.iterdir()} == {(tester.path / "current.png").read_bytes()}
    tester.run(workers=workers).assert_outcomes(passed=4)
    assert [path.name for path in (tester.path / OUTPUT).iterdir()] == [".quorvane-screenshots"]  # images gone


@pytest.mark.parametrize(
    "boxes, origin, scale, regions",
    [
        ([(10, 20, 30, 40)], (0, 0), 1, [(10, 20, 30, 40)]),
        ([(10, 20, 30, 40)], (0, -500), 1, [(10, 520, 30, 40)]),  # a full page scrolled down 500 pixels
        ([(10, 20, 30, 40)], (5, 15), 2, [(10, 10, 60, 80)]),  # inside an element at (5, 15), two device pixels a pixel
        ([(10.25, 20.5, 3.5, 4)], (0, 0), 2, [(20, 41, 8, 8)]),  # widened to whole pixels
        ([(-10, -20, 30, 40)], (0, 0), 1, [(0, 0, 20, 20)]),  # cut at the edges
        ([(-10, 20, 5, 40), (10, 20, 0, 40)], (0, 0), 1, []),  # outside, and without area
    ],
)
def test_mask_boxes_in_screenshot_pixels(boxes, origin, scale, regions):
    assert capture.pixel_regions(boxes, origin, scale) == tuple(regions)


class Scripted(browsers.Browser):
    """A browser whose captures are given images, counted."""

    def __init__(self, images):
        self.images, self.captures = iter(images), []

    def mask_type(self):
        return object

    def capture(self, look, seconds):
        self.captures.append(next(self.images))
        return browsers.Raw(png_bytes(self.captures[-1]), [], (0, 0), 1)
        yield


def blocks():
    """Pages whose block never stops moving."""
    for step in itertools.count():
        yield screens.with_block(BASE, y=10 + step % 2 * 40, x=8 + step % 3 * 12)


@pytest.mark.parametrize(
    "baseline, captured, update, outcome",
    [
        (BASE, [BASE], False, None),  # matching at once: one capture
        (BASE, [CHANGED, BASE, BASE], False, None),  # settles on the baseline's picture
        (BASE, [CHANGED, CHANGED], False, "differs from its baseline"),
        (None, [CHANGED, BASE, BASE], False, "no baseline"),
        (BASE, [CHANGED, CHANGED], True, None),
        (BASE, blocks(), False, "did not settle"),
        (BASE, blocks(), True, "did not settle"),  # never a baseline of a page that kept changing
    ],
)
def test_the_first_capture_decides_or_the_page_settles(tmp_path, monkeypatch, baseline, captured, update, outcome):
    browser = Scripted(captured)
    monkeypatch.setattr(browsers, "target_of", lambda target, full_page: browser)
    # Time told by the test: a quarter of a second between readings, so a
    # page that never settles is captured four times in the second.
    monkeypatch.setattr(assertion, "time", types.SimpleNamespace(monotonic=itertools.count(0.0, 0.25).__next__))
    run = session.Run(naming.Places(tmp_path), tmp_path, tmp_path / "output", update, {})
    check = assertion.AssertScreenshot(
        assertion.Screenshots(run, naming.Test("t.py::test_page", tmp_path / "t.py", "test_page"))
    )
    if baseline is not None:
        screens.write(tmp_path / "__screenshots__/t/page.png", baseline)
    if outcome is None:
        check(object(), "page", timeout=1.0)
    else:
        with pytest.raises(AssertionError, match=outcome) as raised:
            check(object(), "page", timeout=1.0)
    if isinstance(captured, list):
        assert len(browser.captures) == len(captured)
        written = pypng_rgba((tmp_path / "__screenshots__/t/page.png").read_bytes())
        assert np.array_equal(written, captured[-1] if update or baseline is None else baseline)
        return
    assert pypng_rgba((tmp_path / "__screenshots__/t/page.png").read_bytes()).tobytes() == BASE.tobytes()
    folder = tmp_path / "output" / "t.py--test_page"
    for number, image in (("1", browser.captures[-2]), ("2", browser.captures[-1])):
        assert np.array_equal(pypng_rgba((folder / f"page-unsettled-{number}.png").read_bytes()), image)
        assert f"page-unsettled-{number}.png" in str(raised.value)
    moved = [tuple(map(int, box)) for box in re.findall(r"(\d+)x(\d+) at \((\d+), (\d+)\)", str(raised.value))]
    for image in browser.captures[-2:]:  # each place of the block lies in a cluster named
        y, x = np.argwhere((image != BASE).any(axis=-1)).min(axis=0)
        assert any(left <= x and top <= y and x + 8 <= left + w and y + 8 <= top + h for w, h, left, top in moved)
    assert (folder / "page-diff.png").is_file()
