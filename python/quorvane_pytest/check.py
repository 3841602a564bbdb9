"""One screenshot against its baseline, judged by the analysis the `quorvane`
command judges with: the baseline written where it is missing or being
updated, and for a failure its images, its record on the report page and the
message."""

from __future__ import annotations

import dataclasses
import pathlib
from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING

import quorvane
from quorvane_cli import analysis, manifest, records, report
from quorvane_cli.account import format_comparison
from quorvane_cli.analysis import Analysis
from quorvane_cli.errors import failed_side
from quorvane_cli.records import PairRecord
from quorvane_cli.safe_files import write_whole
from quorvane_cli.settings import Limits, Settings
from quorvane_pytest.naming import shown

if TYPE_CHECKING:
    from quorvane_pytest.capture import Shot
    from quorvane_pytest.session import Run

THUMBNAIL_WIDTH, THUMBNAIL_EFFORT = report.THUMBNAIL_WIDTH, report.THUMBNAIL_EFFORT  # as on the report page
# The images of a failure: key of the report page -> file name suffix.
IMAGES = {"baseline": "expected", "current": "actual", "diff": "diff", "aligned_diff": "aligned-diff"}

Images = dict[str, tuple[bytes, bytes | None]]


@dataclasses.dataclass(frozen=True)
class Screenshot:
    name: str  # the baseline's file name
    label: str  # its title on the report page
    baseline: pathlib.Path
    output: pathlib.Path  # the folder of its failure images, in the run's output folder


def check(run: Run, screenshot: Screenshot, shot: Shot, settings: Settings, limits: Limits) -> None:
    """Returns when the screenshot matches its baseline, or when the baseline
    was written from it in an update run; raises AssertionError otherwise."""
    __tracebackhide__ = True
    baseline = read_baseline(screenshot)
    if baseline is None:
        try:  # decoded before it becomes a baseline; the page shows this thumbnail
            small = thumbnail(lambda **options: quorvane.thumbnail(shot.png, **options))
        except ValueError as error:
            raise ValueError(f"assert_screenshot: {shot.source}: {error}") from None
        write_baseline(run, screenshot, shot.png, "new")
        if run.update:
            return
        raise missing(run, screenshot, shot, small)
    settings = dataclasses.replace(settings, ignore=shot.regions)
    try:
        comparison = quorvane.Comparison(baseline, shot.png, **settings.region_options())
    except ValueError as error:
        if failed_side(error) == "current":
            raise ValueError(f"assert_screenshot: {shot.source}: {error}") from None
        if run.update:
            write_baseline(run, screenshot, shot.png, "undecodable")
            return
        raise undecodable(run, screenshot, str(error)) from None
    result = analysis.analyse(comparison, settings, limits, ssim_is_a_limit=False)
    failures = size_failures(result.figures, limits) + list(result.verdict.failures)
    if not failures:
        return
    if run.update:
        write_baseline(run, screenshot, shot.png, "updated")
        return
    raise beyond_limits(run, screenshot, baseline, shot, comparison, result, failures, settings, limits)


def read_baseline(screenshot: Screenshot) -> bytes | None:
    try:
        return screenshot.baseline.read_bytes()
    except FileNotFoundError:
        return None


def write_baseline(run: Run, screenshot: Screenshot, png: bytes, reason: str) -> None:
    screenshot.baseline.parent.mkdir(parents=True, exist_ok=True)
    write_whole(screenshot.baseline, png)
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
    images = write_images(run, screenshot, {"current": (shot.png, small)})
    failure = f"no baseline: written from this screenshot at {shown(screenshot.baseline, run.invocation_dir)}"
    record = records.single_record(
        screenshot.label, image_path(run, screenshot, "current"), True, analysis.png_size(shot.png), images
    )
    record = dataclasses.replace(record, verdict=analysis.Verdict((failure,)), sha256=(None, manifest.sha256(shot.png)))
    keep_record(run, screenshot, record)
    return AssertionError(f"screenshot {screenshot.name}: {failure}; the next run compares with it")


def undecodable(run: Run, screenshot: Screenshot, error: str) -> AssertionError:
    text = f"the baseline {shown(screenshot.baseline, run.invocation_dir)} does not decode: {error}"
    keep_record(run, screenshot, records.error_record(screenshot.label, None, text))
    return AssertionError(f"screenshot {screenshot.name}: {text}; --update-screenshots writes it again")


def beyond_limits(
    run: Run,
    screenshot: Screenshot,
    baseline: bytes,
    shot: Shot,
    comparison: quorvane.Comparison,
    result: Analysis,
    failures: list[str],
    settings: Settings,
    limits: Limits,
) -> AssertionError:
    drawing = settings.drawing_options()
    thumbnails = {"thumbnail_width": THUMBNAIL_WIDTH, "effort": THUMBNAIL_EFFORT}
    pngs: Images = {
        "baseline": (baseline, thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))),
        "current": (shot.png, thumbnail(comparison.current_thumbnail)),
        "diff": report.images_of(comparison, drawing, thumbnails),
    }
    aligned = result.figures.alignment
    if result.alignment is not None and aligned is not None and aligned.row_bands:
        pngs["aligned_diff"] = report.images_of(comparison, drawing, thumbnails, result.alignment)
    images = write_images(run, screenshot, pngs)
    record = PairRecord(
        screenshot.label,
        result.figures.status,
        analysis.Verdict(tuple(failures)),
        str(screenshot.baseline),
        image_path(run, screenshot, "current"),
        result.figures,
        images=images,
        limits=limits.in_force(ssim_is_a_limit=False),
        sha256=(manifest.sha256(baseline), manifest.sha256(shot.png)),
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
        f"screenshot {screenshot.name} differs from its baseline: {'; '.join(failures)}",
        format_comparison(shown(screenshot.baseline, run.invocation_dir), "this screenshot", result.figures, verdict),
    ]
    paths = [shown(image_file(screenshot, key, ".png"), run.invocation_dir) for key in written]
    lines += [("images     " if index == 0 else " " * 11) + path for index, path in enumerate(paths)]
    return "\n".join(lines)


def image_file(screenshot: Screenshot, key: str, suffix: str) -> pathlib.Path:
    return screenshot.output / f"{screenshot.name[: -len('.png')]}-{IMAGES[key]}{suffix}"


def image_path(run: Run, screenshot: Screenshot, key: str) -> str:
    return str(image_file(screenshot, key, ".png"))


def thumbnail(make: Callable[..., bytes]) -> bytes | None:
    """make(width=..., effort=...) as the report makes its thumbnails, or None
    where WebP cannot hold the thumbnail."""
    return report.thumbnail_or_none(lambda: make(width=THUMBNAIL_WIDTH, effort=THUMBNAIL_EFFORT))


def write_images(run: Run, screenshot: Screenshot, pngs: Images) -> dict[str, str]:
    """Writes the (PNG, thumbnail) of each key; returns their paths from the
    report page, under the keys the page takes."""
    run.make_output(screenshot.output)
    images = {}
    for key, (png, small) in pngs.items():
        for name, suffix, data in ((key, ".png", png), (f"{key}_thumbnail", ".webp", small)):
            if data is not None:
                target = image_file(screenshot, key, suffix)
                write_whole(target, data, durable=False)
                images[name] = target.relative_to(run.output_dir).as_posix()
    return images
