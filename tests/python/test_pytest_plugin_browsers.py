"""assert_screenshot on real browsers at device scale factor 2: Playwright
driving Debian's Chromium (sync and async API), and Selenium with Debian's
chromedriver. A page with a clock redrawn on every frame: masked, it passes;
unmasked, it never settles and leaves its last captures; a changed element
fails with its cluster where the element is, and the mask is painted exactly
over the clock, on a scrolled page, a full page and an element target. A
passing call captures once, animations settle alike in both libraries,
style sheets and ini masks apply to every capture and go, a tall element is
captured whole, CSS-pixel captures match across scale factors, and the
regions a baseline carries keep the clock out of `quorvane compare`."""

import asyncio
import base64
import concurrent.futures
import itertools
import re
import shutil
import time
import types

import numpy as np
import pytest
import screens
from conftest import BROWSER_TIMEOUT_MS, CHROMIUM, browser_environment, unsanitized
from imaging import pypng_rgba

from quorvane_cli import analysis
from quorvane_pytest import assertion, naming, options, session

CHROMEDRIVER = shutil.which("chromedriver")
SCALE = 2
SCROLL = 700
# Seconds a call may take to capture and, short of its baseline, to settle:
# two full-page captures at this scale take seconds on a loaded machine, and
# a page that settles never waits them out.
SETTLE = 120.0

# CSS pixels: the panel's box in the document, and the clock's box in the panel.
PANEL = (30, 820, 300, 120)
CLOCK = (25, 15, 90, 30)
PAGE = f"""<!DOCTYPE html>
<body style="margin: 0; height: 1600px; background: #fff">
<div id="panel" style="position: absolute; left: {PANEL[0]}px; top: {PANEL[1]}px; width: {PANEL[2]}px;
    height: {PANEL[3]}px; background: rgb(60, 140, 200)">
  <div id="clock" style="position: absolute; left: {CLOCK[0]}px; top: {CLOCK[1]}px; width: {CLOCK[2]}px;
      height: {CLOCK[3]}px; overflow: hidden; font: 20px monospace; background: #fff"></div>
  <div id="hidden" style="display: none">hidden</div>
</div>
<script>
const clock = document.getElementById("clock");
(function tick() {{ clock.textContent = performance.now().toFixed(2); requestAnimationFrame(tick); }})();
</script>
</body>"""


def playwright(request):
    viewport = {"width": 500, "height": 400}
    context = request.getfixturevalue("chromium").new_context(viewport=viewport, device_scale_factor=SCALE)
    context.set_default_timeout(BROWSER_TIMEOUT_MS)

    def open(html):
        for earlier in context.pages:  # its clock stops
            earlier.close()
        page = context.new_page()
        page.set_content(html)
        return page

    # Playwright captures a full page; chromedriver does not offer it.
    return types.SimpleNamespace(
        full_page=True,
        open=open,
        find=lambda page, css: page.locator(css),
        run=lambda page, script: page.evaluate(script),
        value=lambda page, expression: page.evaluate(expression),
        capturing="screenshot",  # the method that captures
        close=context.close,
    )


def selenium(request):
    webdriver = pytest.importorskip("selenium.webdriver", reason="Selenium is not installed")
    if CHROMEDRIVER is None:
        pytest.skip("no chromedriver (Debian's chromium-driver package; make test installs it)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--hide-scrollbars"):
        options.add_argument(argument)
    options.add_argument("--window-size=500,400")
    options.add_argument(f"--force-device-scale-factor={SCALE}")
    service = webdriver.ChromeService(CHROMEDRIVER, env=browser_environment())
    driver = webdriver.Chrome(options=options, service=service)

    def open(html):
        driver.get("data:text/html;base64," + base64.b64encode(html.encode()).decode())
        return driver

    return types.SimpleNamespace(
        full_page=False,
        open=open,
        close=driver.quit,
        find=lambda driver, css: driver.find_element("css selector", css),
        run=lambda driver, script: driver.execute_script(script),
        value=lambda driver, expression: driver.execute_script(f"return {expression}"),
        capturing="get_screenshot_as_png",
    )


@pytest.fixture(scope="module", params=[playwright, selenium])
def browser(request):
    if CHROMIUM is None:
        pytest.skip("no Chromium browser installed (Debian's chromium package; make test installs it)")
    opened = request.param(request)
    yield opened
    opened.close()


class Sessions:
    """Each call made as by a test of a session of its own, so that one
    baseline is compared again and again."""

    def __init__(self, tmp_path, capturing=None, kind=assertion.AssertScreenshot):
        capturing = capturing or options.Capturing()
        places = naming.Places(tmp_path, tmp_path / "baselines")
        self.run = session.Run(places, tmp_path, tmp_path / "output", False, {}, capturing)
        self.test = naming.Test("test_page.py::test_page", tmp_path / "test_page.py", "test_page")
        self.kind = kind

    def __call__(self, *args, **kwargs):
        kwargs.setdefault("timeout", SETTLE)
        return self.kind(assertion.Screenshots(self.run, self.test))(*args, **kwargs)

    def file(self, name):
        return self.run.output_dir / "test_page.py--test_page" / name


@pytest.fixture
def assert_screenshot(tmp_path):
    return Sessions(tmp_path)


def device_box(box, origin=(0, 0)):
    x, y, width, height = box
    return ((x - origin[0]) * SCALE, (y - origin[1]) * SCALE, width * SCALE, height * SCALE)


def bounds(where):
    rows, columns = np.nonzero(where)
    return (columns.min(), rows.min(), columns.max() + 1 - columns.min(), rows.max() + 1 - rows.min())


@pytest.mark.parametrize("target", ["full page", "viewport", "element"])
def test_masks_changes_and_a_page_that_never_settles(browser, assert_screenshot, target, monkeypatch):
    page = browser.open(PAGE)
    browser.run(page, f"scrollTo(0, {SCROLL})")
    if target == "element":
        shot, options, panel_origin = browser.find(page, "#panel"), {}, PANEL[:2]
    else:
        full = target == "full page"
        shot, options = page, {"full_page": full}
        panel_origin = (0, 0) if full and browser.full_page else (0, SCROLL)
    mask = [browser.find(page, "#clock"), browser.find(page, "#hidden")]

    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(shot, "page", mask=mask, **options)
    assert_screenshot(shot, "page", mask=mask, **options)  # the clock has moved on, masked
    if target == "viewport":
        # Time told by the test: a minute passes between readings, so the
        # captures stop after three, each given a minute or more.
        readings = itertools.count(0.0, 60.0)
        with (
            monkeypatch.context() as patch,
            pytest.raises(AssertionError, match="did not settle: 3 captures") as raised,
        ):
            patch.setattr(assertion, "time", types.SimpleNamespace(monotonic=lambda: next(readings)))
            assert_screenshot(shot, "unmasked", timeout=180.0, **options)
        moved = [tuple(map(int, box)) for box in re.findall(r"(\d+)x(\d+) at \((\d+), (\d+)\)", str(raised.value))]
        x, y, width, height = device_box((PANEL[0] + CLOCK[0], PANEL[1] + CLOCK[1], *CLOCK[2:]), panel_origin)
        # Every cluster that moved lies on the clock (give or take the dilation joining its pixels).
        margin = 4
        assert moved and all(x - margin <= left and left + w <= x + width + margin for w, _, left, _ in moved)
        assert all(y - margin <= top and top + h <= y + height + margin for _, h, _, top in moved)
        for name in ("unmasked-unsettled-1.png", "unmasked-unsettled-2.png", "unmasked-diff.png"):
            assert assert_screenshot.file(name).is_file()

    browser.run(page, "document.getElementById('panel').style.background = 'rgb(200, 60, 60)'")
    with pytest.raises(AssertionError, match="differs from its baseline"):
        assert_screenshot(shot, "page", mask=mask, **options)
    diff = pypng_rgba(assert_screenshot.file("page-diff.png").read_bytes())
    clock = (PANEL[0] + CLOCK[0], PANEL[1] + CLOCK[1], CLOCK[2], CLOCK[3])
    assert bounds((diff[..., :3] == (255, 0, 255)).all(axis=-1)) == device_box(clock, panel_origin)
    panel_x, panel_y, panel_width, panel_height = device_box(PANEL, panel_origin)
    (cluster, *_) = assert_screenshot.run.failed[-1]["clusters"]["items"]
    assert panel_x <= cluster["centroid"][0] < panel_x + panel_width
    assert panel_y <= cluster["centroid"][1] < panel_y + panel_height
    assert cluster["pixel_count"] >= 0.9 * (panel_width * panel_height - CLOCK[2] * CLOCK[3] * SCALE**2)


# A still page but for a box that turns red after load, a spinner turning
# forever, a fade lasting 100 s, and a panel taller than the viewport.
STILL = """<!DOCTYPE html>
<style>
@keyframes spin { to { transform: rotate(360deg) } }
@keyframes fade { to { background: rgb(0, 200, 0) } }
div { position: absolute; width: 40px; height: 40px }
</style>
<body style="margin: 0; background: #fff">
<div id="late" style="left: 20px; top: 20px; background: #fff"></div>
<div id="spinner" style="left: 80px; top: 20px; background: linear-gradient(90deg, #000 50%, #f80 50%);
    animation: spin 1s linear infinite"></div>
<div id="fade" style="left: 140px; top: 20px; background: #000; animation: fade 100s forwards"></div>
<div id="tall" style="left: 20px; top: 100px; width: 200px; height: 1000px;
    background: linear-gradient(rgb(60, 140, 200), rgb(200, 60, 60))"></div>
<script>setTimeout(() => document.getElementById("late").style.background = "rgb(200, 60, 60)", 300)</script>
</body>"""
LATE = "getComputedStyle(document.getElementById('late')).backgroundColor"


def wait_for(condition, message):
    for _ in range(600):  # up to a minute: a loaded machine is slow, never wrong
        if condition():
            return
        time.sleep(0.1)
    pytest.fail(message)


def colour_at(png, x, y):
    return tuple(int(value) for value in pypng_rgba(png)[y * SCALE, x * SCALE, :3])


def test_captures_once_when_it_passes_with_animations_settled(browser, assert_screenshot, monkeypatch):
    page = browser.open(STILL)
    wait_for(lambda: browser.value(page, LATE) == "rgb(200, 60, 60)", "the box never turned red")
    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(page, "still", full_page=False)
    baseline = (assert_screenshot.run.places.screenshot_dir / "test_page/still.png").read_bytes()
    # The spinner back at its start, the fade at its end: the same picture every run.
    assert [colour_at(baseline, x, 40) for x in (85, 115, 160)] == [(0, 0, 0), (255, 136, 0), (0, 200, 0)]
    states = browser.value(page, "document.getAnimations().map(animation => animation.playState)")
    assert states == ["running", "finished"]
    assert browser.value(page, "document.querySelectorAll('style').length") == 1

    captures = []
    capture = getattr(page, browser.capturing)
    monkeypatch.setattr(page, browser.capturing, lambda *args, **kwargs: captures.append(1) or capture(*args, **kwargs))
    assert_screenshot(page, "still", full_page=False)
    assert len(captures) == 1


def test_style_sheets_and_ini_masks_for_every_capture(browser, tmp_path):
    (tmp_path / "every.css").write_text("#panel { background: rgb(0, 0, 0) !important }")
    ini = {"screenshot_style_path": "every.css", "screenshot_mask": ["#clock"], "screenshot_scale": ""}
    capturing = options.capturing(lambda name: ini.get(name, False), tmp_path)
    assert_screenshot = Sessions(tmp_path, capturing)
    page = browser.open(PAGE)
    browser.run(page, f"scrollTo(0, {SCROLL})")
    style = "body { background: rgb(0, 128, 0) !important }"
    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(page, "styled", full_page=False, style=style)
    assert_screenshot(page, "styled", full_page=False, style=style)  # the clock masked by the ini option
    baseline = (assert_screenshot.run.places.screenshot_dir / "test_page/styled.png").read_bytes()
    assert colour_at(baseline, 5, 5) == (0, 128, 0)  # the call's style
    assert colour_at(baseline, PANEL[0] + 200, PANEL[1] - SCROLL + 60) == (0, 0, 0)  # the style file's
    computed = "[document.body, document.getElementById('panel')].map(e => getComputedStyle(e).backgroundColor)"
    assert browser.value(page, computed) == ["rgb(255, 255, 255)", "rgb(60, 140, 200)"]


def test_an_element_taller_than_the_viewport_is_captured_whole(browser, assert_screenshot):
    page = browser.open(STILL)
    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(browser.find(page, "#tall"), "tall")
    size = analysis.png_size((assert_screenshot.run.places.screenshot_dir / "test_page/tall.png").read_bytes())
    assert (size.width, size.height) == (200 * SCALE, 1000 * SCALE)


BLOCKS = """<!DOCTYPE html><body style="margin: 0; background: #fff">
<div id="panel" style="position: absolute; left: 10px; top: 10px; width: 100px; height: 50px;
    background: rgb(60, 140, 200)"></div>
<div id="moving" style="position: absolute; left: 130px; top: 30px; width: 30px; height: 30px; background: #000"></div>
</body>"""


def test_css_pixels_match_across_device_scale_factors(chromium, browser, assert_screenshot):
    """A baseline captured at a device scale factor of 1 serves a capture at
    2 in CSS pixels: Playwright's own, and Selenium's resampled by the module,
    whose filter rings at the blocks' corners only."""
    page = browser.open(BLOCKS)
    width, height = browser.value(page, "[innerWidth, innerHeight]")
    context = chromium.new_context(viewport={"width": width, "height": height}, device_scale_factor=1)
    context.set_default_timeout(BROWSER_TIMEOUT_MS)
    try:
        flat = context.new_page()
        flat.set_content(BLOCKS)
        with pytest.raises(AssertionError, match="no baseline"):
            assert_screenshot(flat, "blocks", full_page=False)
    finally:
        context.close()
    corners = 0 if browser.capturing != "get_screenshot_as_png" else 4 * 4
    assert_screenshot(page, "blocks", full_page=False, scale="css", max_diff_pixels=corners)
    with pytest.raises(
        AssertionError, match=f"the screenshot is {2 * width}x{2 * height}, its baseline {width}x{height}"
    ):
        assert_screenshot(page, "blocks", full_page=False)


def test_regions_travel_with_the_baseline(browser, assert_screenshot, tmp_path, capsys):
    """The clock masked while its baseline was written stays out of the
    command's comparison and report, wherever it stood in either image."""
    page = browser.open(PAGE)
    browser.run(page, f"scrollTo(0, {SCROLL})")
    clock = browser.find(page, "#clock")
    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(page, "clock", full_page=False, mask=[clock])
    browser.run(page, "document.getElementById('clock').style.left = '150px'")  # the element moved
    with pytest.raises(AssertionError, match="no baseline"):
        assert_screenshot(page, "moved", full_page=False, mask=[clock])
    folder = assert_screenshot.run.places.screenshot_dir / "test_page"
    baselines, currents = tmp_path / "b", tmp_path / "c"
    screens.write(baselines / "page.png", (folder / "clock.png").read_bytes())
    screens.write(currents / "page.png", (folder / "moved.png").read_bytes())
    compare = ("compare", baselines / "page.png", currents / "page.png")
    assert screens.run(capsys, *compare)[0] == 0
    assert screens.run(capsys, *compare, "--no-embedded-regions")[0] == 1
    assert screens.run(capsys, "report", baselines, currents, "-o", tmp_path / "report", "-q")[0] == 0


def test_playwright_async_api(chromium, tmp_path):
    """The async fixture awaited on an async Page, in a thread of its own
    (the sync API's session runs its event loop in this one); each fixture
    refuses the other API's targets, naming the fixture to use."""
    async_api = pytest.importorskip("playwright.async_api", reason="Playwright is not installed")
    sync_page = chromium.new_page()
    awaited, plain = Sessions(tmp_path, kind=assertion.AssertScreenshotAsync), Sessions(tmp_path)

    async def session():
        with unsanitized():
            driver = async_api.async_playwright()
            playwright = await driver.__aenter__()
        try:
            browser = await playwright.chromium.launch(executable_path=CHROMIUM, timeout=BROWSER_TIMEOUT_MS)
            page = await browser.new_page(viewport={"width": 300, "height": 200})
            page.set_default_timeout(BROWSER_TIMEOUT_MS)
            await page.set_content(BLOCKS)
            with pytest.raises(AssertionError, match="no baseline"):
                await awaited(page, "blocks", mask=[page.locator("#moving")])
            with pytest.raises(AssertionError, match="no baseline"):
                await awaited(page.locator("#panel"), "panel")
            await awaited(page.locator("#panel"), "panel")
            await page.evaluate("document.getElementById('moving').style.left = '200px'")
            await awaited(page, "blocks", mask=[page.locator("#moving")])  # masked where it was and where it is
            await page.evaluate("document.body.style.background = 'rgb(0, 128, 0)'")
            with pytest.raises(AssertionError, match="differs from its baseline"):
                await awaited(page, "blocks")
            with pytest.raises(TypeError, match="async API: use the assert_screenshot_async fixture, awaited"):
                plain(page, "blocks")
            with pytest.raises(TypeError, match="is of its sync API: use the assert_screenshot fixture"):
                await awaited(sync_page, "blocks")
            await browser.close()
        finally:
            await driver.__aexit__(None, None, None)

    try:
        with concurrent.futures.ThreadPoolExecutor(1) as thread:
            thread.submit(asyncio.run, session()).result()
    finally:
        sync_page.close()
