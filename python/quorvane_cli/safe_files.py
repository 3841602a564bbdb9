"""The rules that keep a user's files safe, for every command and the pytest
plugin: inputs read once, from regular files only and up to a size; files a
user keeps written whole and never through a link; output folders that are
ours to empty, as their marker says; names shown without letting them
control a terminal."""

from __future__ import annotations

import contextlib
import errno
import json
import os
import pathlib
import secrets
import stat
from collections.abc import Callable, Iterable
from typing import Any

from quorvane_cli.errors import CliError

# The largest input file read: far above any screenshot (a PNG is smaller
# than the pixels it holds, and the module decodes at most 512 MiB of them).
MAX_INPUT_BYTES = 512 * 2**20
# The longest file name most file systems take, in bytes.
MAX_NAME_BYTES = 255


def failure(path: object, error: OSError) -> CliError:
    return CliError(path, error.strerror or str(error))


def read_input(path: str | os.PathLike[str]) -> bytes:
    """The bytes of an input file, read once. Only a regular file is read
    (a link is followed to one): a device, a FIFO or a folder is refused,
    and opening never waits for a FIFO's writer."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        raise failure(path, error) from None
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            kind = "a folder" if stat.S_ISDIR(info.st_mode) else "a device, FIFO or socket"
            raise CliError(path, f"not a regular file ({kind})")
        os.set_blocking(fd, True)
        chunks, size = [], 0
        while chunk := os.read(fd, min(1 << 24, MAX_INPUT_BYTES + 1 - size)):
            chunks.append(chunk)
            size += len(chunk)
            if size > MAX_INPUT_BYTES:
                raise CliError(path, f"larger than {MAX_INPUT_BYTES} bytes, the most an input may hold")
        return b"".join(chunks)
    except OSError as error:
        raise failure(path, error) from None
    finally:
        os.close(fd)


def temporary_name(name: str) -> str:
    """A hidden temporary name beside `name`, within the file name limit
    however long `name` is."""
    token = secrets.token_hex(6)
    room = MAX_NAME_BYTES - len(f"..{token}.tmp")
    stem = os.fsencode(name)[:room].decode("utf-8", "ignore") if len(os.fsencode(name)) > room else name
    return f".{stem}.{token}.tmp"


def write_whole(path: str | os.PathLike[str], data: bytes, durable: bool = True) -> None:
    """Writes a file so that it appears whole or not at all: a temporary file
    beside it, flushed to disk when `durable`, then renamed over it. The
    rename replaces a link in its place rather than writing through it."""
    path = pathlib.Path(path)
    with contextlib.suppress(FileNotFoundError):
        mode = os.lstat(path).st_mode
        if not (stat.S_ISREG(mode) or stat.S_ISLNK(mode)):
            raise OSError(errno.EEXIST, "not a regular file, never replaced", str(path))
    temporary = path.with_name(temporary_name(path.name))
    # Created as open() creates files, so the umask sets its permissions.
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o666)
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            if durable:
                os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise


def make_folders(folder: pathlib.Path, top: pathlib.Path) -> None:
    """Makes `folder` and the folders between it and `top` (which exists); a
    link or a file in their place is refused, never followed."""
    current = top
    for part in folder.relative_to(top).parts:
        current = current / part
        try:
            os.mkdir(current)
        except FileExistsError:
            if current.is_symlink() or not current.is_dir():
                raise OSError(errno.ENOTDIR, "in the way of a folder", str(current)) from None


def is_within(inner: pathlib.Path, outer: pathlib.Path) -> bool:
    inner, outer = inner.resolve(), outer.resolve()
    return inner == outer or outer in inner.parents


class LocalStore:
    """The file operations of an output folder on this machine: nothing is
    ever written or removed through a link."""

    def __init__(self, path: pathlib.Path) -> None:
        self.path = path

    def files(self) -> list[str]:
        """Every file (and link) below the folder, as relative POSIX paths."""
        found = []
        for directory, folders, names in os.walk(self.path):
            base = pathlib.Path(directory)
            for name in names + [folder for folder in folders if (base / folder).is_symlink()]:
                found.append((base / name).relative_to(self.path).as_posix())
        return found

    def read(self, relative: str) -> bytes:
        fd = os.open(self.path / relative, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
        with os.fdopen(fd, "rb") as file:
            return file.read(MAX_INPUT_BYTES)

    def remove(self, relative: str) -> None:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(self.path / relative)  # a link is removed, not what it points at

    def prepare(self) -> None:
        """Removes the folders left empty, and makes the folder itself."""
        for directory, folders, names in os.walk(self.path, topdown=False):
            if pathlib.Path(directory) != self.path and not folders and not names:
                with contextlib.suppress(OSError):
                    os.rmdir(directory)
        self.path.mkdir(parents=True, exist_ok=True)

    def write(self, relative: str, data: bytes, durable: bool) -> None:
        target = self.path / relative
        make_folders(target.parent, self.path)
        write_whole(target, data, durable)


class OutputFolder:
    """A folder a command writes into, which it may empty again. Usable when
    it is absent, empty, or holds an earlier output of ours, as its marker
    says (the files that run wrote, listed); never an input folder or inside
    one. Starting removes the earlier run's files, and nothing else; the
    marker lists the new files once they are all written."""

    MARKER = ".quorvane-output.json"
    # Work folders of quorvane's own left behind by a process that was killed
    # (the review server's undo copies): removed with the earlier run's files.
    WORK_FOLDERS = (".review-undo/",)

    def __init__(self, path: object, store: LocalStore | Any, inside: Callable[[object], bool]) -> None:
        self.path, self.store, self.inside = path, store, inside
        self.written: set[str] = set()

    def check(self, inputs: Iterable[object]) -> None:
        """Refuses a folder that is or holds an input folder, or lies in one
        (`inside(folder)` says whether the two overlap)."""
        for folder in inputs:
            if self.inside(folder):
                raise CliError(self.path, f"is, holds or lies inside an input folder ({folder}): choose another")

    def earlier_files(self) -> list[str] | None:
        """The files the earlier run wrote, from its marker; None when the
        folder holds no output of ours."""
        try:
            listed = json.loads(self.store.read(self.MARKER))["files"]
        except (OSError, ValueError, KeyError, TypeError):
            return None
        return [name for name in listed if isinstance(name, str)]

    def start(self) -> None:
        """Removes the earlier run's files, once the folder proves ours."""
        try:
            present = sorted(self.store.files())
        except FileNotFoundError:
            present = []
        except OSError as error:
            raise failure(self.path, error) from None
        listed = self.earlier_files()
        if present and listed is None:
            raise CliError(
                self.path, "holds files that quorvane did not write (no marker): choose a new or empty folder"
            )
        leftovers = [name for name in present if name.startswith(self.WORK_FOLDERS)]
        unknown = [name for name in present if name not in {*(listed or ()), *leftovers, self.MARKER}]
        if unknown:
            raise CliError(
                self.path, f"holds {shown(unknown[0])}, which the earlier run did not write: remove it first"
            )
        try:
            for name in [*(listed or ()), *leftovers]:
                self.store.remove(name)
            self.store.prepare()
            # Marked as ours before anything is written, so an interrupted run is cleaned up next time.
            self.store.write(self.MARKER, json.dumps({"files": []}).encode(), False)
        except OSError as error:
            raise failure(self.path, error) from None

    def write(self, relative: str, data: bytes, durable: bool = False) -> None:
        """Writes a file of the output, whole, never through a link."""
        try:
            self.store.write(relative, data, durable)
        except OSError as error:
            raise failure(f"{self.path}/{relative}", error) from None
        self.written.add(relative)

    def finish(self, also_written: Iterable[str] = ()) -> None:
        """Lists every file of the output in its marker: the ones written here
        and those written elsewhere (by Dask workers) into the folder."""
        files = sorted(self.written | set(also_written))
        self.write(self.MARKER, json.dumps({"files": files}, indent=0).encode(), durable=True)


def shown(text: object) -> str:
    """A name as a terminal or a page may show it: control characters and
    bytes that are not UTF-8 (as the file system gave them) escaped, so that
    a name can neither move the cursor nor fake a line."""
    result = []
    for character in str(text):
        code = ord(character)
        if 0xDC80 <= code <= 0xDCFF:  # a byte that was not UTF-8, kept by the file system's decoding
            result.append(f"\\x{code - 0xDC00:02x}")
        elif character.isprintable() or character == " ":
            result.append(character)
        else:
            result.append(character.encode("unicode_escape", "backslashreplace").decode("ascii"))
    return "".join(result)
