"""How pairs are compared and judged: the comparison's settings and the
pass/fail limits with their defaults, and one check per value, shared by the
command's options, the pytest plugin's ini options and its call keywords."""

from __future__ import annotations

import dataclasses
import math
import numbers
from collections.abc import Callable, Sequence
from typing import Any, Generic, Literal, TypeVar

Rgb = tuple[int, int, int]
Rectangle = tuple[int, int, int, int]
RowThreshold = float | Literal["exact", "threshold"]

# The module takes sizes and counts as unsigned 64-bit integers.
LARGEST_COUNT = 2**64 - 1

T = TypeVar("T")


@dataclasses.dataclass(frozen=True)
class Check(Generic[T]):
    """One value's rule: how its text is read and what it must be. A value
    refused says "must be {requirement}, not {text}"."""

    convert: Callable[[str], T]
    accept: Callable[[T], bool]
    requirement: str
    highest: float | None = None  # where the values the module takes end

    def parse(self, text: str) -> T:
        """The value of an option's text, or ValueError."""
        try:
            value = self.convert(text.strip())
        except (ValueError, OverflowError):
            raise ValueError(f"must be {self.requirement}, not {text}") from None
        if not self.accept(value):
            raise ValueError(f"must be {self.requirement}, not {text}")
        if self.highest is not None and value > self.highest:  # type: ignore[operator]
            raise ValueError(f"must be at most {self.highest}, not {text}")
        return value

    def value(self, given: object) -> T:
        """A number given in Python (a call keyword), read as its text would be."""
        if isinstance(given, bool) or not isinstance(given, numbers.Real):
            raise TypeError(f"must be a number, not {type(given).__name__}")
        # repr gives back the very number, so a call and an ini file agree.
        return self.parse(repr(int(given)) if isinstance(given, numbers.Integral) else repr(float(given)))


def fraction_or_percentage(text: str) -> float:
    return float(text[:-1]) / 100 if text.endswith("%") else float(text)


def rgb(text: str) -> Rgb:
    if text.startswith("#") and len(text) == 7:
        red, green, blue = (int(text[i : i + 2], 16) for i in (1, 3, 5))
        return red, green, blue
    parts = tuple(int(part) for part in text.split(","))
    if len(parts) != 3:
        raise ValueError(text)
    return parts[0], parts[1], parts[2]


def row_threshold_text(text: str) -> RowThreshold:
    return text if text in ("exact", "threshold") else float(text)  # type: ignore[return-value]


def in_unit_range(value: float) -> bool:
    return 0.0 <= value <= 1.0  # false for NaN too


def at_least(lowest: int) -> Callable[[int], bool]:
    return lambda value: value >= lowest


UNIT_INTERVAL = Check(float, in_unit_range, "in the range [0.0, 1.0]")
RATIO_LIMIT = Check(fraction_or_percentage, in_unit_range, "a fraction in [0.0, 1.0] or a percentage")
FINITE = Check(float, math.isfinite, "a finite number")
COUNT = Check(int, at_least(0), "a whole number, 0 or more", LARGEST_COUNT)
POSITIVE = Check(int, at_least(1), "a whole number, 1 or more", LARGEST_COUNT)
# WebP holds at most 16383 pixels a side.
THUMBNAIL_SIDE = Check(int, at_least(1), "a whole number, 1 or more", 16383)
SECONDS = Check(float, lambda value: value > 0, "a number of seconds above 0", 86400 * 365)
COLOR = Check(rgb, lambda color: all(0 <= part <= 255 for part in color), "R,G,B with components 0 to 255, or #rrggbb")
EFFORT = Check(int, lambda value: 0 <= value <= 9, "0 to 9, 'fast' or 'default'")
ROW_THRESHOLD = Check(
    row_threshold_text,
    lambda value: isinstance(value, str) or in_unit_range(value),
    "in the range [0.0, 1.0], 'exact' or 'threshold'",
)


# A thumbnail's WebP effort as the module takes it: libwebp's lossless preset
# 0 to 9, "fast" for the module's own encoder, None for libwebp's defaults.
Effort = int | Literal["fast"] | None


def effort(text: str) -> Effort:
    """A thumbnail's WebP effort: 0 to 9, 'fast', or 'default' (None)."""
    word = text.strip()
    if word == "default":
        return None
    if word == "fast":
        return "fast"
    return EFFORT.parse(text)


@dataclasses.dataclass(frozen=True)
class Settings:
    """Every parameter of the module's comparison, with the module's defaults
    except max_clusters: the five largest clusters are listed. `ignore` holds
    the (x, y, width, height) rectangles left out of every figure.
    `row_threshold` is the colour distance within which two rows still
    match when rows are aligned: "threshold" follows `threshold`, "exact"
    matches rows only when their pixels are equal."""

    threshold: float = 0.1
    include_aa: bool = False
    alpha: float = 0.1
    diff_color: Rgb = (255, 0, 0)
    aa_color: Rgb = (255, 255, 0)
    diff_color_alt: Rgb | None = None
    max_clusters: int | None = 5
    min_pixels: int = 16
    min_side: int = 0
    dilation: int = 4
    merge_gap: int = 0
    merge_overlap: float = 0.5
    max_edit_ratio: float = 0.25
    max_edit_rows: int = 2048
    row_threshold: RowThreshold = "threshold"
    ignore: tuple[Rectangle, ...] = ()
    mask_color: Rgb = (255, 0, 255)

    def __post_init__(self) -> None:
        # Tuples, whatever sequences were given: the settings stay hashable.
        object.__setattr__(self, "ignore", rectangles(self.ignore))
        object.__setattr__(self, "mask_color", tuple(self.mask_color))

    def with_regions(self, *groups: Sequence[Sequence[int]]) -> Settings:
        """The same settings with the rectangles of the groups added after its own."""
        return dataclasses.replace(self, ignore=combined(self.ignore, *groups))

    def region_options(self) -> dict[str, Any]:
        """For building a Comparison or a batch: the regions painted into both images."""
        return {"ignore": self.ignore, "mask_color": self.mask_color}

    def pixel_options(self) -> dict[str, Any]:
        return {"threshold": self.threshold, "include_aa": self.include_aa}

    def drawing_options(self) -> dict[str, Any]:
        return {
            **self.pixel_options(),
            "alpha": self.alpha,
            "diff_color": self.diff_color,
            "aa_color": self.aa_color,
            "diff_color_alt": self.diff_color_alt,
        }

    def cluster_options(self) -> dict[str, Any]:
        return {
            **self.pixel_options(),
            "min_pixels": self.min_pixels,
            "min_side": self.min_side,
            "dilation": self.dilation,
            "max_clusters": self.max_clusters,
            "merge_gap": self.merge_gap,
            "merge_overlap": self.merge_overlap,
        }

    def alignment_row_threshold(self) -> float | None:
        if self.row_threshold == "exact":
            return None
        if self.row_threshold == "threshold":
            return self.threshold
        return self.row_threshold

    def alignment_options(self) -> dict[str, Any]:
        return {
            **self.pixel_options(),
            "max_edit_ratio": self.max_edit_ratio,
            "max_edit_rows": self.max_edit_rows,
            "row_threshold": self.alignment_row_threshold(),
        }


@dataclasses.dataclass(frozen=True)
class Limits:
    """Pass/fail limits. With none given, any changed pixel fails, as cmp
    would. `max_cluster_pixels` fails a pair one of whose clusters holds
    more changed pixels, whatever the total."""

    max_changed_pixels: int | None = None
    max_changed_ratio: float | None = None
    min_ssim: float | None = None
    max_cluster_pixels: int | None = None
    allow_shifts: bool = False

    def in_force(self, ssim_is_a_limit: bool = True) -> Limits:
        """The limits as applied: with none of them given, at most 0 changed
        pixels. The pytest plugin does not count an SSIM limit as one, so
        that a test asking only for an SSIM still fails on a changed pixel."""
        given = [self.max_changed_pixels, self.max_changed_ratio, self.max_cluster_pixels]
        if ssim_is_a_limit:
            given.append(self.min_ssim)
        if all(value is None for value in given):
            return dataclasses.replace(self, max_changed_pixels=0)
        return self


def as_dict(value: Settings | Limits) -> dict[str, Any]:
    """The fields of a Settings or Limits, for JSON."""
    return dataclasses.asdict(value)


def rectangles(given: Sequence[Sequence[int]]) -> tuple[Rectangle, ...]:
    """Rectangles as 4-tuples (the module checks their values)."""
    return tuple((r[0], r[1], r[2], r[3]) if len(r) == 4 else tuple(r) for r in given)  # type: ignore[misc]


def combined(*groups: Sequence[Sequence[int]]) -> tuple[Rectangle, ...]:
    """The rectangles of all the groups, in order, each once."""
    return tuple(dict.fromkeys(rectangle for group in groups for rectangle in rectangles(group)))
