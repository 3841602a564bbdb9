"""`quorvane compare`: exit statuses and messages, the JSON object, the
limits, and the images it writes, checked against the module's own answers;
and the command run as a module."""

import json
import subprocess
import sys

import numpy as np
import pytest
import screens
from conftest import CHILD_ENV
from imaging import SCREENS
from PIL import Image, ImageDraw
from screens import run

import quorvane


def with_clock(time):
    """A shared screenshot with a live clock in its top bar."""
    image = Image.open(SCREENS / "page_baseline.png").convert("RGBA")
    ImageDraw.Draw(image).text((1150, 16), time, fill=(60, 60, 60))
    return np.asarray(image)


@pytest.fixture(scope="module")
def pair_files(tmp_path_factory):
    """Files of the cases below, by name."""
    folder = tmp_path_factory.mktemp("pairs")
    base = screens.page()
    # Five rows deleted and five others inserted on either side of blank rows
    # that stay: the alignment takes it for one block changed in place, its
    # residual_count and shift bands both empty.
    top, bottom, old, new = (screens.page(rows, 48, seed) for rows, seed in ((10, 2), (10, 3), (5, 4), (5, 5)))
    blank = np.full((6, 48, 4), 255, dtype=np.uint8)
    files = {
        "base": base,
        "changed": screens.with_block(base),
        "shifted": screens.shifted(base),
        "wider": screens.page(96, 64),
        "taller": screens.taller(base, 96, 8, 7),
        "replaced": np.concatenate([top, old, blank, bottom]),
        "replacement": np.concatenate([top, blank, new, bottom]),
        "text": b"not an image\n",
        "clock": with_clock("12:34:56"),
        "clock_later": with_clock("12:35:07"),
    }
    paths = {name: screens.write(folder / f"{name}.png", image) for name, image in files.items()}
    return {**paths, "absent": folder / "absent.png", "unwritable": folder / "missing-folder" / "diff.png"}


@pytest.fixture(scope="module")
def limits(pair_files):
    """The changed pair's figures, for limits at them and just past them."""
    comparison = quorvane.Comparison(pair_files["base"].read_bytes(), pair_files["changed"].read_bytes())
    changed, ssim = comparison.diff_count(), comparison.ssim()
    ratio = changed / (comparison.width * comparison.height)
    at = {"changed": changed, "percent": f"{ratio * 100 + 1e-9}%", "ssim": ssim}
    return at | {"below": changed - 1, "ratio_below": ratio * 0.99, "ssim_above": ssim + 1e-9}


# How the shifted pair's shifts read, and its verdict where they may pass.
SHIFTS = "6 rows inserted at row 40, 6 rows deleted at row 96"
PASSED_WITH_SHIFTS = f"result     passed with shifts: {SHIFTS} (crossed the bottom edge: not counted)"


def compare(capsys, pair_files, *args):
    return run(capsys, "compare", *(pair_files.get(arg, arg) for arg in args))


@pytest.mark.parametrize(
    "arguments, status, expected",
    [
        ("base base", 0, ["status     unchanged", "result     within limits"]),
        ("base changed", 1, ["status     changed", "result     beyond limits: "]),
        ("base shifted", 1, ["status     shifted", f"shifts     {SHIFTS}", "0 pixels changed in place"]),
        # Under --allow-shifts inserted and deleted rows count, but for those pushed over the bottom edge.
        (
            "base shifted --allow-shifts --max-changed-pixels 288 --min-ssim 0.99",
            0,
            ["status     shifted", PASSED_WITH_SHIFTS],
        ),
        ("base shifted --allow-shifts --max-changed-pixels 287", 1, ["288 pixels changed with shifts (0 in place, "]),
        ("base changed --allow-shifts", 1, ["status     changed", "pixels changed with shifts (", " in place, 0 in"]),
        (
            "base wider --allow-shifts",
            1,
            ["sizes      differ: compared on 64x96", "shifts     none: the rows do not align: the widths differ"],
        ),
        # Content added at the bottom of a taller page: a shift whose new rows count.
        (
            "base taller --allow-shifts --max-changed-pixels 384",
            0,
            ["sizes      differ: compared on 48x104", "8 rows inserted at row 96", "status     shifted"],
        ),
        ("base taller --allow-shifts", 1, ["384 pixels changed with shifts (0 in place, 384 in inserted rows"]),
        ("replaced replacement --allow-shifts", 1, ["status     changed", "more than 0"]),
        ("clock clock_later", 1, ["status     changed"]),
        ("clock clock_later --ignore 1140,8,110,30", 0, ["ignored    3300 pixels left out", "status     unchanged"]),
        (
            "base changed --ignore 8,18,12,12 --ignore 0,0,2,2",
            0,
            ["ignored    148 pixels left out (3.21%), in 2 regions", "status     unchanged"],
        ),
        # Limits pass at the figure and fail past it; given, they replace the default "no changed pixel".
        ("base changed --max-changed-pixels {changed}", 0, []),
        ("base changed --max-changed-pixels {below}", 1, []),
        ("base changed --max-changed-ratio {percent}", 0, []),
        ("base changed --max-changed-ratio {ratio_below}", 1, []),
        ("base changed --min-ssim {ssim}", 0, []),
        ("base changed --min-ssim {ssim_above}", 1, []),
        ("base changed --min-ssim 0", 0, []),
    ],
)
def test_compare_exit_status_and_account(capsys, pair_files, limits, arguments, status, expected):
    code, out, err = compare(capsys, pair_files, *arguments.format(**limits).split())
    assert (code, err) == (status, "")
    for text in expected:
        assert text in out


def test_a_deleted_block_reads_as_one_deletion_and_counts_under_allow_shifts(capsys):
    """A page laid out again after a block was removed: the alignment's many
    bands read as one deletion, rows moved by layout rounding, and the rows
    pulled up from below the fold; the deleted rows count."""
    removed = 111 * 1366  # the rows the deletion took, less one a row moved by rounding gave back
    arguments = [SCREENS / "page_baseline.png", SCREENS / "page_deleted_block.png", "--allow-shifts"]
    code, out, _ = run(capsys, "compare", *arguments, "--max-changed-pixels", removed - 1)
    assert (
        code == 1
        and (
            "shifts     111 rows deleted at row 591, content moved by a row at 8 places between rows 965 and 2769, "
            "as layout rounds positions, 111 rows inserted at row 2889 (crossed the bottom edge: not counted)\n"
        )
        in out
    )
    assert "157090 in deleted rows" in out.splitlines()[-1]


# Arguments that start with an option follow "compare base changed".
@pytest.mark.parametrize(
    "arguments, message",
    [
        ("compare base absent", "quorvane: {absent}: No such file or directory"),
        ("compare absent base", "quorvane: {absent}: No such file or directory"),
        ("compare text base", "quorvane: {text}: failed to decode PNG: "),
        ("compare base text", "quorvane: {text}: failed to decode PNG: "),
        ("--diff unwritable", "quorvane: {unwritable}: No such file or directory"),
        ("--threshold 1.5", "argument --threshold: must be in the range [0.0, 1.0]"),
        ("--diff-color 256,0,0", "argument --diff-color: must be R,G,B"),
        ("--max-changed-ratio 150%", "argument --max-changed-ratio: must be a fraction"),
        ("--max-changed-pixels -1", "argument --max-changed-pixels: must be a whole number, 0 or more, not -1"),
        ("--dilation two", "argument --dilation: must be a whole number, 0 or more, not two"),
        ("--min-ssim nan", "argument --min-ssim: must be a finite number"),
        ("--ignore 1,2,3", "argument --ignore: must be X,Y,W,H (four whole numbers), not 1,2,3"),
        ("--ignore 1,2,3,4.5", "argument --ignore: must be X,Y,W,H (four whole numbers), not 1,2,3,4.5"),
        ("--ignore 0,0,4,4 --ignore=-1,0,4,4", "argument --ignore: rectangle (-1, 0, 4, 4) has a negative x"),
        (
            "report base changed -o out --thumbnail-effort 10",
            "argument --thumbnail-effort: must be 0 to 9, 'fast' or 'default', not 10",
        ),
    ],
)
def test_bad_usage_and_unusable_files_exit_2(capsys, pair_files, arguments, message):
    if arguments.startswith("--"):
        arguments = "compare base changed " + arguments
    command, *rest = arguments.split()
    code, out, err = run(capsys, command, *(pair_files.get(argument, argument) for argument in rest))
    message = message.format(**pair_files)
    assert (code, out) == (2, "")
    assert err.startswith(message) and err.count("\n") == 1 if message.startswith("quorvane: ") else message in err


def test_json_object_holds_the_modules_figures(capsys, pair_files):
    options = ["--json", "--allow-shifts", "--max-changed-pixels", "288", "--max-clusters", "3", "--ignore", "0,0,4,4"]
    code, out, _ = compare(capsys, pair_files, "base", "shifted", *options)
    result = json.loads(out)
    pngs = (pair_files[name].read_bytes() for name in ("base", "shifted"))
    comparison = quorvane.Comparison(*pngs, ignore=[(0, 0, 4, 4)])
    alignment, clusters = comparison.row_alignment(), comparison.clusters(max_clusters=3)
    changed = comparison.diff_count()
    assert (code, result["status"], result["passed"], result["passed_with_shifts"]) == (0, "shifted", True, True)
    assert (result["ignore"], result["ignored_pixels"]) == ([[0, 0, 4, 4]], comparison.ignored_pixels)
    assert result["baseline"] == {"path": str(pair_files["base"]), "width": 48, "height": 96}
    figures = (result["changed_pixels"], result["changed_ratio"], result["ssim"])
    assert figures == (changed, changed / (48 * 96), comparison.ssim())
    assert result["clusters"]["total"] == clusters.total_clusters
    assert [
        (c["x"], c["y"], c["width"], c["height"], c["pixel_count"], tuple(c["centroid"]))
        for c in result["clusters"]["items"]
    ] == [(c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, c.centroid) for c in clusters.clusters]
    aligned = result["alignment"]
    # The deletion at the bottom only makes room for the insertion above it: not counted.
    assert aligned["row_bands"] == [
        {"kind": b.kind, "y": b.y, "rows": b.rows, "exempt_rows": b.rows if b.y == 96 else 0} for b in alignment.bands
    ]
    assert [(b["kind"], b["y"], b["rows"], b["exempt_rows"]) for b in aligned["bands"]] == [
        ("inserted", 40, 6, 0),
        ("deleted", 96, 6, 6),
    ]
    assert (aligned["ssim"], aligned["clusters"]["total"]) == (comparison.aligned_ssim(alignment), 0)
    pixels = [aligned[key] for key in ("in_place_pixels", "inserted_pixels", "deleted_pixels", "changed_pixels")]
    assert pixels == [0, 6 * 48, 0, 6 * 48]
    limits = {"max_changed_pixels": 288, "max_changed_ratio": None, "min_ssim": None, "max_cluster_pixels": None}
    assert result["limits"] == {**limits, "allow_shifts": True}


DRAWING = (
    "--threshold 0.05 --alpha 0.5 --diff-color 0,0,255 --aa-color #00ff00 --diff-color-alt 10,20,30 "
    "--include-aa --ignore 30,4,12,10 --mask-color 1,2,3 --thumbnail-width 20 --thumbnail-height 30 --json"
)
DRAWING_KWARGS = dict(threshold=0.05, alpha=0.5, diff_color=(0, 0, 255), aa_color=(0, 255, 0), include_aa=True)
DRAWING_KWARGS["diff_color_alt"] = (10, 20, 30)


@pytest.mark.parametrize(
    "option, expected",
    [
        ("--diff", lambda c, a: c.diff_image(**DRAWING_KWARGS)),
        ("--aligned-diff", lambda c, a: c.aligned_diff_image(a, **DRAWING_KWARGS)),
        ("--thumbnail", lambda c, a: c.current_thumbnail(width=20, height=30)),
    ],
)
def test_written_images_are_the_modules(capsys, pair_files, tmp_path, option, expected):
    target = tmp_path / "image"
    code, out, _ = compare(capsys, pair_files, "base", "shifted", option, target, *DRAWING.split())
    assert code == 1
    assert json.loads(out)["outputs"][option[2:].replace("-", "_")] == str(target)
    pngs = (pair_files[name].read_bytes() for name in ("base", "shifted"))
    comparison = quorvane.Comparison(*pngs, ignore=[(30, 4, 12, 10)], mask_color=(1, 2, 3))
    assert target.read_bytes() == expected(comparison, comparison.row_alignment(threshold=0.05, include_aa=True))


def test_aligned_diff_of_pair_that_does_not_align_is_skipped_with_a_warning(capsys, pair_files, tmp_path):
    target = tmp_path / "aligned.png"
    code, _, err = compare(capsys, pair_files, "base", "wider", "--aligned-diff", target)
    assert code == 1 and not target.exists()
    assert err == f"quorvane: {target}: not written: the rows do not align: the widths differ\n"


def test_report_run_as_a_module_without_traceback_nor_dask_or_fsspec_imported(suite_report, tmp_path):
    # The imports of the run, as -X importtime lists them on stderr.
    command = [sys.executable, "-X", "importtime", "-m", "quorvane_cli", "report", suite_report.baseline]
    child = subprocess.run(
        [*command, suite_report.current, "-o", tmp_path, "-q"], capture_output=True, text=True, env=CHILD_ENV
    )
    imports = [line for line in child.stderr.splitlines() if line.startswith("import time:")]
    imported = {line.rsplit("|", 1)[1].strip().split(".")[0] for line in imports}
    assert "quorvane_cli" in imported and not imported & {"dask", "distributed", "fsspec"}
    messages = [line for line in child.stderr.splitlines() if line not in imports]
    assert (child.returncode, len(messages)) == (2, 1) and messages[0].endswith("failed to decode PNG: Not a PNG file")
