"""Files named by fsspec URLs (s3://bucket/run-42/, gs://..., memory://...,
file:///...): the URL half of the report's file operations. fsspec is
imported on first use, so a run on local paths never needs it."""

from __future__ import annotations

import dataclasses
import errno
import re
import secrets
from typing import Any

SCHEME = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*://")


def is_url(text: str) -> bool:
    return SCHEME.match(text) is not None


@dataclasses.dataclass(frozen=True)
class Url:
    """A file or directory named by a URL; joined with `/` like a path."""

    text: str

    def __truediv__(self, relative: object) -> Url:
        return Url(f"{self.text.rstrip('/')}/{relative}")

    def __str__(self) -> str:
        return self.text


class Unsupported(Exception):
    """A URL that this installation cannot open: fsspec or the package of
    its protocol is missing, or the protocol is unknown."""


def filesystem(url: Url) -> tuple[Any, str]:
    """(fsspec filesystem, path within it) of a URL."""
    try:
        import fsspec
    except ImportError:
        raise Unsupported("fsspec is not installed: pip install 'quorvane[dask]'") from None
    try:
        found: tuple[Any, str] = fsspec.core.url_to_fs(url.text)
        return found
    except (ImportError, ValueError) as error:  # "Install s3fs to access S3", "Protocol not known: ..."
        raise Unsupported(str(error)) from None


def is_local(fs: Any) -> bool:
    from fsspec.implementations.local import LocalFileSystem

    return isinstance(fs, LocalFileSystem)


def read(url: Url, limit: int) -> bytes:
    """A file's bytes, when it holds at most `limit` of them."""
    fs, path = filesystem(url)
    if fs.size(path) > limit:
        raise OSError(errno.EFBIG, f"larger than {limit} bytes, the most an input may hold")
    return bytes(fs.cat_file(path))


def write(url: Url, data: bytes) -> None:
    fs, path = filesystem(url)
    if is_local(fs):  # object stores have no directories to make
        fs.makedirs(fs._parent(path), exist_ok=True)
    fs.pipe_file(path, data)


def keep(url: Url, data: bytes) -> None:
    """Writes a file the user keeps: under a temporary name beside it, then
    moved into place, so that it appears whole or not at all."""
    fs, path = filesystem(url)
    parent, name = fs._parent(path), path.rstrip("/").rsplit("/", 1)[-1]
    temporary = f"{parent}/.{name}.{secrets.token_hex(4)}"
    if is_local(fs):
        fs.makedirs(parent, exist_ok=True)
    fs.pipe_file(temporary, data)
    try:
        fs.mv(temporary, path)
    except BaseException:
        fs.rm_file(temporary)
        raise


def remove(url: Url) -> None:
    fs, path = filesystem(url)
    try:
        fs.rm_file(path)
    except FileNotFoundError:
        pass


def make_directory(url: Url) -> None:
    fs, path = filesystem(url)
    fs.makedirs(path, exist_ok=True)


def check_directory(url: Url) -> None:
    fs, path = filesystem(url)
    if not fs.isdir(path):
        raise (
            NotADirectoryError(0, "Not a directory")
            if fs.exists(path)
            else FileNotFoundError(0, "No such file or directory")
        )


def png_files(root: Url) -> dict[str, Url]:
    """Relative path -> Url of every PNG file under root."""
    fs, top = filesystem(root)
    top = top.rstrip("/")
    return {path[len(top) + 1 :]: root / path[len(top) + 1 :] for path in fs.find(top) if path.lower().endswith(".png")}


def relative_files(root: Url) -> list[str]:
    """Every file under root, as paths relative to it."""
    fs, top = filesystem(root)
    top = top.rstrip("/")
    if not fs.exists(top):
        return []
    return [path[len(top) + 1 :] for path in fs.find(top)]
