"""The session's output folder (--screenshot-output): where the failure
images and the report page go. It must lie apart from every folder of
baselines. Each file is listed in the folder's journal before it is
written, and a new session removes only the files listed there, never a
whole tree. A session holds a lock on the journal while it runs; a session
that finds the folder in use by another writes into a subfolder of its own,
which a later session cleans up once nobody holds it."""

from __future__ import annotations

import contextlib
import json
import os
import pathlib
import secrets

from quorvane_cli import safe_files
from quorvane_pytest.naming import DEFAULT_FOLDER, Template

try:
    import fcntl
except ImportError:  # Windows: one session at a time
    fcntl = None  # type: ignore[assignment]

JOURNAL = ".quorvane-screenshots"  # also the mark of a folder the plugin made
SESSION_PREFIX = "session-"
APART = "it must be a folder of its own, apart from the tests and the baselines"


def overlap(first: pathlib.Path, second: pathlib.Path) -> bool:
    """Whether either folder is the other or lies inside it."""
    return safe_files.is_within(first, second) or safe_files.is_within(second, first)


def check_apart(
    out: pathlib.Path,
    kept: list[pathlib.Path],
    screenshot_dir: pathlib.Path | None,
    template: Template | None,
    rootdir: pathlib.Path,
) -> None:
    """Refuses an output folder that is, holds or lies inside a folder of
    baselines, or holds the tests (`kept`): the plugin removes files there."""
    for folder in kept:
        if safe_files.is_within(folder, out):
            raise ValueError(f"--screenshot-output {safe_files.shown(out)} holds {safe_files.shown(folder)}: " + APART)
    for folder in baseline_roots(screenshot_dir, template, rootdir):
        if overlap(out, folder):
            raise ValueError(
                f"--screenshot-output {safe_files.shown(out)} overlaps {safe_files.shown(folder)}, where baselines "
                "are kept: " + APART
            )
    parts = pathlib.PurePath(os.path.relpath(out.resolve(), rootdir.resolve())).parts
    if template is None and screenshot_dir is None and DEFAULT_FOLDER in parts:
        raise ValueError(
            f"--screenshot-output {safe_files.shown(out)} lies in a {DEFAULT_FOLDER} folder, where baselines are "
            "kept: " + APART
        )
    folders = template.folder_pattern() if template is not None else None
    prefixes = ("/".join(parts[:end]) for end in range(1, len(parts) + 1))
    if folders is not None and any(folders.fullmatch(prefix) for prefix in prefixes):
        raise ValueError(
            f"--screenshot-output {safe_files.shown(out)} lies where screenshot_path_template puts baselines: " + APART
        )


def baseline_roots(
    screenshot_dir: pathlib.Path | None, template: Template | None, rootdir: pathlib.Path
) -> list[pathlib.Path]:
    roots = [screenshot_dir] if screenshot_dir is not None else []
    if template is not None and template.static_folder():
        roots.append(rootdir / template.static_folder())
    return roots


class OutputFolder:
    """The folder this session writes into: the output folder itself, or a
    subfolder of its own when another session holds it."""

    def __init__(self, root: pathlib.Path) -> None:
        self.root = root
        self.taken = root
        self.journal: int | None = None  # its descriptor, open for appending

    @property
    def folder(self) -> pathlib.Path:
        """The folder this session writes into, taken when first needed
        where the session's start has not taken it (a Run made directly)."""
        if self.journal is None:
            self.start()
        return self.taken

    def start(self) -> None:
        """Takes the output folder for this session (the pytest-xdist
        controller, or a session without workers)."""
        if self.root.is_symlink() or (self.root.exists() and not self.root.is_dir()):
            raise ValueError(f"--screenshot-output {safe_files.shown(self.root)} is not a folder")
        # Listed once, then judged: a session starting beside this one may
        # create the journal between a look for it and a look at the rest.
        present = {entry.name for entry in self.root.iterdir()} if self.root.is_dir() else set()
        if present and not (JOURNAL in present and (self.root / JOURNAL).is_file()):
            raise ValueError(
                f"--screenshot-output {safe_files.shown(self.root)} is not a folder the plugin made, and the "
                "plugin removes its files at the start of every session: choose a new folder, or empty this one"
            )
        self.root.mkdir(parents=True, exist_ok=True)
        fd = os.open(self.root / JOURNAL, os.O_RDWR | os.O_CREAT | os.O_APPEND | os.O_NOFOLLOW | os.O_CLOEXEC, 0o666)
        if locked(fd):
            remove_listed(self.root, fd)
            remove_work_folders(self.root)
            for folder in sorted(self.root.glob(SESSION_PREFIX + "*")):
                clean_if_finished(folder)
            os.ftruncate(fd, 0)
            self.journal = fd
        else:
            os.close(fd)
            self.taken, self.journal = own_subfolder(self.root)

    def attach(self, folder: pathlib.Path) -> None:
        """Writes into the folder a controller took (a pytest-xdist worker)."""
        self.taken = folder
        self.journal = os.open(folder / JOURNAL, os.O_WRONLY | os.O_APPEND | os.O_NOFOLLOW | os.O_CLOEXEC)

    def write(self, path: pathlib.Path, data: bytes) -> None:
        """Writes a file of this session's folder, whole, listed in the
        journal before it exists."""
        relative = path.relative_to(self.folder).as_posix()
        assert self.journal is not None
        os.write(self.journal, (json.dumps(relative) + "\n").encode())
        safe_files.make_folders(path.parent, self.folder)
        safe_files.write_whole(path, data, durable=False)

    def close(self) -> None:
        if self.journal is not None:
            os.close(self.journal)  # and the lock with it
            self.journal = None


def locked(fd: int) -> bool:
    """Takes the lock of a journal; False when another session holds it."""
    if fcntl is None:
        return True
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        return False
    return True


def listed(fd: int) -> list[str]:
    """The files a journal lists; a line cut short by a crash is left out."""
    os.lseek(fd, 0, os.SEEK_SET)
    chunks = []
    while chunk := os.read(fd, 1 << 16):
        chunks.append(chunk)
    names = []
    for line in b"".join(chunks).splitlines():
        with contextlib.suppress(ValueError):
            name = json.loads(line)
            if isinstance(name, str):
                names.append(name)
    return names


def remove_listed(folder: pathlib.Path, fd: int) -> None:
    """Removes the files the journal lists, and the folders they leave
    empty; a name that would leave the folder is never followed."""
    emptied: set[pathlib.PurePosixPath] = set()
    for name in listed(fd):
        relative = pathlib.PurePosixPath(name)
        if relative.is_absolute() or ".." in relative.parts or not relative.parts:
            continue
        with contextlib.suppress(FileNotFoundError, NotADirectoryError):
            os.unlink(folder / relative)
        emptied.update(relative.parents)
    for parent in sorted(emptied, key=lambda path: len(path.parts), reverse=True):
        if parent.parts:
            with contextlib.suppress(OSError):
                os.rmdir(folder / parent)


def remove_work_folders(folder: pathlib.Path) -> None:
    """Removes what quorvane's own tools left in their work folders there
    (the review server's undo copies, when it was killed)."""
    for name in safe_files.OutputFolder.WORK_FOLDERS:
        work = folder / name
        if work.is_symlink() or not work.is_dir():
            continue
        for directory, _, names in os.walk(work, topdown=False):
            for file in names:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(os.path.join(directory, file))
            with contextlib.suppress(OSError):
                os.rmdir(directory)


def clean_if_finished(folder: pathlib.Path) -> None:
    """Removes what a session that wrote into a subfolder of its own listed,
    once it has ended; a subfolder still being set up has no journal yet."""
    try:
        fd = os.open(folder / JOURNAL, os.O_RDWR | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError:
        return
    try:
        if not locked(fd):
            return
        remove_listed(folder, fd)
        os.unlink(folder / JOURNAL)
    finally:
        os.close(fd)
    with contextlib.suppress(OSError):
        os.rmdir(folder)


def own_subfolder(root: pathlib.Path) -> tuple[pathlib.Path, int]:
    """A new subfolder with its journal, locked before it bears the
    journal's name, so no other session takes it for a finished one."""
    while True:
        folder = root / f"{SESSION_PREFIX}{secrets.token_hex(4)}"
        try:
            folder.mkdir()
        except FileExistsError:
            continue
        break
    opening = folder / f".{JOURNAL}.new"
    fd = os.open(opening, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_APPEND | os.O_NOFOLLOW | os.O_CLOEXEC, 0o666)
    locked(fd)
    os.rename(opening, folder / JOURNAL)
    return folder, fd
