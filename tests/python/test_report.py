"""`quorvane report`: pairing by relative path, the statuses and figures in
report.json, the files the page refers to, and the exit statuses."""

import html.parser
import json

import pytest

import quorvane
import screens
from quorvane_cli import main
from quorvane_cli.report import THUMBNAIL_EFFORT as REPORT_THUMBNAIL_EFFORT
from screens import run


@pytest.fixture(scope="module")
def suite_report(tmp_path_factory):
    """The report of the suite of pages: (its folder, report.json, exit status, pages, directories)."""
    root = tmp_path_factory.mktemp("suite")
    pages = screens.suite()
    baseline, current = screens.write_suite(root, pages)
    out_dir = root / "report"
    status = main(["report", str(baseline), str(current), "-o", str(out_dir), "--quiet"])
    report = json.loads((out_dir / "report.json").read_text())
    return out_dir, report, status, pages, (baseline, current)


def test_pairs_by_relative_path_with_their_statuses(suite_report):
    _, report, status, pages, _ = suite_report
    assert status == 1
    assert [pair["path"] for pair in report["pairs"]] == sorted(pages)
    assert {pair["path"]: pair["status"] for pair in report["pairs"]} == {path: p[2] for path, p in pages.items()}
    assert report["summary"] == {"pairs": 6, "unchanged": 2, "changed": 1, "shifted": 1, "new": 1, "missing": 1,
                                 "error": 0, "failed": 4}


def test_pair_records_hold_the_same_figures_as_compare(suite_report, capsys):
    _, report, _, _, (baseline, current) = suite_report
    for pair in report["pairs"]:
        if pair["status"] in ("new", "missing"):
            assert pair["changed_pixels"] is None and pair["failures"]
            continue
        code, out, _ = run(capsys, "compare", baseline / pair["path"], current / pair["path"], "--json")
        single = json.loads(out)
        for key in ("baseline", "current", "width", "height", "changed_pixels", "changed_ratio", "ssim", "clusters",
                    "alignment", "status", "failures"):
            assert pair[key] == single[key], (pair["path"], key)
        assert pair["passed"] == (code == 0)


def test_images_are_the_sources_and_the_modules(suite_report):
    out_dir, report, _, _, (baseline, current) = suite_report
    pair = next(p for p in report["pairs"] if p["path"] == "docs/shifted.png")
    images = {name: (out_dir / path).read_bytes() for name, path in pair["images"].items()}
    baseline_png, current_png = (baseline / pair["path"]).read_bytes(), (current / pair["path"]).read_bytes()
    comparison = quorvane.Comparison(baseline_png, current_png)
    sources = {"baseline": baseline_png, "current": current_png, "diff": comparison.diff_image(),
               "aligned_diff": comparison.aligned_diff_image(comparison.row_alignment())}
    for name, data in sources.items():
        assert images[name] == data
        assert images[f"{name}_thumbnail"] == quorvane.thumbnail(data, width=240, effort=REPORT_THUMBNAIL_EFFORT)
    unchanged = next(p for p in report["pairs"] if p["path"] == "home.png")["images"]
    assert [name for name, path in unchanged.items() if path] == ["current", "current_thumbnail"]


def test_every_file_is_decoded_once_and_no_written_png_again(capsys, tmp_path, monkeypatch):
    """The PNG bytes handed to every decoding entry point of the module are
    the input files, each once: thumbnails of diff images come from their
    pixels, not from decoding the PNGs just written."""
    pages = screens.suite()
    pages["tall.png"] = (screens.page(60, 30), screens.page(80, 40), "changed")  # sizes differ
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
        monkeypatch.setattr(quorvane, name, recording(getattr(quorvane, name),
                                                      lambda pairs, *_: [png for pair in pairs for png in pair]))
    code, _, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet")
    assert (code, err) == (1, "")
    inputs = [file.read_bytes() for file in sorted(baseline.rglob("*.png")) + sorted(current.rglob("*.png"))]
    assert sorted(decoded) == sorted(inputs)


@pytest.mark.parametrize("option, effort", [([], REPORT_THUMBNAIL_EFFORT), (["--thumbnail-effort", "9"], 9),
                                            (["--thumbnail-effort", "default"], None)])
def test_thumbnail_effort_follows_the_option(capsys, tmp_path, option, effort):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, {"docs/changed.png": pages["docs/changed.png"]})
    code, _, _ = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet", *option)
    (pair,) = json.loads((tmp_path / "out" / "report.json").read_text())["pairs"]
    comparison = quorvane.Comparison(*(folder.joinpath("docs/changed.png").read_bytes()
                                       for folder in (baseline, current)))
    written = (tmp_path / "out" / pair["images"]["current_thumbnail"]).read_bytes()
    assert (code, written) == (1, comparison.current_thumbnail(240, effort=effort))


@pytest.mark.parametrize("value", ["10", "-1", "fast", "1.5"])
def test_thumbnail_effort_out_of_range_is_bad_usage(capsys, tmp_path, value):
    code, _, err = run(capsys, "report", tmp_path, tmp_path, "-o", tmp_path / "out", "--thumbnail-effort", value)
    assert code == 2 and f"argument --thumbnail-effort: must be 0 to 9 or 'default', not {value}" in err


class References(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.found = []

    def handle_starttag(self, tag, attrs):
        self.found += [value for name, value in attrs if name in ("src", "href")]


def test_page_loads_nothing_from_the_network_and_every_file_it_names_exists(suite_report):
    out_dir, report, _, _, _ = suite_report
    references = References()
    references.feed((out_dir / "index.html").read_text())
    files = [ref for ref in references.found if not ref.startswith("#")]
    assert files and all("//" not in ref and ":" not in ref for ref in files)
    assert all((out_dir / ref).is_file() for ref in files)
    named = {path for pair in report["pairs"] for path in pair["images"].values() if path}
    assert named <= set(files)


@pytest.mark.parametrize("paths, options, status", [
    (["home.png", "same/twice.png"], [], 0),
    (["home.png", "docs/shifted.png"], [], 1),
    (["home.png", "docs/shifted.png"], ["--allow-shifts"], 0),
    (["docs/changed.png"], ["--max-changed-pixels", "1000000"], 0),
    (["home.png", "new.png"], [], 1),
])
def test_exit_status_follows_the_limits(capsys, tmp_path, paths, options, status):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, {path: pages[path] for path in paths})
    code, out, _ = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet", *options)
    assert code == status
    assert out.endswith(f"report: {tmp_path / 'out' / 'index.html'}\n")


def test_unreadable_pairs_are_reported_and_the_others_compared(capsys, tmp_path):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, pages)
    (current / "docs" / "changed.png").write_bytes(b"not a png")
    (baseline / "same" / "twice.png").write_bytes(b"")
    code, out, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--quiet")
    assert code == 2
    first, second = sorted(err.splitlines())
    assert first.startswith(f"quorvane: {baseline / 'same' / 'twice.png'}: failed to decode PNG: ")
    assert second.startswith(f"quorvane: {current / 'docs' / 'changed.png'}: failed to decode PNG: ")
    report = json.loads((tmp_path / "out" / "report.json").read_text())
    statuses = {pair["path"]: pair["status"] for pair in report["pairs"]}
    assert statuses == {"home.png": "unchanged", "docs/changed.png": "error", "docs/shifted.png": "shifted",
                        "new.png": "new", "old.png": "missing", "same/twice.png": "error"}
    assert "6 pairs: 1 unchanged, 0 changed, 1 shifted only, 1 new, 1 missing, 2 unreadable" in out


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


@pytest.mark.parametrize("make, message", [
    (lambda root: root / "nowhere", "No such file or directory"),
    (lambda root: screens.write(root / "file.png", screens.page(4, 4)), "Not a directory"),
])
def test_unusable_directory_exits_2(capsys, tmp_path, make, message):
    bad = make(tmp_path)
    code, out, err = run(capsys, "report", bad, tmp_path, "-o", tmp_path / "out")
    assert (code, out, err) == (2, "", f"quorvane: {bad}: {message}\n")


def test_directories_without_png_files_exit_2(capsys, tmp_path):
    (tmp_path / "a").mkdir()
    (tmp_path / "b").mkdir()
    code, _, err = run(capsys, "report", tmp_path / "a", tmp_path / "b", "-o", tmp_path / "out")
    assert code == 2 and err.endswith(": no PNG files found\n")


@pytest.mark.parametrize("inside", ["report", "."])
def test_report_written_inside_the_current_directory_is_not_compared_next_time(capsys, tmp_path, inside):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, {"home.png": pages["home.png"]})
    for _ in range(2):
        code, out, _ = run(capsys, "report", baseline, current, "-o", current / inside, "--quiet")
        assert code == 0 and out.startswith("1 pair: 1 unchanged")


def test_progress_goes_to_stderr_unless_quiet(capsys, tmp_path):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, {"home.png": pages["home.png"]})
    assert run(capsys, "report", baseline, current, "-o", tmp_path / "out")[2] == "quorvane: comparing 1 pair\n"
    assert run(capsys, "report", baseline, current, "-o", tmp_path / "out", "-q")[2] == ""


@pytest.mark.parametrize("content, message", [
    ("{", "not a JSON file: "),
    ("[[0, 0, 4, 4]]", 'expected an object {"relative/path.png" or "glob*": [[x, y, width, height], ...], ...}'),
    ('{"*": [[0, 0, 4, 4]], "home.png": [[0, 0, 4]]}',
     '"home.png": rectangle [0, 0, 4] is not four integers (x, y, width, height)'),
    ('{"*": [[0, -2, 4, 4]]}', '"*": rectangle [0, -2, 4, 4] has a negative y'),
    ('{"*": 4}', '"*": expected a sequence of (x, y, width, height) rectangles, got int'),
])
def test_bad_ignore_file_exits_2_naming_it(capsys, tmp_path, content, message):
    baseline, current = screens.write_suite(tmp_path, {"home.png": screens.suite()["home.png"]})
    regions = tmp_path / "regions.json"
    regions.write_text(content)
    code, out, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--ignore-file", regions)
    assert (code, out) == (2, "")
    assert err.startswith(f"quorvane: {regions}: {message}") and err.count("\n") == 1


def test_ignore_file_keys_apply_by_path_and_pattern_beside_the_option(capsys, tmp_path):
    baseline, current = screens.write_suite(tmp_path, screens.suite())
    regions = tmp_path / "regions.json"
    regions.write_text(json.dumps({"docs/*": [[0, 0, 2, 2]], "docs/changed.png": [[8, 18, 12, 12], [0, 0, 2, 2]],
                                   "nothing/*.png": [[0, 0, 1, 1]]}))
    code, _, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "-q", "--ignore-file", regions,
                       "--ignore", "40,0,8,1")
    assert err == f'quorvane: {regions}: "nothing/*.png" matches no file\n'
    report = json.loads((tmp_path / "out" / "report.json").read_text())
    applied = {pair["path"]: (pair["ignore"], pair["status"]) for pair in report["pairs"]}
    assert applied == {
        "docs/changed.png": ([[40, 0, 8, 1], [0, 0, 2, 2], [8, 18, 12, 12]], "unchanged"),
        "docs/shifted.png": ([[40, 0, 8, 1], [0, 0, 2, 2]], "shifted"),
        "home.png": ([[40, 0, 8, 1]], "unchanged"), "same/twice.png": ([[40, 0, 8, 1]], "unchanged"),
        "new.png": (None, "new"), "old.png": (None, "missing")}
    assert report["settings"]["ignore"] == [[40, 0, 8, 1]] and report["settings"]["mask_color"] == [255, 0, 255]
    assert code == 1
