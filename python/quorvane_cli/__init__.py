"""The `quorvane` command line: compare two screenshots, or two directories
of them into an HTML report. Run as `quorvane` or `python -m quorvane_cli`."""

from quorvane_cli.cli import main

__all__ = ["main"]
