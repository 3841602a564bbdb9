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


def failed_side(error: ValueError) -> str | None:
    """Which image of a pair failed to decode ("baseline" or "current"), as
    the module's DecodeError says; None for any other error."""
    import quorvane

    return error.side if isinstance(error, quorvane.DecodeError) else None
