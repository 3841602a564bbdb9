"""Progress of a run on stderr: a bar redrawn in place on a terminal; in a
log (a CI job's), a line at the start and, for long runs, every tenth of
the way."""

from __future__ import annotations

import sys
import threading
from typing import TextIO

# Runs shorter than this log their start only.
LONG_RUN = 20


class Progress:
    def __init__(self, label: str, total: int, stream: TextIO | None = None, enabled: bool = True) -> None:
        self.label, self.total, self.done = label, total, 0
        self.stream = stream if stream is not None else sys.stderr
        self.enabled = enabled and total > 0
        self.terminal = self.stream.isatty()
        self.lock = threading.Lock()  # advanced from worker threads
        self.last_tenth = 0
        if self.enabled and not self.terminal:
            self._write(f"quorvane: {label} {total} pair{'' if total == 1 else 's'}\n")
        self._draw()

    def advance(self, pairs: int = 1) -> None:
        with self.lock:
            self.done += pairs
            self._draw()

    def finish(self) -> None:
        if self.enabled and self.terminal:
            self._write("\n")

    def _draw(self) -> None:
        if not self.enabled:
            return
        if self.terminal:
            width = 30
            filled = width * self.done // self.total
            self._write(f"\r{self.label} [{'#' * filled}{'-' * (width - filled)}] {self.done}/{self.total} pairs")
            return
        tenth = 10 * self.done // self.total
        if self.total >= LONG_RUN and tenth > self.last_tenth:
            self.last_tenth = tenth
            self._write(f"quorvane: {self.done}/{self.total} pairs done\n")

    def _write(self, text: str) -> None:
        self.stream.write(text)
        self.stream.flush()
