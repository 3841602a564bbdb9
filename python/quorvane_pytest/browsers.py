"""Playwright (sync API) and Selenium targets: each capture with the boxes
of the mask elements in viewport CSS pixels, where the capture's top-left
corner stands, and the device scale factor. A library is looked up only in
sys.modules: whoever holds one of its objects has imported it already."""

import math
import sys
import typing

PLAYWRIGHT = "playwright.sync_api"
SELENIUM_DRIVER = "selenium.webdriver.remote.webdriver"
SELENIUM_ELEMENT = "selenium.webdriver.remote.webelement"


def target_of(target, full_page):
    """The capturer of a Playwright or Selenium target, or None."""
    playwright = sys.modules.get(PLAYWRIGHT)
    if playwright is not None:
        if isinstance(target, playwright.Page):
            return PlaywrightPage(target, full_page)
        if isinstance(target, playwright.Locator):
            return PlaywrightLocator(target)
    driver, element = sys.modules.get(SELENIUM_DRIVER), sys.modules.get(SELENIUM_ELEMENT)
    if driver is not None and isinstance(target, driver.WebDriver):
        return SeleniumDriver(target, full_page)
    if element is not None and isinstance(target, element.WebElement):
        return SeleniumElement(target)
    return None


def check_masks(masks, expected, library, kind):
    """Every mask an instance of expected: the element type of the target's own library."""
    for mask in masks:
        if not isinstance(mask, expected):
            raise TypeError(
                f"assert_screenshot: mask of a {library} target takes {library} {kind}, not {type(mask).__name__}"
            )


def milliseconds(seconds):
    return max(1, math.ceil(seconds * 1000))  # Playwright takes 0 for no timeout at all


class Playwright:
    # Animations stopped and the caret hidden: what moves by itself is not compared.
    OPTIONS: typing.ClassVar[dict[str, str]] = {"animations": "disabled", "caret": "hide"}

    @staticmethod
    def timeout_errors():
        return (sys.modules[PLAYWRIGHT].TimeoutError,)

    def check_masks(self, masks):
        check_masks(masks, sys.modules[PLAYWRIGHT].Locator, "Playwright", "Locators")

    @staticmethod
    def boxes(masks):
        """Every matching element's box; a hidden one has none."""
        boxes = []
        for mask in masks:
            for handle in mask.element_handles():
                box = handle.bounding_box()
                handle.dispose()
                if box is not None:
                    boxes.append((box["x"], box["y"], box["width"], box["height"]))
        return boxes


class PlaywrightPage(Playwright):
    def __init__(self, page, full_page):
        self.page, self.full_page = page, full_page

    def capture(self, masks, seconds):
        png = self.page.screenshot(full_page=self.full_page, timeout=milliseconds(seconds), **self.OPTIONS)
        scroll_x, scroll_y, scale = self.page.evaluate("[scrollX, scrollY, devicePixelRatio]")
        # A full page is captured from the top of the document, wherever it is scrolled to.
        origin = (-scroll_x, -scroll_y) if self.full_page else (0, 0)
        return png, self.boxes(masks), origin, scale


class PlaywrightLocator(Playwright):
    def __init__(self, locator):
        self.locator = locator

    def capture(self, masks, seconds):
        png = self.locator.screenshot(timeout=milliseconds(seconds), **self.OPTIONS)
        box = self.locator.bounding_box(timeout=milliseconds(seconds))
        scale = self.locator.page.evaluate("devicePixelRatio")
        # The element is captured from the whole CSS pixel its box starts in.
        return png, self.boxes(masks), (math.floor(box["x"]), math.floor(box["y"])), scale


# The scroll offsets, the device scale factor, and the boxes of the elements
# in arguments[0] (a display:none element's box is empty).
SELENIUM_GEOMETRY = """return [scrollX, scrollY, devicePixelRatio, arguments[0].map(element => {
    const box = element.getBoundingClientRect();
    return [box.x, box.y, box.width, box.height];
})];"""


class Selenium:
    @staticmethod
    def timeout_errors():
        return ()  # its captures take no timeout

    def check_masks(self, masks):
        check_masks(masks, sys.modules[SELENIUM_ELEMENT].WebElement, "Selenium", "WebElements")

    @staticmethod
    def geometry(driver, elements):
        scroll_x, scroll_y, scale, boxes = driver.execute_script(SELENIUM_GEOMETRY, list(elements))
        return (scroll_x, scroll_y), scale, [tuple(box) for box in boxes]


class SeleniumDriver(Selenium):
    """The viewport; the full page where the driver offers it (Firefox's)."""

    def __init__(self, driver, full_page):
        self.driver = driver
        self.full_page = full_page and hasattr(driver, "get_full_page_screenshot_as_png")

    def capture(self, masks, seconds):
        png = self.driver.get_full_page_screenshot_as_png() if self.full_page else self.driver.get_screenshot_as_png()
        scroll, scale, boxes = self.geometry(self.driver, masks)
        origin = (-scroll[0], -scroll[1]) if self.full_page else (0, 0)
        return png, boxes, origin, scale


class SeleniumElement(Selenium):
    def __init__(self, element):
        self.element = element

    def capture(self, masks, seconds):
        png = self.element.screenshot_as_png
        _, scale, boxes = self.geometry(self.element.parent, (self.element, *masks))
        x, y, _, _ = boxes[0]
        return png, boxes[1:], (math.floor(x), math.floor(y)), scale
