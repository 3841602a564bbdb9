"""A test session's screenshots: the output folder taken at the start, the
baselines written and the failed screenshots' records gathered (from
pytest-xdist workers too), and at the end the report page over the
failures and the terminal's account of it all."""

from __future__ import annotations

import dataclasses
import os
import pathlib
import shlex
from typing import Any

from quorvane_cli import manifest, outputs, page, report
from quorvane_cli.manifest import Manifest
from quorvane_cli.safe_files import shown as escaped
from quorvane_pytest import baselines, options
from quorvane_pytest.naming import Places, shown
from quorvane_pytest.output import OutputFolder

DEFAULT_OUTPUT = "test-results/screenshots"


@dataclasses.dataclass
class Run:
    places: Places
    invocation_dir: pathlib.Path
    output_dir: pathlib.Path  # absolute
    update: bool
    defaults: dict[str, Any]  # the ini options' values, by keyword of the call
    capturing: options.Capturing = dataclasses.field(default_factory=options.Capturing)
    failed: list[dict[str, Any]] = dataclasses.field(default_factory=list)  # report page records
    written: list[list[str]] = dataclasses.field(default_factory=list)  # [baseline path, why]
    shifted: list[list[str]] = dataclasses.field(default_factory=list)  # [label, bands]: passed with shifts
    book: baselines.Book = dataclasses.field(default_factory=baselines.Book)
    partial: list[str] = dataclasses.field(default_factory=list)  # why a worker ran part of the suite
    output: OutputFolder = dataclasses.field(init=False)

    def __post_init__(self) -> None:
        self.output = OutputFolder(self.output_dir)

    @property
    def rootdir(self) -> pathlib.Path:
        return self.places.rootdir

    @property
    def screenshot_dir(self) -> pathlib.Path | None:
        return self.places.screenshot_dir

    def handover(self) -> dict[str, Any]:
        """What a pytest-xdist worker hands to the controller: the lists this
        run fills, sent when the worker finishes."""
        return {
            "failed": self.failed,
            "written": self.written,
            "shifted": self.shifted,
            "book": self.book.handover(),
            "partial": self.partial,
        }

    def take_over(self, handed: dict[str, Any]) -> None:
        self.failed.extend(handed["failed"])
        self.written.extend(handed["written"])
        self.shifted.extend(handed["shifted"])
        self.book.take_over(handed["book"])
        self.partial.extend(handed["partial"])

    def write_page(self) -> pathlib.Path | None:
        """The results manifest and the report page over every failed
        screenshot, once the workers have handed theirs in; the page's path,
        or None when none failed."""
        if not self.failed:
            return None
        results = self.results_manifest(self.report_data())
        self.output.write(self.output.folder / manifest.NAME, manifest.dumps(results))
        target = self.output.folder / "index.html"
        self.output.write(target, page.render(results).encode("utf-8", "backslashreplace"))
        return target

    def report_data(self) -> dict[str, Any]:
        settings, limits = options.settings_and_limits(self.defaults)
        records = sorted(self.failed, key=lambda record: record["path"])
        return report.report_data(
            self.screenshot_dir or self.rootdir, self.output.folder, settings, limits, records, ssim_is_a_limit=False
        )

    def write_ci_outputs(self, junit: str | None, markdown: str | None) -> None:
        """JUnit XML and a Markdown summary of the failed screenshots, for a
        CI system; file names are taken from the invocation directory."""
        if junit is None and markdown is None:
            return
        if markdown is not None and markdown not in ("-", "github"):
            markdown = str(self.invocation_dir / markdown)
        junit = None if junit is None else str(self.invocation_dir / junit)
        outputs.write(self.results_manifest(self.report_data()), junit_file=junit, markdown_to=markdown)

    def results_manifest(self, data: dict[str, Any]) -> Manifest:
        """Each failed screenshot named by its baseline's path from the
        rootdir (or from the folder above every baseline, where one lies
        outside it), which travels with a checkout to another machine."""
        baseline_files = [pathlib.Path(record["baseline_file"]) for record in data["pairs"]]
        root = pathlib.Path(os.path.commonpath([self.rootdir, *baseline_files]))
        pairs: list[manifest.Pair] = []
        names: set[str] = set()
        for record, baseline in zip(data["pairs"], baseline_files):
            relative = name = baseline.relative_to(root).as_posix()
            while name in names:  # two tests sharing one baseline: the later ones told apart
                name = f"{relative}#{len(names)}"
            names.add(name)
            limits = record.get("limits") or data["limits"]
            pairs.append(manifest.from_record(record, name=name, baseline=relative, limits=limits))
        return manifest.build(
            pairs,
            made_by="pytest",
            root=str(root),
            baseline_dir=shown(self.screenshot_dir or root, self.rootdir),
            current_dir=shown(self.output.folder, self.rootdir),
            threshold=data["settings"]["threshold"],
            include_aa=data["settings"]["include_aa"],
            quorvane=data["quorvane"],
            generated=data["generated"],
        )

    def summary_lines(self, page_path: pathlib.Path | None) -> list[str]:
        lines = []
        if self.written:
            lines.append(f"{len(self.written)} baseline{'' if len(self.written) == 1 else 's'} written:")
            lines += [f"  {shown(path, self.invocation_dir)} ({why})" for path, why in sorted(self.written)]
        if self.shifted:
            lines.append(f"{len(self.shifted)} screenshot{'' if len(self.shifted) == 1 else 's'} passed with shifts:")
            lines += [f"  {escaped(label)}: {bands}" for label, bands in sorted(self.shifted)]
        if page_path is not None:
            lines.append(
                f"{len(self.failed)} screenshot{'' if len(self.failed) == 1 else 's'} failed; "
                f"report: {shown(page_path, self.invocation_dir)}"
            )
            folder = shlex.quote(shown(self.output.folder, self.invocation_dir))
            lines.append(f"review and accept them in a browser: quorvane review {folder}")
            lines.append(f"or accept every one: quorvane approve {folder} --all")
        return lines
