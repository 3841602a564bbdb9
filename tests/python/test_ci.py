"""What CI systems read: the report's JUnit XML checked against the JUnit
schema that pytest's own XML follows, its Markdown summary read by a
CommonMark parser, its GitHub annotations decoded by GitHub's rules; and
reports of shards merged into the report of one run over all pairs."""

import contextlib
import io
import itertools
import json
import os
import re
import shutil
import xml.etree.ElementTree as ElementTree

import pytest
import screens
from conftest import ROOT
from screens import run

from quorvane_cli import main, manifest, outputs

pytest_plugins = ["pytester"]

SCHEMA = ROOT / "tests" / "data" / "junit-10.xsd"  # pytest's copy of the JUnit schema CI systems read


def parsed_markdown(text):
    """(tables as lists of rows of cell texts, link targets, HTML found)."""
    markdown_it = pytest.importorskip("markdown_it", reason="markdown-it-py is not installed (requirements-dev.txt)")
    tokens = markdown_it.MarkdownIt("commonmark").enable("table").parse(text)
    tables, links, html = [], [], []
    for token, following in itertools.pairwise(tokens):
        if token.type == "table_open":
            tables.append([])
        elif token.type == "tr_open":
            tables[-1].append([])
        elif token.type in ("th_open", "td_open"):
            tables[-1][-1].append("".join(child.content for child in following.children if child.type == "text"))
        html += [token] if token.type.startswith("html") else []
        for child in token.children or ():
            links += [child.attrs["href"]] if child.type == "link_open" else []
            html += [child] if child.type.startswith("html") else []
    return tables, links, html


def workflow_command(line):
    """(title, message) of a GitHub ::error line, decoded by GitHub's rules."""
    match = re.fullmatch(r"::error title=([^:,]*)::(.*)", line)

    def decoded(text):
        for code, character in (("%0D", "\r"), ("%0A", "\n"), ("%3A", ":"), ("%2C", ","), ("%25", "%")):
            text = text.replace(code, character)
        return text

    return decoded(match.group(1)), decoded(match.group(2))


def test_junit_markdown_and_annotations_of_a_report_with_every_status(suite_report, tmp_path, capsys):
    xmlschema = pytest.importorskip("xmlschema", reason="xmlschema is not installed (requirements-dev.txt)")
    out, junit, summary = tmp_path / "report", tmp_path / "junit.xml", tmp_path / "summary.md"
    options = ["--junit", junit, "--markdown", summary, "--annotations", "github"]
    folders = (suite_report.baseline, suite_report.current)
    code, stdout, _ = run(capsys, "report", *folders, "-o", out, *suite_report.options, *options)
    assert code == suite_report.status
    pairs = suite_report.data["pairs"]
    failed = [pair for pair in pairs if not pair["passed"]]

    xmlschema.XMLSchema(SCHEMA).validate(str(junit))
    (suite,) = ElementTree.parse(junit).getroot()
    counts = [suite.get(key) for key in ("tests", "failures", "errors")]
    assert counts == [str(len(pairs)), str(len(failed) - 1), "1"]
    cases = [
        (case.get("name"), case.get("classname"), [(item.tag, item.get("message")) for item in case]) for case in suite
    ]
    kind = {pair["path"]: "error" if pair["error"] else "failure" for pair in pairs}
    expected = [[] if pair["passed"] else [(kind[pair["path"]], "; ".join(pair["failures"]))] for pair in pairs]
    assert cases == [(pair["path"], "quorvane.report", outcome) for pair, outcome in zip(pairs, expected)]
    assert all(float(case.get("time")) >= 0 for case in suite)
    changed = next(pair for pair in pairs if pair["status"] == "changed")
    text = suite.find(f"testcase[@name='{changed['path']}']/failure").text
    assert f"{changed['changed_pixels']} pixels changed" in text and f"SSIM {changed['ssim']:.6f}" in text

    (counted, listed), links, html = parsed_markdown(summary.read_text())
    keys = {"shifted only": "shifted", "unreadable": "error", "beyond limits": "failed"}
    assert counted[1] == [str(suite_report.data["summary"][keys.get(label, label)]) for label in counted[0]]
    assert html == []
    assert [row[0] for row in listed[1:]] == [pair["path"] for pair in failed]
    assert links and all((out / link).is_file() for link in links)

    annotations = [workflow_command(line) for line in stdout.splitlines() if line.startswith("::")]
    assert [title for title, _ in annotations] == [f"quorvane: {pair['path']}" for pair in failed]
    assert [message.splitlines()[1] for _, message in annotations] == [pair["failures"][0] for pair in failed]


@pytest.mark.parametrize("link_base", [None, "https://ci.example/artifacts/" + "deep/" * 1000])
def test_markdown_of_thousands_of_hostile_names_stays_short(suite_report, link_base):
    data = manifest.read(suite_report.out)
    changed = next(pair for pair in data["pairs"] if pair["status"] == "changed")
    names = [f"run {index}/a|b<script>*_[x](y)`.png" for index in range(5000)]
    data["pairs"] = [{**changed, "name": name, "title": name} for name in names]
    data["summary"] = manifest.summary_of(data["pairs"])
    text = outputs.markdown(data, link_base)
    assert len(text) < 65_000
    (_, listed), links, html = parsed_markdown(text)
    shown = len(listed) - 1
    assert html == [] and 0 < shown <= 50 and [row[0] for row in listed[1:]] == names[:shown]
    assert f"{5000 - shown} more beyond their limits" in text
    prefix = (link_base or "").rstrip("/") + "/" * bool(link_base)
    assert all(link.startswith(prefix) for link in links)
    assert {link[len(prefix) :].split("/")[0] for link in links} == {"images", "index.html"}


@pytest.mark.parametrize("name", ["100% sure.png", "two\nlines.png", "a::b, c.png", "bell\x07.png"])
def test_annotations_escape_what_would_end_a_workflow_command(suite_report, name):
    data = manifest.read(suite_report.out)
    data["pairs"] = [{**pair, "name": name} for pair in data["pairs"] if pair["status"] == "new"]
    (line,) = outputs.workflow_commands(data)
    title, message = workflow_command(line)
    assert title == "quorvane: " + name.replace("\x07", "\\x07") and message.splitlines()[1] == "no baseline image"


def test_plugin_writes_junit_and_markdown_of_its_failed_screenshots(pytester, monkeypatch):
    xmlschema = pytest.importorskip("xmlschema", reason="xmlschema is not installed (requirements-dev.txt)")
    monkeypatch.setenv("PYTEST_DISABLE_PLUGIN_AUTOLOAD", "1")
    monkeypatch.delenv("GITHUB_STEP_SUMMARY", raising=False)
    screens.write(pytester.path / "current.png", screens.page())
    pytester.makepyfile(test_shots="def test_a(assert_screenshot):\n    assert_screenshot('current.png', 'a')\n")
    options = ["-p", "quorvane_pytest.plugin", "-p", "no:cacheprovider"]
    pytester.runpytest(*options, "--screenshot-junit", "ci/junit.xml", "--screenshot-markdown", "ci/summary.md")
    junit = pytester.path / "ci" / "junit.xml"
    xmlschema.XMLSchema(SCHEMA).validate(str(junit))
    ((case,),) = ElementTree.parse(junit).getroot()
    named = (case.get("name"), case.get("classname"), case[0].get("type"))
    assert named == ("__screenshots__/test_shots/a.png", "quorvane.pytest", "new")
    summary = (pytester.path / "ci" / "summary.md").read_text()
    assert summary.startswith("### quorvane: 1 of 1 screenshots beyond their limits")
    result = pytester.runpytest(*options, "--screenshot-markdown", "github")
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines(["*--screenshot-markdown github: $GITHUB_STEP_SUMMARY names no file*"])


def files_below(folder):
    return {
        path.relative_to(folder).as_posix(): path
        for path in folder.rglob("*")
        if path.is_file() and not path.name.startswith(".")
    }


def without_time(text):
    return re.sub(r"\d{4}-\d\d-\d\dT[\d:+-]+", "", text)


@pytest.mark.parametrize("link", [False, True], ids=["copied", "hard-linked"])
def test_merged_shards_equal_one_run_and_approve_from_it(results, capsys, link):
    shards = [results.root / f"shard {index}" for index in (1, 2, 3)]
    for index, shard in enumerate(shards, 1):
        run(capsys, "report", "baseline", "current", "-o", shard, "-q", "--shard", f"{index}/3")
    names = [manifest.read(shard)["pairs"] for shard in shards]
    assert sorted(pair["name"] for pairs in names for pair in pairs) == sorted(results.pages)  # each once
    merged = results.root / "merged"
    code, _, _ = run(capsys, "merge", merged, *shards, *(["--link"] if link else []))
    assert code == 2  # the unreadable pair, as in the single run

    ours, single = files_below(merged), files_below(results.out)
    assert ours.keys() == single.keys()
    for name, path in ours.items():
        assert without_time(path.read_text("latin-1")) == without_time(single[name].read_text("latin-1")), name
    shard_files = {name: path for shard in shards for name, path in files_below(shard).items()}
    images = [name for name in ours if name.startswith("images/")]
    assert images and all(os.path.samefile(ours[name], shard_files[name]) == link for name in images)

    # One shard merged alone gives its records back.
    run(capsys, "merge", results.root / "alone", shards[1])
    assert manifest.read(results.root / "alone")["pairs"] == manifest.read(shards[1])["pairs"]

    assert run(capsys, "approve", merged, "--all")[0] == 0
    for path in ("docs/changed.png", "docs/shifted.png", "new.png"):
        assert (results.root / "baseline" / path).read_bytes() == (results.root / "current" / path).read_bytes()


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """Reports of the suite with other settings and limits, one with another
    result for a pair, and one with a link planted for an image."""
    root = tmp_path_factory.mktemp("runs")
    screens.write_suite(root, screens.suite())
    with pytest.MonkeyPatch.context() as patch, contextlib.redirect_stdout(io.StringIO()):
        patch.chdir(root)
        settings = {"all": [], "threshold": ["--threshold", "0.2"], "limit": ["--max-changed-pixels", "5"]}
        for name, options in settings.items():
            main(["report", "baseline", "current", "-o", name, "-q", *options])
    for copy in ("twin", "planted"):
        shutil.copytree(root / "all", root / copy)
    data = json.loads((root / "twin" / manifest.NAME).read_text())
    data["pairs"][1]["figures"]["changed_pixels"] += 1
    (root / "twin" / manifest.NAME).write_text(json.dumps(data))
    (root / "planted/images/1-docs_changed/current.png").unlink()
    (root / "planted/images/1-docs_changed/current.png").symlink_to(root / "baseline/home.png")
    return root


@pytest.mark.parametrize(
    "shards, out, error",
    [
        (["all", "threshold"], "merged", "threshold: made with settings.threshold 0.2, but all with 0.1"),
        (["all", "limit"], "merged", "limit: made with limits.max_changed_pixels 5, but all with 0"),
        (["all", "twin"], "merged", "docs/changed.png: in all and in twin with different results"),
        (["planted"], "merged", "planted/images/1-docs_changed/current.png: a link or not a file, not followed"),
        (["all", "all/images"], "merged", "all/images/manifest.json: no results manifest here"),
        (["all"], "all/merged", "all/merged: is, holds or lies inside an input folder"),
    ],
)
def test_merge_refuses_shards_of_different_runs(runs, monkeypatch, capsys, shards, out, error):
    monkeypatch.chdir(runs)
    code, stdout, stderr = run(capsys, "merge", out, *shards)
    assert (code, stdout) == (2, "") and stderr.startswith(f"quorvane: {error}")
    assert not (runs / out).exists()
