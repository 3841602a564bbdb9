"""`quorvane compare`: exit statuses and messages, the JSON object, the
limits, and the images it writes, checked against the module's own answers."""

import io
import json
import os
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image, ImageDraw

import quorvane
import screens
from imaging import ROOT, pypng_rgba, screen
from screens import run

BUILD_DIR = os.environ.get("QUORVANE_BUILD_DIR", str(ROOT / "build"))


@pytest.fixture(scope="module")
def pair_files(tmp_path_factory):
    """PNG files of the cases below, by name."""
    folder = tmp_path_factory.mktemp("pairs")
    base = screens.page()
    files = {
        "base": base,
        "changed": screens.with_block(base),
        "shifted": screens.shifted(base),
        "wider": screens.page(96, 64),
        "replaced": screens.replaced_across_blank_rows()[0],
        "replacement": screens.replaced_across_blank_rows()[1],
    }
    paths = {name: screens.write(folder / f"{name}.png", image) for name, image in files.items()}
    paths["text"] = folder / "notes.png"
    paths["text"].write_text("not an image\n")
    paths["absent"] = folder / "absent.png"
    return paths


@pytest.mark.parametrize("baseline, current, options, status, expected", [
    ("base", "base", [], 0, ["status     unchanged", "result     within limits"]),
    ("base", "changed", [], 1, ["status     changed", "result     beyond limits: "]),
    ("base", "shifted", [], 1, ["status     shifted", "shifts     6 rows inserted at row 40, 6 rows deleted at row 96",
                                "0 pixels changed in place"]),
    ("base", "shifted", ["--allow-shifts"], 0, ["status     shifted", "result     within limits"]),
    ("base", "changed", ["--allow-shifts"], 1, ["status     changed", "pixels changed in place, more than 0"]),
    ("base", "wider", ["--allow-shifts"], 1, ["sizes      differ: compared on 64x96",
                                              "shifts     none: the rows do not align: the widths differ"]),
    # Rows replaced across blank rows leave the alignment's residual_count
    # at 0 and no shift band; the change is still judged as one in place.
    ("replaced", "replacement", ["--allow-shifts"], 1, ["status     changed", "pixels changed in place, more than 0"]),
])
def test_compare_exit_status_and_account(capsys, pair_files, baseline, current, options, status, expected):
    code, out, err = run(capsys, "compare", pair_files[baseline], pair_files[current], *options)
    assert (code, err) == (status, "")
    for text in expected:
        assert text in out


@pytest.mark.parametrize("baseline, current, culprit, message", [
    ("base", "absent", "absent", "No such file or directory"),
    ("absent", "base", "absent", "No such file or directory"),
    ("text", "base", "text", "failed to decode PNG: "),
    ("base", "text", "text", "failed to decode PNG: "),
])
def test_unreadable_input_exits_2_with_one_line_naming_the_file(capsys, pair_files, baseline, current, culprit,
                                                                 message):
    code, out, err = run(capsys, "compare", pair_files[baseline], pair_files[current])
    assert code == 2 and out == ""
    assert err.startswith(f"quorvane: {pair_files[culprit]}: {message}")
    assert err.count("\n") == 1


@pytest.mark.parametrize("options, fragment", [
    (["--threshold", "1.5"], "argument --threshold: must be in the range [0.0, 1.0]"),
    (["--diff-color", "256,0,0"], "argument --diff-color: must be R,G,B"),
    (["--max-changed-ratio", "150%"], "argument --max-changed-ratio: must be a fraction"),
    (["--max-changed-pixels", "-1"], "argument --max-changed-pixels: must be a whole number, 0 or more, not -1"),
    (["--dilation", "two"], "argument --dilation: must be a whole number, 0 or more, not two"),
    (["--diff-color", "#12345"], "argument --diff-color: must be R,G,B"),
    (["--min-ssim", "nan"], "argument --min-ssim: must be a finite number"),
    (["--no-such-option"], "unrecognized arguments: --no-such-option"),
    (["--ignore", "1,2,3"], "argument --ignore: must be X,Y,W,H (four whole numbers), not 1,2,3"),
    (["--ignore", "1,2,3,4.5"], "argument --ignore: must be X,Y,W,H (four whole numbers), not 1,2,3,4.5"),
    (["--ignore", "0,0,4,4", "--ignore=-1,0,4,4"], "argument --ignore: rectangle (-1, 0, 4, 4) has a negative x"),
    (["--ignore", "0,0,4,0"], "argument --ignore: rectangle (0, 0, 4, 0) has a height below 1"),
    (["--mask-color", "0,0,256"], "argument --mask-color: must be R,G,B"),
])
def test_bad_usage_exits_2(capsys, pair_files, options, fragment):
    code, out, err = run(capsys, "compare", pair_files["base"], pair_files["changed"], *options)
    assert code == 2 and out == ""
    assert fragment in err


def test_limits_pass_at_the_boundary_and_fail_past_it(capsys, pair_files):
    comparison = quorvane.Comparison(pair_files["base"].read_bytes(), pair_files["changed"].read_bytes())
    changed, ssim = comparison.diff_count(), comparison.ssim()
    ratio = changed / (comparison.width * comparison.height)
    cases = [
        (["--max-changed-pixels", changed], 0), (["--max-changed-pixels", changed - 1], 1),
        (["--max-changed-ratio", f"{ratio * 100 + 1e-9}%"], 0), (["--max-changed-ratio", ratio * 0.99], 1),
        (["--min-ssim", ssim], 0), (["--min-ssim", ssim + 1e-9], 1),
        # Limits given replace the default "no changed pixel".
        (["--min-ssim", "0"], 0),
    ]
    for options, status in cases:
        assert run(capsys, "compare", pair_files["base"], pair_files["changed"], *options)[0] == status, options


def test_json_object_holds_the_modules_figures(capsys, pair_files):
    code, out, _ = run(capsys, "compare", pair_files["base"], pair_files["shifted"], "--json", "--allow-shifts",
                       "--max-clusters", "3")
    assert code == 0
    result = json.loads(out)
    comparison = quorvane.Comparison(pair_files["base"].read_bytes(), pair_files["shifted"].read_bytes())
    alignment = comparison.row_alignment()
    assert set(result) == {"baseline", "current", "width", "height", "size_mismatch", "status", "changed_pixels",
                           "changed_ratio", "ssim", "ignore", "ignored_pixels", "clusters", "alignment", "limits",
                           "passed", "failures", "outputs"}
    assert (result["ignore"], result["ignored_pixels"]) == ([], 0)
    assert result["baseline"] == {"path": str(pair_files["base"]), "width": 48, "height": 96}
    assert (result["width"], result["height"], result["size_mismatch"]) == (48, 96, False)
    assert result["changed_pixels"] == comparison.diff_count()
    assert result["changed_ratio"] == comparison.diff_count() / (48 * 96)
    assert result["ssim"] == comparison.ssim()
    clusters = comparison.clusters(max_clusters=3)
    assert result["clusters"]["total"] == clusters.total_clusters
    assert [(c["x"], c["y"], c["width"], c["height"], c["pixel_count"], tuple(c["centroid"]))
            for c in result["clusters"]["items"]] == [
        (c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, c.centroid) for c in clusters.clusters]
    aligned = result["alignment"]
    assert aligned["bands"] == [{"kind": b.kind, "y": b.y, "rows": b.rows} for b in alignment.bands]
    assert aligned["ssim"] == comparison.aligned_ssim(alignment)
    assert (aligned["changed_pixels"], aligned["clusters"]["total"]) == (0, 0)
    assert (result["status"], result["passed"], result["failures"]) == ("shifted", True, [])
    assert result["limits"] == {"max_changed_pixels": 0, "max_changed_ratio": None, "min_ssim": None,
                                "allow_shifts": True}
    assert result["outputs"] == {"diff": None, "aligned_diff": None, "thumbnail": None}


def test_json_of_an_identical_pair_has_no_alignment(capsys, pair_files):
    result = json.loads(run(capsys, "compare", pair_files["base"], pair_files["base"], "--json")[1])
    assert (result["status"], result["changed_pixels"], result["ssim"]) == ("unchanged", 0, 1.0)
    assert result["alignment"] is None and result["clusters"] == {"total": 0, "truncated": False, "items": []}


DRAWING = ["--threshold", "0.05", "--alpha", "0.5", "--diff-color", "0,0,255", "--aa-color", "#00ff00",
           "--diff-color-alt", "10,20,30", "--include-aa"]
DRAWING_KWARGS = dict(threshold=0.05, alpha=0.5, diff_color=(0, 0, 255), aa_color=(0, 255, 0),
                      diff_color_alt=(10, 20, 30), include_aa=True)


@pytest.mark.parametrize("option, name, expected", [
    ("--diff", "diff.png", lambda c, a: c.diff_image(**DRAWING_KWARGS)),
    ("--aligned-diff", "aligned.png", lambda c, a: c.aligned_diff_image(a, **DRAWING_KWARGS)),
    ("--thumbnail", "current.webp", lambda c, a: c.current_thumbnail(width=20, height=30)),
])
def test_written_images_are_the_modules(capsys, pair_files, tmp_path, option, name, expected):
    target = tmp_path / name
    code, out, _ = run(capsys, "compare", pair_files["base"], pair_files["shifted"], option, target, *DRAWING,
                       "--thumbnail-width", "20", "--thumbnail-height", "30", "--json")
    assert code == 1
    assert json.loads(out)["outputs"][option[2:].replace("-", "_")] == str(target)
    comparison = quorvane.Comparison(pair_files["base"].read_bytes(), pair_files["shifted"].read_bytes())
    module_image = expected(comparison, comparison.row_alignment(threshold=0.05, include_aa=True))
    assert target.read_bytes() == module_image
    if name.endswith(".png"):
        assert np.array_equal(pypng_rgba(target.read_bytes()), pypng_rgba(module_image))


def test_aligned_diff_of_pair_that_does_not_align_is_skipped_with_a_warning(capsys, pair_files, tmp_path):
    target = tmp_path / "aligned.png"
    code, _, err = run(capsys, "compare", pair_files["base"], pair_files["wider"], "--aligned-diff", target)
    assert code == 1 and not target.exists()
    assert err == f"quorvane: {target}: not written: the rows do not align: the widths differ\n"


def test_unwritable_output_exits_2(capsys, pair_files, tmp_path):
    target = tmp_path / "missing-folder" / "diff.png"
    code, _, err = run(capsys, "compare", pair_files["base"], pair_files["changed"], "--diff", target)
    assert code == 2 and err == f"quorvane: {target}: No such file or directory\n"


def test_runs_as_a_module_without_traceback(pair_files):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([BUILD_DIR, str(ROOT / "python")]))
    command = [sys.executable, "-m", "quorvane_cli", "compare", str(pair_files["base"])]
    ok = subprocess.run(command + [str(pair_files["changed"])], capture_output=True, text=True, env=env)
    assert ok.returncode == 1 and "status     changed" in ok.stdout
    bad = subprocess.run(command + [str(pair_files["text"])], capture_output=True, text=True, env=env)
    assert bad.returncode == 2 and "Traceback" not in bad.stderr
    assert bad.stderr.startswith(f"quorvane: {pair_files['text']}: failed to decode PNG: ")


def test_size_mismatch_compares_on_the_common_canvas(capsys, pair_files, tmp_path):
    taller = screens.write(tmp_path / "taller.png", np.concatenate([screens.page(), screens.page(8, 48, 7)]))
    result = json.loads(run(capsys, "compare", pair_files["base"], taller, "--json", "--allow-shifts")[1])
    assert result["size_mismatch"] and (result["width"], result["height"]) == (48, 104)
    assert result["current"]["height"] == 104 and result["baseline"]["height"] == 96
    # The taller page is the old one with rows added at the bottom: a shift.
    assert result["alignment"]["bands"] == [{"kind": "inserted", "y": 96, "rows": 8}]
    assert (result["status"], result["passed"]) == ("shifted", True)



def with_clock(png, time):
    """The example page with a clock in its top bar showing the time."""
    image = Image.open(io.BytesIO(png)).convert("RGB")
    ImageDraw.Draw(image).text((1150, 16), time, fill=(60, 60, 60))
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


CLOCK = (1140, 8, 110, 30)


def test_a_live_clock_fails_the_pair_until_its_region_is_ignored(capsys, tmp_path):
    page = screen("page_baseline.png")
    for side, time in (("baseline", "12:34:56"), ("current", "12:35:07")):
        (tmp_path / side / "docs").mkdir(parents=True)
        (tmp_path / side / "docs" / "page.png").write_bytes(with_clock(page, time))
    baseline, current = tmp_path / "baseline" / "docs" / "page.png", tmp_path / "current" / "docs" / "page.png"
    clock = ",".join(map(str, CLOCK))

    assert run(capsys, "compare", baseline, current)[0] == 1
    code, out, _ = run(capsys, "compare", baseline, current, "--ignore", clock, "--ignore", "0,0,10,10")
    assert code == 0 and "ignored    3400 pixels left out (0.08%), in 2 regions" in out
    result = json.loads(run(capsys, "compare", baseline, current, "--ignore", clock, "--json")[1])
    module = quorvane.Comparison(baseline.read_bytes(), current.read_bytes(), ignore=[CLOCK])
    assert (result["ignore"], result["ignored_pixels"], result["changed_pixels"]) == (
        [list(CLOCK)], module.ignored_pixels, 0)

    regions = tmp_path / "regions.json"
    regions.write_text(json.dumps({"docs/*.png": [CLOCK], "docs/page.png": [[0, 0, 10, 10], CLOCK]}))
    report = ["report", tmp_path / "baseline", tmp_path / "current", "-o", tmp_path / "out", "-q"]
    assert run(capsys, *report)[0] == 1
    assert run(capsys, *report, "--ignore-file", regions)[:3] == (0, f"1 pair: 1 unchanged, 0 changed, 0 shifted "
                                                                    f"only, 0 new, 0 missing; 0 beyond limits\n"
                                                                    f"report: {tmp_path / 'out' / 'index.html'}\n", "")
    written = json.loads((tmp_path / "out" / "report.json").read_text())
    (pair,) = written["pairs"]
    assert (pair["ignore"], pair["ignored_pixels"]) == ([list(CLOCK), [0, 0, 10, 10]], 3400)
    assert written["ignore_file"] == str(regions)
