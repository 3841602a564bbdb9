"""Where a screenshot's files live: its name (from the test by default), its
baseline (beside the test file, under screenshot_dir, or where the path
template puts it), and the folder of its failure images. A name made from
a test id ends with a short hash of the id whenever making it safe changed
or cut it, so that two ids never share a file."""

from __future__ import annotations

import dataclasses
import hashlib
import os
import pathlib
import re
import string
import sys

import pytest

from quorvane_cli import safe_files
from quorvane_cli.safe_files import MAX_NAME_BYTES

LONGEST_NAME = 100
HASH_DIGITS = 8
UNSAFE = re.compile(r"[^A-Za-z0-9._-]")
# The folder of the baselines when no template or screenshot_dir places them.
DEFAULT_FOLDER = "__screenshots__"
PATH_TOKENS = ("test_dir", "test_path")  # a token that may span folders
TOKENS = (*PATH_TOKENS, "test_file", "name", "ext", "platform", "browser", "project")
# Tokens whose value is the same for every screenshot of a session but the
# browser's, which each call names.
SESSION_TOKENS = ("platform", "project")


@dataclasses.dataclass(frozen=True)
class Test:
    """What the names and places of a test's screenshots come from."""

    nodeid: str
    path: pathlib.Path  # the test file
    name: str  # the test's name with its classes and parametrize ids, "TestCart-test_total[small]"


def test_of(item: pytest.Item) -> Test:
    classes = [node.name for node in item.listchain() if isinstance(node, pytest.Class)]
    return Test(item.nodeid, pathlib.Path(item.path), "-".join([*classes, item.name]))


def digest(text: str) -> str:
    return hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()[:HASH_DIGITS]


def without_brackets(text: str) -> str:
    """A parametrized name's ids joined with '-', not wrapped: 'test_x-a-b', not 'test_x-a-b-'."""
    if text.endswith("]") and "[" in text:
        base, ids = text[:-1].split("[", 1)
        return f"{base}-{ids}"
    return text


def stem_of(text: str, whole: str) -> str:
    """`text` as a file name of at most LONGEST_NAME characters: letters,
    digits, '-', '_' and '.' kept, any other character '-'; the hash of
    `whole` appended where a character was replaced or the name cut."""
    safe = UNSAFE.sub("-", text)
    if safe == text and len(safe) <= LONGEST_NAME:
        return safe
    return f"{safe[: LONGEST_NAME - HASH_DIGITS - 1]}-{digest(whole)}"


def default_name(test: Test, call: int) -> str:
    """The name of the test's `call`-th screenshot without a name of its own."""
    stem = stem_of(without_brackets(test.name), test.name)
    return f"{stem}.png" if call == 1 else f"{stem}-{call}.png"


def given_name(name: object) -> str:
    """A name given in the call, as the baseline's file name."""
    __tracebackhide__ = True  # the error is the caller's
    if not isinstance(name, str):
        raise TypeError(f"assert_screenshot: name must be a str, not {type(name).__name__}")
    if name in ("", ".", "..") or any(character in name for character in "/\\\0"):
        raise ValueError(f"assert_screenshot: name must be a file name, not {name!r}")
    try:
        os.fsencode(name)
    except UnicodeEncodeError:
        raise ValueError(f"assert_screenshot: name must be a file name, not {name!r}") from None
    return name if name.lower().endswith(".png") else f"{name}.png"


def output_folder(nodeid: str) -> str:
    """The folder of a test's failure images: its id made safe, '::' as '--'."""
    return stem_of(without_brackets(nodeid.replace("::", "--").replace("/", "-")), nodeid)


def artifact_name(stem: str, suffix: str) -> str:
    """`<stem>-<suffix>`, the stem made safe as a test id is: the images of a
    failure are linked from a page, whatever the baseline's name."""
    return f"{stem_of(stem, stem)}-{suffix}"


class Template:
    """The ini option screenshot_path_template: a baseline's path from the
    rootdir, with tokens in braces."""

    def __init__(self, text: str) -> None:
        fields = []
        for _, field, spec, conversion in string.Formatter().parse(text):
            if field is None:
                continue
            if field not in TOKENS or spec or conversion:
                whole = "{" + field + ("!" + conversion if conversion else "") + (":" + spec if spec else "") + "}"
                raise ValueError(f"screenshot_path_template: unknown token {whole}; the tokens are " + tokens_text())
            fields.append(field)
        if "name" not in fields:
            raise ValueError("screenshot_path_template must hold {name}: each screenshot needs a file of its own")
        if os.path.isabs(text) or text.startswith("~"):
            raise ValueError(f"screenshot_path_template must be relative to the rootdir, not {text}")
        self.text = text

    def path(self, values: dict[str, str]) -> str:
        return self.text.format(**values)

    def pattern(self, known: dict[str, list[str]]) -> re.Pattern[str]:
        """A regular expression of the relative POSIX paths the template
        makes with the values known, any value for the other tokens."""
        return pattern_of(self.text, known)

    def folder_pattern(self) -> re.Pattern[str] | None:
        """A regular expression of the folders the template puts baselines in."""
        folders = self.text.replace(os.sep, "/").rpartition("/")[0]
        return pattern_of(folders, {}) if folders else None

    def static_folder(self) -> str:
        """The folders before the first token ('' when it starts with one)."""
        literal = next(iter(string.Formatter().parse(self.text)))[0]
        return literal.replace(os.sep, "/").rpartition("/")[0]


def pattern_of(text: str, known: dict[str, list[str]]) -> re.Pattern[str]:
    parts = []
    for literal, field, _, _ in string.Formatter().parse(text):
        parts.append(re.escape(literal.replace(os.sep, "/")))
        if field is None:
            continue
        if field == "ext":
            parts.append(r"\.(?i:png)")
        elif field in known:
            parts.append("(?:" + "|".join(map(re.escape, known[field])) + ")")
        else:
            parts.append(".+" if field in PATH_TOKENS else "[^/]+")
    return re.compile("".join(parts))


def tokens_text() -> str:
    return ", ".join("{" + token + "}" for token in TOKENS)


@dataclasses.dataclass(frozen=True)
class Places:
    """Where a session keeps its baselines."""

    rootdir: pathlib.Path
    screenshot_dir: pathlib.Path | None = None  # absolute
    template: Template | None = None
    project: str = "default"

    def baseline(self, test: Test, name: str, browser: str) -> pathlib.Path:
        """The baseline file of the screenshot `name` (a file name) of the test."""
        if self.template is not None:
            return self.rootdir / self.template.path(self.values(test, name, browser))
        if self.screenshot_dir is None:
            return test.path.parent / DEFAULT_FOLDER / test.path.stem / name
        try:
            relative = test.path.relative_to(self.rootdir)
        except ValueError:  # a test file outside the rootdir
            relative = pathlib.Path(test.path.name)
        return self.screenshot_dir / relative.with_suffix("") / name

    def values(self, test: Test, name: str, browser: str) -> dict[str, str]:
        folder = relative_path(test.path.parent, self.rootdir)
        stem, ext = os.path.splitext(name)
        return {
            "test_dir": folder,
            "test_file": test.path.stem,
            "test_path": pathlib.PurePosixPath(folder, test.path.stem).as_posix(),
            "name": stem,
            "ext": ext,
            "platform": sys.platform,
            "browser": browser,
            "project": self.project,
        }

    def is_baseline(self, path: pathlib.Path, browsers: list[str]) -> bool:
        """Whether a file could be a baseline of this session: a PNG file,
        and one the template makes with this session's values."""
        if self.template is None:
            return path.suffix.lower() == ".png"
        known = {"platform": [sys.platform], "project": [self.project], "browser": browsers}
        relative = relative_path(path, self.rootdir)
        return self.template.pattern(known).fullmatch(relative) is not None


def relative_path(path: pathlib.Path, base: pathlib.Path) -> str:
    """The POSIX path of `path` from `base`, '..' where it lies outside."""
    try:
        return pathlib.Path(os.path.relpath(path, base)).as_posix()
    except ValueError:  # another drive
        return path.as_posix()


def check_name_length(path: pathlib.Path) -> None:
    __tracebackhide__ = True  # the error is the caller's
    size = len(os.fsencode(path.name))
    if size > MAX_NAME_BYTES:
        raise ValueError(
            f"assert_screenshot: the baseline's file name is {size} bytes, more than the {MAX_NAME_BYTES} a file "
            "name may hold: give the screenshot a shorter name"
        )


def project_name(text: str) -> str:
    """The --screenshot-project value, a single folder or file name part."""
    if not text or text in (".", "..") or any(character in text for character in "/\\\0"):
        raise ValueError(f"--screenshot-project must be a name without '/' or '\\\\', not {text!r}")
    return text


def shown(path: object, base: pathlib.Path) -> str:
    """A path as the terminal shows it: from base when it lies under it,
    escaped so that no name can control the terminal."""
    path = pathlib.Path(str(path))
    try:
        return safe_files.shown(path.relative_to(base))
    except ValueError:
        return safe_files.shown(path)
