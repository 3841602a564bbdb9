"""The `quorvane` command: argument parsing, the compare command, and exit
statuses like cmp's: 0 within the limits, 1 beyond them, 2 for bad usage or
input that cannot be read (and for anything unexpected), 130 interrupted."""

from __future__ import annotations

import argparse
import dataclasses
import json
import os
import pathlib
import sys
import traceback
from collections.abc import Callable
from typing import Any, TypeVar

import quorvane
from quorvane_cli import analysis, approve, merge, png_chunks, regions, report, review, settings
from quorvane_cli.account import format_comparison, not_aligned_reason
from quorvane_cli.errors import BEYOND, INTERRUPTED, TROUBLE, WITHIN, CliError, failed_side
from quorvane_cli.files import read_file, write_file
from quorvane_cli.outputs import add_arguments as add_ci_outputs
from quorvane_cli.safe_files import shown
from quorvane_cli.settings import Limits, Settings

T = TypeVar("T")


def option(parse: Callable[[str], T]) -> Callable[[str], T]:
    """An argparse type from a check of the settings: its ValueError is shown
    after "argument --name: ", and the command exits with status 2."""

    def parse_option(text: str) -> T:
        try:
            return parse(text)
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None

    return parse_option


unit_interval = option(settings.UNIT_INTERVAL.parse)
ratio_limit = option(settings.RATIO_LIMIT.parse)
finite = option(settings.FINITE.parse)
count = option(settings.COUNT.parse)
positive = option(settings.POSITIVE.parse)
thumbnail_side = option(settings.THUMBNAIL_SIDE.parse)
seconds = option(settings.SECONDS.parse)
color = option(settings.COLOR.parse)
effort = option(settings.effort)
row_threshold = option(settings.ROW_THRESHOLD.parse)
rectangle = option(regions.rectangle)

# The defaults of the comparison options, declared once in Settings.
DEFAULTS = Settings()


def add_comparison_options(parser: argparse.ArgumentParser) -> None:
    pixels = parser.add_argument_group("how pixels are compared")
    pixels.add_argument(
        "--threshold",
        type=unit_interval,
        default=DEFAULTS.threshold,
        help="colour distance from which a pixel counts as changed, 0.0 to 1.0 (default %(default)s)",
    )
    pixels.add_argument("--include-aa", action="store_true", help="count anti-aliased edge pixels as changed too")
    pixels.add_argument(
        "--ignore",
        type=rectangle,
        action="append",
        default=[],
        metavar="X,Y,W,H",
        help="leave a rectangle of the compared canvas out of every figure: painted in the mask "
        "colour in both images (repeatable)",
    )
    pixels.add_argument(
        "--no-embedded-regions",
        action="store_true",
        help="leave out the rectangles a PNG file carries in its quorvane:ignore chunk (read and applied "
        "together, from both images, by default)",
    )
    pixels.add_argument(
        "--mask-color",
        type=color,
        default=DEFAULTS.mask_color,
        metavar="R,G,B",
        help="colour of the ignored rectangles, in the images and the diff (default 255,0,255)",
    )

    drawing = parser.add_argument_group("diff images")
    drawing.add_argument(
        "--alpha",
        type=unit_interval,
        default=DEFAULTS.alpha,
        help="opacity of the faded image under the changes, 0.0 to 1.0 (default %(default)s)",
    )
    drawing.add_argument(
        "--diff-color",
        type=color,
        default=DEFAULTS.diff_color,
        metavar="R,G,B",
        help="colour of changed pixels (default 255,0,0)",
    )
    drawing.add_argument(
        "--aa-color",
        type=color,
        default=DEFAULTS.aa_color,
        metavar="R,G,B",
        help="colour of anti-aliased pixels (default 255,255,0)",
    )
    drawing.add_argument(
        "--diff-color-alt",
        type=color,
        metavar="R,G,B",
        help="colour of changed pixels that got darker (default: the diff colour)",
    )

    clusters = parser.add_argument_group("change clusters")
    clusters.add_argument(
        "--max-clusters",
        type=count,
        default=DEFAULTS.max_clusters,
        metavar="N",
        help="largest clusters listed (default %(default)s)",
    )
    clusters.add_argument(
        "--min-pixels",
        type=count,
        default=DEFAULTS.min_pixels,
        metavar="N",
        help="smallest cluster kept, in dilated pixels (default %(default)s)",
    )
    clusters.add_argument(
        "--min-side",
        type=count,
        default=DEFAULTS.min_side,
        metavar="N",
        help="drop clusters whose shorter side is below N pixels (default %(default)s: keep all)",
    )
    clusters.add_argument(
        "--dilation",
        type=count,
        default=DEFAULTS.dilation,
        metavar="N",
        help="radius joining nearby changed pixels into one cluster (default %(default)s)",
    )
    clusters.add_argument(
        "--merge-gap",
        type=count,
        default=DEFAULTS.merge_gap,
        metavar="N",
        help="merge clusters at most N pixels apart (default %(default)s: no merging)",
    )
    clusters.add_argument(
        "--merge-overlap",
        type=finite,
        default=DEFAULTS.merge_overlap,
        metavar="F",
        help="overlap fraction that allows a merge across the gap (default %(default)s)",
    )

    alignment = parser.add_argument_group("row alignment (telling shifted content from change)")
    alignment.add_argument(
        "--max-edit-ratio",
        type=unit_interval,
        default=DEFAULTS.max_edit_ratio,
        metavar="F",
        help="most rows inserted or deleted, as a fraction of all rows (default %(default)s)",
    )
    alignment.add_argument(
        "--max-edit-rows",
        type=count,
        default=DEFAULTS.max_edit_rows,
        metavar="N",
        help="most rows inserted or deleted (default %(default)s)",
    )
    alignment.add_argument(
        "--row-threshold",
        type=row_threshold,
        default=DEFAULTS.row_threshold,
        metavar="F",
        help="colour distance within which two rows still match, so that rendering noise such as a dithered "
        "gradient does not break the alignment: 0.0 to 1.0, 'exact' for rows of equal pixels only "
        "(default: the --threshold)",
    )

    limits = parser.add_argument_group(
        "pass/fail limits (exit status 1 beyond them; with none given, any changed pixel fails)"
    )
    limits.add_argument("--max-changed-pixels", type=count, metavar="N", help="most changed pixels allowed")
    limits.add_argument(
        "--max-changed-ratio",
        type=ratio_limit,
        metavar="R",
        help="largest fraction of changed pixels allowed, as 0.001 or 0.1%%",
    )
    limits.add_argument("--min-ssim", type=finite, metavar="S", help="lowest SSIM allowed")
    limits.add_argument(
        "--max-cluster-pixels",
        type=count,
        metavar="N",
        help="most changed pixels allowed in one cluster of change, whatever the total",
    )
    limits.add_argument(
        "--allow-shifts",
        action="store_true",
        help="judge a pair whose rows align by its shift-aware figures: what changed in place plus every "
        "inserted and deleted row, but not content that only moved up or down",
    )


def from_args(kind: type[T], args: argparse.Namespace) -> T:
    """A Settings or Limits made of the options of the same names."""
    return kind(**{field.name: getattr(args, field.name) for field in dataclasses.fields(kind)})  # type: ignore[arg-type]


def open_pair(
    baseline_path: str, baseline_png: bytes, current_path: str, current_png: bytes, given: Settings
) -> quorvane.Comparison:
    try:
        return quorvane.Comparison(baseline_png, current_png, **given.region_options())
    except quorvane.MemoryLimitError as error:  # the pair's, not one file's
        raise CliError(f"{baseline_path} against {current_path}", str(error)) from None
    except ValueError as error:
        culprit = current_path if failed_side(error) == "current" else baseline_path
        raise CliError(culprit, str(error)) from None


def run_compare(args: argparse.Namespace, given: Settings, limits: Limits) -> int:
    check_outputs_apart(args)
    baseline_png, current_png = read_file(args.baseline), read_file(args.current)
    if not args.no_embedded_regions:
        given = given.with_regions(*png_chunks.embedded((args.baseline, baseline_png), (args.current, current_png)))
    comparison = open_pair(args.baseline, baseline_png, args.current, current_png, given)
    result = analysis.analyse(comparison, given, limits)
    outputs = write_compare_outputs(args, given, comparison, result)
    figures = analysis.as_json(result.figures)
    figures["baseline"]["path"], figures["current"]["path"] = str(args.baseline), str(args.current)
    if args.json:
        document = {
            **figures,
            "limits": settings.as_dict(limits.in_force()),
            "passed": result.verdict.passed,
            "passed_with_shifts": result.verdict.passed_with_shifts,
            "failures": list(result.verdict.failures),
            "outputs": outputs,
        }
        print(json.dumps(document, indent=2))
    else:
        print(format_comparison(args.baseline, args.current, result.figures, result.verdict))
    return WITHIN if result.verdict.passed else BEYOND


def check_outputs_apart(args: argparse.Namespace) -> None:
    """An image written must never replace an input."""
    inputs = [pathlib.Path(args.baseline), pathlib.Path(args.current)]
    for output in (args.diff, args.aligned_diff, args.thumbnail):
        if output is None:
            continue
        for source in inputs:
            try:
                same = os.path.samefile(output, source)
            except OSError:
                same = pathlib.Path(output).absolute() == source.absolute()
            if same:
                raise CliError(output, f"is the input {source}: an output never replaces an input")


def write_compare_outputs(
    args: argparse.Namespace, given: Settings, comparison: quorvane.Comparison, result: analysis.Analysis
) -> dict[str, str | None]:
    """Writes the images asked for; returns their paths (None where not written)."""
    outputs: dict[str, str | None] = {"diff": None, "aligned_diff": None, "thumbnail": None}
    if args.diff:
        write_file(args.diff, comparison.diff_image(**given.drawing_options()))
        outputs["diff"] = str(args.diff)
    if args.aligned_diff:
        alignment = result.alignment or comparison.row_alignment(**given.alignment_options())
        if alignment.aligned:
            write_file(args.aligned_diff, comparison.aligned_diff_image(alignment, **given.drawing_options()))
            outputs["aligned_diff"] = str(args.aligned_diff)
        else:
            reason = not_aligned_reason(result.figures)
            print(f"quorvane: {shown(args.aligned_diff)}: not written: {reason}", file=sys.stderr)
    if args.thumbnail:
        try:
            thumbnail = comparison.current_thumbnail(width=args.thumbnail_width, height=args.thumbnail_height)
        except ValueError as error:
            raise CliError(args.thumbnail, str(error)) from None
        write_file(args.thumbnail, thumbnail)
        outputs["thumbnail"] = str(args.thumbnail)
    return outputs


EXIT_STATUSES = (
    "Exit status: 0 within the limits, 1 beyond them, 2 for bad usage, unreadable input or an unexpected "
    "failure, 130 when interrupted."
)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvane", description="Compare screenshots for visual regression testing.", epilog=EXIT_STATUSES
    )
    parser.add_argument("--version", action="version", version=f"quorvane {quorvane.__version__}")
    parser.add_argument("--debug", action="store_true", help="show the traceback of an unexpected failure")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    compare = commands.add_parser(
        "compare",
        help="compare two PNG screenshots",
        description="Compare a baseline and a current PNG screenshot: changed pixels, SSIM, the largest clusters "
        "of change and, when content moved up or down, the shift bands.",
        epilog=EXIT_STATUSES,
    )
    compare.add_argument("baseline", metavar="BASELINE.png")
    compare.add_argument("current", metavar="CURRENT.png")
    compare.add_argument("--json", action="store_true", help="print one JSON object instead of text")
    outputs = compare.add_argument_group("images written (never over an input)")
    outputs.add_argument("--diff", metavar="OUT.png", help="write the diff image")
    outputs.add_argument(
        "--aligned-diff",
        metavar="OUT.png",
        help="write the shift-aware diff image, in current-image rows (when the rows align)",
    )
    outputs.add_argument("--thumbnail", metavar="OUT.webp", help="write a lossless WebP thumbnail of the current image")
    outputs.add_argument(
        "--thumbnail-width", type=thumbnail_side, default=200, metavar="N", help="thumbnail width (default 200)"
    )
    outputs.add_argument(
        "--thumbnail-height", type=thumbnail_side, metavar="N", help="crop the thumbnail to this height from the top"
    )
    add_comparison_options(compare)
    compare.set_defaults(run=run_compare)

    make_report = commands.add_parser(
        "report",
        help="compare two directories of screenshots and write an HTML report",
        description="Pair the PNG files of two directories by relative path, compare every pair on all processors "
        "(or on the workers of a Dask cluster) and write OUT_DIR/index.html (a self-contained page with "
        "its images) and OUT_DIR/report.json. Each directory may be an fsspec URL such as "
        "s3://bucket/run-42/ (pip install 'quorvane[dask]').",
        epilog="Exit status: 0 when every pair is within the limits, 1 when a pair is beyond them or has no "
        "counterpart, 2 for bad usage, a file that cannot be read or an unexpected failure, 130 when "
        "interrupted.",
    )
    make_report.add_argument("baseline_dir", metavar="BASELINE_DIR")
    make_report.add_argument("current_dir", metavar="CURRENT_DIR")
    make_report.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT_DIR",
        help="directory for index.html, report.json and the images: absent, empty or an earlier report "
        "(whose files are replaced), and apart from the input directories",
    )
    make_report.add_argument(
        "--thumbnail-width",
        type=thumbnail_side,
        default=report.THUMBNAIL_WIDTH,
        metavar="N",
        help="width of the thumbnails on the page (default %(default)s)",
    )
    make_report.add_argument(
        "--thumbnail-effort",
        type=effort,
        default=report.THUMBNAIL_EFFORT,
        metavar="E",
        help="WebP encoder of the thumbnails: 'fast' (the module's own, about the size of libwebp's "
        "default files and several times faster than its fastest presets), libwebp's presets 0 (fastest) "
        "to 9 (smallest files), or 'default' for libwebp's default settings (default %(default)s)",
    )
    make_report.add_argument("-q", "--quiet", action="store_true", help="show no progress on stderr")
    make_report.add_argument(
        "--ignore-file",
        metavar="REGIONS.json",
        help="rectangles to ignore per file: a JSON object mapping a relative path or a glob "
        "pattern to a list of [x, y, width, height]; every matching entry applies, "
        "beside --ignore",
    )
    dask = make_report.add_argument_group("Dask cluster (pip install 'quorvane[dask]')")
    dask.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="compare the pairs on the workers of the cluster whose scheduler is at ADDRESS, such as "
        "tcp://10.0.0.5:8786; the workers read the inputs and write the images, so every worker "
        "must see the directories under the same paths, or they are URLs",
    )
    dask.add_argument(
        "--scheduler-timeout",
        type=seconds,
        default=30,
        metavar="SECONDS",
        help="give up when the scheduler has not answered within SECONDS (default %(default)s)",
    )
    make_report.add_argument(
        "--shard",
        type=option(merge.shard),
        metavar="K/N",
        help="compare only the K-th of N slices of the pairs, split by their relative paths alone, for CI jobs "
        "sharing one suite; `quorvane merge` joins their reports",
    )
    add_comparison_options(make_report)
    add_ci_outputs(make_report)
    make_report.set_defaults(run=report.run_report)
    approve.add_parser(commands)
    review.add_parser(commands)
    merge.add_parser(commands)
    return parser


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    run: Callable[[argparse.Namespace, Settings, Limits], int] = args.run
    try:
        if args.command in ("approve", "review", "merge"):  # they take no comparison options
            return int(args.run(args))
        return run(args, from_args(Settings, args), from_args(Limits, args))
    except CliError as error:
        print(f"quorvane: {shown(error)}", file=sys.stderr)
        return TROUBLE
    except KeyboardInterrupt:
        print("quorvane: interrupted", file=sys.stderr)
        return INTERRUPTED
    except BrokenPipeError:
        # A reader such as head(1) stopped early: nothing left to say.
        sys.stdout = None
        return BEYOND
    except Exception as error:
        if args.debug:
            traceback.print_exc()
        described: Any = error
        print(f"quorvane: unexpected {type(error).__name__}: {shown(described)}", file=sys.stderr)
        return TROUBLE
