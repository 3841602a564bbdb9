"""Where a screenshot's files live: its name (from the test by default),
its baseline, and the folder of its failure images."""

import dataclasses
import hashlib
import pathlib
import re

import pytest

LONGEST_NAME = 100
UNSAFE = re.compile(r"[^A-Za-z0-9._-]")


@dataclasses.dataclass(frozen=True)
class Test:
    """What the names and places of a test's screenshots come from."""

    nodeid: str
    path: pathlib.Path  # the test file
    name: str  # the test's name with its classes and parametrize ids


def test_of(item):
    classes = [node.name for node in item.listchain() if isinstance(node, pytest.Class)]
    return Test(item.nodeid, pathlib.Path(item.path), "-".join([*classes, item.name]))


def safe(text):
    """Letters, digits, '-', '_' and '.' kept; any other character '-'."""
    return UNSAFE.sub("-", text)


def default_name(test, call):
    """The name of the test's `call`-th screenshot without a name of its own."""
    stem = safe(test.name)[:LONGEST_NAME]
    return f"{stem}.png" if call == 1 else f"{stem}-{call}.png"


def given_name(name):
    """A name given in the call, as the baseline's file name."""
    __tracebackhide__ = True  # the error is the caller's
    if not isinstance(name, str):
        raise TypeError(f"assert_screenshot: name must be a str, not {type(name).__name__}")
    if name in ("", ".", "..") or "/" in name or "\\" in name or "\0" in name:
        raise ValueError(f"assert_screenshot: name must be a file name, not {name!r}")
    return name if name.lower().endswith(".png") else f"{name}.png"


def baseline_folder(test, rootdir, screenshot_dir):
    """Beside the test file by default; under screenshot_dir, in the test
    file's path from the rootdir."""
    if screenshot_dir is None:
        return test.path.parent / "__screenshots__" / test.path.stem
    try:
        relative = test.path.relative_to(rootdir)
    except ValueError:  # a test file outside the rootdir
        relative = pathlib.Path(test.path.name)
    return screenshot_dir / relative.with_suffix("")


def output_folder(nodeid):
    """The folder of a test's failure images: its id made safe. An id cut
    to length ends with a hash of the whole, so that two never share one."""
    folder = safe(nodeid)
    if len(folder) <= LONGEST_NAME:
        return folder
    digest = hashlib.sha256(nodeid.encode()).hexdigest()[:12]
    return f"{folder[: LONGEST_NAME - len(digest) - 1]}-{digest}"


def shown(path, base):
    """A path as the terminal shows it: from base when it lies under it."""
    path = pathlib.Path(path)
    try:
        return str(path.relative_to(base))
    except ValueError:
        return str(path)
