"""The results manifest: one versioned JSON file, `manifest.json`, in every
results folder (a report directory, the pytest plugin's output folder). It
names each pair, the figures and verdict the page and CI outputs show, and
what accepting the pair means: the baseline's path relative to the root the
manifest names, the image that replaces it (kept inside the results folder)
and the SHA-256 of both as they were compared. `approve` and `review` act
on it alone; the page is drawn from it."""

from __future__ import annotations

import hashlib
import json
import pathlib
import types
import typing
from collections.abc import Iterable, Mapping
from typing import Any, Literal, TypedDict

from quorvane_cli.safe_files import write_whole

NAME = "manifest.json"
FORMAT = "quorvane results"
VERSION = 1
# A manifest lists at most one entry per pair; far more than any suite has.
LARGEST_FILE = 512 * 1024 * 1024

Status = Literal["unchanged", "changed", "shifted", "new", "missing", "error"]


class Size(TypedDict):
    width: int
    height: int


class Box(TypedDict):
    x: int
    y: int
    width: int
    height: int
    pixel_count: int


class Clusters(TypedDict):
    total: int
    items: list[Box]


class Band(TypedDict):
    """Rows the alignment inserted or deleted at a row of the current image."""

    kind: Literal["inserted", "deleted"]
    y: int
    rows: int


class ReadBand(TypedDict):
    """The bands as a person reads them; "moved by a row" spans rows y to end."""

    kind: Literal["inserted", "deleted", "changed", "moved by a row"]
    y: int
    rows: int
    end: int
    exempt_rows: int
    joined: int


class Alignment(TypedDict):
    row_bands: list[Band]
    bands: list[ReadBand]
    ssim: float
    in_place_pixels: int  # changed in place, in current-image rows
    changed_pixels: int  # what the limits judge with shifts allowed
    clusters: Clusters


class Figures(TypedDict):
    """What was measured: a side's size is None where it has no image; the
    rest is None where the pair was not compared."""

    baseline: Size | None
    current: Size | None
    width: int | None
    height: int | None
    size_mismatch: bool | None
    changed_pixels: int | None
    changed_ratio: float | None
    ssim: float | None
    ignore: list[list[int]] | None
    ignored_pixels: int | None
    clusters: Clusters | None
    alignment: Alignment | None  # None: no change, or rows that do not align


class Limits(TypedDict):
    max_changed_pixels: int | None
    max_changed_ratio: float | None
    min_ssim: float | None
    max_cluster_pixels: int | None
    allow_shifts: bool


class Images(TypedDict):
    """The page's pictures, relative to the results folder; None where not made."""

    baseline: str | None
    baseline_thumbnail: str | None
    current: str | None
    current_thumbnail: str | None
    diff: str | None
    diff_thumbnail: str | None
    aligned_diff: str | None
    aligned_diff_thumbnail: str | None


class Pair(TypedDict):
    name: str  # unique in the manifest; what approve and review select
    title: str  # how the page heads it
    status: Status
    passed: bool
    passed_with_shifts: bool  # within the limits only because shifted rows were allowed
    failures: list[str]
    error: str | None
    baseline: str | None  # relative to the root; None where there is nothing to accept
    baseline_sha256: str | None  # None: there was no baseline
    accepted: str | None  # relative to the results folder; None: the current image is gone
    accepted_sha256: str | None
    limits: Limits
    figures: Figures
    images: Images


class Summary(TypedDict):
    pairs: int
    unchanged: int
    changed: int
    shifted: int
    new: int
    missing: int
    error: int
    failed: int


class Manifest(TypedDict):
    format: str
    version: int
    quorvane: str
    generated: str
    made_by: Literal["report", "pytest"]
    root: str  # absolute, on the machine that made it
    baseline_dir: str  # as the page's header shows them
    current_dir: str
    threshold: float
    include_aa: bool
    summary: Summary
    pairs: list[Pair]


class ManifestError(ValueError):
    """A manifest that cannot be used: its file, and what is wrong."""

    def __init__(self, where: str, reason: str) -> None:
        super().__init__(f"{where}: {reason}")
        self.where, self.reason = where, reason


STATUSES: tuple[Status, ...] = typing.get_args(Status)
IMAGE_KEYS = tuple(Images.__annotations__)
# Where a pair may be accepted: it has an image to accept, or a baseline to delete.
ACCEPTABLE = ("changed", "shifted", "new", "missing")


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def summary_of(pairs: Iterable[Pair]) -> Summary:
    counts = dict.fromkeys((*STATUSES, "pairs", "failed"), 0)
    for pair in pairs:
        counts[pair["status"]] += 1
        counts["pairs"] += 1
        counts["failed"] += not pair["passed"]
    return typing.cast(Summary, counts)


def no_images() -> Images:
    return typing.cast(Images, dict.fromkeys(IMAGE_KEYS))


def dumps(manifest: Manifest) -> bytes:
    # ASCII: a name that is not UTF-8 (kept by the file system's decoding) is escaped, not an error.
    return json.dumps(manifest, indent=1).encode()


def write(folder: pathlib.Path, manifest: Manifest) -> pathlib.Path:
    """Writes the folder's manifest whole: a temporary file, then a rename,
    so that a reader sees the old manifest or the new one."""
    target = folder / NAME
    write_whole(target, dumps(manifest))
    return target


def read(folder: pathlib.Path) -> Manifest:
    """The manifest of a results folder, checked field by field; a
    ManifestError names the file and what is wrong."""
    path = folder / NAME
    try:
        with path.open("rb") as file:
            text = file.read(LARGEST_FILE + 1)
    except FileNotFoundError:
        raise ManifestError(
            str(path), "no results manifest here: not a report directory or screenshot output"
        ) from None
    except OSError as error:
        raise ManifestError(str(path), f"{error.strerror or error}") from None
    if len(text) > LARGEST_FILE:
        raise ManifestError(str(path), f"larger than any manifest ({LARGEST_FILE} bytes)")
    try:
        data = json.loads(text)
    except (ValueError, UnicodeDecodeError) as error:
        raise ManifestError(str(path), f"not a JSON file: {error}") from None
    return parse(data, str(path))


def parse(data: object, where: str = NAME) -> Manifest:
    if not isinstance(data, dict) or data.get("format") != FORMAT:
        raise ManifestError(where, "not a quorvane results manifest")
    version = data.get("version")
    if version != VERSION:
        raise ManifestError(
            where,
            f"manifest version {json.dumps(version)} is not one this quorvane reads ({VERSION}); "
            "a newer quorvane made it",
        )
    check(data, Manifest, "", where)
    manifest = typing.cast(Manifest, data)
    names: set[str] = set()
    for index, pair in enumerate(manifest["pairs"]):
        field = f"pairs[{index}]"
        if pair["name"] in names:
            raise ManifestError(where, f"{field}: the name {json.dumps(pair['name'])} stands twice")
        names.add(pair["name"])
        for key in ("baseline", "accepted"):
            check_relative(pair[key], f"{field}.{key}", where)
        for key in IMAGE_KEYS:
            check_relative(pair["images"][key], f"{field}.images.{key}", where)  # type: ignore[literal-required]
        for key in ("baseline_sha256", "accepted_sha256"):
            digest = pair[key]  # type: ignore[literal-required]
            if digest is not None and (len(digest) != 64 or digest.strip("0123456789abcdef")):
                raise ManifestError(where, f"{field}.{key}: not a SHA-256 in hexadecimal")
    return manifest


def check_relative(path: str | None, field: str, where: str) -> None:
    """A path the manifest holds stays below its folder: relative, POSIX,
    without '..' or empty parts, so that no manifest writes elsewhere."""
    if path is None:
        return
    parts = path.split("/")
    if not path or "\\" in path or "\0" in path or any(part in ("", ".", "..") for part in parts):
        raise ManifestError(where, f"{field}: {json.dumps(path)} is not a relative path below its folder")


def check(value: object, kind: object, field: str, where: str) -> None:
    """Checks JSON data against a TypedDict or a type of one, recursively."""
    origin, arguments = typing.get_origin(kind), typing.get_args(kind)
    if typing.is_typeddict(kind):
        if not isinstance(value, dict):
            raise ManifestError(where, f"{field}: expected an object")
        for key, member in typing.get_type_hints(kind).items():
            if key not in value:
                raise ManifestError(where, f"{field or 'the manifest'}: {key} is missing")
            check(value[key], member, f"{field}.{key}" if field else key, where)
    elif origin in (typing.Union, types.UnionType):
        if value is None and type(None) in arguments:
            return
        check(value, next(member for member in arguments if member is not type(None)), field, where)
    elif origin is Literal:
        if value not in arguments:
            raise ManifestError(where, f"{field}: {json.dumps(value)} is not one of {', '.join(arguments)}")
    elif origin is list:
        if not isinstance(value, list):
            raise ManifestError(where, f"{field}: expected a list")
        for index, item in enumerate(value):
            check(item, arguments[0], f"{field}[{index}]", where)
    else:
        accepted = (int, float) if kind is float else (kind,)
        if not isinstance(value, accepted) or (isinstance(value, bool) and kind is not bool):  # type: ignore[arg-type]
            name = getattr(kind, "__name__", str(kind))
            raise ManifestError(where, f"{field}: expected {name}, not {type(value).__name__}")


def by_name(manifest: Manifest) -> Mapping[str, Pair]:
    return {pair["name"]: pair for pair in manifest["pairs"]}


def size_of(side: Mapping[str, Any] | None) -> Size | None:
    return None if side is None else {"width": side["width"], "height": side["height"]}


def from_record(record: Mapping[str, Any], *, name: str, baseline: str | None, limits: Limits) -> Pair:
    """A manifest pair from a pair's record as the report and the plugin make
    it (its `sha256` holds the digests of the bytes compared)."""
    digests = record.get("sha256") or {}
    status = record["status"]
    acceptable = status in ACCEPTABLE and baseline is not None
    accepted = record["images"].get("current") if acceptable and status != "missing" else None
    figures: dict[str, Any] = {key: record.get(key) for key in Figures.__annotations__}
    figures["baseline"], figures["current"] = size_of(record.get("baseline")), size_of(record.get("current"))
    images = no_images()
    images.update({key: path for key, path in record["images"].items() if key in images})  # type: ignore[typeddict-item]
    return {
        "name": name,
        "title": record["path"],
        "status": status,
        "passed": record["passed"],
        "passed_with_shifts": bool(record.get("passed_with_shifts")),
        "failures": list(record["failures"]),
        "error": record.get("error"),
        "baseline": baseline if acceptable else None,
        "baseline_sha256": digests.get("baseline") if acceptable else None,
        "accepted": accepted,
        "accepted_sha256": digests.get("current") if accepted is not None else None,
        "limits": limits,
        "figures": typing.cast(Figures, figures),
        "images": images,
    }


def build(
    pairs: list[Pair],
    *,
    made_by: Literal["report", "pytest"],
    root: str,
    baseline_dir: str,
    current_dir: str,
    threshold: float,
    include_aa: bool,
    quorvane: str,
    generated: str,
) -> Manifest:
    return {
        "format": FORMAT,
        "version": VERSION,
        "quorvane": quorvane,
        "generated": generated,
        "made_by": made_by,
        "root": root,
        "baseline_dir": baseline_dir,
        "current_dir": current_dir,
        "threshold": threshold,
        "include_aa": include_aa,
        "summary": summary_of(pairs),
        "pairs": pairs,
    }
