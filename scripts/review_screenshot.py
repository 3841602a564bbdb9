"""Remakes docs/review.png, the README's picture of the review page: the
report that `make demo` writes, served by `quorvane review` and photographed
by headless Chromium with one pair in the slider view, then made small (a
palette of 128 colours). Run after `make demo`, from the repository."""

import os
import pathlib
import shutil
import signal
import subprocess
import sys

from PIL import Image
from playwright.sync_api import sync_playwright

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAIR = "docs/paragraph.png"


def main():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(ROOT / "build"), str(ROOT / "python")]))
    server = subprocess.Popen(
        [sys.executable, "-u", "-m", "quorvane_cli", "review", "examples/output/report", "--no-browser"],
        cwd=ROOT,
        env=env,
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        url = server.stdout.readline().split()[-1]
        with sync_playwright() as playwright:
            browser = playwright.chromium.launch(executable_path=shutil.which("chromium"))
            page = browser.new_page(viewport={"width": 1180, "height": 860})
            page.goto(url)
            pair = page.locator(f'article[data-name="{PAIR}"]')
            pair.get_by_role("button", name="Slider").click()
            slider = pair.get_by_role("slider", name="Slider position")
            slider.fill("42")
            slider.dispatch_event("input")
            shown = "name => [...document.querySelectorAll(`article[data-name='${name}'] .view:not([hidden]) img`)]"
            page.wait_for_function(f"{shown}.every(image => image.complete)", arg=PAIR)
            pair.evaluate("pair => window.scrollTo(0, pair.getBoundingClientRect().top + scrollY - 150)")
            page.screenshot(path=ROOT / "docs" / "review.png")
            browser.close()
    finally:
        server.send_signal(signal.SIGINT)
        server.wait()
    with Image.open(ROOT / "docs" / "review.png") as shot:
        shot.convert("RGB").quantize(128).save(ROOT / "docs" / "review.png", optimize=True)
    print(ROOT / "docs" / "review.png", (ROOT / "docs" / "review.png").stat().st_size, "bytes")


if __name__ == "__main__":
    main()
