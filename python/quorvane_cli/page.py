"""The report page: one HTML file with its style and script inline (it loads
nothing from the network), rendered from the report's JSON data; its images
are files beside it."""

import html

from quorvane_cli.analysis import STATUSES
from quorvane_cli.safe_files import shown

LABELS = {
    "unchanged": "unchanged",
    "changed": "changed",
    "shifted": "shifted only",
    "new": "new",
    "missing": "missing",
    "error": "unreadable",
}

STYLE = (
    """
:root { --ink: #1d2433; --muted: #5f6b7e; --line: #d9dee7; --panel: #f5f7fa; --accent: #2456c7;
  --unchanged: #2e7d4f; --changed: #c62828; --shifted: #b26a00; --new: #1f63b8; --missing: #6a3fb5;
  --error: #7a1d1d; --inserted: #00a37a; --deleted: #e05a00; --ignored: #6b4fa0; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif; color: var(--ink); }
header.top, main { max-width: 1280px; margin: 0 auto; padding: 0 24px; }
header.top { padding-top: 20px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 16px; margin: 0; word-break: break-all; }
.meta { color: var(--muted); margin: 0 0 16px; }
code { font: 13px ui-monospace, monospace; }
.summary { display: flex; flex-wrap: wrap; gap: 8px; margin: 0 0 8px; }
.summary button { display: flex; flex-direction: column; align-items: flex-start; min-width: 104px;
  padding: 8px 14px; border: 1px solid var(--line); border-left: 4px solid var(--ink); border-radius: 6px;
  background: #fff; color: var(--ink); font: inherit; cursor: pointer; text-align: left; }
.summary button[aria-pressed="true"] { background: var(--panel); box-shadow: inset 0 0 0 2px var(--accent); }
.summary .count { font-size: 22px; font-weight: 650; }
.summary .label { color: var(--muted); }
.verdict { margin: 8px 0 18px; font-weight: 600; }
.verdict.fail, .result.fail { color: var(--changed); }
.verdict.pass, .result.pass { color: var(--unchanged); }
table { width: 100%; border-collapse: collapse; margin-bottom: 28px; }
th, td { padding: 6px 10px; border-bottom: 1px solid var(--line); text-align: left; vertical-align: middle; }
th { position: sticky; top: 0; background: var(--panel); z-index: 1; }
th button { all: unset; cursor: pointer; font-weight: 600; }
th[aria-sort="ascending"] button::after { content: " \\25B2"; }
th[aria-sort="descending"] button::after { content: " \\25BC"; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
td.preview img { display: block; width: 64px; height: 48px; object-fit: cover; object-position: top;
  border: 1px solid var(--line); }
.badge { display: inline-block; padding: 1px 8px; border-radius: 10px; color: #fff; font-size: 12px;
  font-weight: 600; white-space: nowrap; }
"""
    + "".join(
        f".summary [data-filter={s}] {{ border-left-color: var(--{s}); }}\n.badge.{s} {{ background: var(--{s}); }}\n"
        for s in STATUSES
    )
    + """
.pair { border: 1px solid var(--line); border-radius: 8px; padding: 14px 16px; margin: 0 0 20px; }
.pair > header { display: flex; flex-wrap: wrap; align-items: center; gap: 10px; }
.figures { color: var(--muted); margin: 6px 0 12px; }
.images { display: grid; grid-template-columns: repeat(auto-fill, minmax(220px, 1fr)); gap: 14px;
  align-items: start; }
figure { margin: 0; }
figcaption { color: var(--muted); font-size: 12px; margin-bottom: 4px; }
figure img { display: block; width: 100%; height: auto; border: 1px solid var(--line); background:
  repeating-conic-gradient(#eee 0 25%, #fff 0 50%) 0 0 / 16px 16px; }
.frame { display: flex; gap: 4px; }
.bands { position: relative; flex: 0 0 10px; background: var(--panel); }
.band { position: absolute; left: 0; right: 0; min-height: 3px; }
.band.inserted { background: var(--inserted); }
.band.deleted { background: var(--deleted); transform: translateY(-50%); }
.shot { position: relative; display: block; flex: 1; }
.box { position: absolute; border: 2px solid var(--changed); background: rgb(198 40 40 / 12%);
  min-width: 4px; min-height: 4px; }
.ignored { position: absolute; border: 2px dashed var(--ignored); min-width: 4px; min-height: 4px;
  background: repeating-linear-gradient(45deg, rgb(107 79 160 / 30%) 0 3px, transparent 3px 7px); }
.legend { font-size: 12px; color: var(--muted); margin-top: 4px; }
.legend i { display: inline-block; width: 10px; height: 10px; margin: 0 4px 0 8px; vertical-align: -1px; }
.empty { color: var(--muted); }
"""
)

SCRIPT = """
const body = document.querySelector('#pairs tbody');
const rows = [...body.rows];
const details = [...document.querySelectorAll('article.pair')];
for (const button of document.querySelectorAll('[data-filter]')) {
  button.addEventListener('click', () => {
    const status = button.dataset.filter;
    for (const other of document.querySelectorAll('[data-filter]'))
      other.setAttribute('aria-pressed', String(other === button));
    for (const element of [...rows, ...details])
      element.hidden = status !== 'all' && element.dataset.status !== status;
  });
}
for (const header of document.querySelectorAll('#pairs th[data-sort]')) {
  header.querySelector('button').addEventListener('click', () => {
    const ascending = header.getAttribute('aria-sort') !== 'ascending';
    for (const other of header.parentElement.cells) other.removeAttribute('aria-sort');
    header.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
    const column = header.cellIndex, numeric = header.dataset.sort === 'number';
    const key = row => row.cells[column].dataset.value ?? row.cells[column].textContent;
    rows.sort((a, b) => {
      const order = numeric ? Number(key(a)) - Number(key(b)) : key(a).localeCompare(key(b));
      return ascending ? order : -order;
    });
    body.append(...rows);
  });
}
"""


def escape(value):
    """Text for the page: names that are not UTF-8 or hold control characters shown escaped."""
    return html.escape(shown(value), quote=True)


def number(value):
    return f"{value:,}"


def percent(value):
    return f"{value:.2%}"


def image(src, size, alt):
    """A lazily loaded thumbnail holding its place at the image's aspect ratio."""
    if src is None:
        return '<span class="empty">no thumbnail: the image is too tall for one</span>'
    ratio = f' style="aspect-ratio: {size["width"]} / {size["height"]}"' if size else ""
    return f'<img src="{escape(src)}" alt="{escape(alt)}" loading="lazy"{ratio}>'


def linked_image(images, name, size, alt, marks=""):
    """The thumbnail linking to the image; marks stand over it."""
    shot = ' class="shot"' if marks else ""
    return f'<a{shot} href="{escape(images[name])}">{image(images[name + "_thumbnail"], size, alt)}{marks}</a>'


def shifted_rows(pair):
    aligned = pair["alignment"]
    return sum(band["rows"] for band in aligned["bands"]) if aligned else 0


def table_row(index, pair):
    status, images = pair["status"], pair["images"]
    compared = pair["changed_pixels"] is not None
    aligned = pair["alignment"]
    name = escape(pair["path"])
    link = f'<a href="#pair-{index}">{name}</a>' if status != "unchanged" else name

    def cell(value, shown):
        """A number cell; the sort key of a missing figure puts it first."""
        if value is None:
            return '<td class="number" data-value="-1">–</td>'
        return f'<td class="number" data-value="{value}">{shown(value)}</td>'

    preview_side = "current" if images["current_thumbnail"] else "baseline"
    preview = (
        f'<td class="preview">{linked_image(images, preview_side, pair[preview_side], pair["path"])}</td>'
        if images[f"{preview_side}_thumbnail"]
        else "<td></td>"
    )
    result = (
        '<span class="result pass">pass</span>'
        if pair["passed"]
        else f'<span class="result fail" title="{escape("; ".join(pair["failures"]))}">fail</span>'
    )
    return (
        f'<tr data-status="{status}"><td>{link}</td>'
        f'<td data-value="{STATUSES.index(status)}"><span class="badge {status}">{LABELS[status]}</span></td>'
        + cell(pair["changed_pixels"], number)
        + cell(pair["changed_ratio"], percent)
        + cell(pair["ssim"], "{:.6f}".format)
        + cell(shifted_rows(pair) if compared else None, number)
        + cell(aligned["changed_pixels"] if aligned else None, number)
        + f"<td>{result}</td>{preview}</tr>"
    )


def mark(kind, x, y, width, height, size, title):
    """A rectangle over an image, in percent of its size so that it scales
    with it; cut at the image's edge, and nothing when wholly outside."""
    right, bottom = min(x + width, size["width"]), min(y + height, size["height"])
    if right <= x or bottom <= y:
        return ""
    style = (
        f"left:{100 * x / size['width']:.4f}%;top:{100 * y / size['height']:.4f}%;"
        f"width:{100 * (right - x) / size['width']:.4f}%;height:{100 * (bottom - y) / size['height']:.4f}%"
    )
    return f'<span class="{kind}" style="{style}" title="{escape(title)}"></span>'


def boxes(clusters, size):
    """Cluster boxes over the current image; a box reaching into padding is
    cut at its edge."""
    return "".join(
        mark(
            "box",
            c["x"],
            c["y"],
            c["width"],
            c["height"],
            size,
            f"cluster {rank}: {c['width']}x{c['height']} at ({c['x']}, {c['y']}), {c['pixel_count']} pixels",
        )
        for rank, c in enumerate(clusters["items"], 1)
    )


def ignored_marks(pair, size):
    """The pair's ignored regions over one of its images: canvas pixels,
    which are each image's own pixels up to its size."""
    return "".join(
        mark("ignored", x, y, width, height, size, f"ignored region {width}x{height} at ({x}, {y}): not compared")
        for x, y, width, height in pair["ignore"] or ()
    )


def band_marks(bands, height):
    marks = []
    for band in bands:
        top = 100 * min(band["y"], height) / height
        extent = f"height:{100 * band['rows'] / height:.4f}%" if band["kind"] == "inserted" else "height:3px"
        marks.append(
            f'<span class="band {band["kind"]}" style="top:{top:.4f}%;{extent}" '
            f'title="{escape(band_text(band))}"></span>'
        )
    return "".join(marks)


def band_text(band):
    rows = band["rows"]
    return f"{number(rows)} row{'' if rows == 1 else 's'} {band['kind']} at row {band['y']}"


def bands_text(bands, shown=4):
    listed = [band_text(band) for band in bands[:shown]]
    if len(bands) > shown:
        listed.append(f"{len(bands) - shown} more")
    return f"{len(bands)} shift band{'' if len(bands) == 1 else 's'}: " + ", ".join(listed)


def figures_text(pair):
    parts = [
        f"{number(pair['changed_pixels'])} pixels changed ({percent(pair['changed_ratio'])})",
        f"SSIM {pair['ssim']:.6f}",
        f"{number(pair['clusters']['total'])} clusters",
    ]
    if pair["size_mismatch"]:
        parts.append(f"sizes differ, compared on {pair['width']}x{pair['height']}")
    if pair["ignore"]:
        count = len(pair["ignore"])
        parts.append(f"{number(pair['ignored_pixels'])} pixels ignored in {count} region{'' if count == 1 else 's'}")
    aligned = pair["alignment"]
    if aligned is None:
        parts.append("rows do not align")
    else:
        if aligned["bands"]:
            parts.append(bands_text(aligned["bands"]))
        parts.append(f"aligned SSIM {aligned['ssim']:.6f}")
        parts.append(f"{number(aligned['changed_pixels'])} pixels changed in place")
    return " · ".join(escape(part) for part in parts)


def compared_images(pair):
    images, current = pair["images"], pair["current"]
    aligned = pair["alignment"]
    # Aligned clusters stand in current-image rows and leave shifted rows out.
    clusters = aligned["clusters"] if aligned is not None else pair["clusters"]
    bands = aligned["bands"] if aligned is not None else []
    legend = (
        f'<div class="legend">{len(clusters["items"])} of {number(clusters["total"])} clusters boxed'
        + (
            '; shift bands:<i style="background:var(--inserted)"></i>inserted'
            '<i style="background:var(--deleted)"></i>deleted'
            if bands
            else ""
        )
        + ('; <i style="border:2px dashed var(--ignored)"></i>ignored' if pair["ignore"] else "")
        + "</div>"
    )
    figures = [
        f"<figure><figcaption>Baseline · {pair['baseline']['width']}×{pair['baseline']['height']}</figcaption>"
        f"{linked_image(images, 'baseline', pair['baseline'], 'baseline', ignored_marks(pair, pair['baseline']))}"
        "</figure>",
        f'<figure class="current"><figcaption>Current · {current["width"]}×{current["height"]}</figcaption>'
        f'<div class="frame"><div class="bands">{band_marks(bands, current["height"])}</div>'
        f'<a class="shot" href="{escape(images["current"])}">'
        f"{image(images['current_thumbnail'], current, 'current')}{ignored_marks(pair, current)}"
        f"{boxes(clusters, current)}</a></div>{legend}</figure>",
        f"<figure><figcaption>Diff · {pair['width']}×{pair['height']}</figcaption>"
        f"{linked_image(images, 'diff', pair, 'diff', ignored_marks(pair, pair))}</figure>",
    ]
    if images["aligned_diff"]:
        aligned_diff = linked_image(images, "aligned_diff", current, "shift-aware diff", ignored_marks(pair, current))
        figures.append(f"<figure><figcaption>Shift-aware diff · current rows</figcaption>{aligned_diff}</figure>")
    return "".join(figures)


def detail(index, pair):
    status = pair["status"]
    if status in ("changed", "shifted"):
        text, content = figures_text(pair), compared_images(pair)
    elif status in ("new", "missing"):
        side = "current" if status == "new" else "baseline"
        text = (
            "No baseline image: new in the current directory."
            if status == "new"
            else "No current image: missing from the current directory."
        )
        size = pair[side]
        content = (
            f"<figure><figcaption>{side.capitalize()} · {size['width']}×{size['height']}</figcaption>"
            f"{linked_image(pair['images'], side, size, side)}</figure>"
        )
    else:
        text, content = escape(pair["error"]), ""
    if pair["passed"]:
        result = '<span class="result pass">within limits</span>'
    elif status == "error":
        result = ""
    else:
        result = f'<span class="result fail">{escape("; ".join(pair["failures"]))}</span>'
    return (
        f'<article class="pair" id="pair-{index}" data-status="{status}"><header>'
        f'<h2><a href="#pair-{index}">{escape(pair["path"])}</a></h2>'
        f'<span class="badge {status}">{LABELS[status]}</span>{result}</header>'
        f'<p class="figures">{text}</p><div class="images">{content}</div></article>'
    )


def summary_buttons(summary):
    shown = [
        status
        for status in ("changed", "shifted", "new", "missing", "unchanged", "error")
        if status != "error" or summary["error"]
    ]
    buttons = [
        f'<button type="button" data-filter="all" aria-pressed="true"><span class="count">'
        f'{summary["pairs"]}</span><span class="label">pairs</span></button>'
    ]
    buttons += [
        f'<button type="button" data-filter="{status}" aria-pressed="false"><span class="count">'
        f'{summary[status]}</span><span class="label">{LABELS[status]}</span></button>'
        for status in shown
    ]
    return "".join(buttons)


def limits_text(limits):
    parts = []
    if limits["max_changed_pixels"] is not None:
        parts.append(f"at most {number(limits['max_changed_pixels'])} changed pixels")
    if limits["max_changed_ratio"] is not None:
        parts.append(f"at most {percent(limits['max_changed_ratio'])} changed")
    if limits["min_ssim"] is not None:
        parts.append(f"SSIM at least {limits['min_ssim']}")
    text = ", ".join(parts)
    return text + (", shifts allowed" if limits["allow_shifts"] else "")


def render(report):
    summary, pairs = report["summary"], report["pairs"]
    failed = summary["failed"]
    verdict = (
        f'<p class="verdict fail">{failed} of {summary["pairs"]} pairs beyond the limits</p>'
        if failed
        else f'<p class="verdict pass">All {summary["pairs"]} pairs within the limits</p>'
    )
    head = (
        '<tr><th data-sort="text"><button type="button">Pair</button></th>'
        + "".join(
            f'<th data-sort="number"><button type="button">{label}</button></th>'
            for label in ("Status", "Changed pixels", "Changed", "SSIM", "Shifted rows", "Changed in place")
        )
        + "<th>Result</th><th>Current</th></tr>"
    )
    rows = "".join(table_row(index, pair) for index, pair in enumerate(pairs))
    # Pairs beyond the limits first: they are the ones to look at.
    shown = sorted(
        (pair for pair in enumerate(pairs) if pair[1]["status"] != "unchanged"),
        key=lambda item: (item[1]["passed"], item[0]),
    )
    details = "".join(detail(index, pair) for index, pair in shown)
    if not details:
        details = '<p class="empty">No pair changed.</p>'
    settings = report["settings"]
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>quorvane report: {summary["pairs"]} pairs, {failed} beyond the limits</title>
<style>{STYLE}</style>
</head>
<body>
<header class="top">
<h1>Screenshot comparison</h1>
<p class="meta">Baseline <code>{escape(report["baseline_dir"])}</code> against current
<code>{escape(report["current_dir"])}</code> · threshold {settings["threshold"]}
{"(anti-aliased pixels counted)" if settings["include_aa"] else ""} · limits: {escape(limits_text(report["limits"]))}
· quorvane {escape(report["quorvane"])} · {escape(report["generated"])}</p>
<nav class="summary" aria-label="Filter by status">{summary_buttons(summary)}</nav>
{verdict}
</header>
<main>
<table id="pairs"><thead>{head}</thead><tbody>{rows}</tbody></table>
<section id="details">{details}</section>
</main>
<script>{SCRIPT}</script>
</body>
</html>
"""
