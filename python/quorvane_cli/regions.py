"""Ignore regions on the command line: the X,Y,W,H option, and the report's
ignore file, whose keys name the pairs whose images its rectangles apply to.
Every rectangle is checked by the module itself, which says what is wrong."""

import argparse
import fnmatch
import json

import quorvane
from quorvane_cli.files import CliError, read_file

FILE_SHAPE = '{"relative/path.png" or "glob*": [[x, y, width, height], ...], ...}'


def check_with_module(rectangles):
    """Raises the module's TypeError or ValueError ("argument 'ignore': ...")
    for the first bad rectangle: an empty pair takes any sound ones."""
    quorvane.Comparison.from_rgba(b"", 0, 0, b"", 0, 0, ignore=rectangles)


def checked(rectangles):
    """The rectangles as a tuple of 4-tuples, or the module's TypeError or
    ValueError for the first bad one, without its "argument 'ignore': "."""
    try:
        check_with_module(rectangles)
    except (TypeError, ValueError) as error:
        raise type(error)(str(error).removeprefix("argument 'ignore': ")) from None
    return tuple(tuple(rectangle) for rectangle in rectangles)


def rectangle(text):
    """The argparse type of --ignore: X,Y,W,H."""
    try:
        values = tuple(int(part) for part in text.split(","))
    except ValueError:
        values = ()
    if len(values) != 4:
        raise argparse.ArgumentTypeError(f"must be X,Y,W,H (four whole numbers), not {text}")
    try:
        return checked([values])[0]
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def read_ignore_file(path):
    """{key: rectangles} of a JSON file; a file that is not one, or holds a
    bad rectangle, is a CliError naming it."""
    try:
        table = json.loads(read_file(path))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise CliError(path, f"not a JSON file: {error}") from None
    if not isinstance(table, dict):
        raise CliError(path, f"expected an object {FILE_SHAPE}")
    regions = {}
    for key, rectangles in table.items():
        try:
            regions[key] = checked(rectangles)
        except (TypeError, ValueError) as error:
            raise CliError(path, f"{json.dumps(key)}: {error}") from None
    return regions


def matches(key, path):
    """A key is a relative path or a glob pattern ("*" crosses folders)."""
    return key == path or fnmatch.fnmatchcase(path, key)


def combined(*groups):
    """The rectangles of all the groups, in order, each once."""
    return tuple(dict.fromkeys(rectangle for group in groups for rectangle in group))


def regions_for(path, table):
    """The rectangles of every key of the table that matches the pair's
    relative path."""
    return combined(*(rectangles for key, rectangles in table.items() if matches(key, path)))
