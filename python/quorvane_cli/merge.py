"""One suite over many CI machines: `quorvane report --shard K/N` compares
the K-th of N slices of the pairs, chosen by a digest of each pair's
relative path alone, so every machine computes the same split and every
pair lands in exactly one slice; `quorvane merge` makes one report of the
shards' results folders (reports, or the pytest plugin's output folders),
every pair once."""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import errno
import hashlib
import json
import os
import pathlib
import re
import stat
import typing
from collections.abc import Sequence
from typing import Any

from quorvane_cli import manifest, outputs, page, records
from quorvane_cli.errors import BEYOND, TROUBLE, WITHIN, CliError
from quorvane_cli.files import Files
from quorvane_cli.manifest import Manifest, Pair
from quorvane_cli.safe_files import LocalStore, OutputFolder, is_within, make_folders, read_input, shown

REPORT = "report.json"
# What every shard of one suite shares: the manifest's and report.json's keys.
SHARED = ("made_by", "quorvane", "threshold", "include_aa")
SHARED_REPORT = ("settings", "limits")


def shard(text: str) -> tuple[int, int]:
    """(K, N) of the option's 'K/N', 1 <= K <= N."""
    numbers = re.fullmatch(r"(\d+)/(\d+)", text, re.ASCII)
    if numbers is None or not 1 <= int(numbers[1]) <= int(numbers[2]):
        raise ValueError(f"must be K/N, the K-th of N slices with 1 <= K <= N, not {text!r}")
    return int(numbers[1]), int(numbers[2])


def in_shard(path: str, chosen: tuple[int, int]) -> bool:
    """Whether the pair of this relative path lies in slice K of N."""
    digest = hashlib.sha256(os.fsencode(path)).digest()
    return int.from_bytes(digest[:8], "big") % chosen[1] == chosen[0] - 1


@dataclasses.dataclass(frozen=True)
class Shard:
    folder: pathlib.Path
    manifest: Manifest
    report: dict[str, Any] | None  # its report.json: None for the plugin's output folder
    records: dict[str, dict[str, Any]]  # report.json's records by path

    @classmethod
    def open(cls, folder: pathlib.Path) -> Shard:
        try:
            data = manifest.read(folder)
        except manifest.ManifestError as error:
            raise CliError(error.where, error.reason) from None
        if data["made_by"] != "report":
            return cls(folder, data, None, {})
        path = folder / REPORT
        try:
            report = json.loads(read_input(path))
        except ValueError as error:
            raise CliError(path, f"not a JSON file: {error}") from None
        if (
            not isinstance(report, dict)
            or not all(isinstance(report.get(key), dict) for key in SHARED_REPORT)
            or not isinstance(report.get("pairs"), list)
            or [pair.get("path") if isinstance(pair, dict) else None for pair in report["pairs"]]
            != [pair["name"] for pair in data["pairs"]]
        ):
            raise CliError(path, f"not the report of the pairs of {manifest.NAME} beside it")
        return cls(folder, data, report, {pair["path"]: pair for pair in report["pairs"]})

    def shared(self) -> dict[str, object]:
        """What must be the same in every shard, by name."""
        values: dict[str, object] = {key: self.manifest[key] for key in SHARED}  # type: ignore[literal-required]
        for section in SHARED_REPORT:
            for key, value in (self.report or {}).get(section, {}).items():
                values[f"{section}.{key}"] = value
        return values

    def source(self, image: str) -> pathlib.Path:
        """An image file of the shard's folder: a regular file, reached
        without a link that leads out of the folder."""
        path = self.folder / image
        try:
            regular = stat.S_ISREG(os.lstat(path).st_mode)
        except OSError as error:
            raise CliError(path, f"{error.strerror or error}: the shard's results folder is incomplete") from None
        if not regular or not is_within(path, self.folder):
            raise CliError(path, "a link or not a file, not followed: the shard's results folder was altered")
        return path


def check_alike(shards: Sequence[Shard]) -> None:
    """Refuses shards made with different settings or limits, naming the first difference."""
    first = shards[0].shared()
    for other in shards[1:]:
        theirs = other.shared()
        for key in sorted(first.keys() | theirs.keys()):
            if first.get(key) != theirs.get(key):
                raise CliError(
                    other.folder,
                    f"made with {key} {json.dumps(theirs.get(key))}, but {shown(shards[0].folder)} with "
                    f"{json.dumps(first.get(key))}: merge the shards of one run only",
                )


def merged_pairs(shards: Sequence[Shard]) -> list[tuple[Shard, Pair]]:
    """Every pair once, with the shard it came from, in the order of a
    single run. A pair in two shards is refused unless both have the same
    result; an image file two pairs claim is refused too."""
    chosen: dict[str, tuple[Shard, Pair]] = {}
    owners: dict[str, tuple[Shard, str]] = {}
    for one in shards:
        for pair in one.manifest["pairs"]:
            name = pair["name"]
            if name in chosen:
                earlier, kept = chosen[name]
                if kept != pair or earlier.records.get(name) != one.records.get(name):
                    raise CliError(
                        shown(name),
                        f"in {shown(earlier.folder)} and in {shown(one.folder)} with different results: "
                        "the shards must cover parts of one suite that do not overlap",
                    )
                continue
            chosen[name] = (one, pair)
            for image in files_of(pair):
                owner = owners.setdefault(image, (one, name))
                if owner[1] != name:
                    raise CliError(
                        shown(image),
                        f"an image of {shown(owner[1])} in {shown(owner[0].folder)} and of {shown(name)} in "
                        f"{shown(one.folder)}: the shards are not parts of one suite",
                    )
    return sorted(chosen.values(), key=lambda item: (item[1]["title"], item[1]["name"]))


def files_of(pair: Pair) -> set[str]:
    """The files of the results folder a pair refers to."""
    paths: list[str | None] = [*pair["images"].values(), pair["accepted"]]  # type: ignore[list-item]
    return {path for path in paths if path is not None}


# Where a hard link cannot be made, the image is copied.
CANNOT_LINK = (errno.EXDEV, errno.EPERM, errno.EMLINK, errno.ENOTSUP, errno.EACCES)


def place(source: pathlib.Path, image: str, output: OutputFolder, top: pathlib.Path, link: bool) -> bool:
    """Copies a shard's image into the output, or hard-links it where the
    file system can (nothing writes into an output's file in place, so the
    shard's copy never changes); True when linked."""
    if link:
        target = top / image
        try:
            make_folders(target.parent, top)
            os.link(source, target, follow_symlinks=False)
            return True
        except OSError as error:
            if error.errno not in CANNOT_LINK:
                raise CliError(target, error.strerror or str(error)) from None
    try:
        data = LocalStore(source.parent).read(source.name)  # never through a link
    except OSError as error:
        raise CliError(source, error.strerror or str(error)) from None
    output.write(image, data)
    return False


def run(out: pathlib.Path, folders: Sequence[pathlib.Path], *, link: bool = False) -> Manifest:
    """Merges the shards' results folders into one report in `out` (absent,
    empty or an earlier output of quorvane, apart from the shards) and
    returns its manifest. Everything is checked before the output is touched."""
    shards = [Shard.open(folder) for folder in folders]
    check_alike(shards)
    chosen = merged_pairs(shards)
    sources = {image: one.source(image) for one, pair in chosen for image in sorted(files_of(pair))}
    files = Files()
    output = files.output_folder(out, folders)
    output.start(folders={image.split("/", 1)[0] for image in sources if "/" in image})
    top = files.local(out)
    linked = [image for image, source in sources.items() if place(source, image, output, top, link)]
    generated = datetime.datetime.now().astimezone().isoformat(timespec="seconds")
    first = shards[0]
    merged = manifest.build(
        [pair for _, pair in chosen],
        made_by=first.manifest["made_by"],
        root=first.manifest["root"],
        baseline_dir=first.manifest["baseline_dir"],
        current_dir=first.manifest["current_dir"],
        threshold=first.manifest["threshold"],
        include_aa=first.manifest["include_aa"],
        quorvane=first.manifest["quorvane"],
        generated=generated,
    )
    if first.report is not None:
        report_pairs = [one.records[pair["name"]] for one, pair in chosen]
        report = {**first.report, "generated": generated, "summary": records.summary_of(report_pairs)}
        report["pairs"] = report_pairs
        output.write(REPORT, json.dumps(report, indent=1).encode(), durable=True)
    output.write(manifest.NAME, manifest.dumps(merged), durable=True)
    output.write("index.html", page.render(merged).encode("utf-8", "backslashreplace"), durable=True)
    output.finish(linked)
    return merged


def run_merge(args: argparse.Namespace) -> int:
    outputs.check_destination(args.markdown)
    merged = run(args.output, args.shards, link=args.link)
    summary = merged["summary"]
    print(records.summary_line(typing.cast(dict[str, int], summary)))
    print(f"report: {shown(args.output / 'index.html')}")
    outputs.write_from_args(merged, args)
    if summary["error"]:
        return TROUBLE
    return BEYOND if summary["failed"] else WITHIN


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "merge",
        help="merge the results of shards of one suite into one report",
        description="Write one report (report.json for report shards, manifest.json, index.html and the images) "
        "into OUT_DIR from the results folders of runs over parts of one suite: `quorvane report --shard K/N` "
        "directories, or the pytest plugin's output folders, from CI machines. Every pair is in it once; a "
        "pair in two shards with different results, or shards made with different settings or limits, are "
        "refused.",
        epilog="Exit status: 0 when every pair is within the limits, 1 when a pair is beyond them, 2 for bad "
        "usage, shards that cannot be merged or a pair that was unreadable.",
    )
    parser.add_argument(
        "output",
        metavar="OUT_DIR",
        type=pathlib.Path,
        help="the merged report's folder: absent, empty or an earlier output of quorvane, apart from the shards",
    )
    parser.add_argument("shards", metavar="SHARD_DIR", type=pathlib.Path, nargs="+", help="a shard's results folder")
    parser.add_argument(
        "--link", action="store_true", help="hard-link the images rather than copy them, where the file system can"
    )
    outputs.add_arguments(parser)
    parser.set_defaults(run=run_merge)
