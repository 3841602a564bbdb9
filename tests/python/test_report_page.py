"""The report page as a person sees it, opened in headless Chromium: the
summary, one row per pair, every image loaded, the cluster boxes and shift
bands over the current image, the ignored regions over every image,
filtering and sorting."""

import json

import pytest

import screens
from browser import Browser, find_chromium
from quorvane_cli import main

CHROMIUM = find_chromium()
pytestmark = pytest.mark.skipif(
    CHROMIUM is None, reason="no Chromium browser installed (Debian's chromium package; make test installs it)")

VISIBLE = "element => element.getClientRects().length > 0"


# Above the changed block and the inserted rows: no status changes.
IGNORED = [30, 4, 12, 10]


@pytest.fixture(scope="module")
def report(tmp_path_factory):
    root = tmp_path_factory.mktemp("page")
    baseline, current = screens.write_suite(root, screens.suite())
    (root / "regions.json").write_text(json.dumps({"docs/*": [IGNORED]}))
    main(["report", str(baseline), str(current), "-o", str(root / "report"), "--quiet",
          "--ignore-file", str(root / "regions.json")])
    return root / "report", json.loads((root / "report" / "report.json").read_text())


@pytest.fixture(scope="module")
def browser():
    chromium = Browser(CHROMIUM)
    yield chromium
    chromium.close()


@pytest.fixture
def page(browser, report):
    opened = browser.open((report[0] / "index.html").as_uri())
    yield opened
    opened.close()


def article(report, path):
    index = next(i for i, pair in enumerate(report[1]["pairs"]) if pair["path"] == path)
    return f"#pair-{index}"


def test_summary_shows_the_counts(page):
    counts = page.evaluate("""Object.fromEntries([...document.querySelectorAll('[data-filter]')]
        .filter(button => button.getClientRects().length > 0)
        .map(button => [button.dataset.filter, Number(button.querySelector('.count').textContent)]))""")
    assert counts == {"all": 6, "changed": 1, "shifted": 1, "new": 1, "missing": 1, "unchanged": 2}
    assert page.evaluate("document.querySelector('.verdict').textContent") == "4 of 6 pairs beyond the limits"


def test_table_has_one_row_per_pair(page, report):
    rows = page.evaluate("""[...document.querySelectorAll('#pairs tbody tr')]
        .map(row => [row.cells[0].textContent, row.cells[1].textContent])""")
    labels = {"shifted": "shifted only"}
    assert rows == [[pair["path"], labels.get(pair["status"], pair["status"])] for pair in report[1]["pairs"]]


def test_every_image_loads(page):
    widths = page.evaluate("""(async () => {
        for (const image of document.images) {
            image.scrollIntoView();  // lazily loaded images load once in view
            if (!image.complete)
                await new Promise(done => { image.onload = image.onerror = done; });
        }
        return [...document.images].map(image => image.naturalWidth);
    })()""")
    # Six previews in the table; baseline, current and diff of the changed
    # pair; those and the shift-aware diff of the shifted one; one image
    # each of the new and the missing page.
    assert len(widths) == 6 + 3 + 4 + 1 + 1
    assert all(width > 0 for width in widths)


def test_cluster_boxes_stand_over_the_changes_of_the_current_image(page, report):
    selector = article(report, "docs/changed.png")
    pair = next(p for p in report[1]["pairs"] if p["path"] == "docs/changed.png")
    clusters = pair["alignment"]["clusters"]["items"]
    boxes = page.evaluate(f"""(async () => {{
        const image = document.querySelector('{selector} .current img');
        image.scrollIntoView();
        if (!image.complete) await new Promise(done => {{ image.onload = done; }});
        const frame = image.getBoundingClientRect();
        return [...document.querySelectorAll('{selector} .box')].map(box => {{
            const r = box.getBoundingClientRect();
            return [r.left - frame.left, r.top - frame.top, r.width, r.height, frame.width, frame.height];
        }});
    }})()""")
    assert clusters and len(boxes) == len(clusters)
    scale_x, scale_y = boxes[0][4] / pair["current"]["width"], boxes[0][5] / pair["current"]["height"]
    for (left, top, width, height, _, _), cluster in zip(boxes, clusters):
        expected = (cluster["x"] * scale_x, cluster["y"] * scale_y, cluster["width"] * scale_x,
                    cluster["height"] * scale_y)
        assert all(abs(seen - wanted) <= 2 for seen, wanted in zip((left, top, width, height), expected))


def test_shift_bands_are_marked_beside_the_current_image(page, report):
    selector = article(report, "docs/shifted.png")
    marks = page.evaluate(f"""(() => {{
        const image = document.querySelector('{selector} .current img').getBoundingClientRect();
        return [...document.querySelectorAll('{selector} .band')].map(mark => {{
            const r = mark.getBoundingClientRect();
            return [mark.classList.contains('inserted') ? 'inserted' : 'deleted',
                    (r.top - image.top) / image.height, r.right <= image.left, r.height > 0];
        }});
    }})()""")
    kinds = [mark[0] for mark in marks]
    assert kinds == ["inserted", "deleted"]
    inserted = marks[0]
    assert abs(inserted[1] - 40 / 96) < 0.03 and inserted[2] and inserted[3]


def test_ignored_regions_are_marked_on_every_image_of_the_pair(page, report):
    selector = article(report, "docs/changed.png")
    marks = page.evaluate(f"""(async () => {{
        const marks = [];
        for (const image of document.querySelectorAll('{selector} img')) {{
            image.scrollIntoView();
            if (!image.complete) await new Promise(done => {{ image.onload = done; }});
            const frame = image.getBoundingClientRect();
            for (const mark of image.parentElement.querySelectorAll('.ignored')) {{
                const r = mark.getBoundingClientRect();
                marks.push([image.alt, (r.left - frame.left) / frame.width, (r.top - frame.top) / frame.height,
                            r.width / frame.width, r.height / frame.height]);
            }}
        }}
        return marks;
    }})()""")
    x, y, width, height = IGNORED
    assert [mark[0] for mark in marks] == ["baseline", "current", "diff"]
    for _, *place in marks:  # every image of this pair is 48 x 96
        assert all(abs(seen - wanted) < 0.02 for seen, wanted in zip(place, (x / 48, y / 96, width / 48, height / 96)))


@pytest.mark.parametrize("status, expected", [("changed", 1), ("unchanged", 2), ("missing", 1)])
def test_filtering_by_status_hides_the_other_rows(page, status, expected):
    page.click(f"[data-filter={status}]")
    shown = page.evaluate(f"""[...document.querySelectorAll('#pairs tbody tr, article.pair')]
        .filter({VISIBLE}).map(element => element.dataset.status)""")
    details = 0 if status == "unchanged" else expected  # unchanged pairs have no details
    assert shown == [status] * (expected + details)
    page.click("[data-filter=all]")
    assert page.evaluate(f"[...document.querySelectorAll('#pairs tbody tr')].filter({VISIBLE}).length") == 6


def test_sorting_by_changed_pixels(page, report):
    values = "[...document.querySelectorAll('#pairs tbody tr')].map(row => Number(row.cells[2].dataset.value))"
    page.click("#pairs th:nth-child(3) button")
    ascending = page.evaluate(values)
    assert ascending == sorted(ascending) and len(ascending) == 6
    page.click("#pairs th:nth-child(3) button")
    assert page.evaluate(values) == sorted(ascending, reverse=True)
