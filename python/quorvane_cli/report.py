"""The report command: pairs the PNG files of two directories by relative
path, compares every pair on all processors (or on the workers of a Dask
cluster), each file read once and decoded once, every image written from
bytes already in memory, and writes report.json, index.html and the images."""

from __future__ import annotations

import argparse
import concurrent.futures
import dataclasses
import datetime
import json
import pathlib
import re
import sys
import time
from collections.abc import Callable
from typing import Any

import quorvane
from quorvane_cli import allocator, analysis, manifest, merge, outputs, page, png_chunks, records, regions
from quorvane_cli.errors import BEYOND, TROUBLE, WITHIN, CliError, failed_side
from quorvane_cli.files import Files, Location, location
from quorvane_cli.memory_share import MemoryShare, pair_need
from quorvane_cli.progress import Progress
from quorvane_cli.records import PairRecord, group_size, processors
from quorvane_cli.safe_files import shown
from quorvane_cli.settings import Effort, Limits, Rectangle, Settings, as_dict
from quorvane_cli.urls import Url


@dataclasses.dataclass
class Entry:
    """One relative path, with its file in either directory (None where
    absent): a local path as the user gave it, or a Url."""

    path: str
    baseline: Location | None
    current: Location | None
    folder: str = ""  # where its images go, relative to the output directory
    ignore: tuple[Rectangle, ...] = ()  # its rectangles from the ignore file


def find_pairs(files: Files, baseline_dir: Location, current_dir: Location) -> list[Entry]:
    baselines, currents = files.png_files(baseline_dir), files.png_files(current_dir)
    paths = sorted(baselines.keys() | currents.keys())
    entries = [Entry(path, baselines.get(path), currents.get(path)) for path in paths]
    digits = len(str(len(entries)))
    for index, entry in enumerate(entries):
        slug = re.sub(r"[^\w.-]+", "_", entry.path[: -len(".png")], flags=re.ASCII).strip("_")[-60:]
        entry.folder = f"images/{index:0{digits}d}-{slug}"
    return entries


def thumbnail_or_none(make: Callable[[], bytes]) -> bytes | None:
    """The WebP bytes that make() returns, or None where WebP cannot hold the
    thumbnail (more than 16383 rows: a very long page)."""
    try:
        return make()
    except quorvane.EncodeError:
        return None


def images_of(
    comparison: quorvane.Comparison,
    drawing: dict[str, Any],
    thumbnail: dict[str, Any],
    alignment: quorvane.RowAlignment | None = None,
) -> tuple[bytes, bytes | None]:
    """(PNG, WebP thumbnail) of the diff image, or of the shift-aware one when
    an alignment is given, drawn once. Where WebP cannot hold the thumbnail it
    is None, and the image is drawn again alone."""
    try:
        if alignment is None:
            return comparison.diff_image_and_thumbnail(**drawing, **thumbnail)
        return comparison.aligned_diff_image_and_thumbnail(alignment, **drawing, **thumbnail)
    except quorvane.EncodeError:
        if alignment is None:
            return comparison.diff_image(**drawing), None
        return comparison.aligned_diff_image(alignment, **drawing), None


class PairRun:
    """Compares the entries and writes their images; one instance per report.
    It is sent to the Dask workers as it is: everything it holds pickles."""

    def __init__(
        self,
        settings: Settings,
        limits: Limits,
        out_dir: Location,
        thumbnail_width: int,
        thumbnail_effort: Effort,
        files: Files,
        embedded_regions: bool = True,
        memory_limit: int = quorvane.DEFAULT_MEMORY_LIMIT,
    ) -> None:
        self.settings, self.limits = settings, limits
        self.memory_limit = memory_limit  # of each pair, and of all pairs compared at once
        self.embedded_regions = embedded_regions
        self.out_dir, self.thumbnail_width, self.thumbnail_effort = out_dir, thumbnail_width, thumbnail_effort
        self.files = files

    def save(self, entry: Entry, name: str, data: bytes | None, images: dict[str, str], key: str) -> None:
        """Writes one image of the entry from bytes in memory, under `key` of
        its images; a thumbnail that could not be made (None) is left out."""
        if data is not None:
            relative = f"{entry.folder}/{name}"
            self.files.write_output(self.out_dir, relative, data)
            images[key] = relative

    def thumbnail(self, make: Callable[..., bytes]) -> bytes | None:
        """make(width=..., effort=...) with the report's thumbnail options, or
        None where WebP cannot hold the thumbnail."""
        return thumbnail_or_none(lambda: make(width=self.thumbnail_width, effort=self.thumbnail_effort))

    def thumbnail_options(self) -> dict[str, Any]:
        """The same options, as the methods that make an image and its thumbnail take them."""
        return {"thumbnail_width": self.thumbnail_width, "effort": self.thumbnail_effort}

    def pair_record(self, entry: Entry, pngs: tuple[bytes, bytes]) -> PairRecord:
        """The record of a pair: both files decoded once into a Comparison,
        whose figures, images and thumbnails all come from those pixels and
        the bytes read. An unchanged pair writes no image."""
        assert entry.baseline is not None and entry.current is not None
        baseline_png, current_png = pngs
        settings = self.settings.with_regions(entry.ignore)
        if self.embedded_regions:
            try:
                carried = png_chunks.embedded((entry.baseline, baseline_png), (entry.current, current_png))
            except CliError as error:
                return records.error_record(entry.path, None, str(error))
            settings = settings.with_regions(*carried)
        try:
            comparison = quorvane.Comparison(
                baseline_png, current_png, **settings.region_options(), memory_limit=self.memory_limit
            )
        except quorvane.MemoryLimitError as error:
            return records.error_record(entry.path, None, str(error))
        except ValueError as error:
            culprit = entry.current if failed_side(error) == "current" else entry.baseline
            return records.error_record(entry.path, str(culprit), str(error))
        result = analysis.analyse(comparison, settings, self.limits)
        images: dict[str, str] = {}
        if result.figures.status != "unchanged":
            self.change_images(entry, pngs, comparison, result, settings, images)
        record = records.compared_record(entry.path, str(entry.baseline), str(entry.current), result, images)
        return dataclasses.replace(record, sha256=(manifest.sha256(baseline_png), manifest.sha256(current_png)))

    def change_images(
        self,
        entry: Entry,
        pngs: tuple[bytes, bytes],
        comparison: quorvane.Comparison,
        result: analysis.Analysis,
        settings: Settings,
        images: dict[str, str],
    ) -> None:
        baseline_png, current_png = pngs
        self.save(entry, "baseline.png", baseline_png, images, "baseline")
        self.save(entry, "current.png", current_png, images, "current")
        # The baseline at its own size, without the padding of a size mismatch.
        baseline_thumbnail = self.thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))
        self.save(entry, "baseline.webp", baseline_thumbnail, images, "baseline_thumbnail")
        self.save(entry, "current.webp", self.thumbnail(comparison.current_thumbnail), images, "current_thumbnail")
        drawing = settings.drawing_options()
        diff, diff_thumbnail = images_of(comparison, drawing, self.thumbnail_options())
        self.save(entry, "diff.png", diff, images, "diff")
        self.save(entry, "diff.webp", diff_thumbnail, images, "diff_thumbnail")
        aligned = result.figures.alignment
        if result.alignment is not None and aligned is not None and aligned.row_bands:
            shifted, shifted_thumbnail = images_of(comparison, drawing, self.thumbnail_options(), result.alignment)
            self.save(entry, "aligned_diff.png", shifted, images, "aligned_diff")
            self.save(entry, "aligned_diff.webp", shifted_thumbnail, images, "aligned_diff_thumbnail")

    def shared_record(self, share: MemoryShare, entry: Entry, pngs: tuple[bytes, bytes]) -> PairRecord:
        """pair_record, once the pair's memory fits beside the pairs running."""
        with share.held(pair_need(*pngs)):
            return self.pair_record(entry, pngs)

    def single_record(self, entry: Entry) -> PairRecord:
        """A file with no counterpart: new in the current directory, or missing from it."""
        new = entry.baseline is None
        source = entry.current if new else entry.baseline
        assert source is not None
        side = "current" if new else "baseline"
        try:
            png = self.files.read(source)
            thumbnail = self.thumbnail(lambda **options: quorvane.thumbnail(png, **options))
        except CliError as error:
            return records.error_record(entry.path, None, str(error))
        except ValueError as error:
            return records.error_record(entry.path, str(source), str(error))
        images: dict[str, str] = {}
        self.save(entry, f"{side}.png", png, images, side)
        self.save(entry, f"{side}.webp", thumbnail, images, f"{side}_thumbnail")
        record = records.single_record(entry.path, str(source), new, analysis.png_size(png), images)
        digest = manifest.sha256(png)
        return dataclasses.replace(record, sha256=(None, digest) if new else (digest, None))

    def records(self, entries: list[Entry], done: Callable[[], None] = lambda: None) -> list[PairRecord]:
        """Records of the entries, in their order: of all of them in a local
        run, of one chunk on a Dask worker. One group's files are read while
        the worker threads compare the previous group's pairs; each call
        releases the interpreter lock, so the threads keep every processor
        busy. done() is called as each record is made."""
        workers = processors()
        share = MemoryShare(self.memory_limit)
        compared: list[Entry] = []
        futures: dict[str, concurrent.futures.Future[PairRecord]] = {}
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:

            def submit(entry: Entry, function: Callable[..., PairRecord], *arguments: Any) -> None:
                future = pool.submit(timed, function, *arguments)
                future.add_done_callback(lambda _: done())
                futures[entry.path] = future

            for entry in entries:
                if entry.baseline is None or entry.current is None:
                    submit(entry, self.single_record, entry)
                else:
                    compared.append(entry)
            previous: list[concurrent.futures.Future[PairRecord]] = []
            size = group_size(workers)
            for start in range(0, len(compared), size):
                group = compared[start : start + size]
                for entry in group:
                    assert entry.baseline is not None and entry.current is not None
                    try:
                        pngs = (self.files.read(entry.baseline), self.files.read(entry.current))
                    except CliError as error:
                        submit(entry, records.error_record, entry.path, None, str(error))
                    else:
                        submit(entry, self.shared_record, share, entry, pngs)
                submitted = [futures[entry.path] for entry in group]
                # At most two groups in flight: memory stays bounded.
                concurrent.futures.wait(previous)
                previous = submitted
        return [futures[entry.path].result() for entry in entries]


def timed(function: Callable[..., PairRecord], *arguments: Any) -> PairRecord:
    started = time.perf_counter()
    record = function(*arguments)
    return dataclasses.replace(record, seconds=time.perf_counter() - started)


def apply_ignore_file(path: str, entries: list[Entry]) -> None:
    """Gives each entry the rectangles of the file's keys that match its
    path; a key that matches none is likely a typo, and said so."""
    table = regions.read_ignore_file(path)
    for entry in entries:
        entry.ignore = regions.regions_for(entry.path, table)
    for key in table:
        if not any(regions.matches(key, entry.path) for entry in entries):
            print(f"quorvane: {shown(path)}: {json.dumps(key)} matches no file", file=sys.stderr)


def report_data(
    baseline_dir: object,
    current_dir: object,
    settings: Settings,
    limits: Limits,
    pairs: list[dict[str, Any]],
    ignore_file: str | None = None,
    ssim_is_a_limit: bool = True,
) -> dict[str, Any]:
    """What report.json holds and the page is rendered from, of the pairs'
    records in their JSON form. The folders are named as they were given."""
    return {
        "quorvane": quorvane.__version__,
        "generated": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
        "baseline_dir": str(baseline_dir),
        "current_dir": str(current_dir),
        "settings": as_dict(settings),
        "ignore_file": ignore_file,
        "limits": as_dict(limits.in_force(ssim_is_a_limit)),
        "summary": records.summary_of(pairs),
        "pairs": pairs,
    }


# The report makes many thumbnails: the module's own encoder writes them
# several times faster than libwebp's fast presets, about the size of
# libwebp's default files.
THUMBNAIL_EFFORT: Effort = "fast"
THUMBNAIL_WIDTH = 240


def run(
    baseline: str | pathlib.Path | Url,
    current: str | pathlib.Path | Url,
    out: str | pathlib.Path | Url,
    client: Any = None,
    *,
    settings: Settings = Settings(),
    limits: Limits = Limits(),
    thumbnail_width: int = THUMBNAIL_WIDTH,
    thumbnail_effort: Effort = THUMBNAIL_EFFORT,
    ignore_file: str | None = None,
    progress: bool = False,
    chunk_size: int | None = None,
    embedded_regions: bool = True,
    shard: tuple[int, int] | None = None,
    seconds: dict[str, float] | None = None,
    memory_limit: int = quorvane.DEFAULT_MEMORY_LIMIT,
) -> dict[str, Any]:
    """Compares the PNG files of the directories baseline and current, paired
    by relative path, writes the report into the directory out (index.html,
    report.json and the images) and returns it: what report.json holds.

    Each directory is a local path or an fsspec URL (s3://bucket/run-42/,
    memory://..., which need fsspec: pip install 'quorvane[dask]').
    The output directory must be absent, empty or an earlier report, and
    apart from the inputs; the earlier report's files are removed first.
    With client=None the pairs are compared in this process on every
    processor. With a distributed.Client they are compared in chunks of
    chunk_size entries (by default two groups for the largest worker
    machine, see cluster.chunk_size) on the client's workers, which read
    the inputs and write the images themselves: every worker must see the
    local paths (a relative one is taken from this process's working
    directory) or the URLs. The client is left open.

    settings and limits are settings.Settings and settings.Limits; with
    embedded_regions the rectangles either file of a pair carries in its
    quorvane:ignore chunk are left out too. progress
    shows the count of compared pairs on stderr. A pair that cannot be read
    or decoded, or whose chunk Dask gave up on, has status "error" and its
    message in "error". Raises CliError (one line naming the file) for a
    directory or output file that cannot be used; a KeyboardInterrupt
    cancels the cluster's tasks.

    shard=(K, N) compares only the K-th of N slices of the pairs, as
    merge.in_shard splits them; seconds, a dict, is given each pair's
    comparison time by path. memory_limit (bytes) bounds each pair and
    the pairs compared at once in this process or on one worker: a pair
    waits until its need fits, and one needing more is an error."""
    files = Files()
    baseline_dir, current_dir, out_dir = location(baseline), location(current), location(out)
    files.check_directory(baseline_dir)
    files.check_directory(current_dir)
    output = files.output_folder(out_dir, (baseline_dir, current_dir))
    entries = find_pairs(files, baseline_dir, current_dir)
    if not entries:
        raise CliError(f"{baseline_dir}, {current_dir}", "no PNG files found")
    if shard is not None:
        entries = [entry for entry in entries if merge.in_shard(entry.path, shard)]
    if ignore_file is not None:
        apply_ignore_file(ignore_file, entries)
    output.start(folders=("images",))

    counter = Progress("comparing", len(entries), enabled=progress)
    pair_run = PairRun(
        settings, limits, out_dir, thumbnail_width, thumbnail_effort, files, embedded_regions, memory_limit
    )
    if client is None:
        pairs = pair_run.records(entries, counter.advance)
    else:
        from quorvane_cli import cluster

        pairs = cluster.records(
            client, pair_run, entries, counter, chunk_size or cluster.chunk_size(client, len(entries))
        )
    counter.finish()
    if seconds is not None:
        seconds.update((pair.path, pair.seconds or 0.0) for pair in pairs)

    report = report_data(baseline, current, settings, limits, [pair.as_json() for pair in pairs], ignore_file)
    output.write("report.json", json.dumps(report, indent=1).encode(), durable=True)
    results = results_manifest(report, baseline_dir, files)
    output.write(manifest.NAME, manifest.dumps(results), durable=True)
    output.write("index.html", page.render(results).encode("utf-8", "backslashreplace"), durable=True)
    output.finish(image for pair in pairs for image in pair.images.values())
    return report


def results_manifest(report: dict[str, Any], baseline_dir: Location, files: Files) -> manifest.Manifest:
    """The results manifest of a report: each pair named by its relative
    path, which is also its baseline's path below the baseline directory."""
    root = str(baseline_dir) if isinstance(baseline_dir, Url) else str(files.local(baseline_dir).resolve())
    limits = report["limits"]
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


def run_report(args: argparse.Namespace, settings: Settings, limits: Limits) -> int:
    outputs.check_destination(args.markdown)
    client = None
    seconds: dict[str, float] = {}
    if args.scheduler is not None:
        from quorvane_cli import cluster

        client = cluster.connect(args.scheduler, args.scheduler_timeout)
    else:
        allocator.keep_freed_blocks()  # this process compares the pairs
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
            embedded_regions=not args.no_embedded_regions,
            shard=args.shard,
            seconds=seconds,
        )
    finally:
        if client is not None:
            client.close()
    for pair in report["pairs"]:
        if pair["error"] is not None:
            print(f"quorvane: {shown(pair['error'])}", file=sys.stderr)
    summary = report["summary"]
    print(records.summary_line(summary))
    print(f"report: {shown(location(args.output) / 'index.html')}")
    outputs.write_from_args(results_manifest(report, location(args.baseline_dir), Files()), args, seconds)
    if summary["error"]:
        return TROUBLE
    return BEYOND if summary["failed"] else WITHIN
