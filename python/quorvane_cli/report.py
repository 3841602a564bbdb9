"""The report command: pairs the PNG files of two directories by relative
path, compares every pair on all processors, each image decoded once and
every thumbnail made from decoded pixels, and writes report.json,
index.html and the images."""

import concurrent.futures
import dataclasses
import datetime
import json
import os
import pathlib
import re
import shutil
import sys

import quorvane

from quorvane_cli import analysis, page
from quorvane_cli.files import BEYOND, TROUBLE, WITHIN, CliError, failing_file, read_file, write_file
from quorvane_cli.progress import Progress


@dataclasses.dataclass
class Entry:
    """One relative path, with its file in either directory (None where absent)."""
    path: str
    baseline: pathlib.Path | None
    current: pathlib.Path | None
    folder: str = ""  # where its images go, relative to the output directory


def png_files(root, skip):
    """Relative POSIX path -> file, for every PNG file under root, leaving out
    the directories in skip (the report's own output may sit in an input)."""
    found = {}
    for directory, subdirectories, names in os.walk(root):
        subdirectories[:] = [name for name in subdirectories if pathlib.Path(directory, name).resolve() not in skip]
        for name in names:
            if name.lower().endswith(".png"):
                file = pathlib.Path(directory, name)
                found[file.relative_to(root).as_posix()] = file
    return found


def find_pairs(baseline_dir, current_dir, skip):
    baselines, currents = png_files(baseline_dir, skip), png_files(current_dir, skip)
    paths = sorted(baselines.keys() | currents.keys())
    entries = [Entry(path, baselines.get(path), currents.get(path)) for path in paths]
    digits = len(str(len(entries)))
    for index, entry in enumerate(entries):
        slug = re.sub(r"[^\w.-]+", "_", entry.path[:-len(".png")], flags=re.ASCII).strip("_")[-60:]
        entry.folder = f"images/{index:0{digits}d}-{slug}"
    return entries


def check_directory(path):
    if not path.exists():
        raise CliError(path, "No such file or directory")
    if not path.is_dir():
        raise CliError(path, "Not a directory")


def processors():
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


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
    """Compares the entries and writes their images; one instance per report."""

    def __init__(self, settings, limits, out_dir, thumbnail_width, thumbnail_effort):
        self.settings, self.limits = settings, limits
        self.out_dir, self.thumbnail_width, self.thumbnail_effort = out_dir, thumbnail_width, thumbnail_effort

    def target(self, entry, name):
        """(path relative to the page, file) of one image of the entry, its
        folder made."""
        relative = f"{entry.folder}/{name}"
        target = self.out_dir / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        return relative, target

    def save(self, entry, name, data):
        """Writes one image of the entry; returns its path relative to the
        page, or None for a thumbnail that could not be made."""
        if data is None:
            return None
        relative, target = self.target(entry, name)
        write_file(target, data)
        return relative

    def copy(self, entry, name, source):
        relative, target = self.target(entry, name)
        try:
            shutil.copyfile(source, target)
        except OSError as error:
            raise CliError(error.filename or target, error.strerror or str(error)) from None
        return relative

    def thumbnail(self, make):
        """make(width=..., effort=...) with the report's thumbnail options, or
        None where WebP cannot hold the thumbnail."""
        return thumbnail_or_none(lambda: make(width=self.thumbnail_width, effort=self.thumbnail_effort))

    def thumbnail_options(self):
        """The same options, as the methods that make an image and its thumbnail take them."""
        return {"thumbnail_width": self.thumbnail_width, "effort": self.thumbnail_effort}

    def pair_record(self, entry, pngs):
        """The record of a pair: both files decoded once into a Comparison,
        whose figures, images and thumbnails all come from those pixels."""
        baseline_png, current_png = pngs
        try:
            comparison = quorvane.Comparison(baseline_png, current_png)
        except ValueError as error:
            return error_record(entry, failing_file(entry.baseline, baseline_png, entry.current), str(error))
        figures, alignment = analysis.compare(comparison, self.settings)
        images = {"current": self.copy(entry, "current.png", entry.current),
                  "current_thumbnail": self.save(entry, "current.webp", self.thumbnail(comparison.current_thumbnail))}
        if figures["changed_pixels"]:
            images.update(self.change_images(entry, figures, comparison, alignment))
        return record(entry, figures, images, analysis.judge(figures, self.limits))

    def change_images(self, entry, figures, comparison, alignment):
        # The baseline at its own size, without the padding of a size mismatch.
        baseline_thumbnail = self.thumbnail(lambda **options: comparison.baseline_thumbnail(own_size=True, **options))
        diff, diff_thumbnail = images_of(comparison, self.settings.drawing_options(), self.thumbnail_options())
        images = {"baseline": self.copy(entry, "baseline.png", entry.baseline),
                  "baseline_thumbnail": self.save(entry, "baseline.webp", baseline_thumbnail),
                  "diff": self.save(entry, "diff.png", diff),
                  "diff_thumbnail": self.save(entry, "diff.webp", diff_thumbnail)}
        if figures["alignment"] is not None and figures["alignment"]["bands"]:
            aligned, aligned_thumbnail = images_of(comparison, self.settings.drawing_options(),
                                                   self.thumbnail_options(), alignment)
            images["aligned_diff"] = self.save(entry, "aligned_diff.png", aligned)
            images["aligned_diff_thumbnail"] = self.save(entry, "aligned_diff.webp", aligned_thumbnail)
        return images

    def single_record(self, entry):
        """A file with no counterpart: new in the current directory, or missing from it."""
        side, source = ("current", entry.current) if entry.baseline is None else ("baseline", entry.baseline)
        try:
            png = read_file(source)
            thumbnail = self.thumbnail(lambda **options: quorvane.thumbnail(png, **options))
        except CliError as error:
            return error_record(entry, None, str(error))
        except ValueError as error:
            return error_record(entry, source, str(error))
        width, height = analysis.png_size(png)
        images = {side: self.copy(entry, f"{side}.png", source),
                  f"{side}_thumbnail": self.save(entry, f"{side}.webp", thumbnail)}
        status = "new" if side == "current" else "missing"
        failure = "no baseline image" if status == "new" else "no current image"
        figures = {side: {"width": width, "height": height}, "status": status}
        return record(entry, figures, images, [failure])

    def run(self, entries, progress):
        """Records of all entries, in their order. One chunk's files are read
        while the worker threads compare the previous chunk's pairs; each
        call releases the interpreter lock, so the threads keep every
        processor busy."""
        workers = processors()
        compared, futures = [], {}
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            def submit(entry, function, *arguments):
                future = pool.submit(function, *arguments)
                future.add_done_callback(lambda _: progress.advance())
                futures[entry.path] = future
                return future

            for entry in entries:
                if entry.baseline is None or entry.current is None:
                    submit(entry, self.single_record, entry)
                else:
                    compared.append(entry)
            previous = []
            chunk_size = max(8, 4 * workers)
            for start in range(0, len(compared), chunk_size):
                chunk, readable = compared[start:start + chunk_size], []
                for entry in chunk:
                    try:
                        readable.append((entry, (read_file(entry.baseline), read_file(entry.current))))
                    except CliError as error:
                        submit(entry, error_record, entry, None, str(error))
                submitted = [submit(entry, self.pair_record, entry, pngs) for entry, pngs in readable]
                # At most two chunks in flight: memory stays bounded.
                concurrent.futures.wait(previous)
                previous = submitted
        return [futures[entry.path].result() for entry in entries]


def record(entry, figures, images, failures):
    """A pair's record in report.json: the same keys for every status."""
    result = {"path": entry.path, "status": figures["status"], "passed": not failures, "failures": failures,
              "error": None, "baseline": None, "current": None, "width": None, "height": None,
              "size_mismatch": None, "changed_pixels": None, "changed_ratio": None, "ssim": None,
              "clusters": None, "alignment": None}
    result.update(figures)
    for side, file in (("baseline", entry.baseline), ("current", entry.current)):
        if result[side] is not None:
            result[side]["path"] = str(file)
    names = ("baseline", "current", "diff", "aligned_diff")
    result["images"] = {key: images.get(key) for name in names for key in (name, f"{name}_thumbnail")}
    return result


def error_record(entry, culprit, message):
    """A pair whose file cannot be read or decoded."""
    text = f"{culprit}: {message}" if culprit is not None else message
    print(f"quorvane: {text}", file=sys.stderr)
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
    parts = [f"{pairs}: {summary['unchanged']} unchanged", f"{summary['changed']} changed",
             f"{summary['shifted']} shifted only", f"{summary['new']} new", f"{summary['missing']} missing"]
    if summary["error"]:
        parts.append(f"{summary['error']} unreadable")
    return ", ".join(parts) + f"; {summary['failed']} beyond limits"


def run_report(args, settings, limits):
    baseline_dir, current_dir = pathlib.Path(args.baseline_dir), pathlib.Path(args.current_dir)
    out_dir = pathlib.Path(args.output)
    check_directory(baseline_dir)
    check_directory(current_dir)
    entries = find_pairs(baseline_dir, current_dir, skip={out_dir.resolve(), (out_dir / "images").resolve()})
    if not entries:
        raise CliError(f"{baseline_dir}, {current_dir}", "no PNG files found")
    try:
        out_dir.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise CliError(out_dir, error.strerror or str(error)) from None

    progress = Progress("comparing", len(entries), enabled=not args.quiet)
    records = PairRun(settings, limits, out_dir, args.thumbnail_width, args.thumbnail_effort).run(entries, progress)
    progress.finish()

    summary = summary_of(records)
    report = {
        "quorvane": quorvane.__version__,
        "generated": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
        "baseline_dir": str(baseline_dir),
        "current_dir": str(current_dir),
        "settings": analysis.as_dict(settings),
        "limits": analysis.as_dict(limits.in_force()),
        "summary": summary,
        "pairs": records,
    }
    write_file(out_dir / "report.json", json.dumps(report, indent=1).encode())
    write_file(out_dir / "index.html", page.render(report).encode())
    print(summary_line(summary))
    print(f"report: {out_dir / 'index.html'}")
    if summary["error"]:
        return TROUBLE
    return BEYOND if summary["failed"] else WITHIN
