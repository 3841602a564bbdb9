"""A test session's screenshots: the output folder emptied at the start,
the baselines written and the failed screenshots' records gathered (from
pytest-xdist workers too), and at the end the report page over the
failures and the terminal's account of it all."""

import dataclasses
import os
import pathlib
import shlex
import shutil

from quorvane_cli import manifest, page, report
from quorvane_cli.safe_files import write_whole
from quorvane_pytest import options
from quorvane_pytest.naming import shown

DEFAULT_OUTPUT = "test-results/screenshots"
# Marks an output folder as the plugin's own: only such a folder is ever emptied.
MARK = ".quorvane-screenshots"


@dataclasses.dataclass
class Run:
    rootdir: pathlib.Path
    invocation_dir: pathlib.Path
    output_dir: pathlib.Path  # absolute
    screenshot_dir: pathlib.Path | None  # absolute; None: beside each test file
    update: bool
    defaults: dict  # the ini options' values, by keyword of the call
    failed: list = dataclasses.field(default_factory=list)  # report page records
    written: list = dataclasses.field(default_factory=list)  # [baseline path, why]

    def empty_output(self):
        """Removes the output folder of the last session. A folder that holds
        the tests or their baselines, or that the plugin did not make, is
        refused, never emptied."""
        out = self.output_dir.resolve()
        for kept in (self.rootdir, self.invocation_dir, self.screenshot_dir):
            if kept is not None and (out == kept.resolve() or out in kept.resolve().parents):
                raise ValueError(
                    f"--screenshot-output {out} holds {kept}; it is emptied at the start of every "
                    "session, so it must be a folder of its own"
                )
        if (out / MARK).is_file():
            shutil.rmtree(out)
        elif out.exists() and (not out.is_dir() or any(out.iterdir())):
            raise ValueError(
                f"--screenshot-output {out} is not a folder the plugin made, and it is emptied at the "
                "start of every session: choose a new folder, or remove this one"
            )

    def make_output(self, folder=None):
        """Makes the output folder with its mark, and the folder in it."""
        self.output_dir.mkdir(parents=True, exist_ok=True)
        (self.output_dir / MARK).touch()
        if folder is not None:
            folder.mkdir(parents=True, exist_ok=True)

    def handover(self):
        """What a pytest-xdist worker hands to the controller: the lists this
        run fills, sent when the worker finishes."""
        return {"failed": self.failed, "written": self.written}

    def take_over(self, handed):
        self.failed.extend(handed["failed"])
        self.written.extend(handed["written"])

    def write_page(self):
        """The results manifest and the report page over every failed
        screenshot, once the workers have handed theirs in; the page's path,
        or None when none failed."""
        if not self.failed:
            return None
        settings, limits = options.settings_and_limits(self.defaults)
        records = sorted(self.failed, key=lambda record: record["path"])
        data = report.report_data(
            self.screenshot_dir or self.rootdir, self.output_dir, settings, limits, records, ssim_is_a_limit=False
        )
        results = self.results_manifest(data)
        self.make_output()
        manifest.write(self.output_dir, results)
        target = self.output_dir / "index.html"
        write_whole(target, page.render(results).encode("utf-8", "backslashreplace"))
        return target

    def results_manifest(self, data):
        """Each failed screenshot named by its baseline's path from the
        rootdir (or from the folder above every baseline, where one lies
        outside it), which travels with a checkout to another machine."""
        baselines = [pathlib.Path(record["baseline_file"]) for record in data["pairs"]]
        root = pathlib.Path(os.path.commonpath([self.rootdir, *baselines]))
        pairs, names = [], set()
        for record, baseline in zip(data["pairs"], baselines):
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
            current_dir=shown(self.output_dir, self.rootdir),
            threshold=data["settings"]["threshold"],
            include_aa=data["settings"]["include_aa"],
            quorvane=data["quorvane"],
            generated=data["generated"],
        )

    def summary_lines(self, page_path):
        lines = []
        if self.written:
            lines.append(f"{len(self.written)} baseline{'' if len(self.written) == 1 else 's'} written:")
            lines += [f"  {shown(path, self.invocation_dir)} ({why})" for path, why in sorted(self.written)]
        if page_path is not None:
            lines.append(
                f"{len(self.failed)} screenshot{'' if len(self.failed) == 1 else 's'} failed; "
                f"report: {shown(page_path, self.invocation_dir)}"
            )
            folder = shlex.quote(shown(self.output_dir, self.invocation_dir))
            lines.append(f"review and accept them in a browser: quorvane review {folder}")
            lines.append(f"or accept every one: quorvane approve {folder} --all")
        return lines
