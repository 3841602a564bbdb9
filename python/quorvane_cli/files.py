"""The command's files, on local paths (through the rules of safe_files) or
fsspec URLs (through quorvane_cli.urls); a failure becomes one line naming
the file, never a traceback."""

from __future__ import annotations

import contextlib
import os
import pathlib
from collections.abc import Iterable, Iterator

from quorvane_cli import safe_files, urls
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import OutputFolder
from quorvane_cli.urls import Url

Location = pathlib.Path | Url


def read_file(path: str | os.PathLike[str]) -> bytes:
    return safe_files.read_input(path)


def write_file(path: str | os.PathLike[str], data: bytes) -> None:
    """Writes an output the user named: a file (or a file a link names) whole,
    by a temporary file renamed over it; a device such as /dev/stdout as it is."""
    try:
        resolved = pathlib.Path(path).resolve()
        if resolved.exists() and not resolved.is_file():
            with open(resolved, "wb") as device:
                device.write(data)
        else:
            safe_files.write_whole(resolved, data, durable=False)
    except OSError as error:
        raise safe_files.failure(path, error) from None


def location(name: str | os.PathLike[str] | Url) -> Location:
    """A file or directory as the user names it: a Url, or a local path."""
    if isinstance(name, (Url, pathlib.Path)):
        return name
    text = os.fspath(name)
    return Url(text) if urls.is_url(text) else pathlib.Path(text)


@contextlib.contextmanager
def named_failures(path: object) -> Iterator[None]:
    """A failure of the block becomes a CliError naming path as given."""
    try:
        yield
    except OSError as error:
        raise safe_files.failure(path, error) from None
    except urls.Unsupported as error:
        raise CliError(path, str(error)) from None


class UrlStore:
    """The file operations of an output folder named by a URL."""

    def __init__(self, path: Url) -> None:
        self.path = path

    def files(self) -> list[str]:
        return urls.relative_files(self.path)

    def read(self, relative: str) -> bytes:
        return urls.read(self.path / relative, safe_files.MAX_INPUT_BYTES)

    def remove(self, relative: str) -> None:
        urls.remove(self.path / relative)

    def prepare(self) -> None:
        urls.make_directory(self.path)

    def write(self, relative: str, data: bytes, durable: bool) -> None:
        urls.keep(self.path / relative, data)


class Files:
    """The report's file operations, on local paths and Urls alike. A
    relative path is taken from the working directory of the process that
    made the Files, so a Dask worker given it reads and writes the files
    the client named. Failures name paths as given."""

    def __init__(self) -> None:
        self.workdir = pathlib.Path.cwd()

    def local(self, path: pathlib.Path) -> pathlib.Path:
        return self.workdir / path  # an absolute path stays as it is

    def read(self, path: Location) -> bytes:
        """An input's bytes, read once (a regular file, of bounded size)."""
        if isinstance(path, Url):
            with named_failures(path):
                return urls.read(path, safe_files.MAX_INPUT_BYTES)
        try:
            return safe_files.read_input(self.local(path))
        except CliError as error:
            raise CliError(path, error.message) from None

    def write_output(self, folder: Location, relative: str, data: bytes) -> None:
        """Writes a file of the report into its folder, whole, its folders
        made, never through a link."""
        target = folder / relative
        with named_failures(target):
            if isinstance(folder, Url):
                urls.write(folder / relative, data)
                return
            safe_files.LocalStore(self.local(folder)).write(relative, data, durable=False)

    def output_folder(self, path: Location, inputs: Iterable[Location]) -> OutputFolder:
        """The output folder at `path`, checked to lie apart from the inputs."""
        if isinstance(path, Url):

            def overlaps(folder: object) -> bool:
                ours, theirs = str(path).rstrip("/") + "/", str(folder).rstrip("/") + "/"
                return isinstance(folder, Url) and (ours.startswith(theirs) or theirs.startswith(ours))

            output = OutputFolder(path, UrlStore(path), overlaps)
        else:
            local = self.local(path)
            if local.is_symlink() or (local.exists() and not local.is_dir()):
                raise CliError(path, "not a folder")

            def overlaps(folder: object) -> bool:
                return isinstance(folder, pathlib.Path) and (
                    safe_files.is_within(local, self.local(folder)) or safe_files.is_within(self.local(folder), local)
                )

            output = OutputFolder(path, safe_files.LocalStore(local), overlaps)
        with named_failures(path):
            output.check(inputs)
        return output

    def check_directory(self, path: Location) -> None:
        with named_failures(path):
            if isinstance(path, Url):
                urls.check_directory(path)
                return
            local = self.local(path)
            if not local.exists():
                raise FileNotFoundError(0, "No such file or directory")
            if not local.is_dir():
                raise NotADirectoryError(0, "Not a directory")

    def png_files(self, root: Location) -> dict[str, Location]:
        """Relative POSIX path -> file, for every PNG file under root. The
        files are named from root as given."""
        with named_failures(root):
            if isinstance(root, Url):
                return dict(urls.png_files(root))
            top = self.local(root)
            found: dict[str, Location] = {}
            for directory, _, names in os.walk(top):
                for name in names:
                    if name.lower().endswith(".png"):
                        relative = pathlib.Path(directory, name).relative_to(top)
                        found[relative.as_posix()] = root / relative
            return found
