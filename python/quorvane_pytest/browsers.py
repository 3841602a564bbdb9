"""Playwright (sync and async API) and Selenium targets. Each capture is a
generator that yields each call it makes of the browser library and is sent
its result: the sync API's results as they are, the async API's awaited
(capture.run_sync, capture.run_async), so one body serves both. A capture
returns the PNG with the boxes of the masked elements in viewport CSS pixels,
where the image's top-left corner stands, and the image's pixels to the CSS
pixel. A library is looked up only in sys.modules: whoever holds one of its
objects has imported it already."""

from __future__ import annotations

import base64
import dataclasses
import math
import sys
from collections.abc import Generator
from typing import Any, Literal

import quorvane
from quorvane_cli import analysis

PLAYWRIGHT_SYNC = "playwright.sync_api"
PLAYWRIGHT_ASYNC = "playwright.async_api"
SELENIUM_DRIVER = "selenium.webdriver.remote.webdriver"
SELENIUM_ELEMENT = "selenium.webdriver.remote.webelement"

Box = tuple[float, float, float, float]
Scale = Literal["css", "device"]


@dataclasses.dataclass(frozen=True)
class Look:
    """What every capture of a call applies."""

    masks: tuple[Any, ...] = ()  # Playwright Locators or Selenium WebElements
    selectors: tuple[str, ...] = ()  # CSS selectors masked too
    style: str = ""  # a style sheet applied while capturing
    scale: Scale = "device"
    full_page: bool = True


@dataclasses.dataclass(frozen=True)
class Raw:
    png: bytes
    boxes: list[Box]  # of the masks, in viewport CSS pixels
    origin: tuple[float, float]  # where the image's top-left corner stands in the viewport
    scale: float  # the image's pixels to the CSS pixel


Capture = Generator[Any, Any, Raw]


def playwright_kind(target: object) -> str | None:
    """PLAYWRIGHT_SYNC or PLAYWRIGHT_ASYNC for a Playwright Page or Locator."""
    for module_name in (PLAYWRIGHT_SYNC, PLAYWRIGHT_ASYNC):
        module = sys.modules.get(module_name)
        if module is not None and isinstance(target, (module.Page, module.Locator)):
            return module_name
    return None


def target_of(target: object, full_page: bool) -> Browser | None:
    """The capturer of a Playwright or Selenium target, or None."""
    kind = playwright_kind(target)
    if kind is not None:
        module = sys.modules[kind]
        return PlaywrightPage(target, module) if isinstance(target, module.Page) else PlaywrightLocator(target, module)
    driver, element = sys.modules.get(SELENIUM_DRIVER), sys.modules.get(SELENIUM_ELEMENT)
    if driver is not None and isinstance(target, driver.WebDriver):
        return SeleniumDriver(target)
    if element is not None and isinstance(target, element.WebElement):
        return SeleniumElement(target)
    return None


def milliseconds(seconds: float) -> int:
    return max(1, math.ceil(seconds * 1000))  # Playwright takes 0 for no timeout at all


class Browser:
    name = "none"  # the {browser} of the path template
    library, mask_kind = "", ""

    def mask_type(self) -> type:
        raise NotImplementedError

    def check_masks(self, masks: tuple[Any, ...]) -> None:
        """Every mask an element of the target's own library."""
        expected = self.mask_type()
        for mask in masks:
            if not isinstance(mask, expected):
                raise TypeError(
                    f"assert_screenshot: mask of a {self.library} target takes {self.library} {self.mask_kind}, "
                    f"not {type(mask).__name__}"
                )

    def timeout_errors(self) -> tuple[type[BaseException], ...]:
        return ()

    def capture(self, look: Look, seconds: float) -> Capture:
        raise NotImplementedError


# The boxes of the elements matching any of the selectors in arguments.
SELECTOR_BOXES = """selectors => selectors.flatMap(selector => Array.from(
    document.querySelectorAll(selector),
    element => {
        const box = element.getBoundingClientRect();
        return [box.x, box.y, box.width, box.height];
    },
))"""


class Playwright(Browser):
    library, mask_kind = "Playwright", "Locators"

    def __init__(self, page: Any, module: Any) -> None:
        self.module, self.page = module, page
        browser = page.context.browser
        self.name = browser.browser_type.name if browser is not None else "unknown"  # a persistent context has none

    def mask_type(self) -> type:
        return self.module.Locator  # type: ignore[no-any-return]

    def timeout_errors(self) -> tuple[type[BaseException], ...]:
        return (self.module.TimeoutError,)

    @staticmethod
    def options(look: Look, seconds: float) -> dict[str, Any]:
        # Animations stopped and the caret hidden: what moves by itself is not compared.
        options = {"animations": "disabled", "caret": "hide", "scale": look.scale, "timeout": milliseconds(seconds)}
        return {**options, "style": look.style} if look.style else options

    def boxes(self, look: Look) -> Generator[Any, Any, list[Box]]:
        """Every matching element's box; a hidden one has none."""
        boxes = []
        for mask in look.masks:
            for handle in (yield mask.element_handles()):
                box = yield handle.bounding_box()
                yield handle.dispose()
                if box is not None:
                    boxes.append((box["x"], box["y"], box["width"], box["height"]))
        if look.selectors:
            boxes.extend(tuple(box) for box in (yield self.page.evaluate(SELECTOR_BOXES, list(look.selectors))))
        return boxes


class PlaywrightPage(Playwright):
    def capture(self, look: Look, seconds: float) -> Capture:
        png = yield self.page.screenshot(full_page=look.full_page, **self.options(look, seconds))
        scroll_x, scroll_y, scale = yield self.page.evaluate("[scrollX, scrollY, devicePixelRatio]")
        # A full page is captured from the top of the document, wherever it is scrolled to.
        origin = (-scroll_x, -scroll_y) if look.full_page else (0, 0)
        boxes = yield from self.boxes(look)
        return Raw(png, boxes, origin, 1 if look.scale == "css" else scale)


class PlaywrightLocator(Playwright):
    def __init__(self, locator: Any, module: Any) -> None:
        super().__init__(locator.page, module)
        self.locator = locator

    def capture(self, look: Look, seconds: float) -> Capture:
        png = yield self.locator.screenshot(**self.options(look, seconds))
        box = yield self.locator.bounding_box(timeout=milliseconds(seconds))
        scale = yield self.page.evaluate("devicePixelRatio")
        boxes = yield from self.boxes(look)
        # The element is captured from the whole CSS pixel its box starts in.
        return Raw(png, boxes, (math.floor(box["x"]), math.floor(box["y"])), 1 if look.scale == "css" else scale)


# Before a Selenium capture: the caret hidden and the style sheet applied
# (arguments[0]), then every animation and transition settled as Playwright
# settles them: a finite one run to its end, an infinite one cancelled back
# to its start (and played again afterwards).
SELENIUM_FREEZE = """const style = document.createElement("style");
style.textContent = "*, *::before, *::after { caret-color: transparent !important; }\\n" + arguments[0];
(document.head || document.documentElement).appendChild(style);
const cancelled = [];
for (const animation of document.getAnimations()) {
    const timing = animation.effect ? animation.effect.getComputedTiming() : null;
    if (timing && timing.endTime !== Infinity) {
        try { animation.finish(); continue; } catch (error) {}
    }
    animation.cancel();
    cancelled.push(animation);
}
window.__quorvaneFrozen = {style, cancelled};"""
SELENIUM_RESTORE = """const frozen = window.__quorvaneFrozen;
delete window.__quorvaneFrozen;
if (frozen) {
    frozen.style.remove();
    for (const animation of frozen.cancelled) animation.play();
}"""
# The scroll offsets, the device scale factor, the viewport's size, the
# boxes of the elements in arguments[0] and of those matching the selectors
# in arguments[1] (a display:none element's box is empty).
SELENIUM_GEOMETRY = """const box = element => {
    const rect = element.getBoundingClientRect();
    return [rect.x, rect.y, rect.width, rect.height];
};
const found = arguments[1].flatMap(selector => Array.from(document.querySelectorAll(selector), box));
return [scrollX, scrollY, devicePixelRatio, innerWidth, innerHeight, arguments[0].map(box), found];"""


@dataclasses.dataclass(frozen=True)
class Geometry:
    scroll: tuple[float, float]
    scale: float
    viewport: tuple[float, float]
    boxes: list[Box]  # of the elements given
    found: list[Box]  # of the elements the selectors match


class Selenium(Browser):
    library, mask_kind = "Selenium", "WebElements"

    def __init__(self, driver: Any) -> None:
        self.driver = driver
        self.name = str(driver.capabilities.get("browserName", "unknown")).lower()

    def mask_type(self) -> type:
        return sys.modules[SELENIUM_ELEMENT].WebElement  # type: ignore[no-any-return]

    def geometry(self, elements: list[Any], look: Look) -> Generator[Any, Any, Geometry]:
        scroll_x, scroll_y, scale, width, height, boxes, found = yield self.driver.execute_script(
            SELENIUM_GEOMETRY, elements, list(look.selectors)
        )
        return Geometry(
            (scroll_x, scroll_y), scale, (width, height), [tuple(b) for b in boxes], [tuple(b) for b in found]
        )

    def frozen(self, look: Look, take: Capture) -> Capture:
        """The capture `take` with animations settled, the caret hidden and the
        style applied; the page as it was afterwards."""
        yield self.driver.execute_script(SELENIUM_FREEZE, look.style)
        try:
            raw = yield from take
        finally:
            yield self.driver.execute_script(SELENIUM_RESTORE)
        return in_css_pixels(raw) if look.scale == "css" else raw


class SeleniumDriver(Selenium):
    """The viewport; the full page where the driver offers it (Firefox's)."""

    def capture(self, look: Look, seconds: float) -> Capture:
        return self.frozen(look, self.viewport(look))

    def viewport(self, look: Look) -> Capture:
        full_page = look.full_page and hasattr(self.driver, "get_full_page_screenshot_as_png")
        png = yield (
            self.driver.get_full_page_screenshot_as_png() if full_page else self.driver.get_screenshot_as_png()
        )
        place = yield from self.geometry(list(look.masks), look)
        origin = (-place.scroll[0], -place.scroll[1]) if full_page else (0, 0)
        return Raw(png, place.boxes + place.found, origin, place.scale)


class SeleniumElement(Selenium):
    """One element, whole: one larger than the viewport is captured through
    the Chrome DevTools Protocol where the driver speaks it."""

    def __init__(self, element: Any) -> None:
        super().__init__(element.parent)
        self.element = element

    def capture(self, look: Look, seconds: float) -> Capture:
        return self.frozen(look, self.whole(look))

    def whole(self, look: Look) -> Capture:
        place = yield from self.geometry([self.element, *look.masks], look)
        x, y, width, height = place.boxes[0]
        fits = width <= place.viewport[0] and height <= place.viewport[1]
        if fits or not hasattr(self.driver, "execute_cdp_cmd"):
            png = yield self.element.screenshot_as_png
            place = yield from self.geometry([self.element, *look.masks], look)  # scrolled into view
            x, y, width, height = place.boxes[0]
        else:
            png = yield from self.beyond_viewport(place, place.boxes[0])
        check_whole(png, (width, height), place)
        return Raw(png, place.boxes[1:] + place.found, (math.floor(x), math.floor(y)), place.scale)

    def beyond_viewport(self, place: Geometry, box: Box) -> Generator[Any, Any, bytes]:
        x, y, width, height = box
        left, top = math.floor(x + place.scroll[0]), math.floor(y + place.scroll[1])
        clip = {
            "x": left,
            "y": top,
            "width": math.ceil(x + place.scroll[0] + width) - left,
            "height": math.ceil(y + place.scroll[1] + height) - top,
            "scale": 1,
        }
        shot = yield self.driver.execute_cdp_cmd(
            "Page.captureScreenshot", {"format": "png", "clip": clip, "captureBeyondViewport": True}
        )
        return base64.b64decode(shot["data"])


def in_css_pixels(raw: Raw) -> Raw:
    """A capture in device pixels resampled to CSS pixels, as browsers that
    capture in CSS pixels themselves would give it (Lanczos3, like thumbnails)."""
    if raw.scale == 1:
        return raw
    size = analysis.png_size(raw.png)
    width, height = (max(1, round(side / raw.scale)) for side in (size.width, size.height))
    return dataclasses.replace(raw, png=quorvane.resize_png(raw.png, width, height), scale=1)


def check_whole(png: bytes, size: tuple[float, float], place: Geometry) -> None:
    """Fails where the driver cut an element at the viewport's edge."""
    captured = analysis.png_size(png)
    width, height = (math.floor(side * place.scale) - 1 for side in size)
    if captured.width < width or captured.height < height:
        raise ValueError(
            f"assert_screenshot: the element is {size[0]:g}x{size[1]:g} CSS pixels, larger than the "
            f"{place.viewport[0]:g}x{place.viewport[1]:g} viewport, and this driver captured only "
            f"{captured.width}x{captured.height} device pixels of it: it cannot capture the element whole"
        )
