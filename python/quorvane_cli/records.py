"""The record of one pair in a report, whoever made it (a local run, a Dask
worker, the pytest plugin), its JSON form in report.json, the counts over
all records, and how many pairs are worked on at a time."""

from __future__ import annotations

import dataclasses
import os
from typing import Any

from quorvane_cli import analysis
from quorvane_cli.analysis import STATUSES, Figures, Size, Status, Verdict
from quorvane_cli.settings import Limits

# Every image a record may name, by key of report.json: a PNG and its thumbnail each.
IMAGE_NAMES = ("baseline", "current", "diff", "aligned_diff")
IMAGE_KEYS = tuple(key for name in IMAGE_NAMES for key in (name, f"{name}_thumbnail"))


@dataclasses.dataclass(frozen=True)
class PairRecord:
    """One pair: its relative path (its name on the page), its files as
    given, its status and verdict, its figures (None for a pair with one
    file or none readable), and the images written for it, by key, as
    paths relative to the report's folder."""

    path: str
    status: Status
    verdict: Verdict
    baseline: str | None = None
    current: str | None = None
    figures: Figures | None = None
    size: Size | None = None  # the one image of a new or missing pair
    error: str | None = None
    images: dict[str, str] = dataclasses.field(default_factory=dict)
    limits: Limits | None = None  # the pair's own, where pairs have their own
    # The SHA-256 of the baseline's and the current image's bytes as compared (None: no such file).
    sha256: tuple[str | None, str | None] = (None, None)

    @property
    def passed(self) -> bool:
        return self.verdict.passed

    def as_json(self) -> dict[str, Any]:
        """The record in report.json: the same keys for every status."""
        result: dict[str, Any] = {
            "path": self.path,
            "status": self.status,
            "passed": self.passed,
            "passed_with_shifts": self.verdict.passed_with_shifts,
            "failures": list(self.verdict.failures),
            "error": self.error,
            "baseline": None,
            "current": None,
            "width": None,
            "height": None,
            "size_mismatch": None,
            "changed_pixels": None,
            "changed_ratio": None,
            "ssim": None,
            "ignore": None,
            "ignored_pixels": None,
            "clusters": None,
            "alignment": None,
        }
        if self.figures is not None:
            result.update(analysis.as_json(self.figures))
        if self.size is not None:
            side = "current" if self.status == "new" else "baseline"
            result[side] = analysis.as_json(self.size)
        for side, file in (("baseline", self.baseline), ("current", self.current)):
            if result[side] is not None:
                result[side] = {"path": file, **result[side]}
        if self.limits is not None:
            result["limits"] = analysis.as_json(self.limits)
        result["images"] = {key: self.images.get(key) for key in IMAGE_KEYS}
        result["sha256"] = dict(zip(("baseline", "current"), self.sha256))
        return result


def compared_record(
    path: str,
    baseline: str,
    current: str,
    result: analysis.Analysis,
    images: dict[str, str],
    limits: Limits | None = None,
) -> PairRecord:
    return PairRecord(
        path,
        result.figures.status,
        result.verdict,
        baseline,
        current,
        result.figures,
        images=images,
        limits=limits,
    )


def single_record(path: str, file: str, new: bool, size: Size, images: dict[str, str]) -> PairRecord:
    """A file with no counterpart: new in the current directory, or missing from it."""
    failure = "no baseline image" if new else "no current image"
    return PairRecord(
        path,
        "new" if new else "missing",
        Verdict((failure,)),
        baseline=None if new else file,
        current=file if new else None,
        size=size,
        images=images,
    )


def error_record(path: str, culprit: str | None, message: str) -> PairRecord:
    """A pair whose file cannot be read or decoded, or that was not compared."""
    text = f"{culprit}: {message}" if culprit is not None else message
    return PairRecord(path, "error", Verdict((text,)), error=text)


def summary_of(pairs: list[dict[str, Any]]) -> dict[str, int]:
    """The counts of the records in report.json, by status and failed."""
    counts: dict[str, int] = dict.fromkeys(STATUSES, 0)
    for pair in pairs:
        counts[pair["status"]] += 1
    return {"pairs": len(pairs), **counts, "failed": sum(not pair["passed"] for pair in pairs)}


def summary_line(summary: dict[str, int]) -> str:
    pairs = f"{summary['pairs']} pair{'' if summary['pairs'] == 1 else 's'}"
    parts = [
        f"{pairs}: {summary['unchanged']} unchanged",
        f"{summary['changed']} changed",
        f"{summary['shifted']} shifted only",
        f"{summary['new']} new",
        f"{summary['missing']} missing",
    ]
    if summary["error"]:
        parts.append(f"{summary['error']} unreadable")
    return ", ".join(parts) + f"; {summary['failed']} beyond limits"


def processors() -> int:
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


def group_size(threads: int) -> int:
    """Pairs read ahead at a time: enough to keep every processor busy."""
    return max(8, 4 * threads)
