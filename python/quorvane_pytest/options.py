"""The limits and the comparison's settings of one call: the call's own
values, else the ini options', else the defaults, each checked by the same
check as the `quorvane` command's option of the same meaning."""

from __future__ import annotations

import dataclasses
from collections.abc import Callable
from typing import Any

import pytest

from quorvane_cli import settings
from quorvane_cli.settings import Check, Limits, Settings


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


def add_ini_options(parser: pytest.Parser) -> None:
    for keyword in NUMBERS.values():
        parser.addini(keyword.ini, keyword.help, default="")
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
    values = {
        keyword: checked(option.ini, lambda text=text, option=option: option.check.parse(text))
        for keyword, option in NUMBERS.items()
        if (text := str(getini(option.ini)).strip())
    }
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
