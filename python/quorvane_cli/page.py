"""The results page: one HTML file with its style and script inline (it
loads nothing from the network), drawn from a results manifest by the
Jinja2 templates in templates/, for the report, the pytest plugin and the
review server alike. Opened as a file it cannot write: each pair gets an
"Accept" checkbox and the page builds the `quorvane approve` command; served
by `quorvane review` it gets buttons that accept and undo at once."""

from __future__ import annotations

import functools
import pathlib
import typing
import urllib.parse
from collections.abc import Sequence

from quorvane_cli import account, reading
from quorvane_cli.manifest import ACCEPTABLE, STATUSES, Band, Box, Limits, Manifest, Pair, ReadBand, Size
from quorvane_cli.safe_files import shown

if typing.TYPE_CHECKING:
    import jinja2

LABELS = {
    "unchanged": "unchanged",
    "changed": "changed",
    "shifted": "shifted only",
    "new": "new",
    "missing": "missing",
    "error": "unreadable",
}
VIEWS = ("Side by side", "Diff", "Slider", "Blend", "Flip")
# The table's preview box: an image is scaled to fit it whole.
PREVIEW_WIDTH, PREVIEW_HEIGHT = 96, 64


@functools.cache
def environment() -> jinja2.Environment:
    import jinja2  # only pages need it: `quorvane compare` runs without

    templates = jinja2.Environment(
        loader=jinja2.FileSystemLoader(pathlib.Path(__file__).with_name("templates")),
        autoescape=True,
        undefined=jinja2.StrictUndefined,
        trim_blocks=True,
        lstrip_blocks=True,
    )
    templates.globals.update(
        LABELS=LABELS,
        STATUSES=STATUSES,
        VIEWS=VIEWS,
        acceptable=lambda pair: pair["status"] in ACCEPTABLE and pair["baseline"] is not None,
        preview_size=preview_size,
        cluster_marks=cluster_marks,
        region_marks=region_marks,
        gutter_marks=gutter_marks,
        shift_marks=shift_marks,
        figures_text=figures_text,
        shifts_text=shifts_text,
        limits_text=limits_text,
        shown_bands=shown_bands,
    )
    templates.filters.update(number=number, percent=percent, shown=shown)  # shown: names that cannot move a cursor
    return templates


def number(value: int) -> str:
    return f"{value:,}"


def percent(value: float) -> str:
    return f"{value:.2%}"


def plural(count: int, word: str) -> str:
    return f"{number(count)} {word}{'' if count == 1 else 's'}"


def preview_size(size: Size) -> tuple[int, int]:
    """The table preview's size: the image scaled to fit the box whole."""
    scale = min(PREVIEW_WIDTH / size["width"], PREVIEW_HEIGHT / size["height"])
    return max(1, round(size["width"] * scale)), max(1, round(size["height"] * scale))


def rectangle(x: float, y: float, width: float, height: float, size: Size) -> str | None:
    """The style placing a rectangle over an image, in percent of its size so
    that it scales with it; cut at the image's edge, None when wholly outside."""
    right, bottom = min(x + width, size["width"]), min(y + height, size["height"])
    if right <= x or bottom <= y:
        return None
    return (
        f"left:{share(x, size['width'])};top:{share(y, size['height'])};"
        f"width:{share(right - x, size['width'])};height:{share(bottom - y, size['height'])}"
    )


def share(part: float, whole: int) -> str:
    """A length in percent of the image's, fine enough for any screen."""
    return f"{100 * part / whole:.2f}%"


def marks(kind: str, placed: Sequence[tuple[str | None, str]]) -> list[dict[str, str]]:
    return [{"kind": kind, "style": style, "title": title} for style, title in placed if style is not None]


def cluster_marks(boxes: Sequence[Box], size: Size) -> list[dict[str, str]]:
    """Cluster boxes over the current image; a box reaching into padding is
    cut at its edge."""
    return marks(
        "box",
        [
            (
                rectangle(box["x"], box["y"], box["width"], box["height"], size),
                f"cluster {rank}: {box['width']}x{box['height']} at ({box['x']}, {box['y']}), "
                f"{box['pixel_count']} pixels",
            )
            for rank, box in enumerate(boxes, 1)
        ],
    )


def region_marks(pair: Pair, size: Size) -> list[dict[str, str]]:
    """The pair's ignored regions over one of its images: canvas pixels,
    which are each image's own pixels up to its size."""
    return marks(
        "ignored",
        [
            (rectangle(x, y, width, height, size), f"ignored region {width}x{height} at ({x}, {y}): not compared")
            for x, y, width, height in pair["figures"]["ignore"] or ()
        ],
    )


def band_text(band: Band) -> str:
    return f"{plural(band['rows'], 'row')} {band['kind']} at row {band['y']}"


def read_band_text(band: ReadBand) -> str:
    """A band as the command's account tells it."""
    return account.band_text(reading.ReadBand(**band))


def gutter_marks(bands: Sequence[Band], height: int) -> list[dict[str, str]]:
    """The bands in the strip beside the current image: inserted rows as
    their extent, deleted ones as a line where they went missing."""
    placed = []
    for band in bands:
        extent = f"height:{share(band['rows'], height)}" if band["kind"] == "inserted" else "height:3px"
        placed.append((f"top:{share(min(band['y'], height), height)};{extent}", band_text(band)))
    return [{**mark, "kind": f"band {band['kind']}"} for mark, band in zip(marks("band", placed), bands)]


def shift_marks(bands: Sequence[Band], size: Size, side: str) -> list[dict[str, str]]:
    """The bands drawn on an image itself: on the current image the rows
    inserted, on the baseline the rows deleted, each over the rows it covers
    there; the other kind as a line where its rows are absent."""
    placed: list[dict[str, str]] = []
    offset = 0  # baseline row minus current row, above the band
    for band in bands:
        y = min(band["y"] + (offset if side == "baseline" else 0), size["height"])
        offset += band["rows"] if band["kind"] == "deleted" else -band["rows"]
        covers = (band["kind"] == "inserted") == (side == "current")
        rows = min(band["rows"], size["height"] - y) if covers else 0
        style = f"top:{share(y, size['height'])}" + (f";height:{share(rows, size['height'])}" if rows else "")
        placed.append(
            {"kind": f"shift {band['kind']}" + ("" if rows else " edge"), "style": style, "title": band_text(band)}
        )
    return placed


def shown_bands(bands: Sequence[ReadBand], most: int = 4) -> str:
    listed = [read_band_text(band) for band in bands[:most]]
    if len(bands) > most:
        listed.append(f"{len(bands) - most} more")
    return f"{plural(len(bands), 'shift band')}: " + ", ".join(listed)


def shifts_text(pair: Pair) -> str:
    """The bands of a pair that passed only because shifts were allowed."""
    aligned = pair["figures"]["alignment"]
    return ", ".join(read_band_text(band) for band in aligned["bands"]) if aligned is not None else ""


def figures_text(pair: Pair) -> list[str]:
    figures = pair["figures"]
    changed, ratio, ssim = figures["changed_pixels"], figures["changed_ratio"], figures["ssim"]
    if changed is None or ratio is None or ssim is None or figures["clusters"] is None:
        return []
    parts = [
        f"{number(changed)} pixels changed ({percent(ratio)})",
        f"SSIM {ssim:.6f}",
        plural(figures["clusters"]["total"], "cluster"),
    ]
    if figures["size_mismatch"]:
        parts.append(f"sizes differ, compared on {figures['width']}x{figures['height']}")
    if figures["ignore"]:
        parts.append(
            f"{number(figures['ignored_pixels'] or 0)} pixels ignored in {plural(len(figures['ignore']), 'region')}"
        )
    aligned = figures["alignment"]
    if aligned is None:
        parts.append("rows do not align")
    else:
        if aligned["bands"]:
            parts.append(shown_bands(aligned["bands"]))
        parts.append(f"aligned SSIM {aligned['ssim']:.6f}")
        parts.append(f"{number(aligned['in_place_pixels'])} pixels changed in place")
    return parts


def limits_text(limits: Limits) -> str:
    parts = []
    if limits["max_changed_pixels"] is not None:
        parts.append(f"at most {number(limits['max_changed_pixels'])} changed pixels")
    if limits["max_changed_ratio"] is not None:
        parts.append(f"at most {percent(limits['max_changed_ratio'])} changed")
    if limits["min_ssim"] is not None:
        parts.append(f"SSIM at least {limits['min_ssim']}")
    if limits["max_cluster_pixels"] is not None:
        parts.append(f"no cluster over {number(limits['max_cluster_pixels'])} changed pixels")
    return ", ".join(parts) + (", shifts allowed" if limits["allow_shifts"] else "")


def common_limits(pairs: Sequence[Pair]) -> Limits | None:
    """The limits every pair was judged by, or None where pairs differ."""
    distinct = {tuple(pair["limits"].values()) for pair in pairs}
    return pairs[0]["limits"] if len(distinct) == 1 else None


def render(data: Manifest, *, token: str | None = None) -> str:
    """The page of a results manifest: a static page, or with the token of a
    review server the page it serves (its links carry the token)."""
    pairs = data["pairs"]
    # Pairs beyond the limits first: they are the ones to look at.
    detailed = sorted(
        (item for item in enumerate(pairs) if item[1]["status"] != "unchanged"),
        key=lambda item: (item[1]["passed"], item[0]),
    )
    suffix = "" if token is None else "?" + urllib.parse.urlencode({"token": token})
    return (
        environment()
        .get_template("page.html.j2")
        .render(
            data=data,
            summary=data["summary"],
            pairs=pairs,
            detailed=detailed,
            limits=common_limits(pairs) if pairs else None,
            served=token is not None,
            url=lambda path: urllib.parse.quote(path) + suffix,
            config={"served": token is not None, "token": token},
        )
    )
