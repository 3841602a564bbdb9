"""Reading and writing the command's files; a failure becomes one line
naming the file, never a traceback."""

import os
import pathlib
import secrets

import quorvane

# Exit statuses, as cmp's: within the limits, beyond them, trouble.
WITHIN, BEYOND, TROUBLE = 0, 1, 2


class CliError(Exception):
    """A failure to report in one line, naming the file it concerns."""

    def __init__(self, subject, message):
        super().__init__(f"{subject}: {message}")


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
