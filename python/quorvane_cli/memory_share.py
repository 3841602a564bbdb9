"""One memory budget shared by the pairs a report compares at once, so that
running them side by side never takes more memory than one pair may."""

from __future__ import annotations

import contextlib
import struct
import threading
from collections.abc import Iterator

import quorvane
from quorvane_cli.png_chunks import SIGNATURE


def pair_need(baseline_png: bytes, current_png: bytes) -> int:
    """The bytes the module needs for the pair, by the sizes in the files'
    headers; 0 when either has none, for decoding to say what is wrong."""
    sizes: list[int] = []
    for png in (baseline_png, current_png):
        if len(png) < 24 or not png.startswith(SIGNATURE) or png[12:16] != b"IHDR":
            return 0
        sizes.extend(struct.unpack(">II", png[16:24]))
    return quorvane.memory_needed(*sizes)


class MemoryShare:
    """A pair waits until its need fits what the running pairs leave of the
    limit. One that needs more than the whole limit does not wait: the
    module refuses it before allocating anything, as that pair's error."""

    def __init__(self, limit: int) -> None:
        self.limit = limit
        self._in_use = 0
        self._changed = threading.Condition()

    @contextlib.contextmanager
    def held(self, need: int) -> Iterator[None]:
        if need > self.limit:
            yield
            return
        with self._changed:
            self._changed.wait_for(lambda: self._in_use + need <= self.limit)
            self._in_use += need
        try:
            yield
        finally:
            with self._changed:
                self._in_use -= need
                self._changed.notify_all()
