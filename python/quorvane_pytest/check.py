"""One screenshot against its baseline, judged by the analysis the `quorvane`
command judges with: the rectangles both images carry left out with the
call's own, the baseline written where it is missing or being updated, and
for a failure its images, its record on the report page and the message."""

from __future__ import annotations

import dataclasses
import pathlib
from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING

import quorvane
from quorvane_cli import analysis, manifest, png_chunks, records, report
from quorvane_cli.account import band_text, format_comparison
from quorvane_cli.analysis import Analysis
from quorvane_cli.errors import failed_side
from quorvane_cli.records import PairRecord
from quorvane_cli.safe_files import shown, write_whole
from quorvane_cli.settings import Limits, Settings
from quorvane_pytest import naming

if TYPE_CHECKING:
    from quorvane_pytest.capture import Shot
    from quorvane_pytest.session import Run

THUMBNAIL_WIDTH, THUMBNAIL_EFFORT = report.THUMBNAIL_WIDTH, report.THUMBNAIL_EFFORT  # as on the report page
# The images of a failure: key of the report page -> file name suffix.
IMAGES = {"baseline": "expected", "current": "actual", "diff": "diff", "aligned_diff": "aligned-diff"}
UNSETTLED = {"baseline": "unsettled-1", "current": "unsettled-2", "diff": "diff"}

Images = dict[str, tuple[bytes, bytes | None]]


@dataclasses.dataclass(frozen=True)
class Screenshot:
    name: str  # the baseline's file name
    label: str  # its title on the report page
    baseline: pathlib.Path
    output: pathlib.Path  # the folder of its failure images, in the session's output folder

    def image(self, suffix: str) -> pathlib.Path:
        return self.output / naming.artifact_name(pathlib.PurePath(self.name).stem, suffix)


@dataclasses.dataclass(frozen=True)
class Judged:
    """A screenshot compared with its baseline (None: there is none). Where
    the baseline could not be compared, `error` says why."""

    baseline: bytes | None
    settings: Settings  # with every region left out
    comparison: quorvane.Comparison | None = None
    result: Analysis | None = None
    failures: tuple[str, ...] = ()
    error: str | None = None

    @property
    def passed(self) -> bool:
        return self.comparison is not None and not self.failures


def judge(screenshot: Screenshot, shot: Shot, settings: Settings, limits: Limits) -> Judged:
    """The screenshot against its baseline, the regions that either image
    carries left out together with the call's."""
    __tracebackhide__ = True
    baseline = read_baseline(screenshot)
    if baseline is None:
        return Judged(None, settings)
    try:
        carried = png_chunks.read_regions(baseline)
    except png_chunks.ChunkError as error:
        return Judged(baseline, settings, error=f"has a malformed quorvane:ignore chunk: {error}")
    settings = settings.with_regions(carried, shot.regions)
    try:
        comparison = quorvane.Comparison(baseline, shot.png, **settings.region_options())
    except ValueError as error:
        if failed_side(error) == "current":
            raise ValueError(f"assert_screenshot: {shown(shot.source)}: {error}") from None
        return Judged(baseline, settings, error=f"does not decode: {error}")
    result = analysis.analyse(comparison, settings, limits, ssim_is_a_limit=False)
    failures = size_failures(result.figures, limits) + list(result.verdict.failures)
    return Judged(baseline, settings, comparison, result, tuple(failures))


def conclude(run: Run, screenshot: Screenshot, shot: Shot, judged: Judged, limits: Limits) -> None:
    """Returns when the screenshot matched its baseline, or when the baseline
    was written from it in an update run; raises AssertionError otherwise."""
    __tracebackhide__ = True
    if judged.passed:
        aligned = judged.result.figures.alignment if judged.result is not None else None
        if judged.result is not None and judged.result.verdict.passed_with_shifts and aligned is not None:
            run.shifted.append([screenshot.label, ", ".join(band_text(band) for band in aligned.bands)])
        return
    if judged.baseline is None:
        try:  # decoded before it becomes a baseline; the page shows this thumbnail
            small = thumbnail(lambda **options: quorvane.thumbnail(shot.png, **options))
        except ValueError as error:
            raise ValueError(f"assert_screenshot: {shown(shot.source)}: {error}") from None
        write_baseline(run, screenshot, shot, "new")
        if not run.update:
            raise missing(run, screenshot, shot, small)
    elif judged.error is not None:
        if not run.update:
            raise undecodable(run, screenshot, judged.error)
        write_baseline(run, screenshot, shot, "undecodable")
    elif run.update:
        write_baseline(run, screenshot, shot, "updated")
    else:
        raise beyond_limits(run, screenshot, shot, judged, limits)


def read_baseline(screenshot: Screenshot) -> bytes | None:
    try:
        return screenshot.baseline.read_bytes()
    except FileNotFoundError:
        return None


def write_baseline(run: Run, screenshot: Screenshot, shot: Shot, reason: str) -> None:
    """The capture, whole, with the regions it left out in its chunk."""
    screenshot.baseline.parent.mkdir(parents=True, exist_ok=True)
    write_whole(screenshot.baseline, with_regions(shot))
    run.written.append([str(screenshot.baseline), reason])


def size_failures(figures: analysis.Figures, limits: Limits) -> list[str]:
    """A baseline of another size fails, unless shifts are allowed and the
    rows align: then the shift-aware figures are judged."""
    if not figures.size_mismatch or (limits.allow_shifts and figures.alignment is not None):
        return []
    baseline, current = (f"{size.width}x{size.height}" for size in (figures.baseline, figures.current))
    return [f"the screenshot is {current}, its baseline {baseline}"]


def missing(run: Run, screenshot: Screenshot, shot: Shot, small: bytes | None) -> AssertionError:
    """Records the failure for the report page; returns its AssertionError
    (as undecodable and beyond_limits do)."""
    images = write_images(run, screenshot, {"current": (with_regions(shot), small)})
    where = naming.shown(screenshot.baseline, run.invocation_dir)
    failure = f"no baseline: written from this screenshot at {where}"
    record = records.single_record(
        screenshot.label, image_path(screenshot, "current"), True, analysis.png_size(shot.png), images
    )
    accepted = with_regions(shot)  # the bytes approving the screenshot writes as its baseline
    record = dataclasses.replace(record, verdict=analysis.Verdict((failure,)), sha256=(None, manifest.sha256(accepted)))
    keep_record(run, screenshot, record)
    return AssertionError(f"screenshot {shown(screenshot.name)}: {failure}; the next run compares with it")


def undecodable(run: Run, screenshot: Screenshot, error: str) -> AssertionError:
    text = f"the baseline {naming.shown(screenshot.baseline, run.invocation_dir)} {error}"
    keep_record(run, screenshot, records.error_record(screenshot.label, None, text))
    return AssertionError(f"screenshot {shown(screenshot.name)}: {text}; --update-screenshots writes it again")


def with_regions(shot: Shot) -> bytes:
    return png_chunks.with_regions(shot.png, shot.regions)


def drawn_images(
    comparison: quorvane.Comparison, result: Analysis, settings: Settings, sides: tuple[bytes, bytes]
) -> Images:
    """The two images as given and the diff images drawn, with their
    thumbnails; a diff carries every region left out."""
    drawing = settings.drawing_options()
    thumbnails = {"thumbnail_width": THUMBNAIL_WIDTH, "effort": THUMBNAIL_EFFORT}
    pngs: Images = {
        "baseline": (sides[0], thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))),
        "current": (sides[1], thumbnail(comparison.current_thumbnail)),
        "diff": report.images_of(comparison, drawing, thumbnails),
    }
    aligned = result.figures.alignment
    if result.alignment is not None and aligned is not None and aligned.row_bands:
        pngs["aligned_diff"] = report.images_of(comparison, drawing, thumbnails, result.alignment)
    for key in ("diff", "aligned_diff"):
        if key in pngs:
            png, small = pngs[key]
            pngs[key] = (png_chunks.with_regions(png, settings.ignore), small)
    return pngs


def beyond_limits(run: Run, screenshot: Screenshot, shot: Shot, judged: Judged, limits: Limits) -> AssertionError:
    assert judged.baseline is not None and judged.comparison is not None and judged.result is not None
    result, failures = judged.result, list(judged.failures)
    accepted = with_regions(shot)  # the bytes approving the screenshot writes as its baseline
    pngs = drawn_images(judged.comparison, result, judged.settings, (judged.baseline, accepted))
    images = write_images(run, screenshot, pngs)
    record = PairRecord(
        screenshot.label,
        result.figures.status,
        analysis.Verdict(tuple(failures)),
        str(screenshot.baseline),
        image_path(screenshot, "current"),
        result.figures,
        images=images,
        limits=limits.in_force(ssim_is_a_limit=False),
        sha256=(manifest.sha256(judged.baseline), manifest.sha256(accepted)),
    )
    keep_record(run, screenshot, record)
    return AssertionError(failure_message(run, screenshot, result, failures, pngs.keys()))


def keep_record(run: Run, screenshot: Screenshot, record: PairRecord) -> None:
    """A failure's record for the page and the results manifest, with the
    baseline it is about (a new screenshot's too)."""
    run.failed.append({**record.as_json(), "baseline_file": str(screenshot.baseline)})


def failure_message(
    run: Run, screenshot: Screenshot, result: Analysis, failures: list[str], written: Iterable[str]
) -> str:
    """The command's account of the comparison, then the images written."""
    verdict = analysis.Verdict(tuple(failures))
    lines = [
        f"screenshot {shown(screenshot.name)} differs from its baseline: {'; '.join(failures)}",
        format_comparison(
            naming.shown(screenshot.baseline, run.invocation_dir), "this screenshot", result.figures, verdict
        ),
    ]
    return "\n".join(lines + image_lines(run, screenshot, written, IMAGES))


def image_lines(run: Run, screenshot: Screenshot, written: Iterable[str], suffixes: dict[str, str]) -> list[str]:
    paths = [naming.shown(screenshot.image(f"{suffixes[key]}.png"), run.invocation_dir) for key in written]
    return [("images     " if index == 0 else " " * 11) + path for index, path in enumerate(paths)]


def unsettled(run: Run, screenshot: Screenshot, shots: list[Shot], settings: Settings, why: str) -> AssertionError:
    """A page that kept changing: the last two captures and their diff
    written, the clusters that moved named, and the failure recorded."""
    if len(shots) < 2:
        images = write_images(run, screenshot, {"baseline": (with_regions(shots[-1]), None)}, UNSETTLED)
        record = records.error_record(screenshot.label, None, why)
        keep_record(run, screenshot, dataclasses.replace(record, images=images))
        lines = [f"screenshot {shown(screenshot.name)} {why}"]
        return AssertionError("\n".join(lines + image_lines(run, screenshot, ["baseline"], UNSETTLED)))
    first, last = shots[-2], shots[-1]
    strict = dataclasses.replace(settings, threshold=0.0, include_aa=True).with_regions(first.regions, last.regions)
    comparison = quorvane.Comparison(first.png, last.png, **strict.region_options())
    result = analysis.analyse(comparison, strict, Limits())
    pngs = drawn_images(comparison, result, strict, (with_regions(first), with_regions(last)))
    pngs.pop("aligned_diff", None)
    images = write_images(run, screenshot, pngs, UNSETTLED)
    moved = [f"{c.width}x{c.height} at ({c.x}, {c.y})" for c in result.figures.clusters.items]
    where = f"; moved: {', '.join(moved)}" if moved else ""
    record = PairRecord(
        screenshot.label,
        "error",
        analysis.Verdict((why + where,)),
        image_path(screenshot, "baseline", UNSETTLED),
        image_path(screenshot, "current", UNSETTLED),
        result.figures,
        error=why,
        images=images,
    )
    keep_record(run, screenshot, record)
    lines = [f"screenshot {shown(screenshot.name)} {why}{where}"]
    return AssertionError("\n".join(lines + image_lines(run, screenshot, pngs.keys(), UNSETTLED)))


def image_path(screenshot: Screenshot, key: str, suffixes: dict[str, str] = IMAGES) -> str:
    return str(screenshot.image(f"{suffixes[key]}.png"))


def thumbnail(make: Callable[..., bytes]) -> bytes | None:
    """make(width=..., effort=...) as the report makes its thumbnails, or None
    where WebP cannot hold the thumbnail."""
    return report.thumbnail_or_none(lambda: make(width=THUMBNAIL_WIDTH, effort=THUMBNAIL_EFFORT))


def write_images(run: Run, screenshot: Screenshot, pngs: Images, suffixes: dict[str, str] = IMAGES) -> dict[str, str]:
    """Writes the (PNG, thumbnail) of each key; returns their paths from the
    report page, under the keys the page takes."""
    images = {}
    for key, (png, small) in pngs.items():
        for name, suffix, data in ((key, ".png", png), (f"{key}_thumbnail", ".webp", small)):
            if data is not None:
                target = screenshot.image(f"{suffixes[key]}{suffix}")
                run.output.write(target, data)
                images[name] = target.relative_to(run.output.folder).as_posix()
    return images
