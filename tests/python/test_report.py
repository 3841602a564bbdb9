"""`quorvane report`: pairing by relative path, the statuses and figures in
report.json, the ignore file, the files the page refers to, and the exit
statuses."""

import hashlib
import json
import re

import pytest
import screens
from conftest import IGNORED
from screens import run

import quorvane


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def test_pairs_by_relative_path_with_their_statuses_and_regions(suite_report):
    pairs, pages, option = suite_report.data["pairs"], suite_report.pages, [40, 0, 8, 1]
    assert [(pair["path"], pair["status"]) for pair in pairs] == sorted((path, page[2]) for path, page in pages.items())
    counts = {"unchanged": 2, "changed": 1, "shifted": 1, "new": 1, "missing": 1, "error": 1}
    assert suite_report.data["summary"] == {"pairs": 7, **counts, "failed": 5}
    # An unreadable pair is reported, the others compared; and exit status 2.
    said = "7 pairs: 2 unchanged, 1 changed, 1 shifted only, 1 new, 1 missing, 1 unreadable; 5 beyond limits\n"
    assert (suite_report.status, suite_report.stdout) == (2, f"{said}report: {suite_report.out / 'index.html'}\n")
    typo, unreadable = suite_report.stderr.splitlines()
    assert typo == f'quorvane: {suite_report.regions}: "changed.png" matches no file'
    assert unreadable.startswith(f"quorvane: {suite_report.current / 'broken.png'}: failed to decode PNG: ")
    assert next(pair["error"] for pair in pairs if pair["status"] == "error") == unreadable[len("quorvane: ") :]
    # The ignore file's keys apply by path and by pattern, after --ignore.
    ignored = {"docs/changed.png": [option, IGNORED, [0, 0, 2, 2]], "docs/shifted.png": [option, IGNORED]}
    ignored |= {"home.png": [option], "same/Twice.PNG": [option], "new.png": None, "old.png": None, "broken.png": None}
    assert {pair["path"]: pair["ignore"] for pair in pairs} == ignored
    assert suite_report.data["settings"]["ignore"] == [option]
    assert suite_report.data["ignore_file"] == str(suite_report.regions)


# What a pair's record and the command's JSON object both hold.
SHARED_FIELDS = ["baseline", "current", "width", "height", "changed_pixels", "changed_ratio", "ssim", "ignore"]
SHARED_FIELDS += ["ignored_pixels", "clusters", "alignment", "status", "failures"]


def test_pair_records_hold_the_same_figures_as_compare(suite_report, capsys):
    for pair in suite_report.data["pairs"]:
        if pair["status"] in ("new", "missing", "error"):
            assert pair["changed_pixels"] is None and not pair["passed"]
            continue
        ignore = [text for region in pair["ignore"] for text in ("--ignore", ",".join(map(str, region)))]
        paths = (folder / pair["path"] for folder in (suite_report.baseline, suite_report.current))
        code, out, _ = run(capsys, "compare", *paths, "--json", *ignore)
        single = json.loads(out)
        for key in SHARED_FIELDS:
            assert pair[key] == single[key], (pair["path"], key)
        assert pair["passed"] == (code == 0)


def test_images_are_the_sources_and_the_modules(suite_report):
    pairs = {pair["path"]: pair for pair in suite_report.data["pairs"]}
    pair = pairs["docs/shifted.png"]
    images = {name: (suite_report.out / path).read_bytes() for name, path in pair["images"].items()}
    baseline_png = (suite_report.baseline / pair["path"]).read_bytes()
    current_png = (suite_report.current / pair["path"]).read_bytes()
    comparison = quorvane.Comparison(baseline_png, current_png, ignore=pair["ignore"])
    diff, aligned_diff = comparison.diff_image(), comparison.aligned_diff_image(comparison.row_alignment())
    thumbnail = {"width": 240, "effort": "fast"}  # as the option sets it
    assert images == {
        "baseline": baseline_png,
        "current": current_png,
        "diff": diff,
        "aligned_diff": aligned_diff,
        # The painted regions show in the thumbnails of the sources.
        "baseline_thumbnail": comparison.baseline_thumbnail(own_size=True, **thumbnail),
        "current_thumbnail": comparison.current_thumbnail(**thumbnail),
        "diff_thumbnail": quorvane.thumbnail(diff, **thumbnail),
        "aligned_diff_thumbnail": quorvane.thumbnail(aligned_diff, **thumbnail),
    }
    assert not any(pairs["home.png"]["images"].values())  # no images for an unchanged pair


def test_manifest_names_what_accepting_each_pair_writes(suite_report):
    results = json.loads((suite_report.out / "manifest.json").read_text())
    assert results["root"] == str(suite_report.baseline.resolve())
    assert [pair["name"] for pair in results["pairs"]] == [pair["path"] for pair in suite_report.data["pairs"]]
    for pair in results["pairs"]:
        baseline, current = (folder / pair["name"] for folder in (suite_report.baseline, suite_report.current))
        acceptable = pair["status"] in ("changed", "shifted", "new", "missing")
        assert pair["baseline"] == (pair["name"] if acceptable else None)
        assert pair["baseline_sha256"] == (sha256(baseline) if acceptable and baseline.exists() else None)
        accepted = (suite_report.out / pair["accepted"]).read_bytes() if pair["accepted"] else None
        assert accepted == (current.read_bytes() if acceptable and current.exists() else None)
        assert pair["accepted_sha256"] == (sha256(current) if accepted else None)


def test_every_file_is_decoded_once_and_no_written_png_again(capsys, tmp_path, monkeypatch):
    """The PNG bytes handed to every decoding entry point of the module are
    the input files, each once: thumbnails of diff images come from their
    pixels, not from decoding the PNGs just written."""
    # Every pair of the suite, the one that does not decode included (the
    # module names the side at fault), and one of two sizes.
    pages = dict(screens.suite())
    pages["tall.png"] = (screens.page(60, 30), screens.page(80, 40), "changed")
    baseline, current = screens.write_suite(tmp_path, pages)
    decoded = []

    def recording(function, pngs_of):
        def call(*args, **kwargs):
            decoded.extend(pngs_of(*args))
            return function(*args, **kwargs)

        return call

    monkeypatch.setattr(quorvane, "Comparison", recording(quorvane.Comparison, lambda *pngs: pngs))
    monkeypatch.setattr(quorvane, "thumbnail", recording(quorvane.thumbnail, lambda png, *_: [png]))
    for name in ("diff_batch", "diff_count_batch", "ssim_batch", "compare_batch"):
        batch = recording(getattr(quorvane, name), lambda pairs, *_: [png for pair in pairs for png in pair])
        monkeypatch.setattr(quorvane, name, batch)
    assert run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet")[0] == 2  # the broken pair
    inputs = [file.read_bytes() for folder in (baseline, current) for file in folder.rglob("*") if file.is_file()]
    assert sorted(decoded) == sorted(inputs)


def test_page_loads_nothing_from_the_network_and_every_file_it_names_exists(suite_report):
    references = re.findall(r'(?:src|href)="([^"#][^"]*)"', (suite_report.out / "index.html").read_text())
    assert references and all("//" not in ref and ":" not in ref for ref in references)
    assert all((suite_report.out / ref).is_file() for ref in references)
    assert {path for pair in suite_report.data["pairs"] for path in pair["images"].values() if path} <= set(references)


def test_page_too_tall_for_a_thumbnail_is_compared_without_one(capsys, tmp_path):
    # WebP holds at most 16383 rows, and a page narrower than the thumbnail
    # is not scaled down.
    tall = screens.page(17000, 10)
    baseline, current = screens.write_suite(tmp_path, {"tall.png": (tall, screens.with_block(tall, x=1), "changed")})
    code, _, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet")
    (pair,) = json.loads((tmp_path / "out" / "report.json").read_text())["pairs"]
    assert (code, err, pair["status"]) == (1, "", "changed")
    assert pair["images"]["current_thumbnail"] is None and pair["images"]["diff_thumbnail"] is None
    assert (tmp_path / "out" / pair["images"]["diff"]).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "no thumbnail: the image is too tall" in (tmp_path / "out" / "index.html").read_text()


@pytest.mark.parametrize(
    "baseline, regions, message",
    [
        ("nowhere", None, "{root}/nowhere: No such file or directory"),
        ("file.png", None, "{root}/file.png: Not a directory"),
        ("empty", None, "{root}/empty, {root}/empty: no PNG files found"),
        ("baseline", "{", "{regions}: not a JSON file: "),
        (
            "baseline",
            "[[0, 0, 4, 4]]",
            '{regions}: expected an object {{"relative/path.png" or "glob*": [[x, y, width, height], ...], ...}}',
        ),
        (
            "baseline",
            '{"*": [[0, 0, 4, 4]], "home.png": [[0, 0, 4]]}',
            '{regions}: "home.png": rectangle [0, 0, 4] is not four integers (x, y, width, height)',
        ),
        ("baseline", '{"*": 4}', '{regions}: "*": expected a sequence of (x, y, width, height) rectangles, got int'),
    ],
)
def test_unusable_directory_or_ignore_file_exits_2_in_one_line(capsys, tmp_path, baseline, regions, message):
    screens.write(tmp_path / "file.png", screens.page(4, 4))
    (tmp_path / "empty").mkdir()
    screens.write_suite(tmp_path, {"home.png": screens.suite()["home.png"]})
    options = [] if regions is None else ["--ignore-file", tmp_path / "regions.json"]
    (tmp_path / "regions.json").write_text(regions or "")
    current = tmp_path / ("empty" if baseline == "empty" else "current")
    code, out, err = run(capsys, "report", tmp_path / baseline, current, "-o", tmp_path / "out", *options)
    assert (code, out) == (2, "") and err.count("\n") == 1
    assert err.startswith("quorvane: " + message.format(root=tmp_path, regions=tmp_path / "regions.json"))
