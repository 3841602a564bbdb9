"""Reading and writing the command's files; a failure becomes one line
naming the file, never a traceback."""

import pathlib

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
