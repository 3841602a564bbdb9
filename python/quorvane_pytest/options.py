"""The limits and the comparison's settings of one call: the call's own
values, else the ini options', else the defaults, each checked by the same
check as the `quorvane` command's option of the same meaning."""

from __future__ import annotations

import dataclasses
import functools
import pathlib
from collections.abc import Callable
from typing import Any

import pytest

from quorvane_cli import settings
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import read_input
from quorvane_cli.settings import Check, Limits, Settings
from quorvane_pytest.browsers import Scale


@dataclasses.dataclass(frozen=True)
class Keyword:
    """A keyword of assert_screenshot with its ini option, its check, the
    field of Settings or Limits it sets, and the ini option's help."""

    ini: str
    check: Check[Any]
    field: str
    help: str


NUMBERS = {
    "max_diff_pixels": Keyword(
        "screenshot_max_diff_pixels",
        settings.COUNT,
        "max_changed_pixels",
        "most changed pixels allowed (default 0 when no ratio or cluster limit is given either)",
    ),
    "max_diff_pixel_ratio": Keyword(
        "screenshot_max_diff_pixel_ratio",
        settings.RATIO_LIMIT,
        "max_changed_ratio",
        "largest fraction of changed pixels allowed, as 0.001 or 0.1%",
    ),
    "max_cluster_pixels": Keyword(
        "screenshot_max_cluster_pixels",
        settings.COUNT,
        "max_cluster_pixels",
        "most changed pixels allowed in one cluster of change, whatever the total",
    ),
    "min_ssim": Keyword("screenshot_min_ssim", settings.FINITE, "min_ssim", "lowest SSIM allowed"),
    "threshold": Keyword(
        "screenshot_threshold",
        settings.UNIT_INTERVAL,
        "threshold",
        "colour distance from which a pixel counts as changed, 0.0 to 1.0 (default 0.1)",
    ),
    "row_threshold": Keyword(
        "screenshot_row_threshold",
        settings.ROW_THRESHOLD,
        "row_threshold",
        "colour distance within which two rows still match when shifts are allowed, 0.0 to 1.0, or 'exact' "
        "(default: the threshold)",
    ),
    "max_edit_ratio": Keyword(
        "screenshot_max_edit_ratio",
        settings.UNIT_INTERVAL,
        "max_edit_ratio",
        "most rows inserted or deleted when aligning rows, as a fraction of all rows (default 0.25)",
    ),
}
ALLOW_SHIFTS = "screenshot_allow_shifts"
SETTINGS_FIELDS = {field.name for field in dataclasses.fields(Settings)}
# Playwright takes timeouts below 2**31 milliseconds: a little under 25 days.
LONGEST_TIMEOUT = 2_000_000
TIMEOUT = settings.Check(float, lambda seconds: seconds > 0, "a number of seconds above 0", LONGEST_TIMEOUT)
SCALES = ("device", "css")


@dataclasses.dataclass(frozen=True)
class Capturing:
    """The session's defaults of how a call captures and fails."""

    soft: bool = False
    scale: Scale = "device"
    style: str = ""  # the text of the screenshot_style_path file
    selectors: tuple[str, ...] = ()  # screenshot_mask


def capturing(getini: Callable[[str], Any], ini_dir: pathlib.Path) -> Capturing:
    """The ini options of capturing; a bad value is a ValueError naming its option."""
    scale = str(getini("screenshot_scale")).strip() or "device"
    if scale not in SCALES:
        raise ValueError(f"screenshot_scale must be 'device' or 'css', not {scale}")
    style = ""
    style_path = str(getini("screenshot_style_path")).strip()
    if style_path:
        try:
            style = read_input(ini_dir / style_path).decode("utf-8")
        except CliError as error:
            raise ValueError(f"screenshot_style_path: {error}") from None
        except UnicodeDecodeError:
            raise ValueError(f"screenshot_style_path: {style_path} is not UTF-8 text") from None
    selectors = tuple(line.strip() for line in getini("screenshot_mask") if line.strip())
    return Capturing(bool(getini("screenshot_soft")), scale, style, selectors)  # type: ignore[arg-type]


def add_ini_options(parser: pytest.Parser) -> None:
    for keyword in NUMBERS.values():
        parser.addini(keyword.ini, keyword.help, default="")
    parser.addini(
        "screenshot_soft",
        "let a test go on after a screenshot fails, and fail it at its end with every failed screenshot",
        type="bool",
        default=False,
    )
    parser.addini(
        "screenshot_scale",
        "'device' (default): captures in device pixels; 'css': in CSS pixels, one baseline for every device "
        "scale factor",
        default="",
    )
    parser.addini(
        "screenshot_style_path",
        "a CSS file (from the ini file's folder) applied to every capture, removed afterwards",
        default="",
    )
    parser.addini("screenshot_mask", "CSS selectors of the elements masked in every capture", type="linelist")
    parser.addini(
        ALLOW_SHIFTS,
        "judge screenshots whose rows align by their shift-aware figures: content that only moved passes",
        type="bool",
        default=False,
    )


def checked(label: str, read: Callable[[], Any]) -> Any:
    __tracebackhide__ = True  # the error is the caller's
    try:
        return read()
    except ValueError as error:
        raise ValueError(f"{label} {error}") from None


def ini_values(getini: Callable[[str], Any]) -> dict[str, Any]:
    """The values the ini options set, by keyword of the call; a value the
    command would refuse is a ValueError naming the option."""
    values = {}
    for keyword, option in NUMBERS.items():
        text = str(getini(option.ini)).strip()
        if text:
            values[keyword] = checked(option.ini, functools.partial(option.check.parse, text))
    values["allow_shifts"] = bool(getini(ALLOW_SHIFTS))
    return values


def call_value(keyword: str, value: object) -> Any:
    """A keyword's value given in a call, checked as the ini option's text is."""
    __tracebackhide__ = True  # the error is the caller's
    label = f"assert_screenshot: {keyword}"
    if keyword == "allow_shifts":
        if not isinstance(value, bool):
            raise TypeError(f"{label} must be True or False, not {value!r}")
        return value
    check = NUMBERS[keyword].check
    if isinstance(value, str) and check is settings.ROW_THRESHOLD:
        return checked(label, lambda: check.parse(value))
    try:
        return checked(label, lambda: check.value(value))
    except TypeError as error:
        raise TypeError(f"{label} {error}") from None


def timeout_value(timeout: object) -> float:
    __tracebackhide__ = True  # the error is the caller's
    label = "assert_screenshot: timeout"
    try:
        seconds: float = checked(label, lambda: TIMEOUT.value(timeout))
        return seconds
    except TypeError as error:
        raise TypeError(f"{label} {error}") from None


def look_values(soft: object, scale: object, style: object, capturing: Capturing) -> tuple[bool, Scale, str]:
    """The call's soft, scale and style, with the session's defaults; the
    style is the ini file's followed by the call's."""
    __tracebackhide__ = True  # the error is the caller's
    if soft is not None and not isinstance(soft, bool):
        raise TypeError(f"assert_screenshot: soft must be True or False, not {soft!r}")
    if scale is not None and scale not in SCALES:
        raise ValueError(f"assert_screenshot: scale must be 'device' or 'css', not {scale!r}")
    if style is not None and not isinstance(style, str):
        raise TypeError(f"assert_screenshot: style must be a str of CSS, not {type(style).__name__}")
    sheet = "\n".join(text for text in (capturing.style, style) if text)
    chosen_scale: Scale = capturing.scale if scale is None else scale  # type: ignore[assignment]
    return capturing.soft if soft is None else soft, chosen_scale, sheet


def call_values(**given: object) -> dict[str, Any]:
    """The values given in a call (None: not given), checked."""
    __tracebackhide__ = True  # the error is the caller's
    return {keyword: call_value(keyword, value) for keyword, value in given.items() if value is not None}


def settings_and_limits(values: dict[str, Any]) -> tuple[Settings, Limits]:
    """The Settings and Limits of the values by keyword."""
    fields = {NUMBERS[keyword].field if keyword in NUMBERS else keyword: value for keyword, value in values.items()}
    compared = Settings(**{name: value for name, value in fields.items() if name in SETTINGS_FIELDS})
    limits = Limits(**{name: value for name, value in fields.items() if name not in SETTINGS_FIELDS})
    return compared, limits
