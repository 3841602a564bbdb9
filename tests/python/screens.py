"""Synthetic screenshot pairs: pages of noise, so that every row is distinct
and the row alignment of a pair is unambiguous; a suite of them as a test
suite keeps its screenshots; and the command run in the test's own process."""

import numpy as np
from imaging import png_bytes, random_rgba

from quorvane_cli import main


def run(capsys, *args):
    """(exit status, stdout, stderr) of the command run in this process."""
    try:
        status = main([str(arg) for arg in args])
    except SystemExit as exit:  # argparse's usage errors
        status = exit.code
    out, err = capsys.readouterr()
    return status, out, err


def page(height=96, width=48, seed=1):
    """An opaque page of random pixels."""
    return random_rgba(height, width, seed, opaque=True)


def with_block(image, y=20, x=10, size=8):
    """The image with a solid black square painted in place."""
    changed = image.copy()
    changed[y : y + size, x : x + size, :3] = 0
    return changed


def taller(image, at=40, rows=6, seed=9):
    """The image with new rows of noise inserted at row `at`."""
    return np.concatenate([image[:at], page(rows, image.shape[1], seed), image[at:]])


def shifted(image, at=40, rows=6, seed=9):
    """The image taller, its bottom rows pushed out so the size stays:
    content moved down, nothing changed in place."""
    return taller(image, at, rows, seed)[: len(image)]


def write(path, image):
    """Writes an image (or bytes as they are) to a file, its folder made."""
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(image if isinstance(image, bytes) else png_bytes(image))
    return path


def suite():
    """Relative path -> (baseline or None, current or None, status): every
    status, in two levels of folders, one file named in upper case."""
    base, twice = page(), page(64, 40, 4)
    return {
        "home.png": (base, base, "unchanged"),
        "docs/changed.png": (base, with_block(base), "changed"),
        "docs/shifted.png": (base, shifted(base), "shifted"),
        "new.png": (None, page(80, 48, 5), "new"),
        "old.png": (page(72, 48, 3), None, "missing"),
        "same/Twice.PNG": (twice, twice, "unchanged"),
        "broken.png": (base, b"not a png", "error"),
    }


def write_suite(root, pages):
    """Writes the pages into root/baseline and root/current; returns both."""
    for path, (baseline, current, _) in pages.items():
        for side, image in (("baseline", baseline), ("current", current)):
            if image is not None:
                write(root / side / path, image)
    return root / "baseline", root / "current"
