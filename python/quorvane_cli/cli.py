"""The `quorvane` command: argument parsing, the compare command, and exit
statuses like cmp's: 0 within the limits, 1 beyond them, 2 for bad usage or
input that cannot be read."""

import argparse
import dataclasses
import json
import math
import sys

import quorvane
from quorvane_cli import analysis, approve, regions, report, review
from quorvane_cli.files import BEYOND, TROUBLE, WITHIN, CliError, failing_file, read_file, write_file


def argument_type(convert, accept, requirement):
    """An argparse type that refuses text it cannot convert, or whose value
    `accept` rejects, with "must be {requirement}, not {text}"; argparse
    shows it after "argument --name: " and exits with status 2."""

    def parse(text):
        try:
            value = convert(text)
        except ValueError:
            value = None
        if value is None or not accept(value):
            raise argparse.ArgumentTypeError(f"must be {requirement}, not {text}")
        return value

    return parse


def fraction_or_percentage(text):
    return float(text[:-1]) / 100 if text.endswith("%") else float(text)


def rgb(text):
    if text.startswith("#") and len(text) == 7:
        return tuple(int(text[i : i + 2], 16) for i in (1, 3, 5))
    return tuple(int(part) for part in text.split(","))


def in_unit_range(value):
    return 0.0 <= value <= 1.0  # false for NaN too


unit_interval = argument_type(float, in_unit_range, "in the range [0.0, 1.0]")
ratio_limit = argument_type(fraction_or_percentage, in_unit_range, "a fraction in [0.0, 1.0] or a percentage")
finite = argument_type(float, math.isfinite, "a finite number")
count = argument_type(int, lambda value: value >= 0, "a whole number, 0 or more")
positive = argument_type(int, lambda value: value >= 1, "a whole number, 1 or more")
seconds = argument_type(float, lambda value: 0 < value < math.inf, "a number of seconds above 0")
color = argument_type(
    rgb, lambda c: len(c) == 3 and all(0 <= part <= 255 for part in c), "R,G,B with components 0 to 255, or #rrggbb"
)
effort_level = argument_type(int, lambda value: 0 <= value <= 9, "0 to 9 or 'default'")


def effort(text):
    """A thumbnail's WebP effort: 0 to 9, or None for libwebp's default settings."""
    return None if text == "default" else effort_level(text)


# The defaults of the comparison options, declared once in Settings.
DEFAULTS = analysis.Settings()


def add_comparison_options(parser):
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
        type=regions.rectangle,
        action="append",
        default=[],
        metavar="X,Y,W,H",
        help="leave a rectangle of the compared canvas out of every figure: painted in the mask "
        "colour in both images (repeatable)",
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
        "--allow-shifts",
        action="store_true",
        help="judge a pair whose rows align by what changed in place only: "
        "content moved up or down by inserted or deleted rows passes",
    )


def from_args(kind, args):
    """A Settings or Limits made of the options of the same names."""
    return kind(**{field.name: getattr(args, field.name) for field in dataclasses.fields(kind)})


def open_pair(baseline_path, baseline_png, current_path, current_png, settings):
    try:
        return quorvane.Comparison(baseline_png, current_png, **settings.region_options())
    except ValueError as error:
        raise CliError(failing_file(baseline_path, baseline_png, current_path), str(error)) from None


def run_compare(args, settings, limits):
    baseline_png, current_png = read_file(args.baseline), read_file(args.current)
    comparison = open_pair(args.baseline, baseline_png, args.current, current_png, settings)

    figures, alignment = analysis.compared_figures(comparison, settings)
    figures["baseline"]["path"], figures["current"]["path"] = str(args.baseline), str(args.current)
    failures = analysis.judge(figures, limits)

    outputs = write_compare_outputs(args, settings, comparison, alignment, figures)
    if args.json:
        result = {
            **figures,
            "limits": analysis.as_dict(limits.in_force()),
            "passed": not failures,
            "failures": failures,
            "outputs": outputs,
        }
        print(json.dumps(result, indent=2))
    else:
        print(format_comparison(figures, failures))
    return BEYOND if failures else WITHIN


def write_compare_outputs(args, settings, comparison, alignment, figures):
    """Writes the images asked for; returns their paths (None where not written)."""
    outputs = {"diff": None, "aligned_diff": None, "thumbnail": None}
    if args.diff:
        write_file(args.diff, comparison.diff_image(**settings.drawing_options()))
        outputs["diff"] = str(args.diff)
    if args.aligned_diff:
        alignment = alignment or comparison.row_alignment(**settings.alignment_options())
        if alignment.aligned:
            write_file(args.aligned_diff, comparison.aligned_diff_image(alignment, **settings.drawing_options()))
            outputs["aligned_diff"] = str(args.aligned_diff)
        else:
            reason = not_aligned_reason(figures["baseline"], figures["current"])
            print(f"quorvane: {args.aligned_diff}: not written: {reason}", file=sys.stderr)
    if args.thumbnail:
        try:
            thumbnail = comparison.current_thumbnail(width=args.thumbnail_width, height=args.thumbnail_height)
        except ValueError as error:
            raise CliError(args.thumbnail, str(error)) from None
        write_file(args.thumbnail, thumbnail)
        outputs["thumbnail"] = str(args.thumbnail)
    return outputs


def not_aligned_reason(baseline, current):
    if baseline["width"] != current["width"]:
        return "the rows do not align: the widths differ"
    return "the rows do not align: more rows changed than the edit budget allows"


def size_text(size):
    return f"{size['width']}x{size['height']}"


def band_text(band):
    return f"{band['rows']} row{'' if band['rows'] == 1 else 's'} {band['kind']} at row {band['y']}"


def format_comparison(figures, failures):
    """The human-readable account of one comparison."""
    pixels = figures["width"] * figures["height"]
    lines = [
        f"baseline   {figures['baseline']['path']} ({size_text(figures['baseline'])})",
        f"current    {figures['current']['path']} ({size_text(figures['current'])})",
    ]
    if figures["size_mismatch"]:
        lines.append(
            f"sizes      differ: compared on {figures['width']}x{figures['height']}, "
            "the area missing from the smaller image counting as transparent"
        )
    if figures["ignore"]:
        ignored, count = figures["ignored_pixels"], len(figures["ignore"])
        lines.append(
            f"ignored    {ignored} pixels left out ({analysis.ratio(ignored, pixels):.2%}), "
            f"in {count} region{'' if count == 1 else 's'}"
        )
    lines.append(f"changed    {figures['changed_pixels']} of {pixels} pixels ({figures['changed_ratio']:.2%})")
    lines.append(f"SSIM       {figures['ssim']:.6f}")
    lines.extend(cluster_lines("clusters   ", "", figures["clusters"]))
    aligned = figures["alignment"]
    if figures["changed_pixels"] and aligned is None:
        lines.append(f"shifts     none: {not_aligned_reason(figures['baseline'], figures['current'])}")
    elif aligned is not None and aligned["bands"]:
        lines.append("shifts     " + ", ".join(band_text(band) for band in aligned["bands"]))
        lines.extend(
            cluster_lines(
                f"aligned    SSIM {aligned['ssim']:.6f}, {aligned['changed_pixels']} pixels changed in place "
                f"({aligned['changed_ratio']:.2%}), ",
                " in place",
                aligned["clusters"],
            )
        )
    lines.append(f"status     {figures['status']}")
    lines.append("result     " + ("beyond limits: " + "; ".join(failures) if failures else "within limits"))
    return "\n".join(lines)


def cluster_lines(lead, where, clusters):
    total, items = clusters["total"], clusters["items"]
    if not total:
        return [f"{lead}no clusters{where}"]
    shown = f", the largest {len(items)}" if len(items) < total else ""
    plural = "" if total == 1 else "s"
    lines = [f"{lead}{total} cluster{plural}{where}{shown}:"]
    lines.extend(
        f"             {c['width']}x{c['height']} at ({c['x']}, {c['y']}), {c['pixel_count']} pixels" for c in items
    )
    return lines


EXIT_STATUSES = "Exit status: 0 within the limits, 1 beyond them, 2 for bad usage or unreadable input."


def build_parser():
    parser = argparse.ArgumentParser(
        prog="quorvane", description="Compare screenshots for visual regression testing.", epilog=EXIT_STATUSES
    )
    parser.add_argument("--version", action="version", version=f"quorvane {quorvane.__version__}")
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
    outputs = compare.add_argument_group("images written")
    outputs.add_argument("--diff", metavar="OUT.png", help="write the diff image")
    outputs.add_argument(
        "--aligned-diff",
        metavar="OUT.png",
        help="write the shift-aware diff image, in current-image rows (when the rows align)",
    )
    outputs.add_argument("--thumbnail", metavar="OUT.webp", help="write a lossless WebP thumbnail of the current image")
    outputs.add_argument(
        "--thumbnail-width", type=positive, default=200, metavar="N", help="thumbnail width (default 200)"
    )
    outputs.add_argument(
        "--thumbnail-height", type=positive, metavar="N", help="crop the thumbnail to this height from the top"
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
        "counterpart, 2 for bad usage or a file that cannot be read.",
    )
    make_report.add_argument("baseline_dir", metavar="BASELINE_DIR")
    make_report.add_argument("current_dir", metavar="CURRENT_DIR")
    make_report.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT_DIR",
        help="directory for index.html, report.json and the images (created when missing)",
    )
    make_report.add_argument(
        "--thumbnail-width",
        type=positive,
        default=report.THUMBNAIL_WIDTH,
        metavar="N",
        help="width of the thumbnails on the page (default %(default)s)",
    )
    make_report.add_argument(
        "--thumbnail-effort",
        type=effort,
        default=report.THUMBNAIL_EFFORT,
        metavar="E",
        help="WebP effort of the thumbnails, 0 (fastest) to 9 (smallest files), or 'default' "
        "for libwebp's default settings (default %(default)s)",
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
    add_comparison_options(make_report)
    make_report.set_defaults(run=report.run_report)
    approve.add_parser(commands)
    review.add_parser(commands)
    return parser


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        if args.command in ("approve", "review"):  # they take no comparison options
            return args.run(args)
        return args.run(args, from_args(analysis.Settings, args), from_args(analysis.Limits, args))
    except CliError as error:
        print(f"quorvane: {error}", file=sys.stderr)
        return TROUBLE
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # A reader such as head(1) stopped early: nothing left to say.
        sys.stdout = None
        return BEYOND
