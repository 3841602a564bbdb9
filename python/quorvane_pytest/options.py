"""The limits and the threshold of one call: the call's own values, else
the ini options', else the defaults, each checked as the `quorvane`
command checks the option of the same meaning."""

import argparse
import dataclasses
import numbers

from quorvane_cli import analysis, cli

# A keyword of assert_screenshot -> (its ini option, the command's check of
# the text, the field of Settings or Limits it sets, the ini option's help).
NUMBERS = {
    "max_diff_pixels": (
        "screenshot_max_diff_pixels",
        cli.count,
        "max_changed_pixels",
        "most changed pixels allowed (default 0 when no ratio is given either)",
    ),
    "max_diff_pixel_ratio": (
        "screenshot_max_diff_pixel_ratio",
        cli.ratio_limit,
        "max_changed_ratio",
        "largest fraction of changed pixels allowed, as 0.001 or 0.1%",
    ),
    "min_ssim": ("screenshot_min_ssim", cli.finite, "min_ssim", "lowest SSIM allowed"),
    "threshold": (
        "screenshot_threshold",
        cli.unit_interval,
        "threshold",
        "colour distance from which a pixel counts as changed, 0.0 to 1.0 (default 0.1)",
    ),
}
ALLOW_SHIFTS = "screenshot_allow_shifts"


def add_ini_options(parser):
    for ini, _, _, help in NUMBERS.values():
        parser.addini(ini, help, default="")
    parser.addini(
        ALLOW_SHIFTS, "judge screenshots whose rows align by what changed in place only", type="bool", default=False
    )


def checked(label, text, check):
    __tracebackhide__ = True  # the error is the caller's
    try:
        return check(text)
    except argparse.ArgumentTypeError as error:
        raise ValueError(f"{label} {error}") from None


def ini_values(getini):
    """The values the ini options set, by keyword of the call; a value the
    command would refuse is a ValueError naming the option."""
    values = {
        keyword: checked(ini, getini(ini).strip(), check)
        for keyword, (ini, check, _, _) in NUMBERS.items()
        if getini(ini).strip()
    }
    values["allow_shifts"] = getini(ALLOW_SHIFTS)
    return values


def call_values(**given):
    """The values given in a call (None: not given), checked as the ini
    options' text is."""
    __tracebackhide__ = True  # the error is the caller's
    values = {}
    for keyword, value in given.items():
        if value is None:
            continue
        if keyword == "allow_shifts":
            if not isinstance(value, bool):
                raise TypeError(f"assert_screenshot: allow_shifts must be True or False, not {value!r}")
        elif isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise TypeError(f"assert_screenshot: {keyword} must be a number, not {type(value).__name__}")
        else:
            # The command's check reads text; repr gives back the very number.
            text = repr(int(value)) if isinstance(value, numbers.Integral) else repr(float(value))
            value = checked(f"assert_screenshot: {keyword}", text, NUMBERS[keyword][1])
        values[keyword] = value
    return values


def settings_and_limits(values):
    """The Settings and Limits of the values by keyword; with no pixel or
    ratio limit among them, any changed pixel fails."""
    fields = {NUMBERS[keyword][2] if keyword in NUMBERS else keyword: value for keyword, value in values.items()}
    threshold = fields.pop("threshold", None)
    settings = analysis.Settings() if threshold is None else analysis.Settings(threshold=threshold)
    limits = analysis.Limits(**fields)
    if limits.max_changed_pixels is None and limits.max_changed_ratio is None:
        limits = dataclasses.replace(limits, max_changed_pixels=0)
    return settings, limits
