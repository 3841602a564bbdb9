"""How the command ends: exit statuses like cmp's, and the one-line
failure that names the file it concerns."""

# Within the limits, beyond them, trouble (bad usage, input that cannot be read).
WITHIN, BEYOND, TROUBLE = 0, 1, 2
INTERRUPTED = 130


class CliError(Exception):
    """A failure to report in one line, naming the file it concerns."""

    def __init__(self, subject: object, message: str) -> None:
        super().__init__(f"{subject}: {message}")
        self.subject, self.message = subject, message

    def __reduce__(self) -> tuple[type, tuple[object, str]]:  # raised on a Dask worker, it reaches the client whole
        return CliError, (self.subject, self.message)


def failed_side(error: ValueError, baseline_png: bytes) -> str | None:
    """Which image of a pair failed to decode, as the module's DecodeError says."""
    import quorvane

    side = getattr(error, "side", None)
    if side is not None or hasattr(quorvane, "DecodeError"):
        return side
    try:  # a module without error kinds: the baseline's error is reported first
        quorvane.thumbnail(baseline_png)
    except ValueError:
        return "baseline"
    return "current"


def is_encode_error(error: ValueError) -> bool:
    """Whether the module could not encode an image (WebP holds at most
    16383 rows), as opposed to a PNG that does not decode."""
    import quorvane

    kind = getattr(quorvane, "EncodeError", None)
    return isinstance(error, kind) if kind is not None else not str(error).startswith("failed to decode PNG")
