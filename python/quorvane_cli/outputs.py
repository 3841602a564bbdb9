"""What CI systems show, made from a results manifest: JUnit XML for a test
tab, a Markdown summary for a job page or a pull-request comment, and
GitHub workflow commands that annotate the run. The report, `merge` and the
pytest plugin write them alike."""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
import typing
import urllib.parse
import xml.etree.ElementTree as ElementTree
from collections.abc import Mapping

from quorvane_cli import page
from quorvane_cli.errors import CliError
from quorvane_cli.files import write_file
from quorvane_cli.manifest import STATUSES, Manifest, Pair
from quorvane_cli.safe_files import shown

# Under GitHub's 65,536 characters for a comment (a job summary takes 1 MiB).
MARKDOWN_LIMIT = 65_000
MOST_LISTED = 50
# A name longer than this is shown by its end, which tells pairs apart.
LONGEST_SHOWN_NAME = 200
STEP_SUMMARY = "GITHUB_STEP_SUMMARY"
SHOWN_IMAGES = ("baseline", "current", "diff", "aligned_diff")


def verdict(pair: Pair) -> str:
    """The pair's verdict in one line."""
    return shown("; ".join(pair["failures"]) or page.LABELS[pair["status"]])


def figure_lines(pair: Pair) -> list[str]:
    """Every figure of the pair, a line each, as the page words them."""
    figures = pair["figures"]
    sizes = [
        f"{side} {size['width']}x{size['height']}"
        for side in ("baseline", "current")
        if (size := figures[side]) is not None
    ]
    lines = [f"status: {page.LABELS[pair['status']]}", *map(shown, pair["failures"])]
    lines += [", ".join(sizes)] if sizes else []
    lines += page.figures_text(pair)
    if pair["figures"]["changed_pixels"] is not None:
        lines.append(f"limits: {page.limits_text(pair['limits'])}")
    return lines


def junit(data: Manifest, seconds: Mapping[str, float] | None = None) -> bytes:
    """JUnit XML with a test case per pair, named by the pair's name: one
    beyond its limits (new and missing ones too) has a failure, an
    unreadable one an error; `seconds` gives the pairs' times where known."""
    seconds = seconds or {}
    suite_name = f"quorvane.{data['made_by']}"
    summary = data["summary"]
    counts = {
        "tests": str(summary["pairs"]),
        "failures": str(summary["failed"] - summary["error"]),
        "errors": str(summary["error"]),
    }
    if seconds:  # a merge or the plugin measured none
        counts["time"] = f"{sum(seconds.values()):.3f}"
    root = ElementTree.Element("testsuites", {"name": "quorvane", **counts})
    suite = ElementTree.SubElement(
        root, "testsuite", {"name": suite_name, **counts, "skipped": "0", "timestamp": data["generated"]}
    )
    for pair in data["pairs"]:
        case = ElementTree.SubElement(suite, "testcase", {"classname": suite_name, "name": shown(pair["name"])})
        if pair["name"] in seconds:
            case.set("time", f"{seconds[pair['name']]:.3f}")
        if pair["passed"]:
            continue
        kind = "error" if pair["status"] == "error" else "failure"
        outcome = ElementTree.SubElement(case, kind, {"message": verdict(pair), "type": pair["status"]})
        outcome.text = "\n".join(figure_lines(pair))
    return b'<?xml version="1.0" encoding="utf-8"?>\n' + ElementTree.tostring(root, encoding="unicode").encode()


def markdown_text(text: str) -> str:
    """Text that Markdown shows as it is, in a table cell too: every ASCII
    punctuation mark escaped (so no name makes HTML, a link or a column)."""
    return "".join(
        f"\\{char}" if char.isascii() and not char.isalnum() and char != " " else char for char in shown(text)
    )


def link(path: str, link_base: str | None) -> str:
    quoted = urllib.parse.quote(path)
    return quoted if link_base is None else f"{link_base.rstrip('/')}/{quoted}"


def pair_row(pair: Pair, link_base: str | None) -> str:
    name = pair["name"] if len(pair["name"]) <= LONGEST_SHOWN_NAME else "…" + pair["name"][-LONGEST_SHOWN_NAME:]
    details = "; ".join([*pair["failures"], *page.figures_text(pair)]) or page.LABELS[pair["status"]]
    images = " ".join(
        f"[{key.replace('_', ' ')}]({link(path, link_base)})"
        for key in SHOWN_IMAGES
        if (path := pair["images"][key]) is not None  # type: ignore[literal-required]
    )
    return f"| {markdown_text(name)} | {page.LABELS[pair['status']]} | {markdown_text(details)} | {images} |\n"


def markdown(data: Manifest, link_base: str | None = None) -> str:
    """The counts, then the pairs beyond their limits with their figures and
    links to their images (relative to the results folder, or below
    `link_base`): at most MOST_LISTED of them, and fewer where more would
    pass MARKDOWN_LIMIT characters; the rest are counted."""
    summary = data["summary"]
    pairs = "screenshots" if data["made_by"] == "pytest" else "pairs"
    if summary["failed"]:
        heading = f"### quorvane: {summary['failed']} of {summary['pairs']} {pairs} beyond their limits\n\n"
    else:
        heading = f"### quorvane: all {summary['pairs']} {pairs} within their limits\n\n"
    counted = typing.cast(dict[str, int], summary)
    columns = [key for key in STATUSES if key != "error" or summary["error"]]
    labels = [pairs, *(page.LABELS[key] for key in columns), "beyond limits"]
    values = [summary["pairs"], *(counted[key] for key in columns), summary["failed"]]
    counts = f"| {' | '.join(labels)} |\n|{'---:|' * len(labels)}\n| {' | '.join(map(str, values))} |\n"
    report_link = f"[the report]({link('index.html', link_base)})"
    failed = [pair for pair in data["pairs"] if not pair["passed"]]
    text = heading + counts
    rows = ""
    if failed:
        rows = f"\n| {pairs[:-1]} | status | figures | images |\n|:--|:--|:--|:--|\n"
        room = MARKDOWN_LIMIT - len(text) - len(report_link) - 80  # the closing line, whatever its numbers
        for listed, pair in enumerate(failed):
            row = pair_row(pair, link_base)
            if listed == MOST_LISTED or len(rows) + len(row) > room:
                break
            rows += row
        else:
            listed = len(failed)
        rest = len(failed) - listed
        closing = (
            f"\n{rest} more beyond their limits in {report_link}.\n" if rest else f"\nAll of them in {report_link}.\n"
        )
        return text + rows + closing
    return text + f"\nSee {report_link}.\n"


def escaped(text: str, property_value: bool = False) -> str:
    """Text as GitHub's workflow commands take it: '%', CR and LF percent-
    encoded, and in a property's value ':' and ',' too."""
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if property_value:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return shown(text)


def workflow_commands(data: Manifest) -> list[str]:
    """A GitHub `::error` workflow command for each pair beyond its limits."""
    return [
        f"::error title={escaped('quorvane: ' + pair['name'], property_value=True)}::"
        + escaped("\n".join(figure_lines(pair)))
        for pair in data["pairs"]
        if not pair["passed"]
    ]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group("for CI systems")
    group.add_argument(
        "--junit", metavar="FILE", help="write JUnit XML: a test case per pair, failed beyond its limits"
    )
    group.add_argument(
        "--markdown",
        metavar="FILE",
        help="write a Markdown summary: the counts and the pairs beyond their limits; '-' for standard output, "
        f"'github' to append it to the file ${STEP_SUMMARY} names (a GitHub Actions job summary)",
    )
    group.add_argument(
        "--link-base",
        metavar="URL",
        help="make the summary's links absolute below URL, where the report is uploaded (default: relative to it)",
    )
    group.add_argument(
        "--annotations",
        choices=["github"],
        help="print a GitHub workflow command annotating the run for each pair beyond its limits",
    )


def check_destination(markdown_to: str | None, option: str = "--markdown") -> None:
    """Refuses `github` outside a GitHub Actions job, before any work."""
    if markdown_to == "github" and not os.environ.get(STEP_SUMMARY):
        raise CliError(f"{option} github", f"${STEP_SUMMARY} names no file: this is not a GitHub Actions job")


def write_markdown(text: str, destination: str) -> None:
    """To a file (whole), standard output ('-') or the GitHub job summary ('github'), appended."""
    if destination == "-":
        sys.stdout.write(text)
        return
    if destination != "github":
        write_output(destination, text.encode())
        return
    check_destination(destination)
    summary = os.environ[STEP_SUMMARY]
    try:
        with open(summary, "a", encoding="utf-8") as file:
            file.write(text)
    except OSError as error:
        raise CliError(summary, error.strerror or str(error)) from None


def write_output(path: str, data: bytes) -> None:
    """Writes a file whole, its folder made, as CI jobs name files in folders yet to come."""
    try:
        pathlib.Path(path).parent.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise CliError(path, error.strerror or str(error)) from None
    write_file(path, data)


def write(
    data: Manifest,
    *,
    junit_file: str | None = None,
    markdown_to: str | None = None,
    link_base: str | None = None,
    annotate: str | None = None,
    seconds: Mapping[str, float] | None = None,
) -> None:
    """Writes the outputs asked for, from the manifest."""
    if junit_file is not None:
        write_output(junit_file, junit(data, seconds))
    if markdown_to is not None:
        write_markdown(markdown(data, link_base), markdown_to)
    if annotate == "github":
        for line in workflow_commands(data):
            print(line)


def write_from_args(data: Manifest, args: argparse.Namespace, seconds: Mapping[str, float] | None = None) -> None:
    write(
        data,
        junit_file=args.junit,
        markdown_to=args.markdown,
        link_base=args.link_base,
        annotate=args.annotations,
        seconds=seconds,
    )
