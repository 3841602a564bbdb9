"""The session's baselines as a whole: which test each call's baseline
belongs to (two tests never share one), and, after a session that ran the
whole suite, the baselines under the folders it used that no call read or
wrote, listed or deleted."""

from __future__ import annotations

import contextlib
import dataclasses
import os
import pathlib
from typing import Any

from quorvane_cli import safe_files
from quorvane_pytest.naming import Places, shown


@dataclasses.dataclass
class Book:
    """The baselines the session's calls resolved, with the test of each."""

    claims: dict[str, str] = dataclasses.field(default_factory=dict)  # baseline -> the first test's id
    conflicts: list[list[str]] = dataclasses.field(default_factory=list)  # [baseline, one test, another]
    browsers: set[str] = dataclasses.field(default_factory=set)  # the {browser} values of the calls

    def claim(self, baseline: pathlib.Path, nodeid: str) -> str | None:
        """Records that the test uses the baseline; the id of another test
        that used it already, or None."""
        first = self.claims.setdefault(str(baseline), nodeid)
        if first == nodeid:
            return None
        self.conflicts.append([str(baseline), first, nodeid])
        return first

    def handover(self) -> dict[str, Any]:
        return {"claims": self.claims, "conflicts": self.conflicts, "browsers": sorted(self.browsers)}

    def take_over(self, handed: dict[str, Any]) -> None:
        """A pytest-xdist worker's book: a baseline two workers' tests used is a conflict too."""
        self.conflicts.extend(handed["conflicts"])
        self.browsers.update(handed["browsers"])
        for baseline, nodeid in handed["claims"].items():
            self.claim(pathlib.Path(baseline), nodeid)

    def unused(self, places: Places) -> list[pathlib.Path]:
        """The baselines of this session's platform, project and browsers in
        the folders its calls used, that none of them read or wrote."""
        used = {pathlib.Path(baseline) for baseline in self.claims}
        found = []
        for folder in sorted({baseline.parent for baseline in used}):
            with contextlib.suppress(OSError):
                for path in folder.iterdir():
                    if (
                        path not in used
                        and path.is_file()
                        and not path.is_symlink()
                        and places.is_baseline(path, sorted(self.browsers))
                    ):
                        found.append(path)
        return sorted(found)


@dataclasses.dataclass
class Sweep:
    """Whether the session ran the whole suite (`partial` says why not), and
    whether every test ran to its end (`unsure` says why not): only then
    can a baseline no call used be taken for one no test needs."""

    partial: list[str] = dataclasses.field(default_factory=list)
    failed: int = 0
    skipped: int = 0

    def note(self, reason: str) -> None:
        if reason not in self.partial:
            self.partial.append(reason)

    def unsure(self) -> str | None:
        counts = [
            f"{count} test{'' if count == 1 else 's'} {what}"
            for count, what in ((self.failed, "failed"), (self.skipped, "skipped"))
            if count
        ]
        return f"{' and '.join(counts)}, whose baselines may be among these" if counts else None

    def lines(self, unused: list[pathlib.Path], prune: bool, base: pathlib.Path) -> list[str]:
        """What the terminal summary says of the unused baselines, deleting
        them when asked and sure."""
        if self.partial:
            return [f"--screenshot-prune: nothing deleted: {'; '.join(self.partial)}"] if prune else []
        if not unused:
            return []
        names = [f"  {shown(path, base)}" for path in unused]
        count = f"{len(unused)} unused baseline{'' if len(unused) == 1 else 's'}"
        if not prune:
            return [f"{count} (no test of this session read or wrote them; --screenshot-prune deletes them):", *names]
        reason = self.unsure()
        if reason is not None:
            return [f"{count}:", *names, f"--screenshot-prune: nothing deleted: {reason}"]
        for path in unused:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(path)
        for folder in {path.parent for path in unused}:
            with contextlib.suppress(OSError):
                folder.rmdir()  # only when it is left empty
        return [f"{count} deleted:", *names]


def conflict_lines(conflicts: list[list[str]], base: pathlib.Path) -> list[str]:
    return [
        f"two tests share the baseline {shown(baseline, base)}, each overwriting the other's: "
        f"{safe_files.shown(first)} and {safe_files.shown(second)}"
        for baseline, first, second in conflicts
    ]
