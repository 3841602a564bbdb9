"""The report page as a person sees it, in headless Chromium: the summary,
one row per pair, opening on the pairs beyond their limits, every image
loaded and previews whole, the cluster boxes, shift bands and ignored
regions over the images, filtering and sorting."""

import pytest
from conftest import BROWSER_TIMEOUT_MS

VISIBLE = "element => element.getClientRects().length > 0"
LOADED = """async image => {
    image.scrollIntoView();  // lazily loaded images load once in view
    // One that never loads reads as width 0 after a while, not as a hang.
    if (!image.complete) await new Promise(done => { image.onload = image.onerror = done; setTimeout(done, 20000); });
    return image.naturalWidth;
}"""
# Each mark of a kind in an article, as ["image-alt mark-classes", left, top,
# width, height], in fractions of the box of the image it stands over.
MARKS = f"""async ([article, kind]) => {{
    const marks = [];
    for (const image of document.querySelectorAll(article + ' img[src]')) {{
        await ({LOADED})(image);
        const frame = image.getBoundingClientRect();
        for (const mark of image.closest('figure').querySelectorAll('.' + kind)) {{
            const r = mark.getBoundingClientRect();
            marks.push([`${{image.alt}} ${{mark.className}}`, (r.left - frame.left) / frame.width,
                        (r.top - frame.top) / frame.height, r.width / frame.width, r.height / frame.height]);
        }}
    }}
    return marks;
}}"""


@pytest.fixture
def page(chromium, suite_report):
    context = chromium.new_context(viewport={"width": 1280, "height": 900})
    context.set_default_timeout(BROWSER_TIMEOUT_MS)
    opened = context.new_page()
    opened.goto((suite_report.out / "index.html").as_uri())
    yield opened
    context.close()


def marks(page, suite_report, path, kind):
    index = [pair["path"] for pair in suite_report.data["pairs"]].index(path)
    return page.evaluate(MARKS, [f"#pair-{index}", kind])


def close(seen, wanted, tolerance=0.01):
    return len(seen) == len(wanted) and all(abs(a - b) <= tolerance for a, b in zip(seen, wanted))


def test_summary_and_one_row_per_pair(page, suite_report):
    counts = page.evaluate(f"""[...document.querySelectorAll('[data-filter]')].filter({VISIBLE})
        .map(button => [button.dataset.filter, Number(button.querySelector('.count').textContent)])""")
    statuses = {"changed": 1, "shifted": 1, "new": 1, "missing": 1, "unchanged": 2, "error": 1}
    assert dict(counts) == {"failed": 5, "all": 7, **statuses}
    assert page.text_content(".verdict") == "5 of 7 pairs beyond the limits"
    # It opens on the pairs beyond their limits, and says so.
    shown = page.evaluate(
        f"[...document.querySelectorAll('#pairs tbody tr')].filter({VISIBLE}).map(row => row.cells[0].textContent)"
    )
    assert shown == [pair["path"] for pair in suite_report.data["pairs"] if not pair["passed"]]
    assert page.get_by_role("button", name="5 beyond limits").get_attribute("aria-pressed") == "true"
    assert page.text_content(".showing").startswith("Showing the pairs beyond their limits")
    rows = page.evaluate(
        "[...document.querySelectorAll('#pairs tbody tr')].map(row => [row.cells[0].textContent, "
        "row.cells[1].textContent])"
    )
    labels = {"shifted": "shifted only", "error": "unreadable"}
    assert rows == [[pair["path"], labels.get(pair["status"], pair["status"])] for pair in suite_report.data["pairs"]]


def test_every_image_loads_and_previews_show_images_whole(page):
    page.click("[data-filter=all]")
    # One at a time: an image scrolled past in the same task as the others
    # is never seen near the viewport, and a lazy one not yet started never
    # loads.
    widths = page.evaluate(f"""async () => {{
        const widths = [];
        for (const image of [...document.images].filter(i => i.src)) widths.push(await ({LOADED})(image));
        return widths;
    }}""")
    # Four previews in the table (none for unchanged or unreadable pairs);
    # baseline, current and diff of the changed pair; those and the
    # shift-aware diff of the shifted one; one image each of the new and the
    # missing page. Full-size images wait for the views that show them.
    assert len(widths) == 4 + 3 + 4 + 1 + 1 and all(width > 0 for width in widths)
    previews = page.evaluate("""[...document.querySelectorAll('td.preview img')].map(image => [
        image.getBoundingClientRect().width, image.getBoundingClientRect().height,
        image.naturalWidth, image.naturalHeight])""")
    assert len(previews) == 4
    for width, height, natural_width, natural_height in previews:  # fitted to the image's aspect ratio
        assert abs(width / height - natural_width / natural_height) < 0.05
        assert 0.95 < max(width / 96, height / 64) < 1.05


def test_marks_stand_over_the_images(page, suite_report):
    pairs = {pair["path"]: pair for pair in suite_report.data["pairs"]}
    changed = pairs["docs/changed.png"]
    size = changed["current"]["width"], changed["current"]["height"]  # every image of these pairs is 48 x 96

    def fractions(x, y, width, height):
        return x / size[0], y / size[1], width / size[0], height / size[1]

    clusters = changed["alignment"]["clusters"]["items"]
    boxes = marks(page, suite_report, "docs/changed.png", "box")
    assert clusters and [box[0] for box in boxes] == ["current box"] * len(clusters)
    assert all(
        close(box[1:], fractions(*(cluster[key] for key in ("x", "y", "width", "height"))))
        for box, cluster in zip(boxes, clusters)
    )
    ignored, regions = marks(page, suite_report, "docs/changed.png", "ignored"), changed["ignore"]
    assert [mark[0] for mark in ignored] == [
        f"{alt} ignored" for alt in ("baseline", "current", "diff") for _ in regions
    ]
    assert all(close(mark[1:], fractions(*region)) for mark, region in zip(ignored, regions * 3))
    inserted, deleted = marks(page, suite_report, "docs/shifted.png", "band")
    assert (inserted[0], deleted[0]) == ("current band inserted", "current band deleted")
    assert inserted[1] + inserted[3] <= 0  # beside the image, on its left
    assert close(inserted[2::2], (40 / 96, 6 / 96)) and close(deleted[2:3], [1], 0.02)
    # On the images themselves: six rows inserted at row 40 of the current
    # image, the baseline's last six rows deleted, each a line on the other.
    shifts = marks(page, suite_report, "docs/shifted.png", "shift")
    kinds = ["baseline shift inserted edge", "baseline shift deleted", "current shift inserted"]
    assert [mark[0] for mark in shifts] == [*kinds, "current shift deleted edge"]
    wanted = [(40 / 96, 0), (90 / 96, 6 / 96), (40 / 96, 6 / 96), (1, 0)]
    assert all(close(mark[1:], (0, top, 1, height)) for mark, (top, height) in zip(shifts, wanted))


@pytest.mark.parametrize("status, expected", [("changed", 1), ("unchanged", 2), ("missing", 1)])
def test_filtering_by_status_hides_the_other_rows(page, status, expected):
    page.click(f"[data-filter={status}]")
    shown = page.evaluate(f"""[...document.querySelectorAll('#pairs tbody tr, article.pair')]
        .filter({VISIBLE}).map(element => element.dataset.status)""")
    details = 0 if status == "unchanged" else expected  # unchanged pairs have no details
    assert shown == [status] * (expected + details)
    page.click("[data-filter=all]")
    assert page.evaluate(f"[...document.querySelectorAll('#pairs tbody tr')].filter({VISIBLE}).length") == 7


def test_sorting_by_changed_pixels(page):
    values = "[...document.querySelectorAll('#pairs tbody tr')].map(row => Number(row.cells[2].dataset.value))"
    page.click("#pairs th:nth-child(3) button")
    ascending = page.evaluate(values)
    assert ascending == sorted(ascending) and len(ascending) == 7
    page.click("#pairs th:nth-child(3) button")
    assert page.evaluate(values) == sorted(ascending, reverse=True)
