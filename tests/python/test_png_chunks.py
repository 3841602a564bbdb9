"""Ignore regions that travel in a PNG file's quorvane:ignore chunk: written
without touching a pixel (pypng decodes the same pixels and checks every
CRC, Pillow reads the chunk as iTXt), read back from Pillow's own chunks,
refused with the file's name when malformed, and applied together, from
both images, by the command, the report and the plugin."""

import io
import json

import numpy as np
import pytest
import screens
from imaging import png_bytes, pypng_rgba
from PIL import Image, PngImagePlugin

from quorvane_cli import png_chunks
from quorvane_pytest import assertion, naming, session

BASE = screens.page()
CLOCK_AT, MOVED_TO = (4, 10, 16, 12), (24, 60, 16, 12)


def with_clock(image, region, seed):
    x, y, width, height = region
    shown = image.copy()
    shown[y : y + height, x : x + width] = screens.page(height, width, seed)
    return shown


def pillow_text(png):
    with Image.open(io.BytesIO(png)) as image:
        image.load()
        return image.text.get("quorvane:ignore")


def test_the_chunk_round_trip():
    png = png_bytes(BASE)
    carried = png_chunks.with_regions(png, [(1, 2, 3, 4), (10, 20, 5, 6)])
    assert png_chunks.read_regions(carried) == ((1, 2, 3, 4), (10, 20, 5, 6))
    assert json.loads(pillow_text(carried)) == [[1, 2, 3, 4], [10, 20, 5, 6]]
    assert np.array_equal(pypng_rgba(carried), BASE)
    assert png_chunks.read_regions(png_chunks.with_regions(carried, [(0, 0, 1, 1)])) == ((0, 0, 1, 1),)
    assert png_chunks.with_regions(carried, []) == png  # taken out, every other byte as it was
    assert png_chunks.read_regions(png) == ()
    info = PngImagePlugin.PngInfo()
    info.add_itxt("quorvane:ignore", "[[3, 4, 5, 6]]", zip=True)
    written = io.BytesIO()
    Image.fromarray(BASE).save(written, "PNG", pnginfo=info)
    assert png_chunks.read_regions(written.getvalue()) == ((3, 4, 5, 6),)


def itxt(text, compressed=False):
    data = text if compressed else text.encode()
    return png_chunks.chunk(b"iTXt", b"quorvane:ignore\0" + bytes([compressed, 0]) + b"\0\0" + data)


def inserted(png, *chunks):
    return png[:33] + b"".join(chunks) + png[33:]  # after the 25 bytes of the header chunk


def bad_crc(png):
    carried = png_chunks.with_regions(png, [(0, 0, 1, 1)])
    end = 33 + 12 + len(b"quorvane:ignore\0\0\0\0\0[[0,0,1,1]]")
    return carried[: end - 1] + bytes([carried[end - 1] ^ 1]) + carried[end:]


MALFORMED = {
    "not JSON": (lambda png: inserted(png, itxt("[[1, 2")), "its text is not JSON"),
    "not rectangles": (lambda png: inserted(png, itxt('{"x": 1}')), "is not a list of rectangles"),
    "three numbers": (lambda png: inserted(png, itxt("[[1, 2, 3]]")), "is not a list of rectangles"),
    "no width": (lambda png: inserted(png, itxt("[[0, 0, 0, 5]]")), "has a width below 1"),
    "two chunks": (lambda png: inserted(png, itxt("[]"), itxt("[]")), "two quorvane:ignore chunks"),
    "not zlib": (lambda png: inserted(png, itxt(b"[[1, 1, 1, 1]]", compressed=True)), "does not inflate"),
    "damaged": (bad_crc, "its CRC does not match"),
}


@pytest.mark.parametrize("name", MALFORMED)
def test_a_malformed_chunk_names_its_file(capsys, tmp_path, name):
    damage, reason = MALFORMED[name]
    with pytest.raises(png_chunks.ChunkError, match=reason):
        png_chunks.read_regions(damage(png_bytes(BASE)))
    good = screens.write(tmp_path / "b/page.png", BASE)
    bad = screens.write(tmp_path / "c/page.png", damage(png_bytes(BASE)))
    status, _, err = screens.run(capsys, "compare", good, bad)
    assert status == 2 and f"{bad}: malformed quorvane:ignore chunk: " in err
    assert screens.run(capsys, "compare", good, bad, "--no-embedded-regions")[0] == 0
    status, _, err = screens.run(capsys, "report", tmp_path / "b", tmp_path / "c", "-o", tmp_path / "out", "-q")
    assert status == 2 and f"{bad}: malformed quorvane:ignore chunk: " in err


@pytest.mark.parametrize(
    "baseline_regions, current_regions, options, status",
    [
        ([CLOCK_AT], [MOVED_TO], [], 0),  # where it was and where it is
        ([CLOCK_AT], [], [], 1),
        ([], [MOVED_TO], [], 1),
        ([CLOCK_AT], [], ["--ignore", ",".join(map(str, MOVED_TO))], 0),
        ([CLOCK_AT], [MOVED_TO], ["--no-embedded-regions"], 1),
    ],
)
def test_the_regions_of_both_images_apply_together(
    capsys, tmp_path, baseline_regions, current_regions, options, status
):
    """A clock that moved: left out where either image says it stands."""
    baseline = png_chunks.with_regions(png_bytes(with_clock(BASE, CLOCK_AT, 2)), baseline_regions)
    current = png_chunks.with_regions(png_bytes(with_clock(BASE, MOVED_TO, 3)), current_regions)
    paths = screens.write(tmp_path / "b/page.png", baseline), screens.write(tmp_path / "c/page.png", current)
    assert screens.run(capsys, "compare", *paths, *options)[0] == status
    report = ("report", tmp_path / "b", tmp_path / "c", "-o", tmp_path / "out", "-q", *options)
    assert screens.run(capsys, *report)[0] == status


def test_the_plugin_writes_and_applies_the_regions(tmp_path):
    """A baseline carries its call's regions, which later calls apply; an
    update writes the updating call's; the actual and diff images carry
    theirs; a malformed chunk fails until the baseline is written again.
    PNG bytes given to the plugin bring their chunk's regions along."""
    run = session.Run(naming.Places(tmp_path), tmp_path, tmp_path / "out", False, {})
    test = naming.Test("t.py::test_page", tmp_path / "t.py", "test_page")

    def call(png, update=False, name="page", **options):
        run.update = update
        assertion.AssertScreenshot(assertion.Screenshots(run, test))(png, name, **options)

    baseline = tmp_path / "__screenshots__/t/page.png"
    with pytest.raises(AssertionError, match="no baseline"):
        call(png_bytes(with_clock(BASE, CLOCK_AT, 2)), ignore=[CLOCK_AT])
    assert json.loads(pillow_text(baseline.read_bytes())) == [list(CLOCK_AT)]
    call(png_bytes(with_clock(BASE, CLOCK_AT, 3)))
    moved = png_bytes(with_clock(with_clock(BASE, CLOCK_AT, 3), MOVED_TO, 4))
    with pytest.raises(AssertionError, match="differs from its baseline"):
        call(moved)
    actual, diff = (tmp_path / f"out/t.py--test_page/page-{suffix}.png" for suffix in ("actual", "diff"))
    assert pillow_text(actual.read_bytes()) is None and json.loads(pillow_text(diff.read_bytes())) == [list(CLOCK_AT)]
    call(moved, update=True, ignore=[MOVED_TO])  # passing: left as it was
    assert json.loads(pillow_text(baseline.read_bytes())) == [list(CLOCK_AT)]
    call(png_bytes(screens.with_block(BASE)), update=True, ignore=[MOVED_TO])
    assert json.loads(pillow_text(baseline.read_bytes())) == [list(MOVED_TO)]
    assert np.array_equal(pypng_rgba(baseline.read_bytes()), screens.with_block(BASE))

    baseline.write_bytes(MALFORMED["not JSON"][0](png_bytes(BASE)))
    with pytest.raises(AssertionError, match="page.png has a malformed quorvane:ignore chunk: its text is not JSON"):
        call(png_bytes(BASE))
    call(png_bytes(BASE), update=True)
    assert png_chunks.read_regions(baseline.read_bytes()) == ()
    call(png_chunks.with_regions(png_bytes(with_clock(BASE, CLOCK_AT, 2)), [CLOCK_AT]))
    with pytest.raises(ValueError, match="the target's bytes: malformed quorvane:ignore chunk"):
        call(inserted(png_bytes(BASE), itxt("[[")), name="other")
