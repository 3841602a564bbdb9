"""The results page of 2,000 changed pairs in headless Chromium: the time
from navigation to the first pair shown (its table row laid out with its
preview decoded, the page's script run) against the same page of 20 pairs,
and how few of its images the larger page loads to get there."""

import contextlib
import io
import os
import pathlib
import shutil
import sys
import tempfile
import time

import timing

from quorvane_cli import main, manifest, page

LARGE, SMALL = 2000, 20
FIRST_PAIR_SHOWN = """() => {
    const row = document.querySelector('#pairs tbody tr:not([hidden])');
    const preview = row && row.querySelector('img');
    return document.readyState !== 'loading' && preview && preview.complete && preview.naturalWidth > 0
        && row.getBoundingClientRect().top < innerHeight;
}"""


def one_pair(root):
    """The manifest pair and results folder of one changed page."""
    for side, source in (("baseline", "page_baseline.png"), ("current", "page_edited_paragraph.png")):
        (root / side).mkdir(parents=True)
        shutil.copyfile(timing.SCREENS / source, root / side / "page.png")
    with contextlib.redirect_stdout(io.StringIO()):
        main(["report", str(root / "baseline"), str(root / "current"), "-o", str(root / "one"), "-q"])
    return manifest.read(root / "one")


def results_folder(root, template, pairs):
    """A results folder of `pairs` copies of the template's pair, each with
    image files of its own (hard links: the browser sees distinct files)."""
    folder = root / f"results-{pairs}"
    (pair,) = template["pairs"]
    listed = []
    for index in range(pairs):
        images = {}
        for key, path in pair["images"].items():
            if path is not None:
                images[key] = f"images/{index:04d}/{pathlib.PurePath(path).name}"
                (folder / images[key]).parent.mkdir(parents=True, exist_ok=True)
                os.link(root / "one" / path, folder / images[key])
        name = f"pages/page_{index:04d}.png"
        listed.append({**pair, "name": name, "title": name, "baseline": name, "images": {**pair["images"], **images}})
    built = {**template, "pairs": listed, "summary": manifest.summary_of(listed)}
    (folder / "index.html").write_text(page.render(built))
    return folder


def main_bench():
    try:
        from playwright.sync_api import sync_playwright
    except ImportError:
        sys.exit("bench_review_page: Playwright is not installed (requirements-dev.txt has it)")
    chromium = shutil.which("chromium")
    if chromium is None:
        sys.exit("bench_review_page: Debian's chromium is not installed (scripts/setup.sh browser installs it)")
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as temp, sync_playwright() as playwright:
        root = pathlib.Path(temp)
        template = one_pair(root)
        folders = {pairs: results_folder(root, template, pairs) for pairs in (LARGE, SMALL)}
        browser = playwright.chromium.launch(executable_path=chromium)
        loaded = {}

        def first_pair_shown(pairs):
            context = browser.new_context(viewport={"width": 1280, "height": 900})
            shown = context.new_page()
            requested = []
            shown.on("requestfinished", lambda request: requested.append(request.url))
            started = time.perf_counter()
            shown.goto((folders[pairs] / "index.html").as_uri(), wait_until="commit")
            shown.wait_for_function(FIRST_PAIR_SHOWN, polling=5)
            elapsed = time.perf_counter() - started
            loaded[pairs] = sum(url.endswith((".png", ".webp")) for url in requested)
            context.close()
            return elapsed

        timing.compare(
            f"time to the first pair shown, page of {LARGE} pairs",
            lambda: first_pair_shown(LARGE),
            lambda: first_pair_shown(SMALL),
            f"{SMALL} pairs",
            repeats=5,
        )
        images = sum(path is not None for path in template["pairs"][0]["images"].values())
        size = (folders[LARGE] / "index.html").stat().st_size
        print(
            f"page of {LARGE} pairs: {size / 1e6:.1f} MB of HTML; {loaded[LARGE]} of its {LARGE * images} image files "
            f"loaded by then ({loaded[SMALL]} of {SMALL * images} on the page of {SMALL})"
        )
        browser.close()


if __name__ == "__main__":
    main_bench()
