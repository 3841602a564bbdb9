"""Shift bands as a person reads them. The row alignment reports every run
of inserted or deleted rows it needed, and a page laid out again after an
edit gives many: a deletion with a row put back just below it, and rows
here and there moved by one as layout rounds positions to whole pixels.
A person sees one deletion and content moved up. The reading:

1. The last band, where it crossed the bottom edge of the frame (rows
   pushed out of view or pulled into it), stays as it is.
2. Bands less than JOIN_GAP rows apart join: the join reads as its net
   rows, inserted or deleted by their sign, at the first band's row; a join
   of inserted and deleted rows that cancel out reads as rows changed in
   place (the same rows, edited).
3. What is left of bands of at most JITTER_ROWS rows reads as one note, when
   their rows cancel out: content moved by a row between the first and the
   last of them.

Only the reading changes; the figures judged count every row the alignment
inserted or deleted."""

from __future__ import annotations

import dataclasses
from collections.abc import Sequence
from typing import Literal, Protocol

JOIN_GAP = 8
JITTER_ROWS = 2


class RowBand(Protocol):
    @property
    def kind(self) -> Literal["inserted", "deleted"]: ...
    @property
    def y(self) -> int: ...
    @property
    def rows(self) -> int: ...
    @property
    def exempt_rows(self) -> int: ...


@dataclasses.dataclass(frozen=True)
class ReadBand:
    """`rows` inserted, deleted or changed at row `y` of the current image;
    for "moved by a row", `rows` one-row moves between rows `y` and `end`."""

    kind: Literal["inserted", "deleted", "changed", "moved by a row"]
    y: int
    rows: int
    end: int
    exempt_rows: int = 0
    joined: int = 1  # the alignment's bands read as this one


def signed(band: RowBand) -> int:
    return band.rows if band.kind == "inserted" else -band.rows


def end_row(band: RowBand) -> int:
    """The current row after the band: deleted rows take none."""
    return band.y + (band.rows if band.kind == "inserted" else 0)


def joined(group: Sequence[RowBand]) -> ReadBand:
    net = sum(signed(band) for band in group)
    first, last = group[0], group[-1]
    if net == 0:
        changed = sum(band.rows for band in group if band.kind == "inserted")
        return ReadBand("changed", first.y, changed, end_row(last), joined=len(group))
    kind: Literal["inserted", "deleted"] = "inserted" if net > 0 else "deleted"
    return ReadBand(kind, first.y, abs(net), end_row(last), joined=len(group))


def read_bands(bands: Sequence[RowBand]) -> tuple[ReadBand, ...]:
    """The bands of an alignment, top to bottom, as a person reads them."""
    edge = bands[-1] if bands and bands[-1].exempt_rows else None
    inner = list(bands[:-1] if edge is not None else bands)
    groups: list[list[RowBand]] = []
    for band in inner:
        if groups and band.y - end_row(groups[-1][-1]) < JOIN_GAP:
            groups[-1].append(band)
        else:
            groups.append([band])
    read = [joined(group) for group in groups]
    small = [band for band in read if band.kind in ("inserted", "deleted") and band.rows <= JITTER_ROWS]
    small += [band for band in read if band.kind == "changed" and band.rows <= JITTER_ROWS]
    moves = sum(band.rows for band in small)
    if (
        small
        and sum(band.rows if band.kind == "inserted" else -band.rows for band in small if band.kind != "changed") == 0
    ):
        first, last = min(band.y for band in small), max(band.end for band in small)
        folded = {id(band) for band in small}
        kept = [band for band in read if id(band) not in folded]
        note = ReadBand("moved by a row", first, moves, last, joined=sum(band.joined for band in small))
        read = sorted([*kept, note], key=lambda band: band.y)
    if edge is not None:
        read.append(ReadBand(edge.kind, edge.y, edge.rows, end_row(edge), edge.exempt_rows))
    return tuple(read)
