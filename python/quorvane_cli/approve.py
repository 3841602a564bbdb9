"""`quorvane approve`: accepts pairs of a results folder by writing each
one's accepted image over its baseline, without running anything again.
A pair is written only while both files are those that were compared;
each baseline is replaced whole (temporary file, then rename)."""

from __future__ import annotations

import argparse
import dataclasses
import enum
import errno
import fnmatch
import json
import os
import pathlib
import stat
import sys
import typing
from collections.abc import Callable, Iterable, Sequence

from quorvane_cli import manifest
from quorvane_cli.errors import CliError
from quorvane_cli.manifest import Manifest, Pair
from quorvane_cli.safe_files import make_folders, shown, write_whole

WITHIN, REFUSED, USAGE = 0, 1, 2
APPROVALS_FORMAT = "quorvane approvals"
# Larger than any screenshot a browser makes; a bigger file is not one of ours.
LARGEST_IMAGE = 1 << 30


class Outcome(enum.Enum):
    WRITTEN = "written"
    DELETED = "deleted"
    KEPT = "kept"
    REFUSED = "refused"


@dataclasses.dataclass(frozen=True)
class Result:
    outcome: Outcome
    line: str
    previous: bytes | None = None  # the baseline's bytes before a write or deletion; None: it had none


class Refusal(Exception):
    """Why one pair is not written."""


@dataclasses.dataclass(frozen=True)
class Folder:
    """A results folder, its manifest, and the root its baselines are under."""

    results: pathlib.Path
    manifest: Manifest
    root: pathlib.Path

    @classmethod
    def open(cls, results: pathlib.Path, root: pathlib.Path | None = None) -> Folder:
        """The folder's manifest and root; a CliError (status 2) for a
        manifest that cannot be used or a root that is not here."""
        try:
            data = manifest.read(results)
        except manifest.ManifestError as error:
            raise CliError(error.where, error.reason) from None
        if root is None and not pathlib.Path(data["root"]).is_dir():
            raise CliError(data["root"], "the baselines' folder where the run was made is not here: give --root DIR")
        if root is not None and not root.is_dir():
            raise CliError(root, "no such folder")
        return cls(results, data, root if root is not None else pathlib.Path(data["root"]))

    def baseline(self, pair: Pair) -> pathlib.Path:
        """The pair's baseline below the root; refused where a folder on the
        way is a link, so that no manifest writes outside the root."""
        relative = typing.cast(str, pair["baseline"]).split("/")
        folder = self.root
        for part in relative[:-1]:
            folder = folder / part
            if folder.is_symlink():
                raise Refusal(f"{shown(folder)} is a link, not followed")
        return folder / relative[-1]


def read_regular(path: pathlib.Path) -> bytes | None:
    """A regular file's bytes, None where there is no file; a link is not
    followed (OSError ELOOP)."""
    try:
        fd = os.open(path, os.O_RDONLY | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_NONBLOCK", 0))
    except FileNotFoundError:
        return None
    with os.fdopen(fd, "rb") as file:
        status = os.fstat(file.fileno())
        if not stat.S_ISREG(status.st_mode) or status.st_size > LARGEST_IMAGE:
            raise OSError(errno.EINVAL, "not a regular file of a screenshot's size")
        return file.read()


def reason(error: OSError) -> str:
    if error.errno == errno.ELOOP:
        return "a link, not followed"
    return error.strerror or str(error)


def accepted_bytes(folder: Folder, pair: Pair) -> bytes:
    """The image to accept, as it was compared: anything else in the results
    folder is stale or altered, and never written."""
    path = folder.results / typing.cast(str, pair["accepted"])
    try:
        data = read_regular(path)
    except OSError as error:
        raise Refusal(f"{shown(path)}: {reason(error)}") from None
    if data is None or manifest.sha256(data) != pair["accepted_sha256"]:
        state = "is gone" if data is None else "is not the image compared"
        raise Refusal(f"the accepted image {shown(path)} {state}: the results folder is stale or was altered")
    return data


def baseline_bytes(path: pathlib.Path) -> bytes | None:
    """The baseline's bytes on disk; None where there is no file."""
    try:
        return read_regular(path)
    except OSError as error:
        raise Refusal(f"{shown(path)}: {reason(error)}") from None


def check_unchanged(path: pathlib.Path, data: bytes | None, pair: Pair, force: bool) -> None:
    """Refuses a baseline whose bytes are no longer those compared, unless forced."""
    now = None if data is None else manifest.sha256(data)
    if now != pair["baseline_sha256"] and not force:
        change = "was made" if pair["baseline_sha256"] is None else "is gone" if data is None else "changed"
        raise Refusal(f"{shown(path)} {change} since the run (--force writes over it)")


def accept(
    folder: Folder, pair: Pair, *, force: bool = False, delete_missing: bool = False, dry_run: bool = False
) -> Result:
    """Accepts one pair: the one path through which approve and review write."""
    name = shown(pair["name"])
    try:
        if pair["status"] not in manifest.ACCEPTABLE or pair["baseline"] is None:
            raise Refusal("unreadable in the run: nothing to accept" if pair["status"] == "error" else "unchanged")
        path = folder.baseline(pair)
        if pair["accepted"] is None:
            return delete(path, pair, force, delete_missing, dry_run)
        new, old = accepted_bytes(folder, pair), baseline_bytes(path)
        if old == new:  # accepted before: by an earlier run, or in another tab
            return Result(Outcome.KEPT, f"kept {shown(path)}: it holds the accepted image already", old)
        check_unchanged(path, old, pair, force)
        if not dry_run:
            write_baseline(path, new, folder.root)
        return Result(Outcome.WRITTEN, f"{'would write' if dry_run else 'wrote'} {shown(path)} ({pair['status']})", old)
    except Refusal as refusal:
        return Result(Outcome.REFUSED, f"refused {name}: {refusal}")
    except OSError as error:
        return Result(Outcome.REFUSED, f"refused {name}: {error.filename or ''}: {reason(error)}")


def delete(path: pathlib.Path, pair: Pair, force: bool, delete_missing: bool, dry_run: bool) -> Result:
    """A pair whose current image is gone: its baseline goes only when asked."""
    if not delete_missing:
        return Result(Outcome.KEPT, f"kept {shown(path)}: missing from the run (--delete-missing deletes it)")
    old = baseline_bytes(path)
    if old is None:
        return Result(Outcome.KEPT, f"kept {shown(path)}: deleted already")
    check_unchanged(path, old, pair, force)
    if not dry_run:
        path.unlink()
    return Result(Outcome.DELETED, f"{'would delete' if dry_run else 'deleted'} {shown(path)} (missing)", old)


def write_baseline(path: pathlib.Path, data: bytes, top: pathlib.Path) -> None:
    """Writes a file whole, with the folders from `top` down to it made;
    neither the folders nor the file are followed where they are links."""
    make_folders(path.parent, top)
    write_whole(path, data)


def restore(path: pathlib.Path, previous: bytes | None, top: pathlib.Path) -> None:
    """Puts a baseline back as it was before a write: its bytes, or no file."""
    if previous is None:
        path.unlink(missing_ok=True)
    else:
        write_baseline(path, previous, top)


def wanted_by_all(pair: Pair) -> bool:
    """--all: every pair beyond its limits, and new and shifted ones within them."""
    return pair["status"] in manifest.ACCEPTABLE and (not pair["passed"] or pair["status"] in ("new", "shifted"))


def select(pairs: Sequence[Pair], names: Iterable[str], every: bool) -> tuple[list[Pair], list[str]]:
    """The pairs chosen, in the manifest's order, and the names that match
    none. A name is a pair's name or, failing that, a glob pattern."""
    known = {pair["name"] for pair in pairs}
    chosen = {pair["name"] for pair in pairs if every and wanted_by_all(pair)}
    unmatched = []
    for name in names:
        matches = {name} if name in known else set(fnmatch.filter(known, name))
        chosen |= matches
        if not matches:
            unmatched.append(name)
    return [pair for pair in pairs if pair["name"] in chosen], unmatched


def approvals(path: pathlib.Path) -> list[str]:
    """The pair names of an approvals file, as the review page downloads it."""
    try:
        data = json.loads(path.read_bytes())
    except OSError as error:
        raise CliError(path, error.strerror or str(error)) from None
    except ValueError as error:
        raise CliError(path, f"not a JSON file: {error}") from None
    if (
        not isinstance(data, dict)
        or data.get("format") != APPROVALS_FORMAT
        or data.get("version") != 1
        or not isinstance(data.get("pairs"), list)
        or not all(isinstance(name, str) for name in data["pairs"])
    ):
        raise CliError(path, f'expected {{"format": "{APPROVALS_FORMAT}", "version": 1, "pairs": [name, ...]}}')
    return typing.cast(list[str], data["pairs"])


def approvals_file(names: Iterable[str]) -> dict[str, object]:
    return {"format": APPROVALS_FORMAT, "version": 1, "pairs": list(names)}


def summary_line(results: Sequence[Result], dry_run: bool) -> str:
    count = {outcome: sum(result.outcome is outcome for result in results) for outcome in Outcome}
    plural = "" if count[Outcome.WRITTEN] == 1 else "s"
    text = (
        f"{count[Outcome.WRITTEN]} baseline{plural} written, {count[Outcome.DELETED]} deleted, "
        f"{count[Outcome.KEPT]} kept, {count[Outcome.REFUSED]} refused"
    )
    return f"dry run: {text.replace('written', 'to write').replace('deleted', 'to delete')}" if dry_run else text


def run(
    results: pathlib.Path,
    names: Sequence[str] = (),
    *,
    every: bool = False,
    from_file: pathlib.Path | None = None,
    root: pathlib.Path | None = None,
    force: bool = False,
    delete_missing: bool = False,
    dry_run: bool = False,
    say: Callable[[str], None] = print,
    complain: Callable[[str], None] = lambda line: print(line, file=sys.stderr),
) -> int:
    """Approves the pairs named (names or glob patterns), listed in from_file
    or, with every, all that --all takes; returns the exit status."""
    listed = [*names, *(approvals(from_file) if from_file is not None else ())]
    if not listed and not every:
        raise CliError("approve", "name the pairs to accept, or give --all or --from FILE")
    folder = Folder.open(results, root)
    chosen, unmatched = select(folder.manifest["pairs"], listed, every)
    done = []
    for pair in chosen:
        result = accept(folder, pair, force=force, delete_missing=delete_missing, dry_run=dry_run)
        (complain if result.outcome is Outcome.REFUSED else say)(result.line)
        done.append(result)
    for name in unmatched:
        complain(f"quorvane: {shown(name)}: matches no pair of {shown(results / manifest.NAME)}")
    say(summary_line(done, dry_run))
    if unmatched:
        return USAGE
    return REFUSED if any(result.outcome is Outcome.REFUSED for result in done) else WITHIN


def add_folder_arguments(parser: argparse.ArgumentParser) -> None:
    """The results folder, and the root its baselines' paths start from."""
    parser.add_argument("results", metavar="RESULTS", type=pathlib.Path, help="the results folder")
    parser.add_argument(
        "--root",
        type=pathlib.Path,
        metavar="DIR",
        help="the folder the baselines' paths start from (default: the one the manifest names, where the run was made)",
    )


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "approve",
        help="accept changed screenshots: write their current images over the baselines",
        description="Write the accepted image of each chosen pair of a results folder (a report directory or the "
        "pytest plugin's output folder) over its baseline, whole or not at all. A baseline changed since the run "
        "is refused (--force writes over it), and so is an accepted image that is not the one compared.",
        epilog="Exit status: 0 when everything chosen was written, 1 when a pair was refused, 2 for bad usage or "
        "a name that matches no pair.",
    )
    add_folder_arguments(parser)
    parser.add_argument("names", metavar="NAME", nargs="*", help="a pair's name or a glob pattern ('checkout/*')")
    parser.add_argument(
        "--all", dest="every", action="store_true", help="every pair beyond its limits, new and shifted ones included"
    )
    parser.add_argument(
        "--from",
        dest="from_file",
        type=pathlib.Path,
        metavar="FILE",
        help="the pairs listed in FILE, the approvals.json the review page downloads",
    )
    parser.add_argument("--dry-run", action="store_true", help="say what would be written, and write nothing")
    parser.add_argument("--force", action="store_true", help="write over baselines changed since the run")
    parser.add_argument(
        "--delete-missing", action="store_true", help="delete the baselines of pairs whose current image is gone"
    )
    parser.set_defaults(
        run=lambda args: run(
            args.results,
            args.names,
            every=args.every,
            from_file=args.from_file,
            root=args.root,
            force=args.force,
            delete_missing=args.delete_missing,
            dry_run=args.dry_run,
        )
    )
