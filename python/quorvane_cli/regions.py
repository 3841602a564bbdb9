"""Ignore regions given as text: the X,Y,W,H option, and the report's
ignore file, whose keys name the pairs whose images its rectangles apply to.
Every rectangle is checked by the module itself, which says what is wrong."""

from __future__ import annotations

import fnmatch
import json
from collections.abc import Sequence
from typing import Any

import quorvane
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import read_input
from quorvane_cli.settings import Rectangle, combined, rectangles

FILE_SHAPE = '{"relative/path.png" or "glob*": [[x, y, width, height], ...], ...}'


def checked(given: Any) -> tuple[Rectangle, ...]:
    """The rectangles as 4-tuples, or the module's TypeError or RegionError
    for the first bad one, said by its reason alone."""
    try:
        quorvane.check_regions(given)
    except quorvane.RegionError as error:
        raise ValueError(error.reason) from None
    except TypeError as error:
        raise TypeError(str(error).removeprefix("argument 'ignore': ")) from None
    return rectangles(given)


def rectangle(text: str) -> Rectangle:
    """The rectangle of an X,Y,W,H option, checked by the module."""
    try:
        values = tuple(int(part) for part in text.split(","))
    except ValueError:
        values = ()
    if len(values) != 4:
        raise ValueError(f"must be X,Y,W,H (four whole numbers), not {text}")
    return checked([values])[0]


def read_ignore_file(path: str) -> dict[str, tuple[Rectangle, ...]]:
    """{key: rectangles} of a JSON file; a file that is not one, or holds a
    bad rectangle, is a CliError naming it."""
    try:
        table = json.loads(read_input(path))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise CliError(path, f"not a JSON file: {error}") from None
    except RecursionError:
        raise CliError(path, "not a JSON file: nested too deeply") from None
    if not isinstance(table, dict):
        raise CliError(path, f"expected an object {FILE_SHAPE}")
    regions = {}
    for key, given in table.items():
        try:
            regions[key] = checked(given)
        except (TypeError, ValueError) as error:
            raise CliError(path, f"{json.dumps(key)}: {error}") from None
    return regions


def matches(key: str, path: str) -> bool:
    """A key is a relative path or a glob pattern ("*" crosses folders)."""
    return key == path or fnmatch.fnmatchcase(path, key)


def regions_for(path: str, table: dict[str, tuple[Rectangle, ...]]) -> tuple[Rectangle, ...]:
    """The rectangles of every key of the table that matches the pair's
    relative path."""
    groups: list[Sequence[Rectangle]] = [found for key, found in table.items() if matches(key, path)]
    return combined(*groups)
