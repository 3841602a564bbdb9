"""One screenshot against its baseline, judged by the `quorvane` command's
analysis: the baseline written where it is missing or being updated, and
for a failure its images, its record on the report page and the message."""

import dataclasses
import pathlib

import quorvane
from quorvane_cli import analysis, cli, files, manifest, report
from quorvane_pytest.naming import shown

THUMBNAIL_WIDTH, THUMBNAIL_EFFORT = report.THUMBNAIL_WIDTH, report.THUMBNAIL_EFFORT  # as on the report page
# The images of a failure: key of the report page -> file name suffix.
IMAGES = {"baseline": "expected", "current": "actual", "diff": "diff", "aligned_diff": "aligned-diff"}


@dataclasses.dataclass(frozen=True)
class Screenshot:
    name: str  # the baseline's file name
    label: str  # its title on the report page
    baseline: pathlib.Path
    output: pathlib.Path  # the folder of its failure images, in the run's output folder


def check(run, screenshot, shot, settings, limits):
    """Returns when the screenshot matches its baseline, or when the baseline
    was written from it in an update run; raises AssertionError otherwise."""
    __tracebackhide__ = True
    baseline = read_baseline(screenshot)
    if baseline is None:
        write_baseline(run, screenshot, shot.png, "new")
        if run.update:
            return
        raise missing(run, screenshot, shot, limits)
    settings = dataclasses.replace(settings, ignore=shot.regions)
    try:  # the screenshot decodes and its regions are sound: the baseline is at fault
        comparison = quorvane.Comparison(baseline, shot.png, **settings.region_options())
    except ValueError as error:
        if run.update:
            write_baseline(run, screenshot, shot.png, "undecodable")
            return
        raise undecodable(run, screenshot, str(error)) from None
    figures, alignment = analysis.compared_figures(comparison, settings)
    failures = size_failures(figures, limits) + analysis.judge(figures, limits)
    if not failures:
        return
    if run.update:
        write_baseline(run, screenshot, shot.png, "updated")
        return
    raise beyond_limits(run, screenshot, baseline, shot, comparison, alignment, figures, failures, settings, limits)


def read_baseline(screenshot):
    try:
        return screenshot.baseline.read_bytes()
    except FileNotFoundError:
        return None


def write_baseline(run, screenshot, png, reason):
    screenshot.baseline.parent.mkdir(parents=True, exist_ok=True)
    files.write_atomically(screenshot.baseline, png)
    run.written.append([str(screenshot.baseline), reason])


def size_failures(figures, limits):
    """A baseline of another size fails, unless shifts are allowed and the
    rows align: then what changed in place is judged."""
    if not figures["size_mismatch"] or (limits.allow_shifts and figures["alignment"] is not None):
        return []
    baseline, current = (f"{figures[side]['width']}x{figures[side]['height']}" for side in ("baseline", "current"))
    return [f"the screenshot is {current}, its baseline {baseline}"]


def missing(run, screenshot, shot, limits):
    """Records the failure for the report page; returns its AssertionError
    (as undecodable and beyond_limits do)."""
    images = write_images(
        run, screenshot, {"current": (shot.png, thumbnail(lambda **options: quorvane.thumbnail(shot.png, **options)))}
    )
    width, height = analysis.png_size(shot.png)
    failure = f"no baseline: written from this screenshot at {shown(screenshot.baseline, run.invocation_dir)}"
    figures = {"current": {"width": width, "height": height}, "status": "new"}
    digests = {"current": manifest.sha256(shot.png)}
    run.failed.append(report.record(entry(run, screenshot), figures, images, [failure], **accepting(digests, limits)))
    return AssertionError(f"screenshot {screenshot.name}: {failure}; the next run compares with it")


def undecodable(run, screenshot, error):
    text = f"the baseline {shown(screenshot.baseline, run.invocation_dir)} does not decode: {error}"
    run.failed.append(report.error_record(entry(run, screenshot), None, text))
    return AssertionError(f"screenshot {screenshot.name}: {text}; --update-screenshots writes it again")


def beyond_limits(run, screenshot, baseline, shot, comparison, alignment, figures, failures, settings, limits):
    drawing, thumbnails = settings.drawing_options(), {"thumbnail_width": THUMBNAIL_WIDTH, "effort": THUMBNAIL_EFFORT}
    pngs = {
        "baseline": (baseline, thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))),
        "current": (shot.png, thumbnail(comparison.current_thumbnail)),
        "diff": report.images_of(comparison, drawing, thumbnails),
    }
    if figures["alignment"] is not None and figures["alignment"]["bands"]:
        pngs["aligned_diff"] = report.images_of(comparison, drawing, thumbnails, alignment)
    images = write_images(run, screenshot, pngs)
    digests = {"baseline": manifest.sha256(baseline), "current": manifest.sha256(shot.png)}
    run.failed.append(report.record(entry(run, screenshot), figures, images, failures, **accepting(digests, limits)))
    return AssertionError(failure_message(run, screenshot, figures, failures, pngs.keys()))


def failure_message(run, screenshot, figures, failures, written):
    """The command's account of the comparison, then the images written."""
    described = {
        **figures,
        "baseline": {**figures["baseline"], "path": shown(screenshot.baseline, run.invocation_dir)},
        "current": {**figures["current"], "path": "this screenshot"},
    }
    lines = [
        f"screenshot {screenshot.name} differs from its baseline: {'; '.join(failures)}",
        cli.format_comparison(described, failures),
    ]
    paths = [shown(image_file(screenshot, key, ".png"), run.invocation_dir) for key in written]
    lines += [("images     " if index == 0 else " " * 11) + path for index, path in enumerate(paths)]
    return "\n".join(lines)


def accepting(digests, limits):
    """What the results manifest needs of a record: the digests of the bytes
    compared, and the limits this screenshot was judged by."""
    return {"sha256": digests, "limits": analysis.as_dict(limits.in_force())}


def entry(run, screenshot):
    return report.Entry(screenshot.label, screenshot.baseline, image_file(screenshot, "current", ".png"))


def image_file(screenshot, key, suffix):
    return screenshot.output / f"{screenshot.name[: -len('.png')]}-{IMAGES[key]}{suffix}"


def thumbnail(make):
    """make(width=..., effort=...) as the report makes its thumbnails, or None
    where WebP cannot hold the thumbnail."""
    return report.thumbnail_or_none(lambda: make(width=THUMBNAIL_WIDTH, effort=THUMBNAIL_EFFORT))


def write_images(run, screenshot, pngs):
    """Writes the (PNG, thumbnail) of each key; returns their paths from the
    report page, under the keys the page takes."""
    run.make_output(screenshot.output)
    images = {}
    for key, (png, thumbnail) in pngs.items():
        for name, suffix, data in ((key, ".png", png), (f"{key}_thumbnail", ".webp", thumbnail)):
            if data is not None:
                target = image_file(screenshot, key, suffix)
                target.write_bytes(data)
                images[name] = target.relative_to(run.output_dir).as_posix()
    return images
