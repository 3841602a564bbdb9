"""Shift-aware verdicts on pages Chromium renders: a banner over a dithered
gradient aligns within the row threshold, nothing else changed, a removed
block counts as deleted rows, the rows pulled in at the bottom of a viewport
do not count, bands a few rows apart read as one; and the cluster limit
tells scattered specks from one changed block everywhere."""

import collections
import json

import numpy as np
import pytest
import screens
from imaging import pixels
from screens import run

import quorvane
from quorvane_cli import reading

CARDS = "".join(
    f"<div class='card'><h2>Item {i}</h2><p>Some text about item {i}, with a second sentence that "
    f"wraps onto the next line of the card.</p></div>" + ("<div id='promo'>Spring sale</div>" if i == 2 else "")
    for i in range(12)
)
PAGE = """<!doctype html><html><head><style>
body {{ margin: 0; font: 16px/1.5 sans-serif; background: {background}; }}
header {{ height: 64px; background: #234; }}
.card {{ border: 1px solid #ccc; border-radius: 8px; padding: 16px; margin: 16px 24px; }}
.banner {{ height: 40px; background: #ffe08a; }}
#promo {{ height: 150px; margin: 16px 24px; background: #7cb342; color: #fff; font-size: 40px; }}
{hidden} {{ display: none; }}
</style></head><body><header></header>{banner}{cards}</body></html>"""
GRADIENT = "linear-gradient(#fdfbfb, #c4d4ef)"


@pytest.fixture(scope="module")
def shots(chromium):
    """Full pages and viewports of the variants, by name."""
    page = chromium.new_page(viewport={"width": 800, "height": 1000})
    variants = {
        "plain": {},
        "removed": {"hidden": "#promo"},
        "gradient": {"background": GRADIENT},
        "gradient-banner": {"background": GRADIENT, "banner": "<div class='banner'></div>"},
    }
    taken = {}
    for name, given in variants.items():
        options = {"background": "#fff", "banner": "", "hidden": "#none", **given}
        page.set_content(PAGE.format(cards=CARDS, **options))
        taken[name] = page.screenshot(full_page=True)
        taken[f"{name} viewport"] = page.screenshot()
    page.close()
    return taken


def comparison(shots, baseline, current):
    return quorvane.Comparison(shots[baseline], shots[current])


def compare(capsys, tmp_path, shots, baseline, current, *options):
    paths = [screens.write(tmp_path / f"{name}.png", shots[name]) for name in (baseline, current)]
    code, out, _ = run(capsys, "compare", *paths, "--json", *options)
    return code, json.loads(out)


def test_a_banner_over_a_dithered_gradient_aligns_within_the_row_threshold(capsys, tmp_path, shots):
    pair = comparison(shots, "gradient", "gradient-banner")
    # The dithering moved with the rows: most rows below the banner keep their look, not their bytes.
    old, new = pixels(shots["gradient"]), pixels(shots["gradient-banner"])
    assert (old[64:] != new[64 + 40 :]).any(axis=(1, 2)).mean() > 0.5
    assert not pair.row_alignment(row_threshold=None).aligned
    exact = pair.row_alignment(row_threshold=None, max_edit_ratio=1.0)
    assert not exact.aligned or len(exact.bands) > 1
    within = pair.row_alignment(row_threshold=0.1)
    assert [(band.kind, band.y, band.rows) for band in within.bands] == [("inserted", 64, 40)]
    assert (within.changed_rows, within.residual_count, pair.aligned_clusters(within).clusters) == (0, 0, [])
    banner_ratio = 40 * pair.width / (pair.width * pair.current_size[1])
    limit = ["--allow-shifts", "--max-changed-ratio", str(banner_ratio * 1.01)]
    code, shifted = compare(capsys, tmp_path, shots, "gradient", "gradient-banner", *limit)
    assert (code, shifted["passed_with_shifts"], shifted["alignment"]["inserted_pixels"]) == (0, True, 40 * 800)
    code, exact = compare(capsys, tmp_path, shots, "gradient", "gradient-banner", *limit, "--row-threshold", "exact")
    assert (code, exact["alignment"]) == (1, None)
    for side, name in (("baseline", "gradient"), ("current", "gradient-banner")):
        screens.write(tmp_path / side / "page.png", shots[name])
    code, _, _ = run(capsys, "report", tmp_path / "baseline", tmp_path / "current", "-o", tmp_path / "out", *limit)
    assert (
        code == 0 and "passed with shifts: 40 rows inserted at row 64" in (tmp_path / "out" / "index.html").read_text()
    )


def test_a_removed_block_counts_as_its_deleted_rows(capsys, tmp_path, shots):
    pair = comparison(shots, "plain", "removed")
    removed = pair.baseline_size[1] - pair.current_size[1]
    code, result = compare(capsys, tmp_path, shots, "plain", "removed", "--allow-shifts")
    shifts = [(band["kind"], band["rows"]) for band in result["alignment"]["bands"] if band["kind"] != "moved by a row"]
    assert shifts == [("deleted", removed)]
    assert result["alignment"]["deleted_pixels"] >= removed * 800
    for limit in (0, removed * 800 - 1):
        code, result = compare(
            capsys, tmp_path, shots, "plain", "removed", "--allow-shifts", "--max-changed-pixels", limit
        )
        assert code == 1 and " in deleted rows), more than " in result["failures"][0]


def test_rows_pulled_into_a_viewport_from_below_do_not_count(capsys, tmp_path, shots):
    code, result = compare(capsys, tmp_path, shots, "plain viewport", "removed viewport", "--allow-shifts")
    assert code == 1  # the rows of the removed block count
    (deleted, pulled_in) = result["alignment"]["bands"]
    assert (deleted["kind"], pulled_in["kind"], pulled_in["y"] + pulled_in["rows"]) == ("deleted", "inserted", 1000)
    assert pulled_in["exempt_rows"] == pulled_in["rows"] == deleted["rows"]
    assert (
        result["alignment"]["inserted_pixels"] == 0 and result["alignment"]["deleted_pixels"] == deleted["rows"] * 800
    )


def test_bands_a_few_rows_apart_read_as_one():
    # A deletion with a row put back just below it reads as the net deletion;
    # a band further down stays apart.
    band = collections.namedtuple("Band", "kind y rows exempt_rows")
    bands = [band("deleted", 100, 30, 0), band("inserted", 103, 1, 0), band("deleted", 300, 5, 0)]
    assert [(b.kind, b.y, b.rows) for b in reading.read_bands(bands)] == [("deleted", 100, 29), ("deleted", 300, 5)]


def specks_and_block(tmp_path):
    """A page with 300 one-pixel specks at least 20 pixels apart, and the same
    page with one 20 by 20 block changed instead (400 pixels)."""
    base = np.full((400, 600, 4), 255, dtype=np.uint8)
    specks, block = base.copy(), base.copy()
    ys, xs = np.meshgrid(np.arange(10, 400, 20), np.arange(10, 600, 30), indexing="ij")
    specks[ys.ravel()[:300], xs.ravel()[:300], :3] = 0
    block[100:120, 200:220, :3] = 0
    return {
        name: screens.write(tmp_path / f"{name}.png", image)
        for name, image in (("base", base), ("specks", specks), ("block", block))
    }


@pytest.mark.parametrize("current, passed", [("specks", True), ("block", False)])
def test_the_cluster_limit_passes_specks_and_fails_a_block(capsys, tmp_path, current, passed):
    files = specks_and_block(tmp_path)
    pair = quorvane.Comparison(files["base"].read_bytes(), files[current].read_bytes())
    changed = [cluster.changed_pixels for cluster in pair.clusters(max_clusters=None).clusters]
    assert sum(changed) == pair.diff_count() == (300 if passed else 400) and (max(changed) <= 10) == passed
    code, _, _ = run(capsys, "compare", files["base"], files[current], "--max-cluster-pixels", 10)
    assert code == (0 if passed else 1)
    for side, name in (("baseline", "base"), ("current", current)):
        screens.write(tmp_path / side / "page.png", files[name].read_bytes())
    options = ["-o", tmp_path / "out", "-q", "--max-cluster-pixels", 10]
    code, _, _ = run(capsys, "report", tmp_path / "baseline", tmp_path / "current", *options)
    (pair_record,) = json.loads((tmp_path / "out" / "report.json").read_text())["pairs"]
    assert code == (0 if passed else 1) and pair_record["failures"] == (
        [] if passed else ["400 changed pixels in one cluster, more than 10"]
    )
