"""The report command: pairs the PNG files of two directories by relative
path, compares every pair on all processors (or on the workers of a Dask
cluster), each image decoded once and every thumbnail made from decoded
pixels, and writes report.json, index.html and the images."""

import concurrent.futures
import dataclasses
import datetime
import json
import os
import pathlib
import re
import sys

import quorvane
from quorvane_cli import analysis, manifest, page, regions
from quorvane_cli.files import BEYOND, TROUBLE, WITHIN, CliError, Files, Url, failing_file, location
from quorvane_cli.progress import Progress


@dataclasses.dataclass
class Entry:
    """One relative path, with its file in either directory (None where
    absent): a local path as the user gave it, or a Url."""

    path: str
    baseline: pathlib.Path | Url | None
    current: pathlib.Path | Url | None
    folder: str = ""  # where its images go, relative to the output directory
    ignore: tuple = ()  # its rectangles from the ignore file


def find_pairs(files, baseline_dir, current_dir, skip):
    baselines, currents = files.png_files(baseline_dir, skip), files.png_files(current_dir, skip)
    paths = sorted(baselines.keys() | currents.keys())
    entries = [Entry(path, baselines.get(path), currents.get(path)) for path in paths]
    digits = len(str(len(entries)))
    for index, entry in enumerate(entries):
        slug = re.sub(r"[^\w.-]+", "_", entry.path[: -len(".png")], flags=re.ASCII).strip("_")[-60:]
        entry.folder = f"images/{index:0{digits}d}-{slug}"
    return entries


def processors():
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


def group_size(threads):
    """Pairs read ahead at a time: enough to keep every processor busy."""
    return max(8, 4 * threads)


def thumbnail_or_none(make):
    """The WebP bytes that make() returns, or None where WebP cannot hold the
    thumbnail (more than 16383 rows: a very long page). A PNG that does not
    decode still raises."""
    try:
        return make()
    except ValueError as error:
        if str(error).startswith("failed to decode PNG"):
            raise
        return None


def images_of(comparison, drawing, thumbnail, alignment=None):
    """(PNG, WebP thumbnail) of the diff image, or of the shift-aware one when
    an alignment is given, drawn once. Where WebP cannot hold the thumbnail it
    is None, and the image is drawn again alone."""
    aligned = () if alignment is None else (alignment,)
    both = comparison.diff_image_and_thumbnail if alignment is None else comparison.aligned_diff_image_and_thumbnail
    try:
        return both(*aligned, **drawing, **thumbnail)
    except ValueError:
        alone = comparison.diff_image if alignment is None else comparison.aligned_diff_image
        return alone(*aligned, **drawing), None


class PairRun:
    """Compares the entries and writes their images; one instance per report.
    It is sent to the Dask workers as it is: everything it holds pickles."""

    def __init__(self, settings, limits, out_dir, thumbnail_width, thumbnail_effort, files):
        self.settings, self.limits = settings, limits
        self.out_dir, self.thumbnail_width, self.thumbnail_effort = out_dir, thumbnail_width, thumbnail_effort
        self.files = files

    def target(self, entry, name):
        """(path relative to the page, file) of one image of the entry."""
        relative = f"{entry.folder}/{name}"
        return relative, self.out_dir / relative

    def save(self, entry, name, data):
        """Writes one image of the entry; returns its path relative to the
        page, or None for a thumbnail that could not be made."""
        if data is None:
            return None
        relative, target = self.target(entry, name)
        self.files.write(target, data)
        return relative

    def thumbnail(self, make):
        """make(width=..., effort=...) with the report's thumbnail options, or
        None where WebP cannot hold the thumbnail."""
        return thumbnail_or_none(lambda: make(width=self.thumbnail_width, effort=self.thumbnail_effort))

    def thumbnail_options(self):
        """The same options, as the methods that make an image and its thumbnail take them."""
        return {"thumbnail_width": self.thumbnail_width, "effort": self.thumbnail_effort}

    def settings_for(self, entry):
        """The settings of the report with the entry's own regions added."""
        return dataclasses.replace(self.settings, ignore=regions.combined(self.settings.ignore, entry.ignore))

    def pair_record(self, entry, pngs):
        """The record of a pair: both files decoded once into a Comparison,
        whose figures, images and thumbnails all come from those pixels."""
        baseline_png, current_png = pngs
        settings = self.settings_for(entry)
        try:
            comparison = quorvane.Comparison(baseline_png, current_png, **settings.region_options())
        except ValueError as error:
            return error_record(entry, failing_file(entry.baseline, baseline_png, entry.current), str(error))
        figures, alignment = analysis.compared_figures(comparison, settings)
        digests = {"baseline": manifest.sha256(baseline_png), "current": manifest.sha256(current_png)}
        # An unchanged pair has no images; a changed one keeps the bytes compared,
        # the current image's being what accepting the pair writes.
        images = {}
        if figures["changed_pixels"]:
            images = {
                "current": self.save(entry, "current.png", current_png),
                "current_thumbnail": self.save(entry, "current.webp", self.thumbnail(comparison.current_thumbnail)),
                **self.change_images(entry, baseline_png, figures, comparison, alignment, settings),
            }
        return record(entry, figures, images, analysis.judge(figures, self.limits), sha256=digests)

    def change_images(self, entry, baseline_png, figures, comparison, alignment, settings):
        # The baseline at its own size, without the padding of a size mismatch.
        baseline_thumbnail = self.thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))
        diff, diff_thumbnail = images_of(comparison, settings.drawing_options(), self.thumbnail_options())
        images = {
            "baseline": self.save(entry, "baseline.png", baseline_png),
            "baseline_thumbnail": self.save(entry, "baseline.webp", baseline_thumbnail),
            "diff": self.save(entry, "diff.png", diff),
            "diff_thumbnail": self.save(entry, "diff.webp", diff_thumbnail),
        }
        if figures["alignment"] is not None and figures["alignment"]["bands"]:
            aligned, aligned_thumbnail = images_of(
                comparison, settings.drawing_options(), self.thumbnail_options(), alignment
            )
            images["aligned_diff"] = self.save(entry, "aligned_diff.png", aligned)
            images["aligned_diff_thumbnail"] = self.save(entry, "aligned_diff.webp", aligned_thumbnail)
        return images

    def single_record(self, entry):
        """A file with no counterpart: new in the current directory, or missing from it."""
        side, source = ("current", entry.current) if entry.baseline is None else ("baseline", entry.baseline)
        try:
            png = self.files.read(source)
            thumbnail = self.thumbnail(lambda **options: quorvane.thumbnail(png, **options))
        except CliError as error:
            return error_record(entry, None, str(error))
        except ValueError as error:
            return error_record(entry, source, str(error))
        width, height = analysis.png_size(png)
        images = {
            side: self.save(entry, f"{side}.png", png),
            f"{side}_thumbnail": self.save(entry, f"{side}.webp", thumbnail),
        }
        status = "new" if side == "current" else "missing"
        failure = "no baseline image" if status == "new" else "no current image"
        figures = {side: {"width": width, "height": height}, "status": status}
        return record(entry, figures, images, [failure], sha256={side: manifest.sha256(png)})

    def records(self, entries, done=lambda: None):
        """Records of the entries, in their order: of all of them in a local
        run, of one chunk on a Dask worker. One group's files are read while
        the worker threads compare the previous group's pairs; each call
        releases the interpreter lock, so the threads keep every processor
        busy. done() is called as each record is made."""
        workers = processors()
        compared, futures = [], {}
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:

            def submit(entry, function, *arguments):
                future = pool.submit(function, *arguments)
                future.add_done_callback(lambda _: done())
                futures[entry.path] = future
                return future

            for entry in entries:
                if entry.baseline is None or entry.current is None:
                    submit(entry, self.single_record, entry)
                else:
                    compared.append(entry)
            previous = []
            size = group_size(workers)
            for start in range(0, len(compared), size):
                group, readable = compared[start : start + size], []
                for entry in group:
                    try:
                        readable.append((entry, (self.files.read(entry.baseline), self.files.read(entry.current))))
                    except CliError as error:
                        submit(entry, error_record, entry, None, str(error))
                submitted = [submit(entry, self.pair_record, entry, pngs) for entry, pngs in readable]
                # At most two groups in flight: memory stays bounded.
                concurrent.futures.wait(previous)
                previous = submitted
        return [futures[entry.path].result() for entry in entries]


def apply_ignore_file(path, entries):
    """Gives each entry the rectangles of the file's keys that match its
    path; a key that matches none is likely a typo, and said so."""
    table = regions.read_ignore_file(path)
    for entry in entries:
        entry.ignore = regions.regions_for(entry.path, table)
    for key in table:
        if not any(regions.matches(key, entry.path) for entry in entries):
            print(f"quorvane: {path}: {json.dumps(key)} matches no file", file=sys.stderr)


def record(entry, figures, images, failures, *, sha256=None, limits=None):
    """A pair's record in report.json: the same keys for every status.
    sha256 holds the digests of the files compared, by side; limits, the
    pair's own where they are not the run's."""
    result = {
        "path": entry.path,
        "status": figures["status"],
        "passed": not failures,
        "failures": failures,
        "error": None,
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
        "sha256": {"baseline": None, "current": None, **(sha256 or {})},
        "limits": limits,
        "baseline_file": None if entry.baseline is None else str(entry.baseline),
    }
    result.update(figures)
    for side, file in (("baseline", entry.baseline), ("current", entry.current)):
        if result[side] is not None:
            result[side]["path"] = str(file)
    names = ("baseline", "current", "diff", "aligned_diff")
    result["images"] = {key: images.get(key) for name in names for key in (name, f"{name}_thumbnail")}
    return result


def error_record(entry, culprit, message):
    """A pair whose file cannot be read or decoded, or that was not compared."""
    text = f"{culprit}: {message}" if culprit is not None else message
    result = record(entry, {"status": "error"}, {}, [text])
    result["error"] = text
    return result


def summary_of(records):
    counts = {status: 0 for status in analysis.STATUSES}
    for pair in records:
        counts[pair["status"]] += 1
    return {"pairs": len(records), **counts, "failed": sum(not pair["passed"] for pair in records)}


def summary_line(summary):
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


def report_data(baseline_dir, current_dir, settings, limits, records, ignore_file=None):
    """What report.json holds and the page is rendered from."""
    return {
        "quorvane": quorvane.__version__,
        "generated": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
        "baseline_dir": str(baseline_dir),
        "current_dir": str(current_dir),
        "settings": analysis.as_dict(settings),
        "ignore_file": ignore_file,
        "limits": analysis.as_dict(limits.in_force()),
        "summary": summary_of(records),
        "pairs": records,
    }


# The report makes many thumbnails: libwebp's fast preset 1 writes them
# several times faster than its default settings, about a tenth larger.
THUMBNAIL_EFFORT = 1
THUMBNAIL_WIDTH = 240

# Written last, each whole or not at all; an earlier run's are removed first.
REPORT_FILES = ("report.json", manifest.NAME, "index.html")


def run(
    baseline,
    current,
    out,
    client=None,
    *,
    settings=analysis.Settings(),
    limits=analysis.Limits(),
    thumbnail_width=THUMBNAIL_WIDTH,
    thumbnail_effort=THUMBNAIL_EFFORT,
    ignore_file=None,
    progress=False,
    chunk_size=None,
):
    """Compares the PNG files of the directories baseline and current, paired
    by relative path, writes the report into the directory out (index.html,
    report.json and the images) and returns it: what report.json holds.

    Each directory is a local path or an fsspec URL (s3://bucket/run-42/,
    memory://..., which need fsspec: pip install 'quorvane[dask]').
    With client=None the pairs are compared in this process on every
    processor. With a distributed.Client they are compared in chunks of
    chunk_size entries (by default two groups for the largest worker
    machine, see cluster.chunk_size) on the client's workers, which read
    the inputs and write the images themselves: every worker must see the
    local paths (a relative one is taken from this process's working
    directory) or the URLs. The client is left open.

    settings and limits are analysis.Settings and analysis.Limits; progress
    shows the count of compared pairs on stderr. A pair that cannot be read
    or decoded, or whose chunk Dask gave up on, has status "error" and its
    message in "error". Raises CliError (one line naming the file) for a
    directory or output file that cannot be used; a KeyboardInterrupt
    cancels the cluster's tasks."""
    files = Files()
    baseline_dir, current_dir, out_dir = location(baseline), location(current), location(out)
    files.check_directory(baseline_dir)
    files.check_directory(current_dir)
    entries = find_pairs(files, baseline_dir, current_dir, skip=(out_dir, out_dir / "images"))
    if not entries:
        raise CliError(f"{baseline_dir}, {current_dir}", "no PNG files found")
    if ignore_file is not None:
        apply_ignore_file(ignore_file, entries)
    files.make_directory(out_dir)
    for name in REPORT_FILES:
        files.remove(out_dir / name)

    counter = Progress("comparing", len(entries), enabled=progress)
    pair_run = PairRun(settings, limits, out_dir, thumbnail_width, thumbnail_effort, files)
    if client is None:
        records = pair_run.records(entries, counter.advance)
    else:
        from quorvane_cli import cluster

        records = cluster.records(
            client, pair_run, entries, counter, chunk_size or cluster.chunk_size(client, len(entries))
        )
    counter.finish()

    report = report_data(baseline_dir, current_dir, settings, limits, records, ignore_file)
    files.keep(out_dir / "report.json", json.dumps(report, indent=1).encode())
    results = results_manifest(report, baseline_dir, files)
    files.keep(out_dir / manifest.NAME, manifest.dumps(results))
    files.keep(out_dir / "index.html", page.render(results).encode())
    return report


def results_manifest(report, baseline_dir, files):
    """The results manifest of a report: each pair named by its relative
    path, which is also its baseline's path below the baseline directory."""
    limits = report["limits"]
    root = str(baseline_dir) if isinstance(baseline_dir, Url) else str(files.local(baseline_dir).resolve())
    return manifest.build(
        [
            manifest.from_record(pair, name=pair["path"], baseline=pair["path"], limits=limits)
            for pair in report["pairs"]
        ],
        made_by="report",
        root=root,
        baseline_dir=report["baseline_dir"],
        current_dir=report["current_dir"],
        threshold=report["settings"]["threshold"],
        include_aa=report["settings"]["include_aa"],
        quorvane=report["quorvane"],
        generated=report["generated"],
    )


def run_report(args, settings, limits):
    client = None
    if args.scheduler is not None:
        from quorvane_cli import cluster

        client = cluster.connect(args.scheduler, args.scheduler_timeout)
    try:
        report = run(
            args.baseline_dir,
            args.current_dir,
            args.output,
            client,
            settings=settings,
            limits=limits,
            thumbnail_width=args.thumbnail_width,
            thumbnail_effort=args.thumbnail_effort,
            ignore_file=args.ignore_file,
            progress=not args.quiet,
        )
    finally:
        if client is not None:
            client.close()
    for pair in report["pairs"]:
        if pair["error"] is not None:
            print(f"quorvane: {pair['error']}", file=sys.stderr)
    summary = report["summary"]
    print(summary_line(summary))
    print(f"report: {location(args.output) / 'index.html'}")
    if summary["error"]:
        return TROUBLE
    return BEYOND if summary["failed"] else WITHIN
