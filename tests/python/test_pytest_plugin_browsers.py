"""assert_screenshot on real browsers at device scale factor 2: Playwright
driving Debian's Chromium, and Selenium with Debian's chromedriver. A page
with a clock redrawn on every frame: masked, it settles and passes;
unmasked, it never settles; a changed element fails with its cluster where
the element is, and the mask is painted exactly over the clock, on a
scrolled page, a full page and an element target."""

import base64
import shutil
import types

import numpy as np
import pytest
from conftest import CHROMIUM, browser_environment
from imaging import pypng_rgba

from quorvane_pytest import assertion, naming, session

CHROMEDRIVER = shutil.which("chromedriver")
SCALE = 2
SCROLL = 700

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
    context = request.getfixturevalue("chromium").new_context(
        viewport={"width": 500, "height": 400}, device_scale_factor=SCALE
    )

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
        close=context.close,
    )


def selenium(request):
    webdriver = pytest.importorskip("selenium.webdriver", reason="Selenium is not installed")
    if CHROMEDRIVER is None:
        pytest.skip("no chromedriver (Debian's chromium-driver package; make test installs it)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in (
        "--headless=new",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-dev-shm-usage",
        "--hide-scrollbars",
        "--window-size=500,400",
        f"--force-device-scale-factor={SCALE}",
    ):
        options.add_argument(argument)
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
    )


@pytest.fixture(scope="module", params=[playwright, selenium])
def browser(request):
    if CHROMIUM is None:
        pytest.skip("no Chromium browser installed (Debian's chromium package; make test installs it)")
    opened = request.param(request)
    yield opened
    opened.close()


@pytest.fixture
def assert_screenshot(tmp_path):
    run = session.Run(
        rootdir=tmp_path,
        invocation_dir=tmp_path,
        output_dir=tmp_path / "output",
        screenshot_dir=tmp_path / "baselines",
        update=False,
        defaults={},
    )
    return assertion.AssertScreenshot(
        run, naming.Test("test_page.py::test_page", tmp_path / "test_page.py", "test_page")
    )


def device_box(box, origin=(0, 0)):
    x, y, width, height = box
    return ((x - origin[0]) * SCALE, (y - origin[1]) * SCALE, width * SCALE, height * SCALE)


def bounds(where):
    rows, columns = np.nonzero(where)
    return (columns.min(), rows.min(), columns.max() + 1 - columns.min(), rows.max() + 1 - rows.min())


@pytest.mark.parametrize("target", ["full page", "viewport", "element"])
def test_masks_changes_and_a_page_that_never_settles(browser, assert_screenshot, target):
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
    if target == "viewport":  # the smallest captures: the first one surely fits in the timeout
        with pytest.raises(AssertionError, match="did not settle"):
            assert_screenshot(shot, "page", timeout=2.0, **options)

    browser.run(page, "document.getElementById('panel').style.background = 'rgb(200, 60, 60)'")
    with pytest.raises(AssertionError, match="differs from its baseline"):
        assert_screenshot(shot, "page", mask=mask, **options)
    diff = pypng_rgba((assert_screenshot.run.output_dir / "test_page.py--test_page/page-diff.png").read_bytes())
    clock = (PANEL[0] + CLOCK[0], PANEL[1] + CLOCK[1], CLOCK[2], CLOCK[3])
    assert bounds((diff[..., :3] == (255, 0, 255)).all(axis=-1)) == device_box(clock, panel_origin)
    panel_x, panel_y, panel_width, panel_height = device_box(PANEL, panel_origin)
    (cluster, *_) = assert_screenshot.run.failed[-1]["clusters"]["items"]
    assert panel_x <= cluster["centroid"][0] < panel_x + panel_width
    assert panel_y <= cluster["centroid"][1] < panel_y + panel_height
    assert cluster["pixel_count"] >= 0.9 * (panel_width * panel_height - CLOCK[2] * CLOCK[3] * SCALE**2)
