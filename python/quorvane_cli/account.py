"""The human-readable account of one comparison, as the command prints it
and the pytest plugin's failure message shows it."""

from __future__ import annotations

from quorvane_cli import analysis
from quorvane_cli.analysis import AlignmentFigures, ClusterFigures, Figures, Verdict
from quorvane_cli.reading import ReadBand
from quorvane_cli.safe_files import shown


def not_aligned_reason(figures: Figures) -> str:
    if figures.baseline.width != figures.current.width:
        return "the rows do not align: the widths differ"
    return "the rows do not align: more rows changed than the edit budget allows"


def size_text(size: analysis.Size) -> str:
    return f"{size.width}x{size.height}"


def band_text(band: ReadBand) -> str:
    if band.kind == "moved by a row":
        places = f"{band.rows} place{'' if band.rows == 1 else 's'}"
        return f"content moved by a row at {places} between rows {band.y} and {band.end}, as layout rounds positions"
    text = f"{band.rows} row{'' if band.rows == 1 else 's'} {band.kind} at row {band.y}"
    if band.exempt_rows == band.rows:
        return f"{text} (crossed the bottom edge: not counted)"
    if band.exempt_rows:
        return f"{text} ({band.exempt_rows} of them crossed the bottom edge: not counted)"
    return text


def aligned_text(aligned: AlignmentFigures) -> str:
    return (
        f"aligned    SSIM {aligned.ssim:.6f}, {aligned.in_place_pixels} pixels changed in place, "
        f"{aligned.inserted_pixels} in inserted rows, {aligned.deleted_pixels} in deleted rows "
        f"({aligned.changed_pixels}, {aligned.changed_ratio:.2%}, with shifts), "
    )


def result_text(verdict: Verdict, figures: Figures) -> str:
    if verdict.failures:
        return "beyond limits: " + "; ".join(verdict.failures)
    if verdict.passed_with_shifts and figures.alignment is not None:
        return "passed with shifts: " + ", ".join(band_text(band) for band in figures.alignment.bands)
    return "within limits"


def format_comparison(baseline: str, current: str, figures: Figures, verdict: Verdict) -> str:
    """The human-readable account of one comparison."""
    pixels = figures.width * figures.height
    lines = [
        f"baseline   {shown(baseline)} ({size_text(figures.baseline)})",
        f"current    {shown(current)} ({size_text(figures.current)})",
    ]
    if figures.size_mismatch:
        lines.append(
            f"sizes      differ: compared on {figures.width}x{figures.height}, "
            "the area missing from the smaller image counting as transparent"
        )
    if figures.ignore:
        ignored, regions_count = figures.ignored_pixels, len(figures.ignore)
        lines.append(
            f"ignored    {ignored} pixels left out ({analysis.ratio(ignored, pixels):.2%}), "
            f"in {regions_count} region{'' if regions_count == 1 else 's'}"
        )
    lines.append(f"changed    {figures.changed_pixels} of {pixels} pixels ({figures.changed_ratio:.2%})")
    lines.append(f"SSIM       {figures.ssim:.6f}")
    lines.extend(cluster_lines("clusters   ", "", figures.clusters))
    aligned = figures.alignment
    if figures.changed_pixels and aligned is None:
        lines.append(f"shifts     none: {not_aligned_reason(figures)}")
    elif aligned is not None and aligned.bands:
        lines.append("shifts     " + ", ".join(band_text(band) for band in aligned.bands))
        lines.extend(cluster_lines(aligned_text(aligned), " in place", aligned.clusters))
    lines.append(f"status     {figures.status}")
    lines.append(f"result     {result_text(verdict, figures)}")
    return "\n".join(lines)


def cluster_lines(lead: str, where: str, clusters: ClusterFigures) -> list[str]:
    total, items = clusters.total, clusters.items
    if not total:
        return [f"{lead}no clusters{where}"]
    listed = f", the largest {len(items)}" if len(items) < total else ""
    plural = "" if total == 1 else "s"
    lines = [f"{lead}{total} cluster{plural}{where}{listed}:"]
    lines.extend(
        f"             {c.width}x{c.height} at ({c.x}, {c.y}), {c.pixel_count} pixels, {c.changed_pixels} changed"
        for c in items
    )
    return lines
