"""What the command and the report do with careless and hostile input: an
output folder that is the user's, or holds a planted link, or an input;
inputs that are not regular files or change while read; names that are not
UTF-8 or hold control characters; numbers out of range; unexpected faults."""

import json
import os
import pathlib
import stat

import pytest
import screens
from screens import run

from quorvane_cli import analysis, safe_files

MARKER = safe_files.OutputFolder.MARKER


@pytest.fixture
def suite(tmp_path):
    pages = {path: screens.suite()[path] for path in ("home.png", "docs/changed.png", "new.png")}
    return screens.write_suite(tmp_path, pages)


def report(capsys, suite, out, *options):
    return run(capsys, "report", *suite, "-o", out, "-q", *options)


def plant_link(out, suite):
    """An earlier report of ours, with a link planted among its images."""
    (out / "images" / "x.png").symlink_to(suite[0] / "home.png")


@pytest.mark.parametrize(
    "where, prepare, message",
    [
        ("out", lambda out, suite: (out / "index.html").write_text("mine"), "holds files that quorvane did not write"),
        ("baseline", None, "is, holds or lies inside an input folder"),
        ("current/report", None, "is, holds or lies inside an input folder"),
        ("out", plant_link, "holds images/x.png, which the earlier run did not write"),
    ],
)
def test_an_output_folder_that_is_not_ours_alone_is_refused_untouched(capsys, tmp_path, suite, where, prepare, message):
    out = tmp_path / where
    if prepare is plant_link:
        assert report(capsys, suite, out)[0] == 1
    out.mkdir(exist_ok=True)
    if prepare is not None:
        prepare(out, suite)
    before = {path: path.read_bytes() for path in tmp_path.rglob("*") if path.is_file()}
    code, stdout, err = report(capsys, suite, out)
    assert (code, stdout, err.count("\n")) == (2, "", 1) and message in err
    assert {path: path.read_bytes() for path in tmp_path.rglob("*") if path.is_file()} == before


def test_an_earlier_report_is_replaced_and_nothing_of_it_stays(capsys, tmp_path, suite):
    out = tmp_path / "out"
    assert report(capsys, suite, out)[0] == 1
    for folder in suite:  # the pair's images must go with the next run
        (folder / "docs" / "changed.png").unlink()
    assert report(capsys, suite, out)[0] == 1
    listed = json.loads((out / MARKER).read_bytes())["files"]
    present = sorted(path.relative_to(out).as_posix() for path in out.rglob("*") if path.is_file())
    assert present == sorted([*listed, MARKER]) and not any("changed" in name for name in present)
    assert {"report.json", "index.html"} <= set(listed)


def test_inputs_are_regular_files_read_once_whatever_happens_to_them_later(capsys, tmp_path, suite, monkeypatch):
    baseline, current = suite
    (current / "zero.png").symlink_to("/dev/zero")
    os.mkfifo(current / "fifo.png")
    screens.write(baseline / "fifo.png", screens.page())
    reads, read = [], safe_files.read_input

    def read_then_swap(path):
        """Each file is replaced by other bytes as soon as it has been read."""
        data = read(path)
        reads.append(pathlib.Path(path).name)
        if stat.S_ISREG(os.lstat(path).st_mode):
            pathlib.Path(path).write_bytes(b"swapped")
        return data

    originals = {path: path.read_bytes() for path in current.rglob("*.png") if path.is_file() and not path.is_symlink()}
    monkeypatch.setattr(safe_files, "read_input", read_then_swap)
    code, _, _ = report(capsys, suite, tmp_path / "out")
    data = json.loads((tmp_path / "out" / "report.json").read_text())
    pairs = {pair["path"]: pair for pair in data["pairs"]}
    assert code == 2 and sorted(reads) == sorted(["home.png"] * 2 + ["changed.png"] * 2 + ["new.png"] + ["fifo.png"])
    for name in ("zero.png", "fifo.png"):
        assert pairs[name]["status"] == "error" and "not a regular file" in pairs[name]["error"]
    # The images written are the bytes that were compared, not what the files hold now.
    for path, original in originals.items():
        pair = pairs[path.relative_to(current).as_posix()]
        if pair["images"]["current"]:
            assert (tmp_path / "out" / pair["images"]["current"]).read_bytes() == original


def test_names_that_are_not_utf8_or_hold_control_characters_are_shown_escaped(capsys, tmp_path, chromium):
    hostile = {b"\xff-page.png": "\\xff-page.png", b"\x1b[2J\x1b[32mALL PASSED.png": "\\x1b[2J\\x1b[32mALL PASSED.png"}
    base = screens.page()
    for side, image in (("baseline", base), ("current", screens.with_block(base))):
        for name in hostile:
            screens.write(tmp_path / side / os.fsdecode(name), image)
    code, out, err = run(capsys, "report", tmp_path / "baseline", tmp_path / "current", "-o", tmp_path / "o", "-q")
    assert code == 1 and "\x1b" not in out + err
    data = json.loads((tmp_path / "o" / "report.json").read_text())
    assert sorted(pair["path"] for pair in data["pairs"]) == sorted(os.fsdecode(name) for name in hostile)
    page = chromium.new_page()
    page.goto((tmp_path / "o" / "index.html").as_uri())
    text = page.inner_text("body")
    page.close()
    assert all(shown in text for shown in hostile.values()) and "\x1b" not in text


@pytest.mark.parametrize(
    "arguments, message",
    [
        ("--dilation 18446744073709551616", "argument --dilation: must be at most 18446744073709551615"),
        ("--thumbnail-width 20000", "argument --thumbnail-width: must be at most 16383"),
        ("--ignore-file {deep}", "{deep}: not a JSON file: nested too deeply"),
        ("--fault", "quorvane: unexpected RuntimeError: a fault"),
    ],
)
def test_every_failure_of_the_command_is_status_2_in_one_line(capsys, tmp_path, suite, monkeypatch, arguments, message):
    deep = tmp_path / "deep.json"
    deep.write_text("[" * 3000 + "]" * 3000)
    arguments = arguments.format(deep=deep).split()
    if arguments == ["--fault"]:
        monkeypatch.setattr(analysis, "analyse", lambda *_: (_ for _ in ()).throw(RuntimeError("a fault")))
        arguments = []
    code, out, err = report(capsys, suite, tmp_path / "out", *arguments)
    assert (code, out) == (2, "") and message.format(deep=deep) in err
    assert err.count("\n") == 1 or "usage:" in err  # argparse shows the usage above its one line


def test_compare_never_writes_over_an_input_and_names_a_full_device(capsys, tmp_path, suite):
    baseline, current = suite[0] / "docs" / "changed.png", suite[1] / "docs" / "changed.png"
    before = current.read_bytes()
    code, _, err = run(capsys, "compare", baseline, current, "--diff", current)
    assert (code, current.read_bytes()) == (2, before) and "an output never replaces an input" in err
    if os.path.exists("/dev/full"):
        code, _, err = run(capsys, "compare", baseline, current, "--diff", "/dev/full")
        assert (code, err) == (2, "quorvane: /dev/full: No space left on device\n")
