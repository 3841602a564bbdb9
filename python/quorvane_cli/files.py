"""Reading and writing the command's files; a failure becomes one line
naming the file, never a traceback. The report's files are local paths,
through pathlib, or fsspec URLs, through quorvane_cli.urls."""

import contextlib
import os
import pathlib
import secrets
import shutil

import quorvane
from quorvane_cli import urls
from quorvane_cli.urls import Url

# Exit statuses, as cmp's: within the limits, beyond them, trouble.
WITHIN, BEYOND, TROUBLE = 0, 1, 2


class CliError(Exception):
    """A failure to report in one line, naming the file it concerns."""

    def __init__(self, subject, message):
        super().__init__(f"{subject}: {message}")
        self.subject, self.message = subject, message

    def __reduce__(self):  # raised on a Dask worker, it reaches the client whole
        return CliError, (self.subject, self.message)


def read_file(path):
    try:
        return pathlib.Path(path).read_bytes()
    except OSError as error:
        raise CliError(path, error.strerror or str(error)) from None


def write_file(path, data):
    try:
        pathlib.Path(path).write_bytes(data)
    except OSError as error:
        raise CliError(path, error.strerror or str(error)) from None


def write_atomically(path, data):
    """Writes a file a user keeps (a baseline, a report): a temporary file
    beside it, flushed to disk, then renamed over it, so that a crash leaves
    the old file or the new one and never half of one."""
    path = pathlib.Path(path)
    temporary = path.with_name(f".{path.name}.{secrets.token_hex(6)}.tmp")
    # Created as open() creates files, so the umask sets its permissions.
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def decode_error(png):
    """The module's message when these PNG bytes do not decode, else None."""
    try:
        quorvane.Comparison(png, png)
    except ValueError as error:
        return str(error)
    return None


def failing_file(baseline_path, baseline_png, current_path):
    """Which of a pair's files failed to decode: a pair reports the
    baseline's error first, so it is the baseline whenever that one fails."""
    return baseline_path if decode_error(baseline_png) is not None else current_path


def location(name):
    """A file or directory as the user names it: a Url, or a local path."""
    if isinstance(name, (Url, pathlib.PurePath)):
        return name
    return Url(name) if urls.is_url(name) else pathlib.Path(name)


@contextlib.contextmanager
def named_failures(path):
    """A failure of the block becomes a CliError naming path as given."""
    try:
        yield
    except OSError as error:
        raise CliError(path, error.strerror or str(error)) from None
    except urls.Unsupported as error:
        raise CliError(path, str(error)) from None


class Files:
    """The report's file operations, on local paths and Urls alike. A
    relative path is taken from the working directory of the process that
    made the Files, so a Dask worker given it reads and writes the files
    the client named. Failures name paths as given."""

    def __init__(self):
        self.workdir = pathlib.Path.cwd()

    def local(self, path):
        return self.workdir / path  # an absolute path stays as it is

    def read(self, path):
        with named_failures(path):
            return urls.read(path) if isinstance(path, Url) else self.local(path).read_bytes()

    def write(self, path, data):
        """Writes a file, its directory made."""
        with named_failures(path):
            if isinstance(path, Url):
                urls.write(path, data)
            else:
                target = self.local(path)
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)

    def copy(self, source, target):
        if isinstance(source, Url) or isinstance(target, Url):
            self.write(target, self.read(source))
            return
        with named_failures(target):
            self.local(target).parent.mkdir(parents=True, exist_ok=True)
        try:
            shutil.copyfile(self.local(source), self.local(target))
        except OSError as error:
            failed = target if error.filename == str(self.local(target)) else source
            raise CliError(failed, error.strerror or str(error)) from None

    def keep(self, path, data):
        """Writes a file the user keeps: whole or not at all."""
        with named_failures(path):
            if isinstance(path, Url):
                urls.keep(path, data)
                return
            write_atomically(self.local(path), data)

    def remove(self, path):
        """Removes a file if it is there."""
        with named_failures(path):
            if isinstance(path, Url):
                urls.remove(path)
            else:
                self.local(path).unlink(missing_ok=True)

    def make_directory(self, path):
        with named_failures(path):
            if isinstance(path, Url):
                urls.make_directory(path)
            else:
                self.local(path).mkdir(parents=True, exist_ok=True)

    def check_directory(self, path):
        with named_failures(path):
            if isinstance(path, Url):
                urls.check_directory(path)
                return
            local = self.local(path)
            if not local.exists():
                raise FileNotFoundError(0, "No such file or directory")
            if not local.is_dir():
                raise NotADirectoryError(0, "Not a directory")

    def png_files(self, root, skip):
        """Relative POSIX path -> file, for every PNG file under root, leaving
        out the directories in skip below it (the report's own output may
        sit in an input). The files are named from root as given."""
        with named_failures(root):
            if isinstance(root, Url):
                return urls.png_files(root, skip)
            return self.local_png_files(root, skip)

    def local_png_files(self, root, skip):
        top = self.local(root)
        skipped = {self.local(directory).resolve() for directory in skip if not isinstance(directory, Url)}
        found = {}
        for directory, subdirectories, names in os.walk(top):
            subdirectories[:] = [
                name for name in subdirectories if pathlib.Path(directory, name).resolve() not in skipped
            ]
            for name in names:
                if name.lower().endswith(".png"):
                    relative = pathlib.Path(directory, name).relative_to(top)
                    found[relative.as_posix()] = root / relative
        return found
