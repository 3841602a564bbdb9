"""Ignore regions that travel inside a PNG file: an iTXt chunk with the
keyword `quorvane:ignore` whose text is a JSON list of [x, y, width, height]
rectangles in the image's pixels. The chunk is read and written by walking
the file's chunks; the pixels are never decoded nor encoded again."""

from __future__ import annotations

import json
import struct
import zlib
from collections.abc import Iterator, Sequence

from quorvane_cli import regions
from quorvane_cli.errors import CliError
from quorvane_cli.settings import Rectangle

SIGNATURE = b"\x89PNG\r\n\x1a\n"
KEYWORD = b"quorvane:ignore"
# A compressed chunk's text is never allowed to inflate beyond this.
MAX_TEXT_BYTES = 1 << 20


class ChunkError(ValueError):
    """A `quorvane:ignore` chunk that cannot be read; the message says why."""


def chunks(png: bytes) -> Iterator[tuple[int, bytes, int]]:
    """(offset, type, length) of each whole chunk up to IEND; nothing for
    bytes that are not a PNG file. A file cut short ends the walk: decoding
    it says what is wrong."""
    if not png.startswith(SIGNATURE):
        return
    offset = len(SIGNATURE)
    while offset + 12 <= len(png):
        length, kind = struct.unpack(">I4s", png[offset : offset + 8])
        if offset + 12 + length > len(png):
            return
        yield offset, kind, length
        if kind == b"IEND":
            return
        offset += 12 + length


def is_ours(png: bytes, offset: int, kind: bytes) -> bool:
    start = offset + 8
    return kind == b"iTXt" and png[start : start + len(KEYWORD) + 1] == KEYWORD + b"\0"


def text_of(data: bytes) -> str:
    """The text of an iTXt chunk's data (keyword, flags, language and
    translated keyword before it), inflated when compressed."""
    rest = data[len(KEYWORD) + 1 :]
    if len(rest) < 2:
        raise ChunkError("its compression flags are missing")
    compressed, method = rest[0], rest[1]
    parts = rest[2:].split(b"\0", 2)
    if len(parts) != 3:
        raise ChunkError("its language tag or translated keyword is not terminated")
    text = parts[2]
    if compressed:
        if method != 0:
            raise ChunkError(f"compression method {method} is not zlib")
        inflater = zlib.decompressobj()
        try:
            text = inflater.decompress(text, MAX_TEXT_BYTES)
        except zlib.error as error:
            raise ChunkError(f"its compressed text does not inflate: {error}") from None
        if inflater.unconsumed_tail:
            raise ChunkError(f"its text inflates beyond {MAX_TEXT_BYTES} bytes")
    try:
        return text.decode("utf-8")
    except UnicodeDecodeError:
        raise ChunkError("its text is not UTF-8") from None


def parsed(text: str) -> tuple[Rectangle, ...]:
    try:
        given = json.loads(text)
    except (json.JSONDecodeError, RecursionError) as error:
        raise ChunkError(f"its text is not JSON: {error}") from None
    if not isinstance(given, list) or not all(
        isinstance(item, list) and len(item) == 4 and all(type(value) is int for value in item) for item in given
    ):
        raise ChunkError("its text is not a list of rectangles [x, y, width, height]")
    try:
        return regions.checked(given)
    except (TypeError, ValueError) as error:
        raise ChunkError(str(error)) from None


def read_regions(png: bytes) -> tuple[Rectangle, ...]:
    """The rectangles of the file's `quorvane:ignore` chunk; none without
    one. A chunk that is damaged, holds anything but sound rectangles, or
    stands twice raises ChunkError."""
    found: tuple[Rectangle, ...] | None = None
    for offset, kind, length in chunks(png):
        if not is_ours(png, offset, kind):
            continue
        if found is not None:
            raise ChunkError("the file holds two quorvane:ignore chunks")
        data = png[offset + 8 : offset + 8 + length]
        (crc,) = struct.unpack(">I", png[offset + 8 + length : offset + 12 + length])
        if zlib.crc32(kind + data) != crc:
            raise ChunkError("its CRC does not match its data")
        found = parsed(text_of(data))
    return found or ()


def embedded(*files: tuple[object, bytes]) -> list[tuple[Rectangle, ...]]:
    """The rectangles each file (name, bytes) carries; a malformed chunk is a
    CliError naming its file."""
    found = []
    for name, png in files:
        try:
            found.append(read_regions(png))
        except ChunkError as error:
            raise CliError(name, f"malformed quorvane:ignore chunk: {error}") from None
    return found


def chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def with_regions(png: bytes, given: Sequence[Sequence[int]]) -> bytes:
    """The same file with its `quorvane:ignore` chunk holding the
    rectangles (right after the header), or without one when there are none.
    Every other byte is kept."""
    walked = list(chunks(png))
    if not walked or walked[0][1] != b"IHDR":
        raise ValueError("not a PNG file")
    pieces, position = [], 0
    for offset, kind, length in walked:
        if is_ours(png, offset, kind):
            pieces.append(png[position:offset])
            position = offset + 12 + length
    pieces.append(png[position:])
    kept = b"".join(pieces)
    if not given:
        return kept
    header_end = len(SIGNATURE) + 12 + walked[0][2]
    text = json.dumps([list(rectangle) for rectangle in given], separators=(",", ":")).encode()
    data = KEYWORD + b"\0" + b"\0\0" + b"\0" + b"\0" + text
    return kept[:header_end] + chunk(b"iTXt", data) + kept[header_end:]
